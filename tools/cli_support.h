// Command-line plumbing shared by the companion tools: parsing with CLI11,
// and reporting a failure as one line on standard error.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace gridwave::tools {

// Exit statuses of the tools.
inline constexpr int kFailed = 1;      // the work itself failed (bad input, unwritable output)
inline constexpr int kUsageError = 2;  // the command line was wrong

// Parses the command line. Returns -1 when the tool should go on, otherwise
// the status to exit with: 0 after printing --help to standard output, or
// kUsageError after a one-line complaint on standard error.
int parse_command_line(CLI::App& app, int argc, char** argv);

// Prints "tool: message" as a single line on standard error.
void report_failure(const std::string& tool, const std::string& message);

// Runs the tool's work, turning any failure into a one-line message and
// kFailed. The work returns the exit status.
template <typename Work>
int run_reporting_failures(const std::string& tool, Work work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    report_failure(tool, "not enough memory");
  } catch (const std::exception& e) {
    report_failure(tool, e.what());
  }
  return kFailed;
}

}  // namespace gridwave::tools
