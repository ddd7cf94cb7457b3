#include "png_output.h"

#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "file_bytes.h"
#include "tool_error.h"

namespace gridwave::tools {

std::vector<unsigned char> encode_rgb_png(int width, int height, const std::vector<std::uint8_t>& rgb) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
  if (!ctx) throw std::bad_alloc();
  auto check = [](int error) {
    if (error != 0) throw ToolError(std::string("cannot encode the PNG picture: ") + spng_strerror(error));
  };
  check(spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1));
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(width);
  ihdr.height = static_cast<std::uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  check(spng_set_ihdr(ctx.get(), &ihdr));
  check(spng_encode_image(ctx.get(), rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));
  std::size_t size = 0;
  int error = 0;
  std::unique_ptr<unsigned char, decltype(&std::free)> buffer(
      static_cast<unsigned char*>(spng_get_png_buffer(ctx.get(), &size, &error)), std::free);
  check(error);
  if (!buffer) throw std::bad_alloc();
  return std::vector<unsigned char>(buffer.get(), buffer.get() + size);
}

void save_rgb_png(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb) {
  save_output(path, encode_rgb_png(width, height, rgb));
}

Rgb heat_colour(double t) {
  // Our own ramp: evenly spaced stops, each lighter than the one before.
  static constexpr Rgb kStops[] = {
      {0, 0, 4},      {26, 12, 62},   {72, 16, 112},  {120, 28, 120}, {168, 44, 114},
      {214, 68, 92},  {243, 110, 72}, {253, 160, 96}, {254, 210, 140}, {252, 250, 190},
  };
  constexpr int kLast = static_cast<int>(std::size(kStops)) - 1;
  const double position = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * kLast;
  const int i = std::min(static_cast<int>(position), kLast - 1);
  const double f = position - i;
  Rgb out{};
  for (int c = 0; c < 3; ++c)
    out[c] = static_cast<std::uint8_t>(std::lround(kStops[i][c] + f * (kStops[i + 1][c] - kStops[i][c])));
  return out;
}

}  // namespace gridwave::tools
