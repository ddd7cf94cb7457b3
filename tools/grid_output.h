// Writing grid files: the row count, then rows of 200 little-endian int32
// cells, row 0 first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gridwave::tools {

// A whole grid in memory: rows * kCellsPerRow cells, row by row.
struct Grid {
  std::int32_t rows = 0;
  std::vector<std::int32_t> cells;

  std::int32_t& at(std::int32_t row, int column);
  std::int32_t at(std::int32_t row, int column) const;
};

// Grids are refused beyond this many rows (a 65,536-row file is 52 MB and
// takes gridwave hours to render).
inline constexpr std::int32_t kMaxGridRows = 65536;

std::vector<unsigned char> encode_grid(const Grid& grid);

// Saves the grid file at path without ever leaving a partial file; throws
// ToolError when it cannot.
void save_grid(const std::string& path, const Grid& grid);

}  // namespace gridwave::tools
