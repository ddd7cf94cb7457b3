#include "cli_support.h"

#include <iostream>

namespace gridwave::tools {

namespace {

// CLI11 and some libraries put line ends inside their messages.
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

int parse_command_line(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success&) {
    std::cout << app.help();
    return std::cout.flush() ? 0 : kFailed;
  } catch (const CLI::ParseError& e) {
    report_failure(app.get_name(), one_line(e.what()) + " (see --help)");
    return kUsageError;
  }
  return -1;
}

void report_failure(const std::string& tool, const std::string& message) {
  std::cerr << tool << ": " << one_line(message) << '\n';
}

}  // namespace gridwave::tools
