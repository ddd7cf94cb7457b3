#include "admission.h"

#include <utility>

namespace gridwave::studio {

Admission::Admission(int running, int waiting, std::size_t upload_budget)
    : max_running_(running), max_waiting_(waiting), upload_budget_(upload_budget) {}

Admission::UploadLease::UploadLease(UploadLease&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), bytes_(other.bytes_) {}

Admission::UploadLease& Admission::UploadLease::operator=(UploadLease&& other) noexcept {
  if (this != &other) {
    if (owner_) owner_->release_upload(bytes_);
    owner_ = std::exchange(other.owner_, nullptr);
    bytes_ = other.bytes_;
  }
  return *this;
}

Admission::UploadLease::~UploadLease() {
  if (owner_) owner_->release_upload(bytes_);
}

Admission::RenderTurn::RenderTurn(RenderTurn&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}

Admission::RenderTurn& Admission::RenderTurn::operator=(RenderTurn&& other) noexcept {
  if (this != &other) {
    if (owner_) owner_->leave_render();
    owner_ = std::exchange(other.owner_, nullptr);
  }
  return *this;
}

Admission::RenderTurn::~RenderTurn() {
  if (owner_) owner_->leave_render();
}

Admission::UploadLease Admission::reserve_upload(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  if (bytes > upload_budget_ - uploads_held_) return {};
  uploads_held_ += bytes;
  return UploadLease(this, bytes);
}

void Admission::release_upload(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  uploads_held_ -= bytes;
}

Admission::RenderTurn Admission::enter_render() {
  std::unique_lock lock(mutex_);
  if (running_ >= max_running_) {
    if (waiting_ >= max_waiting_) return {};
    ++waiting_;
    turn_free_.wait(lock, [this] { return running_ < max_running_; });
    --waiting_;
  }
  ++running_;
  return RenderTurn(this);
}

void Admission::leave_render() {
  {
    std::lock_guard lock(mutex_);
    --running_;
  }
  turn_free_.notify_one();
}

int Admission::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

int Admission::waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

std::size_t Admission::uploads_held() const {
  std::lock_guard lock(mutex_);
  return uploads_held_;
}

}  // namespace gridwave::studio
