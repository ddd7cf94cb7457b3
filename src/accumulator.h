// The sample accumulator the driver owns: kAccumulatorSlots slots, all zero
// at the start, rendered into and then saved.
#pragma once

#include "constants.h"

namespace gridwave {

class Accumulator {
 public:
  // Fresh zero memory straight from the kernel; empty (false) when there is
  // not enough memory.
  Accumulator();
  ~Accumulator();
  Accumulator(const Accumulator&) = delete;
  Accumulator& operator=(const Accumulator&) = delete;

  explicit operator bool() const { return slots_ != nullptr; }
  Slot* slots() const { return slots_; }

  // For whoever writes the slots first: whether nothing has read or written
  // them yet (and from now on, something has). Fresh slots may be stored
  // without being read, so each page is mapped once, where it is first
  // written, instead of being mapped to the shared zero page and copied.
  bool take_fresh() {
    const bool fresh = fresh_;
    fresh_ = false;
    return fresh;
  }

 private:
  Slot* slots_ = nullptr;
  bool fresh_ = true;
};

}  // namespace gridwave
