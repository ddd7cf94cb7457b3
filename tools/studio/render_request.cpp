#include "render_request.h"

#include <charconv>
#include <cmath>
#include <map>
#include <sstream>

namespace gridwave::studio {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else {
      const int high = i + 1 < text.size() ? hex_value(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
      if (high < 0 || low < 0) throw BadRequest("the request's options are malformed (a bad % escape)");
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return out;
}

std::map<std::string, std::string> split_query(std::string_view query) {
  std::map<std::string, std::string> fields;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    std::string key = percent_decode(pair.substr(0, eq));
    std::string value = eq == std::string_view::npos ? std::string{} : percent_decode(pair.substr(eq + 1));
    if (!fields.emplace(key, std::move(value)).second) throw BadRequest("the option '" + key + "' is given twice");
  }
  return fields;
}

std::string format_number(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Printable for a message: control characters and quotes would confuse it.
std::string printable(const std::string& text, std::size_t limit) {
  std::string out;
  for (unsigned char c : text.substr(0, limit)) out += (c < 0x20 || c == 0x7f || c == '\'') ? '?' : c;
  return out;
}

double parse_number(const std::string& label, const std::string& text, double low, double high,
                    const std::string& unit) {
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    throw BadRequest(label + " must be a number, not '" + printable(text, 40) + "'");
  if (value < low || value > high)
    throw BadRequest(label + " must be from " + format_number(low) + " to " + format_number(high) + unit +
                     ", not " + format_number(value) + unit);
  return value;
}

int parse_count(const std::string& label, const std::string& text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    throw BadRequest(label + " must be a whole number, not '" + printable(text, 40) + "'");
  if (value < low || value > high)
    throw BadRequest(label + " must be from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
                     std::to_string(value));
  return value;
}

bool parse_flag(const std::string& label, const std::string& text) {
  if (text == "1") return true;
  if (text == "0") return false;
  throw BadRequest(label + " must be 1 or 0, not '" + printable(text, 40) + "'");
}

// Takes the fields the request knows about out of the map, one by one, so
// that whatever is left over was not understood.
class Fields {
 public:
  explicit Fields(std::string_view query) : fields_(split_query(query)) {}
  std::optional<std::string> take(const std::string& key) {
    const auto it = fields_.find(key);
    if (it == fields_.end()) return std::nullopt;
    std::string value = std::move(it->second);
    fields_.erase(it);
    return value;
  }
  const std::map<std::string, std::string>& rest() const { return fields_; }

 private:
  std::map<std::string, std::string> fields_;
};

constexpr const char* kImg2SoundOnly[] = {"duration", "low", "high", "scale", "noise"};

}  // namespace

RenderRequest parse_render_request(std::string_view query) {
  Fields fields(query);
  RenderRequest request;
  if (auto mode = fields.take("mode")) {
    if (*mode == "gridwave") {
      request.mode = Mode::kGridwave;
    } else if (*mode != "img2sound") {
      throw BadRequest("the mode must be img2sound or gridwave, not '" + printable(*mode, 40) + "'");
    }
  }
  if (auto name = fields.take("name"); name && !name->empty())
    request.picture_name = printable(*name, kMaxNameLength);
  if (auto rows = fields.take("rows"); rows && !rows->empty())
    request.rows = parse_count("Rows", *rows, 1, kStudioMaxRows);
  if (auto range = fields.take("db_range")) request.range_db = parse_number("The dB range", *range, 1, 200, " dB");
  if (auto invert = fields.take("invert")) request.invert = parse_flag("invert", *invert);

  if (request.mode == Mode::kImg2Sound) {
    if (auto d = fields.take("duration"))
      request.duration_s = parse_number("The duration", *d, 0.5, kStudioMaxDuration, " s");
    if (auto low = fields.take("low")) request.low_hz = parse_number("The low frequency", *low, 1, 22000, " Hz");
    if (auto high = fields.take("high")) request.high_hz = parse_number("The high frequency", *high, 1, 22000, " Hz");
    if (request.low_hz >= request.high_hz)
      throw BadRequest("the low frequency (" + format_number(request.low_hz) +
                       " Hz) must be below the high one (" + format_number(request.high_hz) + " Hz)");
    if (auto scale = fields.take("scale")) {
      if (*scale == "linear") {
        request.linear_scale = true;
      } else if (*scale != "log") {
        throw BadRequest("the scale must be log or linear, not '" + printable(*scale, 40) + "'");
      }
    }
    if (auto noise = fields.take("noise")) request.noise = parse_flag("noise", *noise);
  }

  if (!fields.rest().empty()) {
    const std::string key = printable(fields.rest().begin()->first, 40);
    for (const char* only : kImg2SoundOnly)
      if (key == only) throw BadRequest("the option '" + key + "' does not apply in gridwave mode");
    throw BadRequest("unknown option '" + key + "'");
  }
  return request;
}

}  // namespace gridwave::studio
