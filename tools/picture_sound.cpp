#include "picture_sound.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "byte_store.h"
#include "render_pipeline.h"
#include "sound_encoder.h"
#include "synthesis.h"
#include "tool_error.h"

namespace gridwave::tools {

// The time-frequency limit: a spectrogram whose window lasts T seconds tells
// apart tones about 1/T Hz apart, and changes about T apart, so over D
// seconds it shows D / T distinguishable moments. Rows are spaced evenly in Hz
// (see synthesis.cpp), so a window of T separates (high - low) T of them.
// Longer windows separate more rows but fewer moments; we take the T at which
// both counts are equal, the even split of the sound's time-frequency plane:
// T = sqrt(D / (high - low)), rows = sqrt(D (high - low)). 10 s over
// 312.5 ... 10000 Hz: T = 32 ms, 311 rows 31 Hz apart.
int default_row_count(const PictureSoundOptions& options) {
  const double rows = std::sqrt(options.duration_s * (options.high_hz - options.low_hz));
  if (!std::isfinite(rows)) return 1;
  return static_cast<int>(std::clamp(std::floor(rows), 1.0, static_cast<double>(kMaxRows)));
}

void choose_output_format(const std::string& path, PictureSoundOptions& options) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  std::string extension = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  if (extension == "wav") {
    options.container = SoundContainer::kWav;
  } else if (extension == "flac") {
    options.container = SoundContainer::kFlac;
    if (options.sample_format == SampleFormat::kFloat)
      throw ToolError("FLAC holds 16- or 24-bit samples only; use --bits 16 or 24, or a .wav file");
  } else {
    throw ToolError("cannot tell the sound format from " + quoted(path) + ": give it a .wav or .flac extension");
  }
}

namespace {

void check_options(const PictureSoundOptions& o) {
  auto fail = [](const std::string& why) { throw ToolError(why); };
  if (!(o.duration_s > 0 && o.duration_s <= kMaxDurationSeconds))
    fail("the duration must be more than 0 and at most " + std::to_string(int(kMaxDurationSeconds)) + " seconds");
  if (o.sample_rate < kMinOutputRate || o.sample_rate > kMaxOutputRate)
    fail("the sample rate must be " + std::to_string(kMinOutputRate) + " to " + std::to_string(kMaxOutputRate) + " Hz");
  if (!(o.low_hz > 0 && o.low_hz < o.high_hz))
    fail("the lowest frequency must be above 0 and below the highest");
  if (!(o.high_hz < o.sample_rate / 2.0))
    fail("the highest frequency must be below half the sample rate (" + std::to_string(o.sample_rate / 2) + " Hz)");
  if (o.rows && (*o.rows < 1 || *o.rows > kMaxRows))
    fail("the row count must be 1 to " + std::to_string(kMaxRows));
  if (!(o.range_db >= 1 && o.range_db <= 200)) fail("the decibel range must be 1 to 200");
  if (!(o.peak_db >= -100 && o.peak_db <= 0)) fail("the peak must be -100 to 0 dB");
  if (std::llround(o.duration_s * o.sample_rate) < 1) fail("the duration is shorter than one sample");
}

// Samples rendered by one task. Fixed, so the same options give the same
// bytes whatever the thread count.
constexpr std::int64_t kChunkFrames = 1 << 16;

// Renders every chunk into `samples` (floats at their place), on the
// options' threads; returns the largest magnitude.
float render_all(const SynthesisPlan& plan, const PictureSoundOptions& options, ByteStore& samples,
                 const std::function<void(double)>& progress) {
  const std::int64_t chunks = (plan.frames + kChunkFrames - 1) / kChunkFrames;
  std::atomic<std::int64_t> next{0}, done{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex mutex;
  float peak = 0.0f;
  auto work = [&](bool report) {
    try {
      std::vector<float> buffer(kChunkFrames + kGroupSamples);
      float my_peak = 0.0f;
      for (std::int64_t c; !failed && (c = next++) < chunks;) {
        const std::int64_t begin = c * kChunkFrames, end = std::min(plan.frames, begin + kChunkFrames);
        render_fast(plan, begin, end, buffer.data());
        apply_fades(plan, begin, end, buffer.data());
        for (std::int64_t i = 0; i < end - begin; ++i) my_peak = std::max(my_peak, std::fabs(buffer[i]));
        samples.write_at(static_cast<std::uint64_t>(begin) * sizeof(float), buffer.data(), (end - begin) * sizeof(float));
        ++done;
        if (report && progress) progress(static_cast<double>(done) / chunks);
      }
      std::lock_guard lock(mutex);
      peak = std::max(peak, my_peak);
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!error) error = std::current_exception();
      failed = true;
    }
  };
  const int threads = std::clamp(options.threads > 0 ? options.threads : render_threads(), 1, kMaxRenderThreads);
  std::vector<std::thread> workers;
  for (int t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(work, false);
    } catch (const std::system_error&) {
      break;  // render with the threads that did start; this one is enough
    }
  }
  work(true);  // this thread works too, and reports the progress between its chunks
  for (auto& w : workers) w.join();
  if (error) std::rethrow_exception(error);
  if (progress) progress(static_cast<double>(done) / chunks);
  return peak;
}

float gain_for_peak(float peak, double peak_db) {
  return peak > 0.0f ? static_cast<float>(std::pow(10.0, peak_db / 20.0) / peak) : 0.0f;
}

// Renders into `samples`, then encodes into `out`: 90 % of the progress is
// the rendering.
void make_sound(const LumaImage& image, const PictureSoundOptions& options, ByteStore& samples, ByteStore& out) {
  check_options(options);
  const SynthesisPlan plan = make_plan(image, options);
  auto share = [&options](double from, double width) -> std::function<void(double)> {
    if (!options.progress) return {};
    return [&options, from, width](double x) { options.progress(from + width * x); };
  };
  const float peak = render_all(plan, options, samples, share(0.0, 0.9));
  encode_sound(samples, plan.frames, gain_for_peak(peak, options.peak_db), options, out, share(0.9, 0.1));
}

}  // namespace

std::vector<unsigned char> render_picture_sound(const LumaImage& image, const PictureSoundOptions& options) {
  check_options(options);
  MemoryStore samples(static_cast<std::size_t>(std::llround(options.duration_s * options.sample_rate)) * sizeof(float));
  MemoryStore out;
  make_sound(image, options, samples, out);
  return std::move(out.bytes());
}

void save_picture_sound(const LumaImage& image, const PictureSoundOptions& options, const std::string& path) {
  PictureSoundOptions checked = options;
  choose_output_format(path, checked);
  check_options(checked);
  ScratchFile samples(path), encoded(path);
  make_sound(image, checked, samples, encoded);
  save_store(encoded, path);
}

}  // namespace gridwave::tools
