#include "tone.h"

#include <algorithm>
#include <cmath>

#include "grid_input.h"

namespace gridwave {

double row_frequency(std::int32_t d, std::int32_t c) {
  const double q = static_cast<double>(d) / static_cast<double>(c);
  const double e = q * kSpanOctaves;
  return kTopFrequency / std::pow(2.0, e);
}

double phase_step(double frequency) {
  const double t = static_cast<double>(kSampleRate) / frequency;
  return kFullCircle / t;
}

void render_cells(Slot* accumulator, double frequency, const std::int32_t* cells, int columns) {
  const double step = phase_step(frequency);
  double phase = 0.0;
  Slot* slot = accumulator;
  for (int k = 0; k < columns; ++k) {
    const double amplitude = cells[k];
    for (int n = 0; n < kSamplesPerColumn; ++n) {
      const double s = tone_sample(phase, amplitude);
      phase = advance_phase(phase, step);
      *slot = accumulate(*slot, s);
      ++slot;
    }
  }
}

int render_row(Slot* accumulator, double frequency, std::int32_t length, std::int32_t d,
               const char* path) {
  if (open_input(path) != 0) return 1;
  const int columns = length / kLengthPerColumn;
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

}  // namespace gridwave
