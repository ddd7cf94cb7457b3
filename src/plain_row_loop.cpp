#include "plain_row_loop.h"

#include <algorithm>

#include "console.h"
#include "grid_input.h"
#include "tone.h"

namespace gridwave {

int render_row(Slot* accumulator, double frequency, int columns, std::int32_t d, const char* path) {
  if (open_input(path) != 0) return 1;
  // The row count, then rows 0 ... d-1.
  int failed = skip_cells(1 + std::int64_t{kCellsPerRow} * d);
  std::int32_t cells[kCellsPerRow];
  if (failed == 0 && columns > 0) {
    const int n = std::min(columns, kCellsPerRow);
    failed = read_cells(cells, n);
    if (failed == 0) render_cells(accumulator, frequency, cells, n);
  }
  close_input();
  return failed;
}

int render_grid_row_by_row(Accumulator& accumulator, const char* path, std::int32_t rows, int columns) {
  return render_grid_row_by_row(accumulator.slots(), path, rows, columns);
}

int render_grid_row_by_row(Slot* accumulator, const char* path, std::int32_t rows, int columns) {
  for (std::int32_t d = 1; d < rows; ++d) {
    if (render_row(accumulator, row_frequency(d, rows), columns, d, path) != 0) return 1;
    if (d % 10 == 0) say("*");
  }
  return 0;
}

}  // namespace gridwave
