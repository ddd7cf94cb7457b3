#include "accumulator.h"

#include <sys/mman.h>

namespace gridwave {
namespace {

constexpr std::size_t kBytes = sizeof(Slot) * kAccumulatorSlots;

}  // namespace

Accumulator::Accumulator() {
  void* memory = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory != MAP_FAILED) slots_ = static_cast<Slot*>(memory);
}

Accumulator::~Accumulator() {
  if (slots_ != nullptr) munmap(slots_, kBytes);
}

}  // namespace gridwave
