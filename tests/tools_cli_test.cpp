// Runs img2grid and spectrogram as a user would: their main paths, their
// answers to broken input, and the whole chain picture -> grid -> sound ->
// grid, checked against the grid that went in.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spng.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "constants.h"
#include "image_input.h"
#include "tone.h"
#include "tool_fixtures.h"

namespace gridwave {
namespace {

using testing::Bytes;
using testing::Cells;
using testing::RunResult;
namespace fs = std::filesystem;

RunResult img2grid(const std::vector<std::string>& args) { return testing::run_program(IMG2GRID_BIN, args); }
RunResult spectrogram(const std::vector<std::string>& args) { return testing::run_program(SPECTROGRAM_BIN, args); }

using testing::expect_one_line_failure;

class Tools : public ::testing::Test {
 protected:
  testing::ScratchDir dir;
  std::string path(const std::string& name) const { return (dir / name).string(); }
};

TEST_F(Tools, Img2gridWritesTheGridForAPicture) {
  // 4 x 2 grey picture: a white pixel and three black ones on top, mid grey below.
  testing::write_bytes(path("in.pgm"), testing::encode_pnm(4, 2, 1, 255, {255, 0, 0, 0, 51, 51, 51, 51}));

  RunResult r = img2grid({path("in.pgm"), path("out.grid"), "--linear", "--max-cell", "50", "--height", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  std::int32_t rows = 0;
  Cells cells = testing::read_grid_cells(path("out.grid"), rows);
  ASSERT_EQ(rows, 3);
  for (int k = 0; k < kCellsPerRow; ++k) {
    EXPECT_EQ(cells[k], 0);                        // row 0 is never sounded
    EXPECT_EQ(cells[200 + k], k < 50 ? 50 : 0);    // the top row, highest pitch
    EXPECT_EQ(cells[400 + k], 10);                 // 0.2 * 50
  }

  // By default the picture becomes 80 rows.
  r = img2grid({path("in.pgm"), path("out.grid")});
  ASSERT_EQ(r.status, 0) << r.err;
  cells = testing::read_grid_cells(path("out.grid"), rows);
  EXPECT_EQ(rows, 81);

  // By default brightness is a level in decibels; --height resamples rows.
  r = img2grid({path("in.pgm"), path("out.grid"), "--height", "4", "--invert"});
  ASSERT_EQ(r.status, 0) << r.err;
  cells = testing::read_grid_cells(path("out.grid"), rows);
  ASSERT_EQ(rows, 5);
  EXPECT_EQ(cells[200 + 0], 0);      // white, inverted: silent
  EXPECT_EQ(cells[200 + 199], 1000);  // black, inverted: the largest cell
  EXPECT_EQ(cells[800 + 0], 251);     // 0.8 brightness: 12 dB down
}

TEST_F(Tools, HelpDocumentsEveryOption) {
  const struct {
    const char* program;
    std::vector<std::string> options;
  } tools[] = {
      {IMG2GRID_BIN, {"IMAGE", "GRID", "--height", "--linear", "--db-range", "--max-cell", "--invert"}},
      {IMG2SOUND_BIN,
       {"IMAGE", "SOUND", "--duration", "--low", "--high", "--scale", "--rate", "--bits", "--rows", "--seed",
        "--phase", "--noise", "--linear", "--db-range", "--invert", "--peak", "time-frequency", "1/T Hz"}},
      {SPECTROGRAM_BIN,
       {"SOUND", "PNG", "--width", "--height", "--low", "--high", "--scale", "--channels", "--start", "--duration",
        "--db-range", "--top", "--title", "--raw", "--grid", "--rows", "--grid-max-cell"}},
  };
  for (const auto& tool : tools) {
    const RunResult r = testing::run_program(tool.program, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const std::string& option : tool.options) EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
}

TEST_F(Tools, WrongCommandLinesAreUsageErrors) {
  const struct {
    const char* program;
    const char* tool;
    std::vector<std::string> args;
  } cases[] = {
      {IMG2GRID_BIN, "img2grid", {}},
      {IMG2GRID_BIN, "img2grid", {"a.png"}},
      {IMG2GRID_BIN, "img2grid", {"a.png", "b.grid", "c"}},
      {IMG2GRID_BIN, "img2grid", {"a.png", "b.grid", "--height", "0"}},
      {IMG2GRID_BIN, "img2grid", {"a.png", "b.grid", "--max-cell", "ten"}},
      {IMG2GRID_BIN, "img2grid", {"a.png", "b.grid", "--linear", "--db-range", "40"}},
      {IMG2GRID_BIN, "img2grid", {"a.png", "b.grid", "--colour"}},
      {IMG2SOUND_BIN, "img2sound", {"a.png"}},
      {IMG2SOUND_BIN, "img2sound", {"a.png", "b.wav", "--bits", "12"}},
      {IMG2SOUND_BIN, "img2sound", {"a.png", "b.wav", "--scale", "mel"}},
      {IMG2SOUND_BIN, "img2sound", {"a.png", "b.wav", "--phase", "1"}},
      {IMG2SOUND_BIN, "img2sound", {"a.png", "b.wav", "--linear", "--db-range", "40"}},
      {IMG2SOUND_BIN, "img2sound", {"a.png", "b.wav", "--rate", "1000"}},
      {SPECTROGRAM_BIN, "spectrogram", {"a.wav"}},
      {SPECTROGRAM_BIN, "spectrogram", {"a.wav", "b.png", "--grid", "c.grid"}},
      {SPECTROGRAM_BIN, "spectrogram", {"a.wav", "b.png", "--rows", "20"}},
      {SPECTROGRAM_BIN, "spectrogram", {"a.wav", "b.png", "--grid", "c.grid", "--rows", "0"}},
      {SPECTROGRAM_BIN, "spectrogram", {"a.wav", "b.png", "--width", "-3"}},
      {SPECTROGRAM_BIN, "spectrogram", {"a.wav", "b.png", "--low", "0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    expect_one_line_failure(testing::run_program(c.program, c.args), 2, c.tool, "--help");
  }
}

// Each tool's numeric options go through the same strict reading.
TEST_F(Tools, BadNumbersAreNamedPlainly) {
  const struct {
    const char* program;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {IMG2GRID_BIN, {"a.png", "b.grid", "--height", "5 "}, "img2grid: --height: '5 ' is not a whole number"},
      {IMG2GRID_BIN, {"a.png", "b.grid", "--db-range", "nan"}, "img2grid: --db-range: 'nan' is not a finite number"},
      {IMG2GRID_BIN, {"a.png", "b.grid", "--max-cell", "0x10"}, "img2grid: --max-cell: '0x10' is not a whole number"},
      {IMG2SOUND_BIN, {"a.png", "b.wav", "--duration", "nan"}, "img2sound: --duration: 'nan' is not a finite number"},
      {IMG2SOUND_BIN, {"a.png", "b.wav", "--duration", "0"}, "img2sound: --duration: 0 is out of range: it must be from 0.001 to 3600"},
      {IMG2SOUND_BIN, {"a.png", "b.wav", "--rows", "5 "}, "img2sound: --rows: '5 ' is not a whole number"},
      {IMG2SOUND_BIN, {"a.png", "b.wav", "--peak", "3"}, "img2sound: --peak: 3 is out of range: it must be from -100 to 0"},
      {SPECTROGRAM_BIN, {"a.wav", "b.png", "--width", "0x10"}, "spectrogram: --width: '0x10' is not a whole number"},
      {SPECTROGRAM_BIN, {"a.wav", "b.png", "--high", "inf"}, "spectrogram: --high: 'inf' is not a finite number"},
      {SPECTROGRAM_BIN, {"a.wav", "b.png", "--top", "nan"}, "spectrogram: --top: 'nan' is not a finite number"},
      {SPECTROGRAM_BIN, {"a.wav", "b.png", "--low", "0"}, "spectrogram: --low: 0 is out of range on a log scale: it must be above 0"},
      {SPECTROGRAM_BIN, {"a.wav", "b.png", "--height", "9000"},
       "spectrogram: --height: 9000 is out of range: it must be from 1 to 8000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const RunResult r = testing::run_program(c.program, c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.message + " (see --help)\n");
  }
}

TEST_F(Tools, Img2gridRefusesBadPicturesAndKeepsTheOldGrid) {
  const Bytes png = testing::encode_png(3, 1, {SPNG_COLOR_TYPE_GRAYSCALE, 8}, {0, 128, 255});
  testing::write_bytes(path("truncated.png"), Bytes(png.begin(), png.end() - 20));
  testing::write_bytes(path("empty.png"), {});
  testing::write_bytes(path("flat.pgm"), testing::encode_pnm(0, 5, 1, 255, {}));
  testing::write_bytes(path("picture.gif"), Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
  fs::create_directory(path("folder.png"));
  const struct {
    std::string image;
    const char* words;
  } cases[] = {
      {path("missing.png"), "No such file or directory"},
      {path("folder.png"), "Is a directory"},
      {path("empty.png"), "is empty"},
      {path("truncated.png"), "is not a readable PNG image"},
      {path("flat.pgm"), "has no pixels"},
      {path("picture.gif"), "is not a readable GIF image"},
  };
  const Bytes old_grid = testing::grid_bytes(2, Cells(400, 7));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    testing::write_bytes(path("out.grid"), old_grid);
    expect_one_line_failure(img2grid({c.image, path("out.grid")}), 1, "img2grid", c.words);
    EXPECT_EQ(testing::read_bytes(path("out.grid")), old_grid);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"empty.png", "flat.pgm", "folder.png", "out.grid",
                                                      "picture.gif", "truncated.png"}));
}

TEST_F(Tools, Img2soundWritesWavAndFlac) {
  testing::write_bytes(path("in.ppm"), testing::encode_pnm(2, 2, 3, 255, {255, 0, 0, 0, 0, 0, 90, 90, 90, 0, 0, 255}));
  const struct {
    std::string name;
    std::vector<std::string> options;
    int format;
    int rate;
  } cases[] = {
      {"a.wav", {}, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100},
      {"b.WAV", {"--bits", "24", "--rate", "48000"}, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000},
      {"c.wav", {"--bits", "float", "--noise", "--scale", "linear"}, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100},
      {"d.flac", {"--rows", "50", "--phase", "zero"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {path("in.ppm"), path(c.name), "--duration", "1.5"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult r = testing::run_program(IMG2SOUND_BIN, args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    SF_INFO info{};
    SNDFILE* file = sf_open(path(c.name).c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> x(info.frames);
    sf_readf_float(file, x.data(), info.frames);
    sf_close(file);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(info.samplerate, c.rate);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(1.5 * c.rate));
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(20 * std::log10(peak), -1.0, 0.05);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.wav", "b.WAV", "c.wav", "d.flac", "in.ppm"}));
}

TEST_F(Tools, Img2soundRefusesBrokenPicturesOfEveryFormatAndKeepsTheOldSound) {
  std::vector<std::uint8_t> rgb(24 * 16 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>((i * 37) & 0xc0);
  const struct {
    const char* name;
    Bytes whole;
  } pictures[] = {
      {"p.png", testing::encode_png(24, 16, {SPNG_COLOR_TYPE_TRUECOLOR, 8}, rgb)},
      {"p.jpg", testing::encode_jpeg(24, 16, rgb)},
      {"p.gif", testing::encode_gif(24, 16, rgb)},
      {"p.webp", testing::encode_webp(24, 16, rgb)},
      {"p.bmp", testing::encode_bmp(24, 16, rgb)},
      {"p.ppm", testing::encode_pnm(24, 16, 3, 255, std::vector<int>(rgb.begin(), rgb.end()))},
  };
  testing::write_bytes(path("old.wav"), Bytes{'o', 'l', 'd'});
  for (const auto& p : pictures) {
    SCOPED_TRACE(p.name);
    testing::write_bytes(path(p.name), p.whole);
    const RunResult ok = testing::run_program(IMG2SOUND_BIN, {path(p.name), path("new.wav"), "--duration", "0.2"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    std::filesystem::remove(path("new.wav"));
    testing::write_bytes(path(p.name), Bytes(p.whole.begin(), p.whole.begin() + static_cast<std::ptrdiff_t>(p.whole.size() * 2 / 3)));
    expect_one_line_failure(testing::run_program(IMG2SOUND_BIN, {path(p.name), path("old.wav")}), 1, "img2sound",
                            std::string("'") + path(p.name) + "'");
    EXPECT_EQ(testing::read_bytes(path("old.wav")), (Bytes{'o', 'l', 'd'}));
    std::filesystem::remove(path(p.name));
  }
  expect_one_line_failure(testing::run_program(IMG2SOUND_BIN, {path("missing.png"), path("x.wav")}), 1, "img2sound",
                          "No such file");
  testing::write_bytes(path("in.pgm"), testing::encode_pnm(1, 1, 1, 255, {255}));
  for (const auto& [out, words] : {std::pair{path("x.mp3"), ".wav or .flac"}, std::pair{path("no/folder/x.wav"), "cannot"},
                                   std::pair{path("x.flac"), "FLAC holds"}}) {
    SCOPED_TRACE(out);
    std::vector<std::string> args = {path("in.pgm"), out};
    if (std::string(words) == "FLAC holds") args.insert(args.end(), {"--bits", "float"});
    expect_one_line_failure(testing::run_program(IMG2SOUND_BIN, args), 1, "img2sound", words);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm", "old.wav"}));
}

TEST_F(Tools, UnwritableOutputsFailWithoutLeavingFiles) {
  testing::write_bytes(path("in.pgm"), testing::encode_pnm(1, 1, 1, 255, {255}));
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                       testing::sine(1000.0, 0.5, 44100, 4410));
  fs::create_directory(path("sub"));
  fs::create_directory(path("locked"));
  chmod(path("locked").c_str(), 0555);
  const bool root = access(path("locked").c_str(), W_OK) == 0;  // root writes anywhere

  for (const std::string& out : {path("no/such/folder/out"), path("sub"), path("locked/out")}) {
    if (root && out == path("locked/out")) continue;
    SCOPED_TRACE(out);
    expect_one_line_failure(img2grid({path("in.pgm"), out}), 1, "img2grid", "cannot");
    expect_one_line_failure(spectrogram({path("in.wav"), out}), 1, "spectrogram", "cannot");
    expect_one_line_failure(spectrogram({path("in.wav"), path("ok.png"), "--grid", out, "--rows", "10"}), 1,
                            "spectrogram", "cannot");
    fs::remove(path("ok.png"));
  }
  chmod(path("locked").c_str(), 0755);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm", "in.wav", "locked", "sub"}));
  EXPECT_TRUE(fs::is_empty(path("sub")));
  EXPECT_TRUE(fs::is_empty(path("locked")));
}

// Renders the grid file with gridwave, analyses the sound back into a grid
// of the same row count, and returns the Pearson correlation of the two over
// rows 1 ... c - 1.
double round_trip_correlation(const testing::ScratchDir& dir, const std::string& grid) {
  std::int32_t rows = 0;
  const Cells in = testing::read_grid_cells(grid, rows);
  const std::string wav = (dir / "round.wav").string(), back = (dir / "back.grid").string();
  const RunResult rendered = testing::run_program(GRIDWAVE_BIN, {grid, wav, "source"});
  EXPECT_EQ(rendered.status, 0) << rendered.out;
  const RunResult analysed = testing::run_program(
      SPECTROGRAM_BIN, {wav, (dir / "round.png").string(), "--grid", back, "--rows", std::to_string(rows)});
  EXPECT_EQ(analysed.status, 0) << analysed.err;
  std::int32_t back_rows = 0;
  const Cells out = testing::read_grid_cells(back, back_rows);
  EXPECT_EQ(back_rows, rows);
  std::vector<double> a(in.begin() + 200, in.end()), b(out.begin() + 200, out.end());
  return testing::pearson(a, b);
}

TEST_F(Tools, DemoPictureComesBackFromTheSound) {
  // The committed picture is the one the example program draws.
  const RunResult drawn = testing::run_program(DRAW_DEMO_BIN, {path("drawn.png")});
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_EQ(tools::load_image(path("drawn.png")).luma, tools::load_image(DEMO_PICTURE).luma);

  const RunResult r = img2grid({DEMO_PICTURE, path("demo.grid")});
  ASSERT_EQ(r.status, 0) << r.err;
  const double correlation = round_trip_correlation(dir, path("demo.grid"));
  std::printf("demo picture: correlation %.4f\n", correlation);
  EXPECT_GE(correlation, 0.95);
}

TEST_F(Tools, CheckerboardComesBackFromTheSound) {
  // 8 x 8-cell squares on 200 rows.
  const Cells cells = testing::make_cells(200, [](int r, int k) { return r > 0 && (r / 8 + k / 8) % 2 == 0 ? 300 : 0; });
  testing::write_bytes(path("board.grid"), testing::grid_bytes(200, cells));
  const double correlation = round_trip_correlation(dir, path("board.grid"));
  std::printf("checkerboard: correlation %.4f\n", correlation);
  EXPECT_GE(correlation, 0.85);
}

}  // namespace
}  // namespace gridwave
