// Which Host and Origin headers the studio answers. A web page elsewhere must
// not drive it: a DNS-rebound name or a foreign site's Origin is refused,
// so only the studio's own address (and loopback names) get through.
#pragma once

#include <string>
#include <string_view>

namespace gridwave::studio {

class HostPolicy {
 public:
  // listen_address: the IPv4 address the studio listens on ("0.0.0.0" for
  // every interface); port: the port it listens on.
  HostPolicy(std::string listen_address, int port);

  // A Host header naming this studio: localhost, 127.0.0.1 or the listen
  // address (any IPv4 address when listening on every interface), with the
  // studio's port (no port means 80). Names other than localhost are refused
  // whatever they resolve to: that is what defeats DNS rebinding.
  bool host_allowed(std::string_view host) const;

  // An Origin header of a page served by this studio: "http://" and an
  // allowed host. "null" and every other scheme are refused.
  bool origin_allowed(std::string_view origin) const;

 private:
  std::string listen_address_;
  int port_;
};

// True for a dotted-quad IPv4 address such as 127.0.0.1.
bool is_ipv4_literal(const std::string& text);

}  // namespace gridwave::studio
