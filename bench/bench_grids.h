// Grids the benchmarks render: dense random cells, or mostly silent grids
// whose sound comes in rectangular patches, as a picture's bright areas do.
#pragma once

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "constants.h"

namespace gridwave::bench {

enum class GridKind { kDense, kBlocks, kExtreme };

// Cells of `rows` rows of 200 columns (row 0 included, as in the file).
// kDense: every cell random in 0 ... 255. kBlocks: tiles of 8 rows x 10
// columns, four out of five silent, the rest random in 1 ... 255. kExtreme:
// every cell INT32_MIN, the loudest a cell can be.
inline std::vector<std::int32_t> make_grid(GridKind kind, int rows, unsigned seed = 1) {
  constexpr int kColumns = kCellsPerRow;
  std::mt19937 rng(seed);
  std::vector<std::int32_t> cells(static_cast<std::size_t>(rows) * kColumns);
  if (kind == GridKind::kExtreme) {
    cells.assign(cells.size(), INT32_MIN);
    return cells;
  }
  const int tile_rows = (rows + 7) / 8;
  std::vector<bool> loud(static_cast<std::size_t>(tile_rows) * (kColumns / 10));
  for (std::size_t t = 0; t < loud.size(); ++t) loud[t] = rng() % 5 == 0;
  for (int r = 0; r < rows; ++r) {
    for (int k = 0; k < kColumns; ++k) {
      const bool on = kind == GridKind::kDense || loud[static_cast<std::size_t>(r / 8) * (kColumns / 10) + k / 10];
      const std::int32_t value = static_cast<std::int32_t>(rng() % 256);
      cells[static_cast<std::size_t>(r) * kColumns + k] = on ? (kind == GridKind::kDense ? value : 1 + value % 255) : 0;
    }
  }
  return cells;
}

inline bool parse_kind(const std::string& name, GridKind& kind) {
  if (name == "dense") kind = GridKind::kDense;
  else if (name == "blocks") kind = GridKind::kBlocks;
  else if (name == "extreme") kind = GridKind::kExtreme;
  else return false;
  return true;
}

}  // namespace gridwave::bench
