// The studio's web server: civetweb, listening on one address, answering the
// page's assets from memory and renders on POST /api/render. Every request
// passes the Host/Origin check first; uploads and renders are bounded.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace gridwave::studio {

struct StudioConfig {
  std::string listen_address = "127.0.0.1";  // an IPv4 address; 0.0.0.0 for every interface
  int port = 8731;                           // 0: any free port
  std::size_t max_upload_bytes = std::size_t{32} << 20;  // a larger picture gets 413
  std::size_t upload_budget_bytes = std::size_t{160} << 20;  // uploads held at once, all together
  int running_renders = 2;  // renders at once; each already uses every core
  int waiting_renders = 8;  // renders queued behind them; more get 503
  int worker_threads = 64;  // connections served at once
  int request_timeout_ms = 10000;  // a request's head, and each wait for its body, must come within this
  double upload_grace_s = 10;     // an upload may take this long, and then
  double min_upload_rate = 1e6;   // one second more for every this many bytes
};

class StudioServer {
 public:
  // Starts listening; throws std::runtime_error (with civetweb's reason)
  // when it cannot, say because the port is taken.
  explicit StudioServer(const StudioConfig& config);
  ~StudioServer();  // stops listening and waits for every request to end
  StudioServer(const StudioServer&) = delete;
  StudioServer& operator=(const StudioServer&) = delete;

  int port() const;
  std::string url() const;  // http://ADDRESS:PORT/

  struct State;  // defined in studio_server.cpp

 private:
  std::unique_ptr<State> state_;
};

}  // namespace gridwave::studio
