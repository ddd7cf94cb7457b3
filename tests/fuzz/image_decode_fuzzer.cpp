// Fuzz target: arbitrary bytes as the picture img2grid and img2sound read
// (PNG, JPEG, GIF, BMP, WebP, PGM/PPM). A picture is either refused with
// ToolError or decoded into sane brightness values; a decoded picture always
// maps onto a well-formed grid, and a short sound of it is finite and within
// the sum of its rows' amplitudes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "image_input.h"
#include "picture_to_grid.h"
#include "synthesis.h"
#include "tool_error.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "image_decode_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gridwave::tools;
  LumaImage image;
  try {
    image = decode_image(std::vector<unsigned char>(data, data + size), "fuzz input");
  } catch (const ToolError&) {
    return 0;
  }
  check(image.width > 0 && image.height > 0, "decoded an empty picture");
  check(image.luma.size() == static_cast<std::size_t>(image.width) * image.height,
        "brightness count differs from the picture size");
  for (float v : image.luma) check(v >= 0.0f && v <= 1.0f, "brightness outside 0 ... 1");

  // Tall pictures are squeezed, so one input stays fast.
  const std::optional<int> height = std::min(image.height, 64);
  CellMapping mapping;
  const Grid grid = picture_to_grid(image, height, mapping);
  check(grid.rows == *height + 1, "wrong row count");
  check(grid.cells.size() == static_cast<std::size_t>(grid.rows) * 200, "wrong cell count");
  for (int k = 0; k < 200; ++k) check(grid.at(0, k) == 0, "row 0 not silent");
  for (std::int32_t c : grid.cells) check(c >= 0 && c <= mapping.max_cell, "cell outside its range");

  PictureSoundOptions options;
  options.duration_s = 0.01;
  options.rows = 5;
  const SynthesisPlan plan = make_plan(image, options);
  std::vector<float> sound(plan.frames + kGroupSamples);
  render_fast(plan, 0, plan.frames, sound.data());
  for (std::int64_t n = 0; n < plan.frames; ++n) check(std::isfinite(sound[n]) && std::fabs(sound[n]) <= 5.001f, "sample outside the rows' sum");
  return 0;
}
