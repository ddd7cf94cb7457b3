// Answers the studio sends: every one with the same protective headers, and
// the render's result as JSON with the files in base64.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct mg_connection;

namespace gridwave::studio {

// Sends a complete answer: status, Content-Type, Content-Length, the
// protective headers (a strict Content-Security-Policy, no sniffing, no
// framing, no referrer, not cached) and the body (left out for HEAD).
void send_reply(mg_connection* connection, int status, std::string_view content_type, const void* body,
                std::size_t size, const std::vector<std::pair<std::string, std::string>>& extra_headers = {});

// {"error": message} with the given status; the page shows the message.
void send_error(mg_connection* connection, int status, const std::string& message,
                const std::vector<std::pair<std::string, std::string>>& extra_headers = {});

std::string base64(const std::vector<unsigned char>& bytes);

// The text as a JSON string, quotes included.
std::string json_string(std::string_view text);

}  // namespace gridwave::studio
