#include "tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "constants.h"
#include "tone.h"

namespace gridwave::tools {

namespace {

// Windows in the picture span this many cycles of their tone...
constexpr double kCyclesPerWindow = 50.0;
// ...but no less and no more than these lengths at 44.1 kHz (about 6 ms and
// two grid columns).
constexpr double kMinWindowSamples = 256.0;
constexpr double kMaxWindowSamples = 2.0 * kSamplesPerColumn;

// Independent windows run through the recurrence side by side, which keeps
// the processor's arithmetic units busy.
constexpr int kLanes = 8;

std::int64_t at_rate(double samples_at_44k, int sample_rate) {
  return std::llround(samples_at_44k * sample_rate / kSampleRate);
}

std::vector<double> hann_window(std::int64_t length) {
  std::vector<double> w(length);
  for (std::int64_t n = 0; n < length; ++n) {
    const double s = std::sin(std::numbers::pi * (static_cast<double>(n) + 0.5) / static_cast<double>(length));
    w[n] = s * s;
  }
  return w;
}

}  // namespace

double radians_per_sample(double frequency, int sample_rate) {
  // phase_step() assumes 44.1 kHz; a tone at f in a sound at rate r advances
  // as fast as one at f * 44100 / r does there.
  return phase_step(frequency * kSampleRate / sample_rate);
}

PaddedSignal::PaddedSignal(const std::vector<float>& samples, std::int64_t pad, std::int64_t min_length)
    : padding(pad) {
  const std::int64_t length = std::max<std::int64_t>(static_cast<std::int64_t>(samples.size()), min_length);
  values.assign(static_cast<std::size_t>(length + 2 * pad), 0.0f);
  std::copy(samples.begin(), samples.end(), values.begin() + pad);
}

std::vector<double> tone_amplitudes(const PaddedSignal& signal, const std::vector<double>& window,
                                    double step, const std::vector<std::int64_t>& starts) {
  const double coefficient = 2.0 * std::cos(step);
  double weight_sum = 0.0;
  for (double w : window) weight_sum += w;
  const std::size_t length = window.size();

  std::vector<double> amplitudes(starts.size());
  for (std::size_t first = 0; first < starts.size(); first += kLanes) {
    const std::size_t lanes = std::min<std::size_t>(kLanes, starts.size() - first);
    const float* p[kLanes];
    for (std::size_t j = 0; j < kLanes; ++j) p[j] = signal.at(starts[first + std::min(j, lanes - 1)]);
    double s1[kLanes] = {}, s2[kLanes] = {};
    for (std::size_t n = 0; n < length; ++n) {
      const double w = window[n];
      for (int j = 0; j < kLanes; ++j) {
        const double s0 = static_cast<double>(p[j][n]) * w + coefficient * s1[j] - s2[j];
        s2[j] = s1[j];
        s1[j] = s0;
      }
    }
    for (std::size_t j = 0; j < lanes; ++j) {
      const double power = s1[j] * s1[j] + s2[j] * s2[j] - coefficient * s1[j] * s2[j];
      // A sine of amplitude A gives |X| = A * sum(w) / 2.
      amplitudes[first + j] = 2.0 * std::sqrt(std::max(power, 0.0)) / weight_sum;
    }
  }
  return amplitudes;
}

Grid analyse_grid(const Sound& sound, std::int32_t rows, std::int32_t max_cell) {
  Grid grid{rows, std::vector<std::int32_t>(static_cast<std::size_t>(rows) * kCellsPerRow, 0)};
  if (rows < 2) return grid;

  const std::int64_t column_length = at_rate(kSamplesPerColumn, sound.sample_rate);
  const PaddedSignal signal(sound.samples, 0, column_length * kCellsPerRow);
  // Each column is measured on its own samples only, evenly weighted: the
  // renderer holds a row's amplitude constant through a column and changes it
  // at the border, so a window that matches the column sees one level.
  const std::vector<double> window(static_cast<std::size_t>(column_length), 1.0);
  std::vector<std::int64_t> starts(kCellsPerRow);
  for (int k = 0; k < kCellsPerRow; ++k) starts[k] = k * column_length;

  std::vector<double> amplitudes(grid.cells.size(), 0.0);
  double loudest = 0.0;
  for (std::int32_t d = 1; d < rows; ++d) {
    const double frequency = row_frequency(d, rows);
    if (frequency >= sound.sample_rate / 2.0) continue;  // cannot be present in this sound
    const std::vector<double> row = tone_amplitudes(signal, window, radians_per_sample(frequency, sound.sample_rate), starts);
    std::copy(row.begin(), row.end(), amplitudes.begin() + static_cast<std::ptrdiff_t>(d) * kCellsPerRow);
    loudest = std::max(loudest, *std::max_element(row.begin(), row.end()));
  }
  if (loudest <= 0.0) return grid;
  for (std::size_t i = 0; i < amplitudes.size(); ++i)
    grid.cells[i] = static_cast<std::int32_t>(std::lround(amplitudes[i] / loudest * max_cell));
  return grid;
}

double pixel_frequency(int y, const SpectrogramView& view) {
  const double position = (static_cast<double>(y) + 0.5) / view.height;
  return view.high_hz * std::pow(view.low_hz / view.high_hz, position);
}

std::vector<float> spectrogram_levels(const Sound& sound, const SpectrogramView& view) {
  const std::int64_t max_window = at_rate(kMaxWindowSamples, sound.sample_rate);
  const std::int64_t min_window = std::min(max_window, at_rate(kMinWindowSamples, sound.sample_rate));
  const PaddedSignal signal(sound.samples, max_window, 0);
  const double total = static_cast<double>(sound.samples.size());
  constexpr double kFullScale = 32768.0;

  std::vector<float> levels(static_cast<std::size_t>(view.width) * view.height);
  std::vector<std::int64_t> starts(view.width);
  for (int y = 0; y < view.height; ++y) {
    const double frequency = pixel_frequency(y, view);
    const std::int64_t length =
        std::clamp<std::int64_t>(std::llround(kCyclesPerWindow * sound.sample_rate / frequency), min_window, max_window);
    // Pixel column x is centred on its share of the sound.
    for (int x = 0; x < view.width; ++x)
      starts[x] = std::llround((x + 0.5) * total / view.width) - length / 2;
    const std::vector<double> amplitudes =
        tone_amplitudes(signal, hann_window(length), radians_per_sample(frequency, sound.sample_rate), starts);
    for (int x = 0; x < view.width; ++x) {
      const double a = amplitudes[x];
      levels[static_cast<std::size_t>(y) * view.width + x] =
          a > 0.0 ? static_cast<float>(20.0 * std::log10(a / kFullScale)) : -std::numeric_limits<float>::infinity();
    }
  }
  return levels;
}

}  // namespace gridwave::tools
