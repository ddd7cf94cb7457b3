// The one kind of failure the companion tools report: a message for the
// user, printed on one line of standard error by the tool's main().
#pragma once

#include <stdexcept>
#include <string>

namespace gridwave::tools {

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "'path'" as it appears inside messages.
inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace gridwave::tools
