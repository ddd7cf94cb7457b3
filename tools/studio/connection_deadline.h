// Deadlines for reading a request's body. civetweb's mg_read() waits until
// its whole buffer is filled, and its timeout counts from the last byte that
// came, so a client sending a byte a second would hold a thread for ever.
// A watchdog thread shuts the socket for reading once a deadline passes:
// mg_read() then returns what it has and the handler answers and ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

struct mg_request_info;

namespace gridwave::studio {

class ConnectionDeadlines {
 public:
  using Clock = std::chrono::steady_clock;

  ConnectionDeadlines();
  ~ConnectionDeadlines();
  ConnectionDeadlines(const ConnectionDeadlines&) = delete;
  ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

  // Holds a deadline for one connection while the handler reads from it.
  class Watch {
   public:
    Watch() = default;
    Watch(Watch&& other) noexcept;
    Watch& operator=(Watch&& other) noexcept;
    ~Watch();
    bool expired() const;  // the deadline passed and the socket was shut for reading

   private:
    friend class ConnectionDeadlines;
    Watch(ConnectionDeadlines* owner, int id) : owner_(owner), id_(id) {}
    ConnectionDeadlines* owner_ = nullptr;
    int id_ = 0;
  };

  // Watches the socket of the request's connection (found by its addresses,
  // as civetweb does not hand out the descriptor) until the returned Watch
  // goes. When the socket cannot be found, nothing is watched.
  Watch watch(const mg_request_info* request, Clock::time_point deadline);

 private:
  struct Entry {
    int fd;
    Clock::time_point deadline;
    bool expired = false;
  };
  void run();
  void forget(int id);
  bool expired(int id) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Entry> entries_;
  int next_id_ = 1;
  bool stopping_ = false;
  std::thread thread_;
};

// The descriptor of the connected TCP socket whose peer and local port these
// are, among this process's descriptors; -1 when there is none.
int find_connection_socket(const char* remote_address, int remote_port, int local_port);

}  // namespace gridwave::studio
