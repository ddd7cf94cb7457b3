// Reading a picture as brightness: PNG (any bit depth and colour type) and
// binary PGM/PPM (P5/P6), told apart by their first bytes, not their names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace gridwave::tools {

// Brightness of every pixel, 0 (black) to 1 (white), row by row from the
// top: the luma of the pixel's colour, with any transparency composited over
// black.
struct LumaImage {
  int width = 0;
  int height = 0;
  std::vector<float> luma;  // width * height values
};

// Pictures larger than this are refused rather than risking the memory.
inline constexpr std::size_t kMaxPixels = std::size_t{1} << 25;

// Luma of gamma-encoded R'G'B' values in 0..1 (ITU-R BT.601 weights, as
// most grey-scale conversions use).
float luma_of(float red, float green, float blue);

// Decodes an image held in memory; name is only used in messages. Throws
// ToolError for anything that is not a complete, supported image.
LumaImage decode_image(const std::vector<unsigned char>& bytes, const std::string& name);

// Reads and decodes the image file at path.
LumaImage load_image(const std::string& path);

}  // namespace gridwave::tools
