// Where the labelled spectrogram puts its ticks, and what it writes at them:
// round values that suit each axis, never closer than a label needs.
#pragma once

#include <string>
#include <vector>

#include "tone_analysis.h"

namespace gridwave::tools {

struct Tick {
  double value;
  std::string label;
};

// Ticks between low and high Hz on an axis `pixels` long, at least
// `min_spacing` pixels apart. On a log axis: round values of each decade,
// as many of 1, 2, 3, 5, 7 (then 1, 2, 5; then 1) as fit; a narrow log
// range, and a linear axis, get evenly spaced round steps (1, 2 or 5 times
// a power of ten).
std::vector<Tick> frequency_ticks(double low, double high, FrequencyScale scale, double pixels, double min_spacing);

// Ticks over start ... start + span seconds: round steps of seconds, then of
// minutes and hours. Labels in seconds ("2.5 s") while the axis stays under
// a minute, as m:ss past it ("1:30"), h:mm:ss past an hour.
std::vector<Tick> time_ticks(double start, double span, double pixels, double min_spacing);

// Ticks of the colour bar from top_db down to top_db - range_db ("-20 dB").
std::vector<Tick> level_ticks(double top_db, double range_db, double pixels, double min_spacing);

// "500 Hz", "1.5 kHz".
std::string frequency_label(double hz);

}  // namespace gridwave::tools
