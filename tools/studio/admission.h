// Bounds on the work the studio takes on at once: a few renders run, a few
// more wait their turn, and uploads held in memory share one byte budget.
// Anything beyond is turned away at once (503) instead of piling up.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace gridwave::studio {

class Admission {
 public:
  Admission(int running, int waiting, std::size_t upload_budget);

  // Holds part of the upload budget while a request body is read and used.
  class UploadLease {
   public:
    UploadLease() = default;
    UploadLease(UploadLease&& other) noexcept;
    UploadLease& operator=(UploadLease&& other) noexcept;
    ~UploadLease();
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    friend class Admission;
    UploadLease(Admission* owner, std::size_t bytes) : owner_(owner), bytes_(bytes) {}
    Admission* owner_ = nullptr;
    std::size_t bytes_ = 0;
  };

  // One of the running places, held while a render runs.
  class RenderTurn {
   public:
    RenderTurn() = default;
    RenderTurn(RenderTurn&& other) noexcept;
    RenderTurn& operator=(RenderTurn&& other) noexcept;
    ~RenderTurn();
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    friend class Admission;
    explicit RenderTurn(Admission* owner) : owner_(owner) {}
    Admission* owner_ = nullptr;
  };

  // A lease of `bytes`, or an empty one when the budget cannot spare them.
  UploadLease reserve_upload(std::size_t bytes);

  // Waits for a running place while fewer than `waiting` renders wait;
  // an empty turn when that many already wait.
  RenderTurn enter_render();

  int running() const;
  int waiting() const;
  std::size_t uploads_held() const;

 private:
  void release_upload(std::size_t bytes);
  void leave_render();

  const int max_running_;
  const int max_waiting_;
  const std::size_t upload_budget_;
  mutable std::mutex mutex_;
  std::condition_variable turn_free_;
  int running_ = 0;
  int waiting_ = 0;
  std::size_t uploads_held_ = 0;
};

}  // namespace gridwave::studio
