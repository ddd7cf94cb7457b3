#include "picture_to_grid.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "constants.h"
#include "tool_error.h"

namespace gridwave::tools {

double gain_for_brightness(double brightness, bool linear, double range_db, bool invert) {
  double b = std::clamp(brightness, 0.0, 1.0);
  if (invert) b = 1.0 - b;
  if (b <= 0.0) return 0.0;
  return linear ? b : std::pow(10.0, (b - 1.0) * range_db / 20.0);
}

std::int32_t cell_for_brightness(double brightness, const CellMapping& mapping) {
  const double gain = gain_for_brightness(brightness, mapping.linear, mapping.range_db, mapping.invert);
  return static_cast<std::int32_t>(std::lround(gain * mapping.max_cell));
}

namespace {

// Calls visit(i, j, weight) for every output part i and source value j that
// overlap, weight being the share of part i that j covers.
void for_each_overlap(std::int64_t n, std::int64_t count,
                      const std::function<void(std::int64_t, std::int64_t, double)>& visit) {
  // Positions are kept in units of 1 / (n * count) of the source's width, so
  // every boundary is an exact integer: source pixel j spans
  // [j * count, (j + 1) * count) and output part i spans [i * n, (i + 1) * n).
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t begin = i * n, end = (i + 1) * n;
    for (std::int64_t j = begin / count; j < n && j * count < end; ++j) {
      const std::int64_t overlap = std::min(end, (j + 1) * count) - std::max(begin, j * count);
      visit(i, j, static_cast<double>(overlap) / static_cast<double>(n));
    }
  }
}

}  // namespace

std::vector<double> area_resample(const std::vector<double>& source, int count) {
  std::vector<double> out(count, 0.0);
  for_each_overlap(static_cast<std::int64_t>(source.size()), count,
                   [&](std::int64_t i, std::int64_t j, double weight) { out[i] += weight * source[j]; });
  return out;
}

std::vector<double> resample_brightness(const LumaImage& image, int rows, int columns) {
  // Down then across would need the whole picture resampled across first;
  // instead each picture row is resampled across when the pass down first
  // needs it, so memory stays at one output.
  std::vector<double> brightness(std::size_t(rows) * columns, 0.0);
  std::vector<double> line(image.width), across;
  std::int64_t resampled_row = -1;
  for_each_overlap(image.height, rows, [&](std::int64_t r, std::int64_t y, double weight) {
    if (y != resampled_row) {
      const float* pixels = image.luma.data() + y * image.width;
      line.assign(pixels, pixels + image.width);
      across = area_resample(line, columns);
      resampled_row = y;
    }
    for (int k = 0; k < columns; ++k) brightness[r * columns + k] += weight * across[k];
  });
  return brightness;
}

Grid picture_to_grid(const LumaImage& image, std::optional<int> height, const CellMapping& mapping) {
  const int rows_out = height.value_or(kDefaultPictureRows);
  if (rows_out < 1 || rows_out + 1 > kMaxGridRows)
    throw ToolError("the picture is " + std::to_string(rows_out) + " rows high; choose at most " +
                    std::to_string(kMaxGridRows - 1) + " with --height");

  const std::vector<double> brightness = resample_brightness(image, rows_out, kCellsPerRow);
  Grid grid{rows_out + 1, std::vector<std::int32_t>(std::size_t(rows_out + 1) * kCellsPerRow, 0)};
  for (int r = 0; r < rows_out; ++r)
    for (int k = 0; k < kCellsPerRow; ++k)
      grid.at(r + 1, k) = cell_for_brightness(brightness[std::size_t(r) * kCellsPerRow + k], mapping);
  return grid;
}

}  // namespace gridwave::tools
