// Row pitches and the oscillator that adds one row's tone to the accumulator.
// Pure arithmetic: reading rows from a grid file is plain_row_loop.h's.
#pragma once

#include <cmath>
#include <cstdint>

#include "constants.h"

namespace gridwave {

// Frequency in Hz of row d of a grid with c rows: five octaves down from
// 10 kHz, evenly spaced on a log scale; depends only on d / c.
double row_frequency(std::int32_t d, std::int32_t c);

// Phase advance per sample of a tone at this frequency.
double phase_step(double frequency);

// One step of a row's phase: on by the step, then back by a full circle
// once when it reaches one. Every renderer runs exactly this recurrence.
inline double advance_phase(double phase, double step) {
  phase = phase + step;
  return phase >= kFullCircle ? phase - kFullCircle : phase;
}

// A row's contribution at this phase, multiplied in this order.
inline double tone_sample(double phase, double amplitude) {
  return (std::sin(phase) * amplitude) * kCellGain;
}

// Adds one row's tone into the accumulator: for each of `columns` columns,
// kSamplesPerColumn samples of sin(phase) * cell * 100, each truncated into
// its slot on its own. The phase starts at 0 and runs on across columns.
void render_cells(Slot* accumulator, double frequency, const std::int32_t* cells, int columns);

}  // namespace gridwave
