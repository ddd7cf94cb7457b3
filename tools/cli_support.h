// Command-line plumbing shared by the companion tools: parsing with CLI11,
// and reporting a failure as one line on standard error.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gridwave::tools {

// Exit statuses of the tools.
inline constexpr int kFailed = 1;      // the work itself failed (bad input, unwritable output)
inline constexpr int kUsageError = 2;  // the command line was wrong

// Parses the command line. Returns -1 when the tool should go on, otherwise
// the status to exit with: 0 after printing --help to standard output, or
// kUsageError after a one-line complaint on standard error.
int parse_command_line(CLI::App& app, int argc, char** argv);

// Strict readers of numbers typed on a command line: plain decimal text and
// nothing else (no spaces, no hexadecimal, no "nan" or "inf"), so a slip of
// the keyboard is reported instead of being read as something else.
// "-12", "+7" and "007" are whole numbers; "2.5", "-.5", "1e3" real ones.
std::optional<long long> read_whole_number(std::string_view text);
std::optional<double> read_real_number(std::string_view text);  // finite values only

// Validators for numeric options, built on the readers above. A bad value is
// reported as "--option: '5 ' is not a whole number" or "--option: 0 is out
// of range: it must be from 1 to 8000". Attach them with ->transform(), not
// ->check(): they hand CLI11 the number read, written back in plain decimal,
// so that "010" is ten and not CLI11's octal eight.
CLI::Validator whole_number(long long min, long long max);
CLI::Validator real_number(double min, double max);  // min <= value <= max
CLI::Validator real_above(double bound);             // value > bound
// A word from a fixed list: "--scale: 'mel' is not one of log, linear".
CLI::Validator one_of(const std::vector<std::string>& words);

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
