// Reading a picture as brightness: PNG, JPEG, GIF (its first frame), BMP,
// WebP and binary PGM/PPM (P5/P6), told apart by their first bytes, not
// their names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gridwave::tools {

// Brightness of every pixel, 0 (black) to 1 (white), row by row from the
// top: brightness_of the pixel's colour, with any transparency composited
// over black.
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

// The brightness a pixel is drawn with: its luma, but at least half its
// strongest channel. Luma alone puts pure blue 0.114 (53 dB down in a 60 dB
// range) and pure red 0.299 (42 dB down), nearly lost; the floor keeps every
// saturated colour at half brightness or more (30 dB down), plainly visible,
// while greys and ordinary colours, whose luma is above the floor, keep their
// luma.
float brightness_of(float red, float green, float blue);

// Refuses pictures with no pixels or more than kMaxPixels (ToolError).
void check_image_size(std::uint64_t width, std::uint64_t height, const std::string& name);

// Brightness of 8- or 16-bit RGBA pixels (full: the largest value, 255 or
// 65535), alpha composited over black.
template <typename Sample>
LumaImage image_from_rgba(std::uint64_t width, std::uint64_t height, const Sample* rgba, float full) {
  LumaImage image{static_cast<int>(width), static_cast<int>(height), {}};
  image.luma.resize(width * height);
  for (std::size_t i = 0; i < image.luma.size(); ++i) {
    const Sample* p = rgba + 4 * i;
    image.luma[i] = brightness_of(p[0] / full, p[1] / full, p[2] / full) * (p[3] / full);
  }
  return image;
}

// Decodes an image held in memory; name is only used in messages. Throws
// ToolError for anything that is not a complete, supported image.
LumaImage decode_image(const std::vector<unsigned char>& bytes, const std::string& name);

// Reads and decodes the image file at path.
LumaImage load_image(const std::string& path);

}  // namespace gridwave::tools
