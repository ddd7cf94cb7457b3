#include "host_policy.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace gridwave::studio {

bool is_ipv4_literal(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

HostPolicy::HostPolicy(std::string listen_address, int port)
    : listen_address_(std::move(listen_address)), port_(port) {}

bool HostPolicy::host_allowed(std::string_view host) const {
  std::string name(host);
  int port = 80;
  if (const auto colon = name.rfind(':'); colon != std::string::npos) {
    const std::string_view digits = host.substr(colon + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return false;
    name.resize(colon);
  }
  if (port != port_) return false;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  if (name == "localhost" || name == "127.0.0.1") return true;
  if (!is_ipv4_literal(name)) return false;
  return listen_address_ == "0.0.0.0" || name == listen_address_;
}

bool HostPolicy::origin_allowed(std::string_view origin) const {
  constexpr std::string_view kScheme = "http://";
  if (origin.substr(0, kScheme.size()) != kScheme) return false;
  const std::string_view host = origin.substr(kScheme.size());
  if (host.find('/') != std::string_view::npos) return false;
  return host_allowed(host);
}

}  // namespace gridwave::studio
