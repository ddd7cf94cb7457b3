// The fast renderer: many rows at once, on every core and SIMD lane, giving
// the very same accumulator as render_cells called row after row.
#pragma once

#include <cstdint>

#include "constants.h"

namespace gridwave {

// Rows the driver reads from the grid file and renders together.
inline constexpr int kBatchRows = 64;

// Adds `rows` rows into the accumulator, exactly as
//   for r in 0 ... rows-1: render_cells(accumulator, frequencies[r], cells + r * kCellsPerRow, columns)
// would, slot for slot. Row r's cells are cells[r * kCellsPerRow + k] for
// k = 0 ... columns-1; columns is clamped to 0 ... kCellsPerRow. The samples
// are split among `threads` threads (at least one).
void render_batch(Slot* accumulator, const double* frequencies, const std::int32_t* cells,
                  int rows, int columns, int threads);

// Threads the program renders with: GRIDWAVE_THREADS when it holds a count
// from 1 to kMaxRenderThreads, otherwise the CPUs this process may run on.
inline constexpr int kMaxRenderThreads = 256;
int render_threads();

// Samples (one row's contribution to one slot) that render_batch recomputed
// with std::sin because the vector sine's error bound left the truncated
// result in doubt; counted over the whole process.
std::uint64_t sin_fallback_count();

// The SIMD instruction set render_batch uses now, e.g. "AVX3" or "AVX2".
const char* render_target_name();

}  // namespace gridwave
