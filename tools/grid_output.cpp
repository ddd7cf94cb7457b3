#include "grid_output.h"

#include "constants.h"
#include "file_bytes.h"

namespace gridwave::tools {

std::int32_t& Grid::at(std::int32_t row, int column) {
  return cells[static_cast<std::size_t>(row) * kCellsPerRow + column];
}

std::int32_t Grid::at(std::int32_t row, int column) const {
  return cells[static_cast<std::size_t>(row) * kCellsPerRow + column];
}

std::vector<unsigned char> encode_grid(const Grid& grid) {
  std::vector<unsigned char> bytes;
  bytes.reserve(kCellBytes * (1 + grid.cells.size()));
  auto put = [&bytes](std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(u >> shift));
  };
  put(grid.rows);
  for (std::int32_t cell : grid.cells) put(cell);
  return bytes;
}

void save_grid(const std::string& path, const Grid& grid) { save_output(path, encode_grid(grid)); }

}  // namespace gridwave::tools
