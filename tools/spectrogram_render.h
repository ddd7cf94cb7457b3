// The spectrogram picture as a library call: what the spectrogram tool
// draws, for any program that holds a sound (in a file or in memory).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "level_defaults.h"
#include "sound_input.h"
#include "tone_analysis.h"

namespace gridwave::tools {

enum class ChannelPanels {
  kAuto,  // one panel per channel for 2 to 8 channels in the labelled picture, else the mix
  kMix,   // one panel of the channels' average
  kEach,  // one panel per channel, top to bottom
};

// The spectrogram tool's options, with its defaults.
struct SpectrogramOptions {
  int width = 800;   // plot area (one panel) in pixels
  int height = 400;
  std::optional<double> low_hz;   // default: log scale 312.5 (or high / 32 when high is lower); linear 0
  std::optional<double> high_hz;  // default: 10 kHz, or just under half the sample rate if that is lower
  FrequencyScale scale = FrequencyScale::kLog;
  ChannelPanels channels = ChannelPanels::kAuto;
  double range_db = kDefaultRangeDb;  // decibels from the brightest colour to the floor colour
  std::optional<double> top_db;       // level drawn brightest (dBFS); default the loudest point
  double start_s = 0;                 // the part of the sound shown
  std::optional<double> duration_s;   // default: to the end
  bool raw = false;                   // the bare plot area(s) only: no axes, legend or title
  std::string title;                  // the labelled picture's title; none when empty
  std::function<void(double)> progress;  // told the share of the work done, 0 ... 1; may be empty
};

// Limits of the picture: each panel's size, and all panels stacked.
inline constexpr int kMaxPlotSide = 8000;
inline constexpr int kMaxStackedHeight = 16000;

// PNG file bytes of the spectrogram. Throws ToolError for a sound that cannot
// be read and for options this sound cannot be drawn with (--high at or
// above half its sample rate, --start past its end, ...).
std::vector<unsigned char> render_spectrogram_png(SoundSource& sound, const SpectrogramOptions& options);

// The same for a sound file.
std::vector<unsigned char> render_spectrogram_png(const std::string& sound_path, const SpectrogramOptions& options);

// The same for a sound in memory: `frames` frames of `channels` interleaved
// float samples (a full-scale sine peaks at 1) at `sample_rate` Hz.
std::vector<unsigned char> render_spectrogram_png(const float* interleaved, std::int64_t frames, int channels,
                                                  int sample_rate, const SpectrogramOptions& options);

}  // namespace gridwave::tools
