// Measuring how loud a tone of one frequency is in stretches of a sound:
// the Goertzel recurrence (one DFT term) over a weighted window, evaluated
// at exactly the frequency asked for rather than at the nearest FFT bin.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "frequency_scale.h"
#include "grid_output.h"
#include "sound_input.h"

namespace gridwave::tools {

// Radians per sample of a tone at this frequency in a sound at this rate,
// from the same phase step the renderer uses.
double radians_per_sample(double frequency, int sample_rate);

// Samples with `padding` zeros on both sides, so that windows reaching past
// either end of the sound read silence there.
struct PaddedSignal {
  PaddedSignal(const std::vector<float>& samples, std::int64_t padding, std::int64_t min_length);
  std::vector<float> values;
  std::int64_t padding;
  // Pointer to sound sample `index` (negative indices reach into the padding).
  const float* at(std::int64_t index) const { return values.data() + padding + index; }
};

// Amplitude (peak value of the sine) of the tone at `step` radians per sample
// in each window that starts at one of `starts`, each weighted by `window`.
std::vector<double> tone_amplitudes(const PaddedSignal& signal, const std::vector<double>& window,
                                    double step, const std::vector<std::int64_t>& starts);

// The sound as a grid of `rows` rows: row d (1 ... rows - 1) measured at
// row_frequency(d, rows) in each of the 200 columns (4010 samples at 44.1
// kHz, the same duration at other rates), scaled so the loudest cell is
// max_cell; row 0 is all zeros. Columns past the end of the sound are silent.
Grid analyse_grid(const Sound& sound, std::int32_t rows, std::int32_t max_cell);

// Frames of a sound at this rate that analyse_grid looks at.
std::int64_t grid_frames(int sample_rate);

struct SpectrogramView {
  int width = 800;   // pixels across: first_frame ... first_frame + frame_count
  int height = 400;  // pixels down: high_hz at the top to low_hz at the bottom
  double low_hz = 0;
  double high_hz = 0;
  FrequencyScale scale = FrequencyScale::kLog;
  std::int64_t first_frame = 0;
  std::int64_t frame_count = 0;  // at least 1
};

// Frequency at the centre of pixel row y (0 at the top), evenly spaced on
// the view's scale.
double pixel_frequency(int y, const SpectrogramView& view);

// Level in dB relative to a full-scale sine (dBFS) at every pixel, row by row
// from the top; -infinity where the sound is silent. One panel per channel
// when `each_channel`, otherwise one of the channels' mix. Each pixel column
// is measured around its centre with a Hann window whose length falls with
// frequency (a constant number of cycles, within bounds), so the picture is
// equally sharp in pitch across a log axis while high tones stay sharp in
// time. Only the frames those windows cover are read, a few columns at a
// time, so memory does not grow with the sound's length. Columns are shared
// among the CPUs' threads; `progress` (may be empty) is told the share done,
// 0 ... 1, from any of them, one call at a time.
std::vector<std::vector<float>> spectrogram_levels(SoundSource& sound, const SpectrogramView& view,
                                                   bool each_channel,
                                                   const std::function<void(double)>& progress = {});

}  // namespace gridwave::tools
