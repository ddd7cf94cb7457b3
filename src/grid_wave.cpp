#include "grid_wave.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include "accumulator.h"
#include "constants.h"
#include "render_pipeline.h"
#include "tone.h"
#include "wave_out.h"

namespace gridwave {

std::vector<unsigned char> render_grid_wave(std::int32_t rows, std::span<const std::int32_t> cells, int threads,
                                            std::int64_t* loud_samples) {
  if (rows > kMaxRowCount) {
    throw std::invalid_argument("a grid of " + std::to_string(rows) + " rows is more than " +
                                std::to_string(kMaxRowCount) + " rows");
  }
  if (rows >= 2 && cells.size() / kCellsPerRow < static_cast<std::size_t>(rows)) {
    throw std::invalid_argument("a grid of " + std::to_string(rows) + " rows needs " +
                                std::to_string(std::int64_t{rows} * kCellsPerRow) + " cells, not " +
                                std::to_string(cells.size()));
  }
  Accumulator accumulator;
  if (!accumulator) throw std::bad_alloc();
  if (rows >= 2) {
    RenderPipeline pipeline(accumulator, kCellsPerRow, threads > 0 ? threads : render_threads());
    const int size = batch_rows_for(std::int64_t{rows} - 1);
    for (std::int32_t first = 1; first < rows;) {
      const int n = static_cast<int>(std::min<std::int64_t>(size, std::int64_t{rows} - first));
      RenderPipeline::Batch& batch = pipeline.next_batch();
      std::copy_n(cells.begin() + std::int64_t{first} * kCellsPerRow, std::int64_t{n} * kCellsPerRow, batch.cells);
      for (int r = 0; r < n; ++r) batch.frequencies[r] = row_frequency(first + r, rows);
      pipeline.submit(n);
      first += n;
    }
    pipeline.finish();
  }
  return encode_wave(accumulator.slots(), kCellsPerRow, loud_samples);
}

}  // namespace gridwave
