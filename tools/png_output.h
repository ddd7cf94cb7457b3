// Writing 8-bit RGB pictures as PNG files, and the spectrogram's colours.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gridwave::tools {

using Rgb = std::array<std::uint8_t, 3>;

// PNG file bytes of an 8-bit RGB picture (width * height * 3 bytes, rows
// from the top).
std::vector<unsigned char> encode_rgb_png(int width, int height, const std::vector<std::uint8_t>& rgb);

// Saves the picture without ever leaving a partial file; throws ToolError.
void save_rgb_png(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

// Colour for a level t in 0 ... 1: from black through deep violet, red and
// orange to pale yellow, growing steadily lighter, so the eye reads the
// colours in order and a grey-scale print keeps the levels.
Rgb heat_colour(double t);

}  // namespace gridwave::tools
