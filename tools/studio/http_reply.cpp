#include "http_reply.h"

#include <civetweb.h>

#include <cstring>

namespace gridwave::studio {

namespace {

constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob: data:; "
    "media-src 'self' blob:; connect-src 'self'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

}  // namespace

void send_reply(mg_connection* connection, int status, std::string_view content_type, const void* body,
                std::size_t size, const std::vector<std::pair<std::string, std::string>>& extra_headers) {
  const std::string length = std::to_string(size);
  mg_response_header_start(connection, status);
  mg_response_header_add(connection, "Content-Type", content_type.data(), static_cast<int>(content_type.size()));
  mg_response_header_add(connection, "Content-Length", length.c_str(), -1);
  mg_response_header_add(connection, "Content-Security-Policy", kContentSecurityPolicy, -1);
  mg_response_header_add(connection, "X-Content-Type-Options", "nosniff", -1);
  mg_response_header_add(connection, "X-Frame-Options", "DENY", -1);
  mg_response_header_add(connection, "Referrer-Policy", "no-referrer", -1);
  mg_response_header_add(connection, "Cross-Origin-Resource-Policy", "same-origin", -1);
  mg_response_header_add(connection, "Cache-Control", "no-store", -1);
  for (const auto& [name, value] : extra_headers)
    mg_response_header_add(connection, name.c_str(), value.c_str(), static_cast<int>(value.size()));
  mg_response_header_send(connection);
  const char* method = mg_get_request_info(connection)->request_method;
  if (size > 0 && std::strcmp(method, "HEAD") != 0) mg_write(connection, body, size);
}

void send_error(mg_connection* connection, int status, const std::string& message,
                const std::vector<std::pair<std::string, std::string>>& extra_headers) {
  const std::string body = "{\"error\":" + json_string(message) + "}\n";
  send_reply(connection, status, "application/json", body.data(), body.size(), extra_headers);
}

std::string base64(const std::vector<unsigned char>& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    const unsigned v = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {

// Length of the well-formed UTF-8 sequence at the start of text, or 0.
std::size_t utf8_sequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  const std::size_t length = lead >= 0xf5 ? 0 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
  if (length == 0 || text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xc0) != 0x80) return 0;
  // Overlong forms, surrogates and values past U+10FFFF.
  if ((lead == 0xe0 && byte(1) < 0xa0) || (lead == 0xed && byte(1) >= 0xa0) ||
      (lead == 0xf0 && byte(1) < 0x90) || (lead == 0xf4 && byte(1) >= 0x90))
    return 0;
  return length;
}

}  // namespace

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8_sequence(text.substr(i));
      if (length == 0) {
        out += "\\ufffd";  // not UTF-8: the replacement character
      } else {
        out += text.substr(i, length);
        i += length - 1;
      }
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace gridwave::studio
