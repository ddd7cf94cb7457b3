#include "row_loop.h"

#include <algorithm>
#include <deque>

#include "console.h"
#include "grid_input.h"
#include "render_pipeline.h"
#include "tone.h"

namespace gridwave {
namespace {

// Prints the stars of rows in batches that have finished, in row order.
class Stars {
 public:
  void submitted(std::int32_t first, int rows) { pending_.push_back({first, rows}); }
  void show(std::int64_t finished_batches) {
    for (; shown_ < finished_batches; ++shown_) {
      const auto [first, rows] = pending_.front();
      pending_.pop_front();
      for (std::int32_t d = first; d < first + rows; ++d) {
        if (d % 10 == 0) say("*");
      }
    }
  }

 private:
  std::deque<std::pair<std::int32_t, int>> pending_;
  std::int64_t shown_ = 0;
};

// Slots: Accumulator or Slot*, whichever RenderPipeline is made from.
template <typename Slots>
int render_grid_into(Slots& accumulator, const char* path, std::int32_t rows, int columns) {
  if (rows < 2) return 0;
  if (open_input(path) != 0) return 1;
  if (skip_cells(1 + std::int64_t{kCellsPerRow}) != 0) {  // the row count and row 0
    close_input();
    return 1;
  }
  RenderPipeline pipeline(accumulator, columns, render_threads());
  Stars stars;
  const int size = batch_rows_for(std::int64_t{rows} - 1);
  for (std::int32_t first = 1; first < rows;) {
    const int wanted = static_cast<int>(std::min<std::int64_t>(size, std::int64_t{rows} - first));
    RenderPipeline::Batch& batch = pipeline.next_batch();
    stars.show(pipeline.finished());
    const int got = read_rows(batch.cells, wanted);
    for (int r = 0; r < got; ++r) batch.frequencies[r] = row_frequency(first + r, rows);
    if (got > 0) {
      pipeline.submit(got);
      stars.submitted(first, got);
    }
    if (got < wanted) {
      // The file shrank since its length was checked: finish what it held.
      pipeline.finish();
      stars.show(pipeline.finished());
      close_input();
      return report_short_grid();
    }
    first += got;
  }
  pipeline.finish();
  stars.show(pipeline.finished());
  close_input();
  return 0;
}

}  // namespace

int render_grid(Accumulator& accumulator, const char* path, std::int32_t rows, int columns) {
  return render_grid_into(accumulator, path, rows, columns);
}

int render_grid(Slot* accumulator, const char* path, std::int32_t rows, int columns) {
  return render_grid_into(accumulator, path, rows, columns);
}

}  // namespace gridwave
