#include "cli_support.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

std::optional<long long> read_whole_number(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return std::nullopt;
  for (std::size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return std::nullopt;
  // from_chars takes no '+'; it reports values beyond long long.
  std::string_view digits = text.substr(text[0] == '+' ? 1 : 0);
  long long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<double> read_real_number(std::string_view text) {
  // sign? digits* ('.' digits*)? (e sign? digits+)? with at least one mantissa digit
  std::size_t i = 0;
  auto digits_from = [&](std::size_t& at) {
    const std::size_t first = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - first;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits_from(i);
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits_from(i);
  }
  if (mantissa == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits_from(i) == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  const std::string copy(text);
  const double value = std::strtod(copy.c_str(), nullptr);  // the grammar above is all strtod sees
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

namespace {

std::string plain(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string shown(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string not_a_real_number(const std::string& text) {
  // "nan", "inf" and "1e999" are numbers of a kind, but none we can use.
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  const bool non_finite = !text.empty() && *end == '\0' && !std::isfinite(value);
  return "'" + text + "' is not " + (non_finite ? "a finite number" : "a decimal number");
}

}  // namespace

CLI::Validator whole_number(long long min, long long max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        const std::optional<long long> value = read_whole_number(text);
        if (!value) return "'" + text + "' is not a whole number";
        if (*value < min || *value > max)
          return text + " is out of range: it must be from " + std::to_string(min) + " to " + std::to_string(max);
        text = std::to_string(*value);
        return {};
      },
      std::to_string(min) + " to " + std::to_string(max));
}

CLI::Validator real_number(double min, double max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        const std::optional<double> value = read_real_number(text);
        if (!value) return not_a_real_number(text);
        if (*value < min || *value > max)
          return text + " is out of range: it must be from " + shown(min) + " to " + shown(max);
        text = plain(*value);
        return {};
      },
      shown(min) + " to " + shown(max));
}

CLI::Validator real_above(double bound) {
  return CLI::Validator(
      [bound](std::string& text) -> std::string {
        const std::optional<double> value = read_real_number(text);
        if (!value) return not_a_real_number(text);
        if (!(*value > bound)) return text + " is out of range: it must be above " + shown(bound);
        text = plain(*value);
        return {};
      },
      "above " + shown(bound));
}

CLI::Validator one_of(const std::vector<std::string>& words) {
  std::string list;
  for (const std::string& word : words) list += (list.empty() ? "" : ", ") + word;
  return CLI::Validator(
      [words, list](std::string& text) -> std::string {
        if (std::find(words.begin(), words.end(), text) != words.end()) return {};
        return "'" + text + "' is not one of " + list;
      },
      "");
}

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
