#include "tone_analysis.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>

#include "constants.h"
#include "tone.h"

namespace gridwave::tools {

namespace {

// Windows in the picture span this many cycles of their tone...
constexpr double kCyclesPerWindow = 50.0;
// ...but no less and no more than these lengths at 44.1 kHz (about 6 ms and
// two grid columns)...
constexpr double kMinWindowSamples = 256.0;
constexpr double kMaxWindowSamples = 2.0 * kSamplesPerColumn;
// ...and, in a sound shorter than that, no longer than the sound (a longer
// window would only add silence and cost).
constexpr std::int64_t kShortestWindow = 64;

// Independent windows run through the recurrence side by side, which keeps
// the processor's arithmetic units busy.
constexpr int kLanes = 8;

// Hann windows of every length asked for, built once while they fit in this
// many values, rebuilt on demand past that.
constexpr std::size_t kWindowCacheValues = std::size_t{8} << 20;

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

// Hann windows of the lengths the rows use, built once while they fit in
// kWindowCacheValues; lengths past that are built when needed, in a spare
// vector of the caller's.
class HannWindows {
 public:
  explicit HannWindows(const std::vector<std::int64_t>& lengths) {
    std::size_t kept = 0;
    for (std::int64_t length : lengths) {
      if (cache_.count(length) != 0 || kept + static_cast<std::size_t>(length) > kWindowCacheValues) continue;
      kept += static_cast<std::size_t>(length);
      cache_.emplace(length, hann_window(length));
    }
  }
  const std::vector<double>& of_length(std::int64_t length, std::vector<double>& spare) const {
    const auto found = cache_.find(length);
    if (found != cache_.end()) return found->second;
    if (static_cast<std::int64_t>(spare.size()) != length) spare = hann_window(length);
    return spare;
  }

 private:
  std::map<std::int64_t, std::vector<double>> cache_;
};

// CPUs this process may run on.
int usable_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

// Runs the Goertzel recurrence over kLanes windows at once and returns the
// amplitude of the tone in each: a sine of amplitude A gives |X| = A * sum(w) / 2.
void goertzel_lanes(const float* const (&p)[kLanes], const std::vector<double>& window, double step,
                    double (&amplitude)[kLanes]) {
  const double coefficient = 2.0 * std::cos(step);
  double weight_sum = 0.0;
  for (double w : window) weight_sum += w;
  double s1[kLanes] = {}, s2[kLanes] = {};
  for (std::size_t n = 0; n < window.size(); ++n) {
    const double w = window[n];
    for (int j = 0; j < kLanes; ++j) {
      const double s0 = static_cast<double>(p[j][n]) * w + coefficient * s1[j] - s2[j];
      s2[j] = s1[j];
      s1[j] = s0;
    }
  }
  for (int j = 0; j < kLanes; ++j) {
    const double power = s1[j] * s1[j] + s2[j] * s2[j] - coefficient * s1[j] * s2[j];
    amplitude[j] = 2.0 * std::sqrt(std::max(power, 0.0)) / weight_sum;
  }
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
  std::vector<double> amplitudes(starts.size());
  for (std::size_t first = 0; first < starts.size(); first += kLanes) {
    const std::size_t lanes = std::min<std::size_t>(kLanes, starts.size() - first);
    const float* p[kLanes];
    for (std::size_t j = 0; j < kLanes; ++j) p[j] = signal.at(starts[first + std::min(j, lanes - 1)]);
    double amplitude[kLanes];
    goertzel_lanes(p, window, step, amplitude);
    std::copy(amplitude, amplitude + lanes, amplitudes.begin() + static_cast<std::ptrdiff_t>(first));
  }
  return amplitudes;
}

std::int64_t grid_frames(int sample_rate) { return at_rate(kSamplesPerColumn, sample_rate) * kCellsPerRow; }

Grid analyse_grid(const Sound& sound, std::int32_t rows, std::int32_t max_cell) {
  Grid grid{rows, std::vector<std::int32_t>(static_cast<std::size_t>(rows) * kCellsPerRow, 0)};
  if (rows < 2) return grid;

  const std::int64_t column_length = at_rate(kSamplesPerColumn, sound.sample_rate);
  // Columns past the end of the sound are silent: only those it reaches cost anything.
  const std::int64_t sounding = std::min<std::int64_t>(
      kCellsPerRow, (static_cast<std::int64_t>(sound.samples.size()) + column_length - 1) / column_length);
  const PaddedSignal signal(sound.samples, 0, column_length * sounding);
  // Each column is measured on its own samples only, evenly weighted: the
  // renderer holds a row's amplitude constant through a column and changes it
  // at the border, so a window that matches the column sees one level.
  const std::vector<double> window(static_cast<std::size_t>(column_length), 1.0);
  std::vector<std::int64_t> starts(static_cast<std::size_t>(sounding));
  for (int k = 0; k < sounding; ++k) starts[k] = k * column_length;

  std::vector<double> amplitudes(grid.cells.size(), 0.0);
  double loudest = 0.0;
  for (std::int32_t d = 1; d < rows; ++d) {
    const double frequency = row_frequency(d, rows);
    if (frequency >= sound.sample_rate / 2.0) continue;  // cannot be present in this sound
    const std::vector<double> row = tone_amplitudes(signal, window, radians_per_sample(frequency, sound.sample_rate), starts);
    std::copy(row.begin(), row.end(), amplitudes.begin() + static_cast<std::ptrdiff_t>(d) * kCellsPerRow);
    if (!row.empty()) loudest = std::max(loudest, *std::max_element(row.begin(), row.end()));
  }
  if (!(loudest > 0.0) || !std::isfinite(loudest)) return grid;
  for (std::size_t i = 0; i < amplitudes.size(); ++i)
    grid.cells[i] = static_cast<std::int32_t>(std::lround(amplitudes[i] / loudest * max_cell));
  return grid;
}

double pixel_frequency(int y, const SpectrogramView& view) {
  const double position = (static_cast<double>(y) + 0.5) / view.height;
  if (view.scale == FrequencyScale::kLinear) return view.high_hz - position * (view.high_hz - view.low_hz);
  return view.high_hz * std::pow(view.low_hz / view.high_hz, position);
}

std::vector<std::vector<float>> spectrogram_levels(SoundSource& sound, const SpectrogramView& view,
                                                   bool each_channel,
                                                   const std::function<void(double)>& progress) {
  const int rate = sound.sample_rate();
  const int channels = sound.channels();
  const int panels = each_channel ? channels : 1;
  const std::int64_t max_window =
      std::min(at_rate(kMaxWindowSamples, rate), std::max(sound.frames(), kShortestWindow));
  const std::int64_t min_window = std::min(max_window, at_rate(kMinWindowSamples, rate));

  std::vector<std::int64_t> lengths(view.height);
  std::vector<double> steps(view.height);
  for (int y = 0; y < view.height; ++y) {
    const double frequency = pixel_frequency(y, view);
    lengths[y] = std::clamp<std::int64_t>(std::llround(kCyclesPerWindow * rate / frequency), min_window, max_window);
    steps[y] = radians_per_sample(frequency, rate);
  }
  const HannWindows windows(lengths);

  const std::size_t pixels = static_cast<std::size_t>(view.width) * view.height;
  std::vector<std::vector<float>> levels(panels, std::vector<float>(pixels));
  const int groups = (view.width + kLanes - 1) / kLanes;
  std::atomic<int> next_group{0};
  std::mutex reading;  // the source reads one block at a time; progress is reported in turn
  int groups_done = 0;

  // Takes groups of kLanes pixel columns until none are left.
  auto work = [&] {
    // The frames around the centres of the group's columns: as read
    // (interleaved), then one stretch per panel and column.
    std::vector<float> frames(static_cast<std::size_t>(max_window) * channels);
    std::vector<float> stretches(static_cast<std::size_t>(max_window) * kLanes * panels);
    std::vector<double> spare_window;
    auto stretch = [&](int panel, int lane) {
      return stretches.data() + (static_cast<std::size_t>(panel) * kLanes + lane) * max_window;
    };
    for (int group = next_group++; group < groups; group = next_group++) {
      const int x0 = group * kLanes;
      const int lanes = std::min(kLanes, view.width - x0);
      for (int j = 0; j < lanes; ++j) {
        // Pixel column x is centred on its share of the frames shown.
        const double share = (x0 + j + 0.5) * static_cast<double>(view.frame_count) / view.width;
        const std::int64_t centre = view.first_frame + std::llround(share);
        {
          const std::lock_guard<std::mutex> lock(reading);
          sound.read(centre - max_window / 2, max_window, frames.data());
        }
        for (std::int64_t f = 0; f < max_window; ++f) {
          const float* frame = frames.data() + f * channels;
          if (each_channel) {
            for (int c = 0; c < channels; ++c) stretch(c, j)[f] = frame[c];
          } else {
            // Summed in double: finite samples as large as 3e38 must not overflow.
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += frame[c];
            stretch(0, j)[f] = static_cast<float>(sum / channels);
          }
        }
      }
      for (int panel = 0; panel < panels; ++panel) {
        for (int y = 0; y < view.height; ++y) {
          const std::int64_t length = lengths[y];
          const float* p[kLanes];
          for (int j = 0; j < kLanes; ++j) p[j] = stretch(panel, std::min(j, lanes - 1)) + (max_window / 2 - length / 2);
          double amplitude[kLanes];
          goertzel_lanes(p, windows.of_length(length, spare_window), steps[y], amplitude);
          float* row = levels[panel].data() + static_cast<std::size_t>(y) * view.width + x0;
          for (int j = 0; j < lanes; ++j)
            row[j] = amplitude[j] > 0.0 ? static_cast<float>(20.0 * std::log10(amplitude[j]))
                                        : -std::numeric_limits<float>::infinity();
        }
      }
      const std::lock_guard<std::mutex> lock(reading);
      ++groups_done;
      if (progress) progress(static_cast<double>(groups_done) / groups);
    }
  };

  // Every column is measured the same way whichever thread takes it, so the
  // picture does not depend on the thread count. A thread that cannot start
  // leaves its share to the others; the calling thread always works.
  std::vector<std::thread> helpers;
  std::exception_ptr failure;
  std::mutex failing;
  auto guarded = [&] {
    try {
      work();
    } catch (...) {
      const std::lock_guard<std::mutex> lock(failing);
      if (!failure) failure = std::current_exception();
      next_group = groups;  // the others stop at their next group
    }
  };
  const int threads = std::min(usable_cpus(), groups);
  for (int t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(guarded);
    } catch (const std::system_error&) {
      break;
    }
  }
  guarded();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
  return levels;
}

}  // namespace gridwave::tools
