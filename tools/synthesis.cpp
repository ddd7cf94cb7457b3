#include "synthesis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "picture_to_grid.h"
#include "tool_error.h"

namespace gridwave::tools {

namespace {

// A 64-bit mix of the seed and a counter (SplitMix64's finaliser): every
// partial draws its own numbers, so nothing depends on the order or the
// thread in which partials are set up.
std::uint64_t mix(std::uint64_t seed, std::uint64_t counter) {
  std::uint64_t z = seed * 0x9E3779B97F4A7C15ULL + counter * 0xBF58476D1CE4E5B9ULL + 0x94D049BB133111EBULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A number in [0, 1) drawn from the seed for this counter.
double uniform(std::uint64_t seed, std::uint64_t counter) {
  return static_cast<double>(mix(seed, counter) >> 11) * 0x1.0p-53;
}

// Partials per row with --noise: spread over the row's band with random
// phases they sum to a band of noise as a spectrogram sees it.
constexpr int kNoisePartials = 8;

// Fade at each end, in seconds: long enough not to click, short enough not
// to show.
constexpr double kFadeSeconds = 0.03;

// Column centres come at most this often: a spectrogram that separates the
// pitch rows cannot show changes faster than this anyway.
constexpr double kMaxColumnsPerSecond = 100.0;

// Bounds on the plan's memory, whatever the picture's size and the duration:
// amplitudes (rows x columns; 4 M floats are 16 MB) and the picture's rows
// resampled to the columns (a band average needs no more).
constexpr std::int64_t kMaxAmplitudes = std::int64_t{1} << 22;
constexpr int kMaxPictureRows = 1024;

// The top row's centre stays at least this many Hz below --high. A sound
// of D seconds analysed as a whole spreads a tone's energy as
// 1 / (pi^2 D distance) beyond `distance` Hz from it: at half a row's
// spacing (15 Hz at the defaults) the bright top rows put energy above the
// range only 50 dB below the whole; at 50 Hz it is 64 dB below, and still
// clear of the main lobe of a 4096-sample Hann window. A wider guard would
// leave a dark strip at the top of a linear view (80 Hz is already a
// pixel row of SoX's default picture).
constexpr double kTopGuardHz = 50.0;

// Frequency of the edge between rows j - 1 and j (j = 0: the top edge).
// Rows are spaced evenly in Hz whatever the scale: a spectrogram's window
// resolves the same number of Hz everywhere, so even spacing keeps every
// pair of neighbours apart and leaves no gaps between rows; on a log scale
// each row takes the picture's brightness at its own height.
double band_edge(const PictureSoundOptions& options, int rows, double j) {
  const double half_row = (options.high_hz - options.low_hz) / rows / 2;
  const double top = options.high_hz - std::max(0.0, kTopGuardHz - half_row);
  return top - (top - options.low_hz) * j / rows;
}

}  // namespace

SynthesisPlan make_plan(const LumaImage& image, const PictureSoundOptions& options) {
  const int rows = options.rows.value_or(default_row_count(options));
  SynthesisPlan plan;
  plan.frames = std::llround(options.duration_s * options.sample_rate);
  const int per_row = options.noise ? kNoisePartials : 1;
  const int max_columns = std::clamp(static_cast<int>(options.duration_s * kMaxColumnsPerSecond), 1,
                                     std::max(1, static_cast<int>(kMaxAmplitudes / (std::int64_t(rows) * per_row))));
  plan.columns = std::clamp(image.width, 1, max_columns);
  plan.partials = rows * per_row;

  // The picture at no more than kMaxPictureRows rows and the plan's columns.
  const int picture_rows = std::min(image.height, kMaxPictureRows);
  const std::vector<double> picture = resample_brightness(image, picture_rows, plan.columns);
  auto picture_y = [&](double f) {
    return options.scale == FrequencyScale::kLog
               ? picture_rows * std::log(options.high_hz / f) / std::log(options.high_hz / options.low_hz)
               : picture_rows * (options.high_hz - f) / (options.high_hz - options.low_hz);
  };
  plan.amplitude.assign(std::size_t(plan.partials) * plan.columns, 0.0f);
  plan.step.resize(plan.partials);
  plan.phase.resize(plan.partials);
  const double share = 1.0 / std::sqrt(static_cast<double>(per_row));  // equal power per row
  std::vector<double> brightness(plan.columns);
  for (int r = 0; r < rows; ++r) {
    const double top = band_edge(options, rows, r), bottom = band_edge(options, rows, r + 1);
    // The row's brightness: the picture averaged over the row's band.
    const double y0 = std::clamp(picture_y(top), 0.0, double(picture_rows));
    const double y1 = std::clamp(picture_y(bottom), y0, double(picture_rows));
    std::fill(brightness.begin(), brightness.end(), 0.0);
    if (y1 - y0 < 1e-9) {
      const int j = std::min(static_cast<int>(y0), picture_rows - 1);
      std::copy_n(&picture[std::size_t(j) * plan.columns], plan.columns, brightness.begin());
    } else {
      for (int j = static_cast<int>(y0); j < picture_rows && j < y1; ++j) {
        const double w = (std::min(y1, j + 1.0) - std::max(y0, double(j))) / (y1 - y0);
        for (int k = 0; k < plan.columns; ++k) brightness[k] += w * picture[std::size_t(j) * plan.columns + k];
      }
    }
    for (int i = 0; i < per_row; ++i) {
      const int p = r * per_row + i;
      double frequency;
      if (!options.noise) {
        frequency = (top + bottom) / 2;
      } else {  // one partial at a random place in each of per_row equal parts of the band
        const double u = (i + uniform(options.seed, 2 * std::uint64_t(p) + 1)) / per_row;
        frequency = bottom + (top - bottom) * u;
      }
      plan.step[p] = 2.0 * std::numbers::pi * frequency / options.sample_rate;
      plan.phase[p] = options.phases == StartPhases::kZero
                          ? 0.0
                          : 2.0 * std::numbers::pi * uniform(options.seed, 2 * std::uint64_t(p));
      for (int k = 0; k < plan.columns; ++k)
        plan.amplitude[std::size_t(p) * plan.columns + k] = static_cast<float>(
            share * gain_for_brightness(brightness[k], options.linear, options.range_db, options.invert));
    }
  }

  plan.centre.resize(plan.columns);
  for (int k = 0; k < plan.columns; ++k) plan.centre[k] = (2 * std::int64_t(k) + 1) * plan.frames / (2 * plan.columns);
  plan.fade = std::min<std::int64_t>(std::llround(kFadeSeconds * options.sample_rate), plan.frames / 4);

  plan.turn_cos.resize(std::size_t(plan.partials) * kGroupSamples);
  plan.turn_sin.resize(plan.turn_cos.size());
  plan.group_cos.resize(plan.partials);
  plan.group_sin.resize(plan.partials);
  for (int p = 0; p < plan.partials; ++p) {
    for (int j = 0; j < kGroupSamples; ++j) {
      plan.turn_cos[std::size_t(p) * kGroupSamples + j] = static_cast<float>(std::cos(j * plan.step[p]));
      plan.turn_sin[std::size_t(p) * kGroupSamples + j] = static_cast<float>(std::sin(j * plan.step[p]));
    }
    plan.group_cos[p] = std::cos(kGroupSamples * plan.step[p]);
    plan.group_sin[p] = std::sin(kGroupSamples * plan.step[p]);
  }
  return plan;
}

std::int64_t piece_end(const SynthesisPlan& plan, std::int64_t n) {
  const auto next = std::upper_bound(plan.centre.begin(), plan.centre.end(), n);
  return next == plan.centre.end() ? plan.frames : *next;
}

AmplitudeRamp amplitude_ramp(const SynthesisPlan& plan, int p, std::int64_t n) {
  const float* a = plan.amplitude.data() + std::size_t(p) * plan.columns;
  const auto next = std::upper_bound(plan.centre.begin(), plan.centre.end(), n);
  if (next == plan.centre.begin()) return {a[0], 0.0};
  if (next == plan.centre.end()) return {a[plan.columns - 1], 0.0};
  const std::size_t k = (next - plan.centre.begin()) - 1;
  const double length = static_cast<double>(plan.centre[k + 1] - plan.centre[k]);
  const double slope = (static_cast<double>(a[k + 1]) - a[k]) / length;
  return {a[k] + slope * static_cast<double>(n - plan.centre[k]), slope};
}

void render_plain(const SynthesisPlan& plan, std::int64_t begin, std::int64_t end, float* out) {
  std::vector<double> sum(end - begin, 0.0);
  for (std::int64_t n = begin; n < end;) {
    const std::int64_t stop = std::min(end, piece_end(plan, n));
    for (int p = 0; p < plan.partials; ++p) {
      const AmplitudeRamp ramp = amplitude_ramp(plan, p, n);
      for (std::int64_t i = n; i < stop; ++i)
        sum[i - begin] += (ramp.start + ramp.slope * static_cast<double>(i - n)) *
                          std::sin(plan.phase[p] + plan.step[p] * static_cast<double>(i));
    }
    n = stop;
  }
  for (std::int64_t i = 0; i < end - begin; ++i) out[i] = static_cast<float>(sum[i]);
}

void render_fast(const SynthesisPlan& plan, std::int64_t begin, std::int64_t end, float* out) {
  // Pieces of at most this many samples keep the accumulator in the L1 cache.
  constexpr std::int64_t kMaxPiece = 2048;
  std::fill(out, out + (end - begin) + kGroupSamples, 0.0f);
  std::vector<double> start_sin(plan.partials), start_cos(plan.partials);
  std::vector<float> amp_start(plan.partials), amp_slope(plan.partials);
  for (std::int64_t n = begin; n < end;) {
    const std::int64_t stop = std::min({end, piece_end(plan, n), n + kMaxPiece});
    for (int p = 0; p < plan.partials; ++p) {
      const AmplitudeRamp ramp = amplitude_ramp(plan, p, n);
      amp_start[p] = static_cast<float>(ramp.start);
      amp_slope[p] = static_cast<float>(ramp.slope);
      if (ramp.start == 0.0 && ramp.slope == 0.0) continue;  // silent: the kernel skips it
      const double phase = plan.phase[p] + plan.step[p] * static_cast<double>(n);
      start_sin[p] = std::sin(phase);
      start_cos[p] = std::cos(phase);
    }
    add_partials(KernelJob{&plan, n, static_cast<int>(stop - n), start_sin.data(), start_cos.data(),
                           amp_start.data(), amp_slope.data(), out + (n - begin)});
    n = stop;
  }
}

void apply_fades(const SynthesisPlan& plan, std::int64_t begin, std::int64_t end, float* out) {
  if (plan.fade <= 0) return;
  auto shape = [&plan](std::int64_t distance) {  // raised cosine, 0 at the very end
    return 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(distance) / plan.fade);
  };
  for (std::int64_t n = begin; n < std::min(end, plan.fade); ++n) out[n - begin] *= static_cast<float>(shape(n));
  for (std::int64_t n = std::max(begin, plan.frames - plan.fade); n < end; ++n)
    out[n - begin] *= static_cast<float>(shape(plan.frames - 1 - n));
}

}  // namespace gridwave::tools
