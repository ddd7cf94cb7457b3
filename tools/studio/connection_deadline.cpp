#include "connection_deadline.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <dirent.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace gridwave::studio {

int find_connection_socket(const char* remote_address, int remote_port, int local_port) {
  DIR* folder = opendir("/proc/self/fd");
  if (!folder) return -1;
  int found = -1;
  while (const dirent* entry = readdir(folder)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == dirfd(folder)) continue;
    sockaddr_in peer{}, local{};
    socklen_t peer_size = sizeof peer, local_size = sizeof local;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0 ||
        getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
        peer.sin_family != AF_INET || local.sin_family != AF_INET)
      continue;
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    if (ntohs(peer.sin_port) == remote_port && ntohs(local.sin_port) == local_port &&
        std::strcmp(address, remote_address) == 0) {
      found = static_cast<int>(fd);
      break;
    }
  }
  closedir(folder);
  return found;
}

ConnectionDeadlines::ConnectionDeadlines() : thread_([this] { run(); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

ConnectionDeadlines::Watch ConnectionDeadlines::watch(const mg_request_info* request, Clock::time_point deadline) {
  const int fd = find_connection_socket(request->remote_addr, request->remote_port, request->server_port);
  if (fd < 0) return {};
  std::lock_guard lock(mutex_);
  const int id = next_id_++;
  entries_.emplace(id, Entry{fd, deadline});
  changed_.notify_all();
  return Watch(this, id);
}

void ConnectionDeadlines::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    Clock::time_point next = Clock::time_point::max();
    const auto now = Clock::now();
    for (auto& [id, entry] : entries_) {
      if (entry.expired) continue;
      if (entry.deadline <= now) {
        // The handler still holds the connection, so the descriptor is still its socket.
        shutdown(entry.fd, SHUT_RD);
        entry.expired = true;
      } else if (entry.deadline < next) {
        next = entry.deadline;
      }
    }
    if (next == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, next);
    }
  }
}

void ConnectionDeadlines::forget(int id) {
  std::lock_guard lock(mutex_);
  entries_.erase(id);
}

bool ConnectionDeadlines::expired(int id) const {
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(id);
  return it != entries_.end() && it->second.expired;
}

ConnectionDeadlines::Watch::Watch(Watch&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), id_(other.id_) {}

ConnectionDeadlines::Watch& ConnectionDeadlines::Watch::operator=(Watch&& other) noexcept {
  if (this != &other) {
    if (owner_) owner_->forget(id_);
    owner_ = std::exchange(other.owner_, nullptr);
    id_ = other.id_;
  }
  return *this;
}

ConnectionDeadlines::Watch::~Watch() {
  if (owner_) owner_->forget(id_);
}

bool ConnectionDeadlines::Watch::expired() const { return owner_ && owner_->expired(id_); }

}  // namespace gridwave::studio
