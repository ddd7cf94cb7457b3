// The labelled spectrogram: plot panels framed by a frequency axis, a time
// axis, a colour bar with its dB scale and a title, drawn with Cairo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tone_analysis.h"

namespace gridwave::tools {

struct PlotPanel {
  std::string name;               // shown above the panel ("left"); none when empty
  std::vector<std::uint8_t> rgb;  // width * height * 3 bytes of the plot area
};

struct PlotFrame {
  int width = 0;  // of each panel's plot area
  int height = 0;
  double low_hz = 0;
  double high_hz = 0;
  FrequencyScale scale = FrequencyScale::kLog;
  double start_s = 0;  // time at the left edge of the plot area
  double span_s = 0;   // time across it
  double top_db = 0;   // the colour bar's brightest level
  double range_db = 60;
  std::string title;
};

struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// The whole labelled picture; the panels' pixels are copied unchanged.
RgbPicture draw_labelled_plot(const std::vector<PlotPanel>& panels, const PlotFrame& frame);

}  // namespace gridwave::tools
