// The spectrogram's building blocks: tone measurement, the grid analysis,
// the levels of every pixel, reading sounds in blocks, the colours and the
// axes' ticks.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>

#include "constants.h"
#include "image_input.h"
#include "plot_ticks.h"
#include "png_output.h"
#include "sound_input.h"
#include "tone.h"
#include "tone_analysis.h"
#include "tool_error.h"
#include "tool_fixtures.h"

namespace gridwave::tools {
namespace {

Sound sound_of(int sample_rate, const std::vector<double>& values) {
  Sound sound{sample_rate, std::vector<float>(values.begin(), values.end())};
  return sound;
}

std::vector<float> floats(const std::vector<double>& values) { return {values.begin(), values.end()}; }

SpectrogramView whole_view(const SoundSource& sound, int width, int height) {
  SpectrogramView view{width, height, row_frequency(1, 1), row_frequency(0, 1)};
  view.frame_count = sound.frames();
  return view;
}

// Pixel row of the loudest level in column x.
int loudest_row(const std::vector<float>& levels, const SpectrogramView& view, int x) {
  int best = 0;
  for (int y = 1; y < view.height; ++y)
    if (levels[y * view.width + x] > levels[best * view.width + x]) best = y;
  return best;
}

TEST(ToneAmplitudes, FindsASineAtItsExactFrequency) {
  constexpr double kFrequency = 1234.5;
  const PaddedSignal signal(sound_of(kSampleRate, testing::sine(kFrequency, 1000.0, kSampleRate, 20000)).samples, 0, 0);
  const double step = radians_per_sample(kFrequency, kSampleRate);
  const std::vector<double> flat(kSamplesPerColumn, 1.0);
  std::vector<double> hann(kSamplesPerColumn);
  for (int n = 0; n < kSamplesPerColumn; ++n) hann[n] = std::pow(std::sin(M_PI * (n + 0.5) / kSamplesPerColumn), 2);
  for (const std::vector<double>* window : {&flat, static_cast<const std::vector<double>*>(&hann)}) {
    const auto a = tone_amplitudes(signal, *window, step, {0, 3000, 9999, 15000});
    for (double amplitude : a) EXPECT_NEAR(amplitude, 1000.0, 5.0);
    // Half an octave away there is next to nothing.
    const auto off = tone_amplitudes(signal, *window, radians_per_sample(kFrequency * 1.41, kSampleRate), {3000});
    EXPECT_LT(off[0], 10.0);
  }
}

TEST(AnalyseGrid, MeasuresEachRowAtItsPitchInEveryColumn) {
  // Row 3 of 10 sounding through the first half only, at 48 kHz, so columns
  // last as long as gridwave's do (4365 samples).
  const double frequency = row_frequency(3, 10);
  const Sound sound = sound_of(48000, testing::sine(frequency, 0.25, 48000, 4365 * 100));
  EXPECT_EQ(grid_frames(48000), 4365 * 200);
  const Grid grid = analyse_grid(sound, 10, 500);
  ASSERT_EQ(grid.rows, 10);
  for (int k = 0; k < kCellsPerRow; ++k) {
    EXPECT_EQ(grid.at(0, k), 0);
    if (k < 100) {
      EXPECT_GE(grid.at(3, k), 495) << k;
      for (int d : {1, 5, 9}) EXPECT_LT(grid.at(d, k), 10) << d << " " << k;
    } else {
      EXPECT_EQ(grid.at(3, k), 0) << k;  // past the end of the sound
    }
  }
  EXPECT_EQ(analyse_grid(Sound{44100, std::vector<float>(1000, 0.0f)}, 5, 1000).cells,
            std::vector<std::int32_t>(5 * kCellsPerRow, 0));
  // Finite but enormous samples are measured, not lost.
  const Grid loud = analyse_grid(sound_of(48000, testing::sine(frequency, 3e38, 48000, 4365 * 100)), 10, 500);
  EXPECT_EQ(loud.cells, grid.cells);
}

TEST(SpectrogramLevels, ShowsAToneOnItsOwnRowAtItsLevel) {
  // Half-scale 1 kHz: -6 dB against a full-scale sine; and the same tone at
  // 3e38, far beyond any sample format's full scale, still a tone.
  for (double amplitude : {0.5, 3e38}) {
    SCOPED_TRACE(amplitude);
    const std::vector<float> samples = floats(testing::sine(1000.0, amplitude, kSampleRate, kSampleRate));
    const auto sound = sound_in_memory(samples.data(), kSampleRate, 1, kSampleRate);
    const SpectrogramView view = whole_view(*sound, 20, 100);
    const auto levels = spectrogram_levels(*sound, view, false);
    ASSERT_EQ(levels.size(), 1u);
    ASSERT_EQ(levels[0].size(), 2000u);
    // 1 kHz lies 3.32 of the 5 octaves down from 10 kHz: pixel row 66.
    const int tone_row = static_cast<int>(std::log2(10000.0 / 1000.0) / 5.0 * 100);
    EXPECT_NEAR(pixel_frequency(tone_row, view), 1000.0, 20.0);
    const double expected = 20 * std::log10(amplitude);
    for (int x = 2; x < 18; ++x) {  // away from the sound's ends
      EXPECT_NEAR(levels[0][tone_row * 20 + x], expected, 0.5) << x;
      EXPECT_LT(levels[0][10 * 20 + x], expected - 60.0) << x;
      EXPECT_LT(levels[0][95 * 20 + x], expected - 60.0) << x;
    }
  }
}

TEST(SpectrogramLevels, EachChannelItsOwnPanelAndAPartOfTheSound) {
  // Left: 1 kHz then 3 kHz (half a second each); right: the left inverted,
  // so the mix is silent.
  std::vector<float> frames;
  for (int n = 0; n < kSampleRate; ++n) {
    const double f = n < kSampleRate / 2 ? 1000.0 : 3000.0;
    const float v = static_cast<float>(0.5 * std::sin(2 * M_PI * f * n / kSampleRate));
    frames.insert(frames.end(), {v, -v});
  }
  const auto sound = sound_in_memory(frames.data(), kSampleRate, 2, kSampleRate);
  SpectrogramView view = whole_view(*sound, 40, 100);
  const auto each = spectrogram_levels(*sound, view, true);
  ASSERT_EQ(each.size(), 2u);
  EXPECT_EQ(each[0], each[1]);  // an inverted tone is as loud
  EXPECT_EQ(loudest_row(each[0], view, 5), 66);
  EXPECT_NEAR(each[0][66 * 40 + 5], -6.0, 0.5);
  const auto mixed = spectrogram_levels(*sound, view, false);
  ASSERT_EQ(mixed.size(), 1u);
  for (float level : mixed[0]) EXPECT_EQ(level, -std::numeric_limits<float>::infinity());

  // The second half only: 3 kHz everywhere, 1 kHz nowhere.
  view.first_frame = kSampleRate / 2;
  view.frame_count = kSampleRate / 2;
  const auto part = spectrogram_levels(*sound, view, true);
  const int row_3k = static_cast<int>(std::round(std::log2(10000.0 / 3000.0) / 5.0 * 100 - 0.5));
  for (int x = 8; x < 32; ++x) EXPECT_EQ(loudest_row(part[0], view, x), row_3k) << x;
}

TEST(SoundFile, ReadInBlocksGivesWhatMemoryGives) {
  // Float samples, so the file holds exactly what memory does; 2.5 s, read
  // in windows around 7 columns with progress reported.
  testing::ScratchDir dir;
  const std::vector<double> values = testing::sine(440.0, 0.3, 22050, 55125);
  testing::write_sound(dir / "a.wav", 22050, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, values);
  const auto file = open_sound((dir / "a.wav").string());
  const std::vector<float> samples = floats(values);
  const auto memory = sound_in_memory(samples.data(), 55125, 1, 22050);
  EXPECT_EQ(file->frames(), 55125);
  EXPECT_EQ(file->sample_rate(), 22050);
  std::vector<double> shares;
  const auto from_file = spectrogram_levels(*file, whole_view(*file, 7, 30), false, [&](double s) { shares.push_back(s); });
  EXPECT_EQ(from_file, spectrogram_levels(*memory, whole_view(*memory, 7, 30), false));
  EXPECT_EQ(shares.back(), 1.0);

  // Frames outside the sound read as silence.
  std::vector<float> out(6, 9.0f);
  file->read(55122, 6, out.data());
  EXPECT_EQ(out[2], samples[55124]);
  EXPECT_EQ(std::vector<float>(out.begin() + 3, out.end()), std::vector<float>(3, 0.0f));
}

TEST(SoundInput, RefusesRatesItCannotShow) {
  const std::vector<float> samples(100, 0.1f);
  for (int rate : {999, 768001, 2147483647}) EXPECT_THROW(sound_in_memory(samples.data(), 100, 1, rate), ToolError);
  EXPECT_NO_THROW(sound_in_memory(samples.data(), 100, 1, 1000));
  EXPECT_NO_THROW(sound_in_memory(samples.data(), 100, 1, 768000));
  EXPECT_THROW(sound_in_memory(samples.data(), 0, 1, 44100), ToolError);
}

TEST(HeatColour, RunsFromBlackToPaleAndGrowsLighter) {
  EXPECT_EQ(heat_colour(0.0), (Rgb{0, 0, 4}));
  EXPECT_EQ(heat_colour(-3.0), heat_colour(0.0));
  EXPECT_EQ(heat_colour(1.0), (Rgb{252, 250, 190}));
  EXPECT_EQ(heat_colour(7.0), heat_colour(1.0));
  float previous = -1.0f;
  for (int i = 0; i <= 100; ++i) {
    const Rgb c = heat_colour(i / 100.0);
    const float lightness = luma_of(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f);
    EXPECT_GT(lightness, previous) << i;
    previous = lightness;
  }
}

std::vector<std::string> labels(const std::vector<Tick>& ticks) {
  std::vector<std::string> out;
  for (const Tick& t : ticks) out.push_back(t.label);
  return out;
}

TEST(PlotTicks, RoundValuesThatFitTheAxis) {
  using L = std::vector<std::string>;
  // gridwave's five octaves on 400 pixels: 1, 2, 3, 5, 7 of each decade.
  EXPECT_EQ(labels(frequency_ticks(312.5, 10000, FrequencyScale::kLog, 400, 24)),
            (L{"500 Hz", "700 Hz", "1 kHz", "2 kHz", "3 kHz", "5 kHz", "7 kHz", "10 kHz"}));
  // Short axis: only 1, 2, 5; shorter still, decades only.
  EXPECT_EQ(labels(frequency_ticks(100, 10000, FrequencyScale::kLog, 180, 24)),
            (L{"100 Hz", "200 Hz", "500 Hz", "1 kHz", "2 kHz", "5 kHz", "10 kHz"}));
  EXPECT_EQ(labels(frequency_ticks(20, 20000, FrequencyScale::kLog, 80, 24)), (L{"100 Hz", "1 kHz", "10 kHz"}));
  // A narrow log range gets even steps.
  EXPECT_EQ(labels(frequency_ticks(1000, 1200, FrequencyScale::kLog, 400, 24)).front(), "1 kHz");
  EXPECT_EQ(frequency_ticks(1000, 1200, FrequencyScale::kLog, 400, 24).size(), 11u);
  EXPECT_EQ(labels(frequency_ticks(0, 3960, FrequencyScale::kLinear, 400, 24)),
            (L{"0 Hz", "500 Hz", "1 kHz", "1.5 kHz", "2 kHz", "2.5 kHz", "3 kHz", "3.5 kHz"}));

  EXPECT_EQ(labels(time_ticks(0, 10, 800, 80)), (L{"0 s", "1 s", "2 s", "3 s", "4 s", "5 s", "6 s", "7 s", "8 s", "9 s", "10 s"}));
  EXPECT_EQ(labels(time_ticks(0, 0.5, 400, 80)), (L{"0.0 s", "0.1 s", "0.2 s", "0.3 s", "0.4 s", "0.5 s"}));
  EXPECT_EQ(labels(time_ticks(0, 120, 800, 80)),
            (L{"0:00", "0:15", "0:30", "0:45", "1:00", "1:15", "1:30", "1:45", "2:00"}));
  EXPECT_EQ(labels(time_ticks(3000, 3600, 800, 80)),
            (L{"50:00", "1:00:00", "1:10:00", "1:20:00", "1:30:00", "1:40:00", "1:50:00"}));
  EXPECT_EQ(labels(time_ticks(30, 45, 800, 80)).front(), "0:30");

  EXPECT_EQ(labels(level_ticks(-3.2, 60, 400, 40)), (L{"-60 dB", "-50 dB", "-40 dB", "-30 dB", "-20 dB", "-10 dB"}));
}

}  // namespace
}  // namespace gridwave::tools
