// The picture-to-sound synthesis: the SIMD kernel against the plain loop,
// the same bytes whatever the thread count, and what the sound must be.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "picture_sound.h"
#include "synthesis.h"
#include "tool_error.h"
#include "tool_fixtures.h"

namespace gridwave::tools {
namespace {

// A picture with every kind of change: a ramp across, dark rows, a bright block.
LumaImage test_picture(int width, int height) {
  LumaImage image{width, height, std::vector<float>(std::size_t(width) * height)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.luma[std::size_t(y) * width + x] =
          (y % 5 == 0) ? 0.0f : ((x / 3 + y / 4) % 3 == 0 ? 1.0f : static_cast<float>(x) / width);
  return image;
}

TEST(Synthesis, KernelMatchesThePlainLoop) {
  const struct {
    const char* name;
    int rows;
    bool noise;
    FrequencyScale scale;
  } cases[] = {{"log, 40 rows", 40, false, FrequencyScale::kLog},
               {"linear, 7 rows", 7, false, FrequencyScale::kLinear},
               {"noise, 12 rows", 12, true, FrequencyScale::kLog}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PictureSoundOptions options;
    options.duration_s = 0.5;
    options.rows = c.rows;
    options.noise = c.noise;
    options.scale = c.scale;
    const SynthesisPlan plan = make_plan(test_picture(37, 23), options);
    // Ranges that start and end anywhere, across column centres and far in.
    for (const auto& [begin, end] : {std::pair<std::int64_t, std::int64_t>{0, 3001}, {7777, 9000}, {20000, 22050}}) {
      std::vector<float> fast(end - begin + kGroupSamples), plain(end - begin);
      render_fast(plan, begin, end, fast.data());
      render_plain(plan, begin, end, plain.data());
      double worst = 0.0;
      for (std::int64_t n = begin; n < end; ++n) {
        double amplitudes = 0.0;  // the sum of the partials' amplitudes bounds the sample
        for (int p = 0; p < plan.partials; ++p) amplitudes += std::fabs(amplitude_ramp(plan, p, n).start);
        worst = std::max(worst, std::fabs(fast[n - begin] - plain[n - begin]) / std::max(amplitudes, 1e-9));
      }
      EXPECT_LT(worst, 1e-5) << begin;
    }
  }
}

TEST(Synthesis, AmplitudesGlideBetweenColumnCentres) {
  // Two columns, one row: 0 then full. Before the first centre the level is
  // held, then it rises in a straight line to the second centre.
  PictureSoundOptions options;
  options.duration_s = 1.0;
  options.rows = 1;
  options.linear = true;
  const SynthesisPlan plan = make_plan(LumaImage{2, 1, {0.0f, 1.0f}}, options);
  ASSERT_EQ(plan.centre, (std::vector<std::int64_t>{11025, 33075}));
  EXPECT_EQ(amplitude_ramp(plan, 0, 100).start, 0.0);
  EXPECT_NEAR(amplitude_ramp(plan, 0, 22050).start, 0.5, 1e-12);
  EXPECT_NEAR(amplitude_ramp(plan, 0, 22050).slope, 1.0 / 22050, 1e-15);
  EXPECT_EQ(amplitude_ramp(plan, 0, 40000).start, 1.0);
  EXPECT_EQ(piece_end(plan, 0), 11025);
  EXPECT_EQ(piece_end(plan, 33075), 44100);
}

std::vector<float> decode_wav(const std::vector<unsigned char>& bytes, SF_INFO& info) {
  const auto path = std::filesystem::temp_directory_path() / ("picture_sound_test_" + std::to_string(getpid()) + ".wav");
  testing::write_bytes(path, bytes);
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr);
  std::vector<float> samples(info.frames);
  if (file) sf_readf_float(file, samples.data(), info.frames);
  if (file) sf_close(file);
  std::filesystem::remove(path);
  return samples;
}

TEST(PictureSound, SameSeedSameBytesWhateverTheThreads) {
  PictureSoundOptions options;
  options.duration_s = 3.5;  // several chunks
  options.threads = 1;
  const LumaImage picture = test_picture(50, 30);
  const auto one = render_picture_sound(picture, options);
  options.threads = 3;
  EXPECT_EQ(render_picture_sound(picture, options), one);
  options.seed = 2;
  EXPECT_NE(render_picture_sound(picture, options), one);
}

TEST(PictureSound, PeakFadesAndEvenLoudness) {
  PictureSoundOptions options;
  options.duration_s = 2.0;
  const LumaImage steady{8, 4, std::vector<float>(32, 0.8f)};
  for (const StartPhases phases : {StartPhases::kRandom, StartPhases::kZero}) {
    options.phases = phases;
    SF_INFO info{};
    const std::vector<float> x = decode_wav(render_picture_sound(steady, options), info);
    ASSERT_EQ(info.frames, 88200);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(20 * std::log10(peak), -1.0, 0.05);
    EXPECT_EQ(x.front(), 0.0f);  // faded in and out
    EXPECT_EQ(x.back(), 0.0f);
    if (phases == StartPhases::kZero) continue;  // in-phase rows make a spike: the point of random phases
    // Peaks of 50 ms stretches (away from the fades): none above 1.5 x the median.
    std::vector<float> peaks;
    for (std::size_t at = 2205; at + 2205 <= x.size() - 2205; at += 2205)
      peaks.push_back(std::fabs(*std::max_element(x.begin() + at, x.begin() + at + 2205,
                                                  [](float a, float b) { return std::fabs(a) < std::fabs(b); })));
    std::vector<float> sorted = peaks;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    EXPECT_LT(*std::max_element(peaks.begin(), peaks.end()), 1.5f * sorted[sorted.size() / 2]);
  }
}

TEST(PictureSound, FormatsAndOptionChecks) {
  PictureSoundOptions options;
  choose_output_format("a/b.FLAC", options);
  EXPECT_EQ(options.container, SoundContainer::kFlac);
  choose_output_format("x.wav", options);
  EXPECT_EQ(options.container, SoundContainer::kWav);
  EXPECT_THROW(choose_output_format("x.mp3", options), ToolError);
  EXPECT_THROW(choose_output_format("dir.wav/x", options), ToolError);
  options.sample_format = SampleFormat::kFloat;
  EXPECT_THROW(choose_output_format("x.flac", options), ToolError);

  const LumaImage tiny{1, 1, {1.0f}};
  PictureSoundOptions bad;
  bad.high_hz = 30000;  // above half the sample rate
  EXPECT_THROW(render_picture_sound(tiny, bad), ToolError);
  bad = {};
  bad.low_hz = bad.high_hz;
  EXPECT_THROW(render_picture_sound(tiny, bad), ToolError);

  // The default rows: the even time-frequency split, sqrt(D (high - low)).
  PictureSoundOptions defaults;
  EXPECT_EQ(default_row_count(defaults), 311);
  defaults.duration_s = 40;
  EXPECT_EQ(default_row_count(defaults), 622);
}

}  // namespace
}  // namespace gridwave::tools
