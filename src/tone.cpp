#include "tone.h"

#include <cmath>

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

}  // namespace gridwave
