#include "row_loop.h"

#include <algorithm>
#include <vector>

#include "batch_render.h"
#include "console.h"
#include "grid_input.h"
#include "tone.h"

namespace gridwave {

int render_rows(Slot* accumulator, const char* path, std::int32_t rows, std::int32_t length) {
  if (rows < 2) return 0;
  if (open_input(path) != 0) return 1;
  if (skip_cells(1 + std::int64_t{kCellsPerRow}) != 0) {  // the row count and row 0
    close_input();
    return 1;
  }
  const int threads = render_threads();
  std::vector<std::int32_t> cells(std::size_t{kBatchRows} * kCellsPerRow);
  double frequencies[kBatchRows];
  for (std::int32_t first = 1; first < rows;) {
    const int wanted = static_cast<int>(std::min<std::int64_t>(kBatchRows, std::int64_t{rows} - first));
    const int got = read_rows(cells.data(), wanted);
    for (int r = 0; r < got; ++r) frequencies[r] = row_frequency(first + r, rows);
    render_batch(accumulator, frequencies, cells.data(), got, length / kLengthPerColumn, threads);
    for (int r = 0; r < got; ++r) {
      if ((first + r) % 10 == 0) say("*");
    }
    if (got < wanted) {
      close_input();
      return report_short_grid();
    }
    first += got;
  }
  close_input();
  return 0;
}

}  // namespace gridwave
