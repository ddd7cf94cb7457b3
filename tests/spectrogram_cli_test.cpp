// Runs spectrogram as a user would: the labelled picture and the bare plot,
// any sound (rates, channels, parts, hostile headers and samples), and the
// picture and grid saved as a pair.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "image_input.h"
#include "spectrogram_render.h"
#include "tone.h"
#include "tool_fixtures.h"

namespace gridwave {
namespace {

using testing::Bytes;
using testing::Cells;
using testing::RunResult;
namespace fs = std::filesystem;

RunResult spectrogram(const std::vector<std::string>& args) { return testing::run_program(SPECTROGRAM_BIN, args); }

void expect_failure(const RunResult& r, int status, const std::string& words) {
  testing::expect_one_line_failure(r, status, "spectrogram", words);
}

// A 16-bit mono WAV file written byte by byte, whose header may declare any
// sample rate.
Bytes wav_bytes(std::uint32_t rate, const std::vector<std::int16_t>& samples) {
  Bytes b;
  auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
  auto u16 = [&](std::uint16_t v) { for (int i = 0; i < 2; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
  auto text = [&](const char* t) { b.insert(b.end(), t, t + 4); };
  const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
  text("RIFF"); u32(36 + data); text("WAVE");
  text("fmt "); u32(16); u16(1); u16(1); u32(rate); u32(rate * 2); u16(2); u16(16);
  text("data"); u32(data);
  for (std::int16_t s : samples) u16(static_cast<std::uint16_t>(s));
  return b;
}

std::vector<std::int16_t> tone16(double frequency, double rate, int count) {
  std::vector<std::int16_t> s(count);
  for (int n = 0; n < count; ++n) s[n] = static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * M_PI * frequency * n / rate)));
  return s;
}

class Spectrogram : public ::testing::Test {
 protected:
  testing::ScratchDir dir;
  std::string path(const std::string& name) const { return (dir / name).string(); }
};

// The bare plot is exactly what the tool has always drawn: a picture made by
// an earlier build, kept with the sound it was made from.
TEST_F(Spectrogram, RawIsTheBarePlotAsEver) {
  const std::string sound = std::string(TEST_DATA) + "/two-tones.wav";
  const RunResult r = spectrogram({sound, path("raw.png"), "--raw", "--width", "40", "--height", "30",
                                   "--high", "8000", "--low", "250"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(testing::read_bytes(path("raw.png")), testing::read_bytes(std::string(TEST_DATA) + "/two-tones-40x30.png"));
}

// The labelled picture holds the plot area unchanged, framed by the axes.
TEST_F(Spectrogram, LabelledPictureFramesThePlot) {
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, testing::sine(1000.0, 0.5, 44100, 44100));
  ASSERT_EQ(spectrogram({path("in.wav"), path("raw.png"), "--raw", "--width", "64", "--height", "48"}).status, 0);
  const RunResult r = spectrogram({path("in.wav"), path("labelled.png"), "--width", "64", "--height", "48"});
  ASSERT_EQ(r.status, 0) << r.err;
  const tools::LumaImage raw = tools::load_image(path("raw.png"));
  const tools::LumaImage labelled = tools::load_image(path("labelled.png"));
  ASSERT_GT(labelled.width, 64 + 100);
  ASSERT_GT(labelled.height, 48 + 40);
  // Find the plot's first row in the labelled picture, then compare all of it.
  bool found = false;
  for (int top = 0; top + 48 <= labelled.height && !found; ++top)
    for (int left = 0; left + 64 <= labelled.width && !found; ++left) {
      bool same = true;
      for (int y = 0; y < 48 && same; ++y)
        same = std::equal(raw.luma.begin() + y * 64, raw.luma.begin() + (y + 1) * 64,
                          labelled.luma.begin() + (top + y) * labelled.width + left);
      found = same;
    }
  EXPECT_TRUE(found);
  // Text and ticks: dark pixels outside the plot on a white ground.
  EXPECT_EQ(labelled.luma[0], 1.0f);
  EXPECT_GT(std::count_if(labelled.luma.begin(), labelled.luma.end(), [](float v) { return v < 0.3f; }), 64 * 48 / 2);
}

// What a user reads off the picture: a known tone lands on its row, at any
// rate (the top edge adapts), on either scale.
TEST_F(Spectrogram, AToneLandsOnItsFrequency) {
  const struct {
    int rate;
    double frequency;
    std::vector<std::string> options;
    double low, high;
    bool log;
  } cases[] = {
      {8000, 1000, {}, 312.5, 3960, true},
      {16000, 2500, {}, 312.5, 7920, true},
      {48000, 700, {"--scale", "linear"}, 0, 10000, false},
      {8000, 3000, {"--scale", "linear", "--low", "1000"}, 1000, 3960, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    testing::write_bytes(path("in.wav"), wav_bytes(c.rate, tone16(c.frequency, c.rate, c.rate)));
    std::vector<std::string> args = {path("in.wav"), path("out.png"), "--raw", "--width", "20", "--height", "200"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult r = spectrogram(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const tools::LumaImage picture = tools::load_image(path("out.png"));
    ASSERT_EQ(picture.width, 20);
    ASSERT_EQ(picture.height, 200);
    int brightest = 0;
    for (int y = 0; y < 200; ++y)
      if (picture.luma[y * 20 + 10] > picture.luma[brightest * 20 + 10]) brightest = y;
    // Where the frequency falls on the axis, worked out here from the edges.
    const double position = c.log ? std::log(c.high / c.frequency) / std::log(c.high / c.low)
                                  : (c.high - c.frequency) / (c.high - c.low);
    EXPECT_NEAR(brightest + 0.5, position * 200, 1.0);
  }
}

TEST_F(Spectrogram, StereoShowsEachChannel) {
  // Channels that cancel: the mix is silent, each panel shows the tone.
  std::vector<double> frames;
  for (double v : testing::sine(1000.0, 0.5, 44100, 44100)) frames.insert(frames.end(), {v, -v});
  testing::write_sound(path("in.wav"), 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, frames);
  auto luma = [&](const std::vector<std::string>& options) {
    std::vector<std::string> args = {path("in.wav"), path("out.png"), "--raw", "--width", "10", "--height", "50"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(spectrogram(args).status, 0);
    return tools::load_image(path("out.png"));
  };
  const tools::LumaImage mixed = luma({});
  EXPECT_EQ(mixed.height, 50);
  EXPECT_LT(*std::max_element(mixed.luma.begin(), mixed.luma.end()), 0.05f);
  const tools::LumaImage each = luma({"--channels", "each"});
  ASSERT_EQ(each.height, 100);
  EXPECT_GT(*std::max_element(each.luma.begin(), each.luma.begin() + 500), 0.9f);
  EXPECT_GT(*std::max_element(each.luma.begin() + 500, each.luma.end()), 0.9f);
  // The labelled picture shows both panels by default.
  ASSERT_EQ(spectrogram({path("in.wav"), path("two.png"), "--width", "10", "--height", "50"}).status, 0);
  EXPECT_GT(tools::load_image(path("two.png")).height, 100);
}

// --top and --db-range place levels on the colour ramp: a tone at -6 dBFS
// and one at -36 dBFS, read at their rows in the bare plot.
TEST_F(Spectrogram, TopAndRangeSetTheColours) {
  const std::vector<double> loud = testing::sine(1000.0, 0.5, 44100, 44100);
  const std::vector<double> quiet = testing::sine(3000.0, 0.5 * std::pow(10.0, -30.0 / 20), 44100, 44100);
  std::vector<double> values(loud.size());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = loud[i] + quiet[i];
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, values);
  const float floor = tools::luma_of(0, 0, 4 / 255.0f);
  const float brightest = tools::luma_of(252 / 255.0f, 250 / 255.0f, 190 / 255.0f);
  // Pixel rows 66 (1 kHz) and 34 (3 kHz) of 100, middle column.
  const struct {
    std::vector<std::string> options;
    double loud_t, quiet_t;  // where each tone should sit on the ramp, 0 (floor) ... 1 (brightest)
  } cases[] = {
      {{}, 1.0, 0.5},                                // top: the loudest point; 60 dB
      {{"--db-range", "20"}, 1.0, 0.0},              // 30 dB down is below the floor
      {{"--top", "0", "--db-range", "60"}, 0.9, 0.4},
      {{"--top", "-40"}, 1.0, 1.0},                  // both above the top: brightest
      {{"--top", "30", "--db-range", "20"}, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.options));
    std::vector<std::string> args = {path("in.wav"), path("out.png"), "--raw", "--width", "10", "--height", "100"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ASSERT_EQ(spectrogram(args).status, 0);
    const tools::LumaImage p = tools::load_image(path("out.png"));
    for (const auto& [row, t] : {std::pair{66, c.loud_t}, std::pair{34, c.quiet_t}}) {
      const float luma = p.luma[row * 10 + 5];
      if (t == 0.0) {
        EXPECT_NEAR(luma, floor, 0.01) << row;
      } else if (t == 1.0) {
        EXPECT_NEAR(luma, brightest, 0.01) << row;
      } else {
        EXPECT_TRUE(luma > floor + 0.1 && luma < brightest - 0.1) << row << " " << luma;
      }
    }
  }
  // The ramp grows lighter: the -36 dBFS tone is darker at a higher top.
  auto quiet_luma = [&](const char* top) {
    EXPECT_EQ(spectrogram({path("in.wav"), path("out.png"), "--raw", "--width", "10", "--height", "100", "--top", top}).status, 0);
    return tools::load_image(path("out.png")).luma[34 * 10 + 5];
  };
  EXPECT_GT(quiet_luma("-20"), quiet_luma("-10"));
}

TEST_F(Spectrogram, StartAndDurationDrawAPart) {
  // 1 kHz for a second, then 3 kHz for a second.
  std::vector<double> values = testing::sine(1000.0, 0.5, 44100, 44100);
  const std::vector<double> second = testing::sine(3000.0, 0.5, 44100, 44100);
  values.insert(values.end(), second.begin(), second.end());
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, values);
  auto brightest_rows = [&](const std::vector<std::string>& part) {
    std::vector<std::string> args = {path("in.wav"), path("out.png"), "--raw", "--width", "10", "--height", "100"};
    args.insert(args.end(), part.begin(), part.end());
    EXPECT_EQ(spectrogram(args).status, 0);
    const tools::LumaImage p = tools::load_image(path("out.png"));
    std::vector<int> rows;
    for (int x = 1; x < 9; ++x) {
      int best = 0;
      for (int y = 0; y < 100; ++y)
        if (p.luma[y * 10 + x] > p.luma[best * 10 + x]) best = y;
      rows.push_back(best);
    }
    return rows;
  };
  // 1 kHz is pixel row 66 of 100, 3 kHz row 34.
  EXPECT_EQ(brightest_rows({"--start", "1.2"}), std::vector<int>(8, 34));
  EXPECT_EQ(brightest_rows({"--start", "0.1", "--duration", "0.7"}), std::vector<int>(8, 66));
  // A duration past the end draws to the end.
  EXPECT_EQ(brightest_rows({"--start", "1.2", "--duration", "100"}), std::vector<int>(8, 34));
  EXPECT_EQ(brightest_rows({"--start", "1.2", "--duration", "1e300"}), std::vector<int>(8, 34));
}

TEST_F(Spectrogram, BadSoundsAndValuesAreNamed) {
  testing::write_sound(path("ok.wav"), 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, testing::sine(500.0, 0.5, 8000, 800));
  const Bytes wav = testing::read_bytes(path("ok.wav"));
  testing::write_bytes(path("header.wav"), Bytes(wav.begin(), wav.begin() + 30));
  testing::write_bytes(path("text.wav"), Bytes{'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'u', 'n', 'd'});
  testing::write_bytes(path("empty.wav"), {});
  testing::write_sound(path("silent.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, {});
  // Headers declaring rates no recording has; 1,000 samples each.
  testing::write_bytes(path("10MHz.wav"), wav_bytes(10000000, tone16(1000, 10000000, 1000)));
  testing::write_bytes(path("2GHz.wav"), wav_bytes(2147483647u, tone16(1000, 2147483647.0, 1000)));
  testing::write_bytes(path("slow.wav"), wav_bytes(999, tone16(100, 999, 1000)));
  const struct {
    std::vector<std::string> args;
    int status;
    const char* words;
  } cases[] = {
      {{path("missing.wav")}, 1, "No such file or directory"},
      {{path("text.wav")}, 1, "is not a readable sound file"},
      {{path("empty.wav")}, 1, "is not a readable sound file"},
      {{path("header.wav")}, 1, "is not a readable sound file"},
      {{path("silent.wav")}, 1, "holds no samples"},
      {{path("10MHz.wav")}, 1, "has a sample rate of 10000000 Hz; sounds of 1000 to 768000 Hz can be shown"},
      {{path("2GHz.wav")}, 1, "has a sample rate of 2147483647 Hz"},
      {{path("slow.wav")}, 1, "has a sample rate of 999 Hz"},
      {{path("ok.wav"), "--high", "4000"}, 1, "--high 4000 Hz must be below half the sound's sample rate (4000 Hz)"},
      {{path("ok.wav"), "--low", "5000"}, 1, "--low 5000 Hz must be below --high 3960 Hz"},
      {{path("ok.wav"), "--start", "0.1"}, 1, "--start 0.1 s is past the end of the sound (0.1 s)"},
      {{path("ok.wav"), "--start", "1e300"}, 2, "--start: 1e300 is out of range: it must be from 0 to 1e+09"},
      {{path("ok.wav"), "--low", "1000", "--high", "500"}, 2, "--low 1000 must be below --high 500"},
      {{path("ok.wav"), "--low", "0"}, 2, "--low: 0 is out of range on a log scale: it must be above 0"},
      {{path("ok.wav"), "--scale", "mel"}, 2, "--scale: 'mel' is not one of log, linear"},
      {{path("ok.wav"), "--scale", "1"}, 2, "--scale: '1' is not one of log, linear"},
      {{path("ok.wav"), "--channels", "left"}, 2, "--channels: 'left' is not one of mix, each"},
      {{path("ok.wav"), "--duration", "0"}, 2, "--duration: 0 is out of range: it must be above 0"},
      {{path("ok.wav"), "--start", "-1"}, 2, "--start: -1 is out of range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + std::to_string(c.args.size()));
    std::vector<std::string> args = {c.args[0], path("out.png"), "--grid", path("out.grid"), "--rows", "5"};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    expect_failure(spectrogram(args), c.status, c.words);
    EXPECT_FALSE(fs::exists(path("out.png")));
    EXPECT_FALSE(fs::exists(path("out.grid")));
  }
  // The picture is a PNG whatever it is called: other extensions are refused.
  expect_failure(spectrogram({path("ok.wav"), path("out.jpg")}), 2, "'" + path("out.jpg") + "' does not end in .png");
  EXPECT_FALSE(fs::exists(path("out.jpg")));
  EXPECT_EQ(spectrogram({path("ok.wav"), path("OUT.PNG")}).status, 0);
  EXPECT_EQ(spectrogram({path("ok.wav"), path("no-extension")}).status, 0);
}

TEST_F(Spectrogram, HighRateHeadersCostWhatTheirSamplesCost) {
  // 1,000 samples at the highest rate shown: drawn (and analysed) at once,
  // the tone on its row.
  testing::write_bytes(path("fast.wav"), wav_bytes(768000, tone16(5000, 768000, 1000)));
  const RunResult r = spectrogram({path("fast.wav"), path("out.png"), "--grid", path("out.grid"), "--rows", "10"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("out.grid")));
}

TEST_F(Spectrogram, DrawsAnySoundAndItsGrid) {
  // Stereo 48 kHz float: 1 kHz in the left channel only; mixed to mono it
  // is still 1 kHz.
  std::vector<double> frames;
  for (double v : testing::sine(1000.0, 0.5, 48000, 48000)) frames.insert(frames.end(), {v, 0.0});
  testing::write_sound(path("in.wav"), 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, frames);

  const RunResult r = spectrogram({path("in.wav"), path("out.png"), "--raw", "--width", "30", "--height", "50",
                                   "--grid", path("out.grid"), "--rows", "20"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  const tools::LumaImage picture = tools::load_image(path("out.png"));
  ASSERT_EQ(picture.width, 30);
  ASSERT_EQ(picture.height, 50);
  // 1 kHz is 3.32 of the 5 octaves down: pixel row 33 of 50 is the brightest.
  for (int x = 5; x < 25; ++x) {
    int brightest = 0;
    for (int y = 1; y < 50; ++y)
      if (picture.luma[y * 30 + x] > picture.luma[brightest * 30 + x]) brightest = y;
    EXPECT_EQ(brightest, 33) << x;
  }
  // The grid: row 0 silent, the row nearest 1 kHz loudest while the sound
  // lasts (11 of the 200 columns), silence after.
  std::int32_t rows = 0;
  const Cells cells = testing::read_grid_cells(path("out.grid"), rows);
  ASSERT_EQ(rows, 20);
  EXPECT_TRUE(std::all_of(cells.begin(), cells.begin() + 200, [](std::int32_t c) { return c == 0; }));
  EXPECT_TRUE(std::all_of(cells.begin() + 200 * 13 + 11, cells.begin() + 200 * 14,
                          [](std::int32_t c) { return c == 0; }));
  EXPECT_NEAR(row_frequency(13, 20), 1000.0, 60.0);
  EXPECT_EQ(*std::max_element(cells.begin(), cells.end()), 1000);
  EXPECT_GT(cells[200 * 13 + 5], 900);
}

TEST_F(Spectrogram, NonFiniteSamplesAreIgnoredAndHugeOnesKept) {
  for (double amplitude : {0.25, 3e38}) {
    SCOPED_TRACE(amplitude);
    std::vector<double> frames = testing::sine(2000.0, amplitude, 44100, 44100);
    frames[100] = std::numeric_limits<double>::quiet_NaN();
    frames[200] = std::numeric_limits<double>::infinity();
    testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, frames);
    const RunResult r = spectrogram({path("in.wav"), path("out.png"), "--raw", "--width", "20", "--height", "20",
                                     "--grid", path("out.grid"), "--rows", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::int32_t rows = 0;
    const Cells cells = testing::read_grid_cells(path("out.grid"), rows);
    EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](std::int32_t c) { return c >= 0 && c <= 1000; }));
    EXPECT_EQ(*std::max_element(cells.begin(), cells.end()), 1000);
    const tools::LumaImage picture = tools::load_image(path("out.png"));
    EXPECT_GT(*std::max_element(picture.luma.begin(), picture.luma.end()), 0.9f);
  }
}

// With --grid the two files are one result: when the grid cannot be saved,
// the old picture stays too.
TEST_F(Spectrogram, PictureAndGridAreSavedAsAPair) {
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, testing::sine(1000.0, 0.5, 44100, 4410));
  testing::write_bytes(path("old.png"), Bytes{'o', 'l', 'd'});
  fs::create_directory(path("folder"));
  for (const std::string& grid : {path("no/such/folder/x.grid"), path("folder")}) {
    SCOPED_TRACE(grid);
    expect_failure(spectrogram({path("in.wav"), path("old.png"), "--grid", grid, "--rows", "10"}), 1, "cannot");
    EXPECT_EQ(testing::read_bytes(path("old.png")), (Bytes{'o', 'l', 'd'}));
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder", "in.wav", "old.png"}));
  ASSERT_EQ(spectrogram({path("in.wav"), path("old.png"), "--grid", path("new.grid"), "--rows", "10"}).status, 0);
  EXPECT_NE(testing::read_bytes(path("old.png")), (Bytes{'o', 'l', 'd'}));
  EXPECT_TRUE(fs::exists(path("new.grid")));
}

// The library call draws what the tool draws, from a sound in memory.
TEST_F(Spectrogram, LibraryCallMatchesTheTool) {
  const std::vector<double> values = testing::sine(1500.0, 0.5, 22050, 22050);
  testing::write_sound(path("in.wav"), 22050, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, values);
  ASSERT_EQ(spectrogram({path("in.wav"), path("out.png"), "--width", "100", "--height", "60", "--title", "A tone"}).status, 0);
  tools::SpectrogramOptions options;
  options.width = 100;
  options.height = 60;
  options.title = "A tone";
  const std::vector<float> samples(values.begin(), values.end());
  EXPECT_EQ(tools::render_spectrogram_png(samples.data(), 22050, 1, 22050, options), testing::read_bytes(path("out.png")));
  EXPECT_EQ(tools::render_spectrogram_png(path("in.wav"), options), testing::read_bytes(path("out.png")));
}

}  // namespace
}  // namespace gridwave
