// What the page asks for: the render mode and its options, read from the
// query string of POST /api/render (the picture itself is the body).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gridwave::studio {

enum class Mode {
  kImg2Sound,  // img2sound's smooth synthesis, every option applies
  kGridwave,   // the picture as img2grid makes a grid, rendered exactly as gridwave does
};

// Limits of the studio, tighter than the command-line tools' so that every
// render stays quick and its memory small; the tools do the long ones.
inline constexpr double kStudioMaxDuration = 120.0;
inline constexpr int kStudioMaxRows = 4096;
inline constexpr std::size_t kMaxNameLength = 200;

struct RenderRequest {
  Mode mode = Mode::kImg2Sound;
  std::string picture_name = "picture";  // only for messages and download names
  // img2sound only:
  double duration_s = 10.0;
  double low_hz = 312.5;
  double high_hz = 10000.0;
  bool linear_scale = false;
  bool noise = false;
  // Both modes: pitch rows (img2sound) or picture rows (gridwave; the grid
  // then has one row more, row 0, which never sounds). Empty: the tool's default.
  std::optional<int> rows;
  double range_db = 60.0;
  bool invert = false;
};

// A request the studio refuses, with the message shown on the page.
class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads "mode=gridwave&rows=120&..." (percent-encoded as forms and
// URLSearchParams write it). Unknown or repeated keys, malformed numbers and
// options that do not apply to the mode are refused with a BadRequest that
// names them.
RenderRequest parse_render_request(std::string_view query);

}  // namespace gridwave::studio
