// Runs the built program as a user would and checks its exit status, every
// byte it prints and the file it leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console.h"
#include "constants.h"
#include "test_support.h"
#include "tone.h"
#include "wave_out.h"

namespace gridwave {
namespace {

using testing::Bytes;
using testing::Cells;
namespace fs = std::filesystem;

const std::vector<std::string> kShiftJisConsole = {"LC_ALL=C"};
const std::vector<std::string> kUtf8Console = {"LC_ALL=C.UTF-8"};

std::string text(JapaneseText t, bool utf8 = false) {
  set_utf8_console(utf8);
  return japanese(t);
}

std::string head(const std::string& in, const std::string& out, const std::string& source) {
  return "Tamvel Art Sub system\n"
         "gridwave, by the gridwave project\n"
         "https://gridwave.invalid/\n"
         "Input =" + in + "\nOutput=" + out + "\nSource=" + source + "\n";
}

std::string progress(const std::string& stars, bool utf8 = false) {
  return text(JapaneseText::kStarting, utf8) + "start|------------------|finish\n     " + stars;
}

std::string cannot_open() { return "Cannot open file\n" + text(JapaneseText::kEnding); }

// The WAV file the program must write for these grid rows, built in-process
// from the renderer and the encoder.
Bytes expected_wave(std::int32_t rows, const Cells& cells) {
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  for (std::int32_t d = 1; d < rows; ++d) {
    render_cells(acc.data(), row_frequency(d, rows), cells.data() + std::size_t(d) * 200, 200);
  }
  ::testing::internal::CaptureStdout();
  Bytes wave = encode_wave(acc.data(), kLengthValue);
  ::testing::internal::GetCapturedStdout();
  return wave;
}

class Cli : public ::testing::Test {
 protected:
  testing::ScratchDir dir;
  std::string in = (dir / "in.grid").string();
  std::string out = (dir / "out.wav").string();

  testing::RunResult gridwave(const std::vector<std::string>& args,
                              testing::RunOptions options = {kShiftJisConsole}) {
    return testing::run_program(GRIDWAVE_BIN, args, options);
  }
  testing::RunResult gridwave_io(testing::RunOptions options = {kShiftJisConsole}) {
    return gridwave({in, out, "source.png"}, options);
  }
  std::string head_io() const { return head(in, out, "source.png"); }
};

TEST_F(Cli, WrongArgumentCountComplainsWithoutLineEnd) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"a", "b"}, {"a", "b", "c", "d"}}) {
    const auto r = gridwave(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, text(JapaneseText::kBadParameters));
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(gridwave({}, {kUtf8Console}).out, "パラメーターが異常です。");
}

TEST_F(Cli, UnopenableInputEndsWithStatus1) {
  fs::create_directory(dir / "folder");
  for (const std::string& input : {(dir / "missing").string(), (dir / "folder").string()}) {
    const auto r = gridwave({input, out, "s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, head(input, out, "s") + cannot_open());
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(Cli, ShortGridFilesAreRejectedBeforeRendering) {
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"empty", {}},
      {"one byte", {7}},
      {"three bytes", {2, 0, 0}},
      {"row count only", testing::grid_bytes(2, {})},
      {"last row one cell short", testing::grid_bytes(3, Cells(599, 5))},
      {"huge row count", testing::grid_bytes(2'000'000'000, Cells(400, 5))},
  };
  for (const auto& [name, bytes] : cases) {
    testing::write_bytes(in, bytes);
    const auto r = gridwave_io();
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, head_io() + "The grid file '" + in + "' is too short\n" +
                         text(JapaneseText::kEnding)) << name;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.grid"}) << name;
  }
}

TEST_F(Cli, RowCountOfOneOrLessWritesSilence) {
  for (std::int32_t rows : {0, 1, -5, INT32_MIN}) {
    testing::write_bytes(in, testing::grid_bytes(rows, Cells(200, 1000)));
    const auto r = gridwave_io();
    EXPECT_EQ(r.status, 0) << rows;
    EXPECT_EQ(r.out, head_io() + progress("") + text(JapaneseText::kFinished)) << rows;
    EXPECT_EQ(testing::read_bytes(out), expected_wave(0, {})) << rows;
  }
}

TEST_F(Cli, RendersRowsOneToLastAndIgnoresTrailingBytes) {
  // Row 0 is loud but never sounds; the others are loud enough to be scaled.
  const Cells cells = testing::make_cells(4, [](int r, int k) { return r == 0 ? 99999 : (k % 7 - 3) * 300 * r; });
  Cells with_trailer = cells;
  with_trailer.insert(with_trailer.end(), {1, 2, 3});
  testing::write_bytes(in, testing::grid_bytes(4, with_trailer));
  const auto r = gridwave_io();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, head_io() + progress("") + text(JapaneseText::kFinished));
  EXPECT_EQ(testing::read_bytes(out), expected_wave(4, cells));
}

TEST_F(Cli, OneStarAfterEveryTenthRow) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {20, "*"}, {200, std::string(19, '*')}, {210, std::string(20, '*')}};
  for (const auto& [rows, stars] : cases) {
    const Cells cells = testing::make_cells(rows, [](int r, int k) { return (r * 31 + k) % 23 - 11; });
    testing::write_bytes(in, testing::grid_bytes(rows, cells));
    const auto r = gridwave_io();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, head_io() + progress(stars) + text(JapaneseText::kFinished));
    EXPECT_EQ(fs::file_size(out), 1'604'044u);
    if (rows == 20) {
      EXPECT_EQ(testing::read_bytes(out), expected_wave(rows, cells));
    }
  }
}

TEST_F(Cli, Utf8ConsoleGetsUtf8Texts) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  const auto r = gridwave_io({kUtf8Console});
  EXPECT_EQ(r.out, head_io() + "処理を開始します\nstart|------------------|finish\n     \n処理を終了します\n");
  const auto missing = gridwave({(dir / "none").string(), out, "s"}, {kUtf8Console});
  EXPECT_EQ(missing.out, head((dir / "none").string(), out, "s") +
                             "Cannot open file\n処理を終了します。\n何かキーを押してください。\n");
}

TEST_F(Cli, FailedSaveIsAFailureAndKeepsWhatWasThere) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  const std::string save_failed = text(JapaneseText::kSaveFailed);
  const std::string not_opened_tail = "' was not opened\n" + save_failed;
  const std::string not_written_tail = "' could not be written\n" + save_failed;
  fs::create_directory(dir / "folder");

  struct Case {
    std::string output;
    std::string tail;
    long file_size_limit;
  };
  const std::vector<Case> cases = {
      {(dir / "no/such/folder/out.wav").string(), not_opened_tail, -1},
      {(dir / "folder").string(), not_opened_tail, -1},
      {"/dev/full", not_written_tail, -1},
      // Writes past 1000 bytes fail: the old file must survive untouched.
      {out, not_written_tail, 1000},
  };
  const Bytes old_content = {'k', 'e', 'e', 'p'};
  testing::write_bytes(out, old_content);
  for (const auto& c : cases) {
    const auto r = gridwave({in, c.output, "s"}, {kShiftJisConsole, c.file_size_limit});
    EXPECT_EQ(r.status, 1) << c.output;
    EXPECT_EQ(r.out, head(in, c.output, "s") + progress("") + "The file '" + c.output + c.tail) << c.output;
  }
  EXPECT_EQ(testing::read_bytes(out), old_content);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder", "in.grid", "out.wav"}));
}

TEST_F(Cli, SaveReplacesFilesButNotLinksOrModes) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  testing::write_bytes(out, {'o', 'l', 'd'});
  chmod(out.c_str(), 0640);
  fs::create_symlink("out.wav", dir / "link.wav");
  ASSERT_EQ(gridwave({in, (dir / "link.wav").string(), "s"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
  EXPECT_EQ(fs::file_size(out), 1'604'044u);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0640));
  ASSERT_EQ(gridwave({in, "/dev/null", "s"}).status, 0);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "link.wav", "out.wav"}));
}

TEST_F(Cli, EveryThreadCountWritesTheSameWave) {
  // More rows than one batch, loud enough to be scaled, with the extremes.
  const std::int32_t rows = 75;
  const Cells cells = testing::make_cells(rows, [](int r, int k) {
    const std::int32_t extremes[] = {INT32_MAX, INT32_MIN, 0};
    return (r + k) % 37 == 0 ? extremes[(r * k) % 3] : (r * 7919 + k * 104729) % 2001 - 1000;
  });
  testing::write_bytes(in, testing::grid_bytes(rows, cells));
  const Bytes expected = expected_wave(rows, cells);
  for (const std::string threads : {"1", "2", "3"}) {
    const auto r = gridwave_io({{"LC_ALL=C", "GRIDWAVE_THREADS=" + threads}});
    EXPECT_EQ(r.status, 0) << threads;
    EXPECT_EQ(r.out, head_io() + progress(std::string(7, '*')) + text(JapaneseText::kFinished)) << threads;
    EXPECT_EQ(testing::read_bytes(out), expected) << threads;
  }
}

}  // namespace
}  // namespace gridwave
