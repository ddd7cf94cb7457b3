// What the tests and benchmarks use to look inside the batched renderer; the
// program itself needs none of it.
#pragma once

#include <cstdint>

#include "constants.h"

namespace gridwave {

// Adds `rows` rows into the accumulator through the render pipeline, exactly
// as
//   for r in 0 ... rows-1: render_cells(accumulator, frequencies[r], cells + r * kCellsPerRow, columns)
// would, slot for slot. Row r's cells are cells[r * kCellsPerRow + k] for
// k = 0 ... columns-1; columns is clamped to 0 ... kCellsPerRow. Renders with
// `threads` threads (at least one).
void render_cells_batched(Slot* accumulator, const double* frequencies, const std::int32_t* cells, int rows,
                          int columns, int threads);

// Row samples whose sine was taken with std::sin because the faster sines
// left the truncated result in doubt; counted over the whole process.
std::uint64_t sin_fallback_count();

// The SIMD instruction set the renderer uses now, e.g. "AVX3" or "AVX2".
const char* render_target_name();

// The largest differences from std::sin of the plain loop's phases, and the
// bounds the renderer assumes for them, on the SIMD target in use.
struct SineErrors {
  double rotation;        // the rotation with the wraps' shift taken out (lanes in doubt left aside)
  double rotation_bound;
  double shifted_ratio;   // the rotation with the shift left in, over its bound for the row's step
  double vector_sin;      // hn::Sin of the phase itself
  double vector_sin_bound;
};
// Over the first `samples` phases of rows with these phase steps.
SineErrors measure_sine_errors(const double* steps, int rows, std::int64_t samples);

}  // namespace gridwave
