#include "studio_server.h"

#include <civetweb.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <exception>
#include <new>
#include <thread>

#include "admission.h"
#include "connection_deadline.h"
#include "host_policy.h"
#include "http_reply.h"
#include "render_request.h"
#include "studio_render.h"
#include "tool_error.h"
#include "web_assets.h"

namespace gridwave::studio {

using Clock = std::chrono::steady_clock;

struct StudioServer::State {
  explicit State(const StudioConfig& c)
      : config(c), admission(c.running_renders, c.waiting_renders, c.upload_budget_bytes),
        hosts(c.listen_address, c.port) {}

  StudioConfig config;
  Admission admission;
  HostPolicy hosts;
  ConnectionDeadlines deadlines;
  mg_context* context = nullptr;
  int port = 0;
};

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kMaxDrainBytes = std::size_t{64} << 20;

bool is_method(const mg_request_info* request, const char* method) {
  return std::strcmp(request->request_method, method) == 0;
}

std::string megabytes(std::size_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

// After the answer: reads and drops whatever of the body the client is still
// sending (a refused upload) for a moment, so that it gets to read the
// answer instead of a reset, then has the connection closed rather than
// drained for as long as the client cares to trickle.
void end_connection(mg_connection* connection, ConnectionDeadlines& deadlines) {
  const mg_request_info* request = mg_get_request_info(connection);
  if (request->content_length != 0) {  // a body, maybe not all read
    const auto watch = deadlines.watch(request, Clock::now() + kDrainTime);
    std::size_t dropped = 0;
    unsigned char buffer[1 << 16];
    while (dropped < kMaxDrainBytes) {
      const int n = mg_read(connection, buffer, sizeof buffer);
      if (n <= 0) break;
      dropped += static_cast<std::size_t>(n);
    }
  }
  mg_disable_connection_keep_alive(connection);
}

int refuse(mg_connection* connection, int status, const std::string& message, const Headers& headers = {}) {
  send_error(connection, status, message, headers);
  return status;
}

// Reads the request body of `length` bytes into memory. Returns 0 when it
// is complete, otherwise the status of the answer already sent. After a
// grace period the body must keep up a minimum average rate, so that a
// trickling client cannot hold a thread and its share of memory for long.
int read_body(mg_connection* connection, StudioServer::State& state, std::size_t length,
              std::vector<unsigned char>& body) {
  const StudioConfig& config = state.config;
  const auto allowed = std::chrono::duration<double>(config.upload_grace_s + length / config.min_upload_rate);
  const auto watch = state.deadlines.watch(mg_get_request_info(connection),
                                           Clock::now() + std::chrono::duration_cast<Clock::duration>(allowed));
  body.resize(length);
  std::size_t received = 0;
  while (received < length) {
    const int n = mg_read(connection, body.data() + received, length - received);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  if (received == length) return 0;
  if (watch.expired()) return refuse(connection, 408, "the picture's upload was too slow");
  return refuse(connection, 400, "the picture's upload broke off");
}

std::string render_json(const StudioRender& render, double milliseconds) {
  std::string json = "{\"sound\":\"" + base64(render.sound) + "\",\"spectrogram\":\"" + base64(render.spectrogram) + "\"";
  if (!render.grid.empty()) json += ",\"grid\":\"" + base64(render.grid) + "\"";
  json += ",\"width\":" + std::to_string(render.picture_width) + ",\"height\":" + std::to_string(render.picture_height) +
          ",\"rows\":" + std::to_string(render.rows) + ",\"seconds\":" + std::to_string(render.seconds) +
          ",\"render_ms\":" + std::to_string(static_cast<long long>(milliseconds)) + "}\n";
  return json;
}

// Renders on a thread of its own: civetweb's worker threads have small
// stacks, too small for the font setup of the spectrogram's labels.
StudioRender render_on_own_thread(const std::vector<unsigned char>& picture, const RenderRequest& options) {
  StudioRender render;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      render = render_for_studio(picture, options);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  worker.join();
  if (failure) std::rethrow_exception(failure);
  return render;
}

int handle_render(mg_connection* connection, StudioServer::State& state) {
  const mg_request_info* request = mg_get_request_info(connection);
  const char* fetch_site = mg_get_header(connection, "Sec-Fetch-Site");
  if (fetch_site && std::strcmp(fetch_site, "same-origin") != 0 && std::strcmp(fetch_site, "none") != 0)
    return refuse(connection, 403, "renders are only taken from the studio's own page");
  RenderRequest options;
  try {
    options = parse_render_request(request->query_string ? request->query_string : "");
  } catch (const BadRequest& e) {
    return refuse(connection, 400, e.what());
  }

  // Browsers send a picture with its length; a body of unknown length is refused.
  const StudioConfig& config = state.config;
  const long long declared = request->content_length;
  if (declared < 0) return refuse(connection, 411, "the upload must state its length");
  const std::size_t length = static_cast<std::size_t>(declared);
  if (length > config.max_upload_bytes)
    return refuse(connection, 413, "the picture is " + megabytes(length) + "; the studio takes pictures of at most " +
                                       megabytes(config.max_upload_bytes));
  if (length == 0) return refuse(connection, 400, "no picture was sent");
  const Headers retry{{"Retry-After", "2"}};
  Admission::UploadLease lease = state.admission.reserve_upload(length);
  if (!lease) return refuse(connection, 503, "the studio is busy with other uploads; try again in a moment", retry);
  std::vector<unsigned char> picture;
  if (const int refused = read_body(connection, state, length, picture)) return refused;

  Admission::RenderTurn turn = state.admission.enter_render();
  if (!turn) return refuse(connection, 503, "the studio is busy with other renders; try again in a moment", retry);
  const auto start = Clock::now();
  try {
    const StudioRender render = render_on_own_thread(picture, options);
    picture = {};
    lease = {};
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const std::string json = render_json(render, ms);
    send_reply(connection, 200, "application/json", json.data(), json.size());
    return 200;
  } catch (const tools::ToolError& e) {
    return refuse(connection, 400, e.what());
  } catch (const std::bad_alloc&) {
    return refuse(connection, 503, "not enough memory for this picture", retry);
  } catch (const std::exception& e) {
    return refuse(connection, 500, std::string("the render failed: ") + e.what());
  }
}

int route(mg_connection* connection, StudioServer::State& state) {
  const mg_request_info* request = mg_get_request_info(connection);
  const char* host = mg_get_header(connection, "Host");
  if (!host || !state.hosts.host_allowed(host))
    return refuse(connection, 403, "this studio only answers requests addressed to its own address");
  if (const char* origin = mg_get_header(connection, "Origin"); origin && !state.hosts.origin_allowed(origin))
    return refuse(connection, 403, "requests from other sites are refused");
  const std::string_view path = request->local_uri_raw ? request->local_uri_raw : "";
  if (path == "/api/render") {
    if (is_method(request, "POST")) return handle_render(connection, state);
    return refuse(connection, 405, "renders are sent with POST", {{"Allow", "POST"}});
  }
  if (const WebAsset* asset = find_web_asset(path)) {
    if (is_method(request, "GET") || is_method(request, "HEAD")) {
      send_reply(connection, 200, asset->content_type, asset->data, asset->size);
      return 200;
    }
    return refuse(connection, 405, "only GET and HEAD are answered here", {{"Allow", "GET, HEAD"}});
  }
  return refuse(connection, 404, "there is nothing at this address");
}

int handle_request(mg_connection* connection) {
  auto& state = *static_cast<StudioServer::State*>(mg_get_user_data(mg_get_context(connection)));
  const int status = route(connection, state);
  end_connection(connection, state.deadlines);
  return status;
}

int log_message(const mg_connection*, const char* message) {
  std::cerr << "gridwave-studio: " << message << '\n';
  return 1;
}

// One small render before serving, on the main thread: the font setup of
// the spectrogram's labels then happens here, once (fontconfig keeps it for
// the process), instead of in the first request, on a thread that ends.
void warm_up() {
  const WebAsset* example = find_web_asset("/example.png");
  RenderRequest request;
  request.duration_s = 0.5;
  render_for_studio(std::vector<unsigned char>(example->data, example->data + example->size), request);
}

}  // namespace

StudioServer::StudioServer(const StudioConfig& config) : state_(std::make_unique<State>(config)) {
  warm_up();
  const std::string ports = config.listen_address + ":" + std::to_string(config.port);
  const std::string threads = std::to_string(config.worker_threads);
  const std::string timeout = std::to_string(config.request_timeout_ms);
  const char* options[] = {"listening_ports", ports.c_str(),
                           "num_threads", threads.c_str(),
                           "request_timeout_ms", timeout.c_str(),
                           "enable_keep_alive", "no",
                           "decode_url", "no",
                           "enable_directory_listing", "no",
                           "access_control_allow_origin", "",
                           "access_control_allow_methods", "",
                           "access_control_allow_headers", "",
                           "cgi_pattern", "",
                           "ssi_pattern", "",
                           nullptr};
  mg_callbacks callbacks{};
  callbacks.begin_request = handle_request;
  callbacks.log_message = log_message;
  char error_text[256] = "";
  mg_error_data error{nullptr, error_text, sizeof error_text};
  mg_init_data init{&callbacks, state_.get(), options};
  state_->context = mg_start2(&init, &error);
  if (!state_->context)
    throw std::runtime_error("cannot listen on " + ports + (error_text[0] ? std::string(": ") + error_text : ""));
  mg_server_port bound[4]{};
  if (mg_get_server_ports(state_->context, 4, bound) > 0) state_->port = bound[0].port;
  state_->hosts = HostPolicy(config.listen_address, state_->port);
}

StudioServer::~StudioServer() {
  if (state_->context) mg_stop(state_->context);
}

int StudioServer::port() const { return state_->port; }

std::string StudioServer::url() const {
  const std::string& address = state_->config.listen_address;
  return "http://" + (address == "0.0.0.0" ? std::string("127.0.0.1") : address) + ":" + std::to_string(state_->port) + "/";
}

}  // namespace gridwave::studio
