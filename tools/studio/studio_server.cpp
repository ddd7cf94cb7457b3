#include "studio_server.h"

#include <civetweb.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <new>

#include "admission.h"
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
  mg_context* context = nullptr;
  int port = 0;
};

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

bool is_method(const mg_request_info* request, const char* method) {
  return std::strcmp(request->request_method, method) == 0;
}

std::string megabytes(std::size_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

// Reads the request body into memory under the lease's size: false (and
// the answer sent) when it is too large, comes too slowly or breaks off.
bool read_body(mg_connection* connection, const StudioConfig& config, std::vector<unsigned char>& body) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(config.upload_timeout_ms);
  unsigned char buffer[1 << 16];
  for (;;) {
    const int n = mg_read(connection, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      send_error(connection, 400, "the picture's upload broke off");
      return false;
    }
    if (body.size() + static_cast<std::size_t>(n) > config.max_upload_bytes) {
      send_error(connection, 413, "the picture is larger than " + megabytes(config.max_upload_bytes) +
                                      ", the most the studio takes");
      return false;
    }
    body.insert(body.end(), buffer, buffer + n);
    if (Clock::now() > deadline) {
      send_error(connection, 408, "the picture's upload took too long");
      return false;
    }
  }
}

std::string render_json(const StudioRender& render, double milliseconds) {
  std::string json = "{\"sound\":\"" + base64(render.sound) + "\",\"spectrogram\":\"" + base64(render.spectrogram) + "\"";
  if (!render.grid.empty()) json += ",\"grid\":\"" + base64(render.grid) + "\"";
  json += ",\"width\":" + std::to_string(render.picture_width) + ",\"height\":" + std::to_string(render.picture_height) +
          ",\"rows\":" + std::to_string(render.rows) + ",\"seconds\":" + std::to_string(render.seconds) +
          ",\"render_ms\":" + std::to_string(static_cast<long long>(milliseconds)) + "}\n";
  return json;
}

int handle_render(mg_connection* connection, StudioServer::State& state) {
  const mg_request_info* request = mg_get_request_info(connection);
  const char* fetch_site = mg_get_header(connection, "Sec-Fetch-Site");
  if (fetch_site && std::strcmp(fetch_site, "same-origin") != 0 && std::strcmp(fetch_site, "none") != 0) {
    send_error(connection, 403, "renders are only taken from the studio's own page");
    return 403;
  }
  RenderRequest options;
  try {
    options = parse_render_request(request->query_string ? request->query_string : "");
  } catch (const BadRequest& e) {
    send_error(connection, 400, e.what());
    return 400;
  }

  const StudioConfig& config = state.config;
  const long long declared = request->content_length;
  if (declared < 0) {
    const char* encoding = mg_get_header(connection, "Transfer-Encoding");
    if (!encoding || strcasecmp(encoding, "chunked") != 0) {
      send_error(connection, 411, "the upload must state its length");
      return 411;
    }
  } else if (static_cast<unsigned long long>(declared) > config.max_upload_bytes) {
    send_error(connection, 413, "the picture is " + megabytes(static_cast<std::size_t>(declared)) +
                                    "; the studio takes pictures of at most " + megabytes(config.max_upload_bytes));
    return 413;
  }
  const Headers retry{{"Retry-After", "2"}};
  const std::size_t reserve = declared < 0 ? config.max_upload_bytes : static_cast<std::size_t>(declared);
  Admission::UploadLease lease = state.admission.reserve_upload(reserve);
  if (!lease) {
    send_error(connection, 503, "the studio is busy with other uploads; try again in a moment", retry);
    return 503;
  }
  std::vector<unsigned char> picture;
  picture.reserve(reserve);
  if (!read_body(connection, config, picture)) return 400;
  if (picture.empty()) {
    send_error(connection, 400, "no picture was sent");
    return 400;
  }

  Admission::RenderTurn turn = state.admission.enter_render();
  if (!turn) {
    send_error(connection, 503, "the studio is busy with other renders; try again in a moment", retry);
    return 503;
  }
  const auto start = Clock::now();
  try {
    const StudioRender render = render_for_studio(picture, options);
    picture = {};
    lease = {};
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const std::string json = render_json(render, ms);
    send_reply(connection, 200, "application/json", json.data(), json.size());
    return 200;
  } catch (const tools::ToolError& e) {
    send_error(connection, 400, e.what());
    return 400;
  } catch (const std::bad_alloc&) {
    send_error(connection, 503, "not enough memory for this picture", retry);
    return 503;
  } catch (const std::exception& e) {
    send_error(connection, 500, std::string("the render failed: ") + e.what());
    return 500;
  }
}

int handle_request(mg_connection* connection) {
  auto& state = *static_cast<StudioServer::State*>(mg_get_user_data(mg_get_context(connection)));
  const mg_request_info* request = mg_get_request_info(connection);
  const char* host = mg_get_header(connection, "Host");
  if (!host || !state.hosts.host_allowed(host)) {
    send_error(connection, 403, "this studio only answers requests addressed to its own address");
    return 403;
  }
  if (const char* origin = mg_get_header(connection, "Origin"); origin && !state.hosts.origin_allowed(origin)) {
    send_error(connection, 403, "requests from other sites are refused");
    return 403;
  }
  const std::string_view path = request->local_uri_raw ? request->local_uri_raw : "";
  if (path == "/api/render") {
    if (is_method(request, "POST")) return handle_render(connection, state);
    send_error(connection, 405, "renders are sent with POST", {{"Allow", "POST"}});
    return 405;
  }
  if (const WebAsset* asset = find_web_asset(path)) {
    if (is_method(request, "GET") || is_method(request, "HEAD")) {
      send_reply(connection, 200, asset->content_type, asset->data, asset->size);
      return 200;
    }
    send_error(connection, 405, "only GET and HEAD are answered here", {{"Allow", "GET, HEAD"}});
    return 405;
  }
  send_error(connection, 404, "there is nothing at this address");
  return 404;
}

int log_message(const mg_connection*, const char* message) {
  std::cerr << "gridwave-studio: " << message << '\n';
  return 1;
}

}  // namespace

StudioServer::StudioServer(const StudioConfig& config) : state_(std::make_unique<State>(config)) {
  const std::string ports = config.listen_address + ":" + std::to_string(config.port);
  const std::string threads = std::to_string(config.worker_threads);
  const std::string timeout = std::to_string(config.request_timeout_ms);
  const char* options[] = {"listening_ports", ports.c_str(),
                           "num_threads", threads.c_str(),
                           "request_timeout_ms", timeout.c_str(),
                           "enable_keep_alive", "no",
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
