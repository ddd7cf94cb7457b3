// Runs the built program as a user would and checks its exit status, every
// byte it prints and the file it leaves behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <fstream>
#include <thread>

#include <filesystem>
#include <string>
#include <vector>

#include "console.h"
#include "console_testing.h"
#include "constants.h"
#include "grid_wave.h"
#include "test_support.h"
#include "plain_row_loop.h"
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

std::string too_short(const std::string& in) {
  return "The grid file '" + in + "' is too short\n" + text(JapaneseText::kEnding);
}

// A run with the save fault shim preloaded: `steps` says which call of the
// save fails or is interrupted (see save_fault_shim.cpp).
testing::RunOptions with_faults(const std::string& steps) {
  testing::RunOptions options{{"LC_ALL=C", std::string("LD_PRELOAD=") + SAVE_FAULT_SHIM, "GRIDWAVE_FAULT=" + steps,
                               // The sanitizer build's runtime must not object to the preload.
                               "ASAN_OPTIONS=verify_asan_link_order=0"}};
  options.limits.push_back({RLIMIT_CORE, 0});  // signals that dump core leave none behind
  return options;
}

// Old content that any failed save must leave byte for byte: longer than
// a WAV file header, so a truncation or a partial overwrite shows.
Bytes old_output_content() {
  Bytes bytes(5000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

// The WAV file the program must write for these grid rows, built in-process
// with the plain row loop (each row read and rendered on its own) and the
// encoder.
Bytes expected_wave(std::int32_t rows, const Cells& cells) {
  testing::ScratchDir dir;
  const std::string path = (dir / "g.grid").string();
  testing::write_bytes(path, testing::grid_bytes(rows, cells));
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(render_grid_row_by_row(acc.data(), path.c_str(), rows, kCellsPerRow), 0);
  ::testing::internal::GetCapturedStdout();
  return encode_wave(acc.data(), kCellsPerRow);
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
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // would block an open without a writer
  for (const std::string& input : {(dir / "missing").string(), (dir / "folder").string(),
                                   (dir / "fifo").string(), std::string("/dev/zero"), std::string("")}) {
    const auto r = gridwave({input, out, "s"});
    EXPECT_EQ(r.status, 1) << input;
    EXPECT_EQ(r.out, head(input, out, "s") + cannot_open()) << input;
    EXPECT_FALSE(fs::exists(out)) << input;
  }
}

TEST_F(Cli, ShortGridFilesAreRejectedBeforeRendering) {
  Bytes ragged = testing::grid_bytes(3, Cells(400, 5));
  ragged.insert(ragged.end(), {1, 2});
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"empty", {}},
      {"one byte", {7}},
      {"two bytes", {2, 0}},
      {"three bytes", {2, 0, 0}},
      {"row count only", testing::grid_bytes(2, {})},
      {"rows missing", testing::grid_bytes(5, Cells(400, 5))},
      {"last row one cell short", testing::grid_bytes(3, Cells(599, 5))},
      {"short, with bytes that are not a whole cell", ragged},
      {"huge row count", testing::grid_bytes(2'000'000'000, Cells(400, 5))},
      {"largest row count", testing::grid_bytes(INT32_MAX, Cells(400, 5))},
  };
  for (const auto& [name, bytes] : cases) {
    testing::write_bytes(in, bytes);
    const auto r = gridwave_io();
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, head_io() + too_short(in)) << name;
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
    testing::RunOptions options;
  };
  const testing::RunOptions plain{kShiftJisConsole};
  const std::vector<Case> cases = {
      {(dir / "no/such/folder/out.wav").string(), not_opened_tail, plain},
      {(dir / "folder").string(), not_opened_tail, plain},
      {"/dev/full", not_written_tail, plain},
      // Writes past 1000 bytes fail with EFBIG.
      {out, not_written_tail, {kShiftJisConsole, 1000}},
      // The disk fills up, or the device fails, at each step of the save.
      {out, not_opened_tail, with_faults("mkostemp:ENOSPC")},
      {out, not_written_tail, with_faults("write:ENOSPC")},
      {out, not_written_tail, with_faults("write:short,write:short,write:EIO")},
      {out, not_written_tail, with_faults("fsync:EIO")},
      {out, not_written_tail, with_faults("close:EIO")},
      {out, not_written_tail, with_faults("rename:EIO")},
  };
  const Bytes old_content = old_output_content();
  testing::write_bytes(out, old_content);
  for (const auto& c : cases) {
    const std::string label = c.output + (c.options.env.size() > 2 ? " " + c.options.env[2] : "");
    const auto r = gridwave({in, c.output, "s"}, c.options);
    EXPECT_EQ(r.status, 1) << label;
    EXPECT_EQ(r.out, head(in, c.output, "s") + progress("") + "The file '" + c.output + c.tail) << label;
    EXPECT_EQ(r.err, "") << label;
    EXPECT_EQ(testing::read_bytes(out), old_content) << label;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder", "in.grid", "out.wav"})) << label;
  }
}

TEST_F(Cli, OutputFolderRemovedDuringTheRunFailsCleanly) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  const std::string save_failed = text(JapaneseText::kSaveFailed);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"mkostemp:rmdir", "' was not opened\n" + save_failed},       // before the save begins
      {"write:rmdir", "' could not be written\n" + save_failed},    // while it writes
      {"rename:rmdir", "' could not be written\n" + save_failed},   // just before the rename
  };
  for (const auto& [steps, tail] : cases) {
    fs::create_directory(dir / "gone");
    const std::string output = (dir / "gone/out.wav").string();
    const auto r = gridwave({in, output, "s"}, with_faults(steps));
    EXPECT_EQ(r.status, 1) << steps;
    EXPECT_EQ(r.out, head(in, output, "s") + progress("") + "The file '" + output + tail) << steps;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.grid"}) << steps;
  }
}

// The process dies by the signal, as a shell expects; the temporary file is
// removed and the Output path keeps what it held (or still does not exist).
TEST_F(Cli, SignalDuringTheSaveKeepsTheOldFileAndLeavesNoTemporary) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  // Every signal whose default action ends the process, at every step.
  const std::vector<std::pair<std::string, int>> cases = {
      {"mkostemp:SIGINT", SIGINT},   {"write:SIGINT", SIGINT},
      {"write:short,write:SIGTERM", SIGTERM},  {"fsync:SIGTERM", SIGTERM},
      {"close:SIGINT", SIGINT},      {"rename:SIGTERM", SIGTERM},
      {"rename:SIGHUP", SIGHUP},     {"write:SIGQUIT", SIGQUIT},
      {"fsync:SIGUSR1", SIGUSR1},    {"close:SIGUSR2", SIGUSR2},
      {"write:SIGALRM", SIGALRM},    {"rename:SIGVTALRM", SIGVTALRM},
      {"write:SIGXCPU", SIGXCPU},    {"write:SIGXFSZ", SIGXFSZ},
      {"fsync:SIGPROF", SIGPROF},    {"write:SIGPIPE", SIGPIPE},
      {"close:SIGABRT", SIGABRT},    {"write:SIGIO", SIGIO},
      {"rename:SIGRTMIN", SIGRTMIN},
  };
  const Bytes old_content = old_output_content();
  for (const bool old_file : {true, false}) {
    for (const auto& [steps, signal_number] : cases) {
      if (old_file) {
        testing::write_bytes(out, old_content);
      } else {
        fs::remove(out);
      }
      const auto r = gridwave_io(with_faults(steps));
      EXPECT_EQ(r.status, 128 + signal_number) << steps;
      EXPECT_EQ(r.out.find(text(JapaneseText::kFinished)), std::string::npos) << steps;
      if (old_file) {
        EXPECT_EQ(testing::read_bytes(out), old_content) << steps;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "out.wav"})) << steps;
      } else {
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.grid"}) << steps;
      }
    }
  }
}

// The same with a real signal from another process, while the save waits
// between writing the temporary file and syncing it.
TEST_F(Cli, SignalFromOutsideDuringTheSaveKeepsTheOldFile) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  const Bytes old_content = old_output_content();
  testing::ScratchDir side;  // for the process id, away from the Output folder
  const fs::path pid_file = side / "pid";
  for (const int signal_number : {SIGINT, SIGTERM}) {
    testing::write_bytes(out, old_content);
    fs::remove(pid_file);
    std::thread killer([&] {
      for (int i = 0; i < 1000 && !fs::exists(pid_file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      int pid = 0;
      std::ifstream(pid_file) >> pid;
      if (pid > 0) kill(pid, signal_number);
    });
    testing::RunOptions options = with_faults("fsync:pause");
    options.env.push_back("GRIDWAVE_FAULT_PIDFILE=" + pid_file.string());
    const auto r = gridwave_io(options);
    killer.join();
    EXPECT_EQ(r.status, 128 + signal_number);
    EXPECT_EQ(testing::read_bytes(out), old_content);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "out.wav"}));
  }
}

// Writes that stop short are carried on, and a signal the caller ignores
// (nohup, say) stays ignored during the save.
TEST_F(Cli, SaveFinishesAfterShortWritesAndIgnoredSignals) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  testing::write_bytes(out, old_output_content());
  const auto previous = std::signal(SIGHUP, SIG_IGN);  // inherited by the child
  const auto r = gridwave_io(with_faults("write:short,write:short,rename:SIGHUP"));
  std::signal(SIGHUP, previous);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, head_io() + progress("") + text(JapaneseText::kFinished));
  EXPECT_EQ(testing::read_bytes(out), expected_wave(0, {}));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "out.wav"}));
}

// Paths are used and echoed byte for byte, whatever they hold: spaces, line
// ends, bytes that are not UTF-8, a leading dash, printf directives.
TEST_F(Cli, UnusualPathsAreUsedAndEchoedByteForByte) {
  const std::vector<std::string> names = {"with space.grid", "line\nend", "\xff\xfe\x80.grid",
                                          "-leading-dash", "%s%n%x"};
  for (const std::string& name : names) {
    const std::string output = name + ".wav";
    const testing::RunOptions in_dir{kShiftJisConsole, -1, dir.path().string()};
    testing::write_bytes(dir / name, {1, 0, 0});
    auto r = gridwave({name, output, name}, in_dir);
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, head(name, output, name) + too_short(name)) << name;
    EXPECT_FALSE(fs::exists(dir / output)) << name;

    testing::write_bytes(dir / name, testing::grid_bytes(1, {}));
    r = gridwave({name, output, name}, in_dir);
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.out, head(name, output, name) + progress("") + text(JapaneseText::kFinished)) << name;
    EXPECT_EQ(fs::file_size(dir / output), 1'604'044u) << name;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{name, output})) << name;
    fs::remove(dir / name);
    fs::remove(dir / output);
  }
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

// A link whose target does not exist yet is followed, as a shell redirection
// would: the target is created and the link stays a link.
TEST_F(Cli, SaveThroughDanglingLinkCreatesItsTarget) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  fs::create_directory(dir / "sub");
  fs::create_symlink("../made.wav", dir / "sub/link.wav");  // relative to the link's folder
  EXPECT_EQ(gridwave({in, (dir / "sub/link.wav").string(), "s"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "sub/link.wav"));
  EXPECT_EQ(fs::file_size(dir / "made.wav"), 1'604'044u);

  fs::create_symlink("nowhere/x.wav", dir / "lost.wav");
  const std::string output = (dir / "lost.wav").string();
  const auto r = gridwave({in, output, "s"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, head(in, output, "s") + progress("") + "The file '" + output +
                       "' was not opened\n" + text(JapaneseText::kSaveFailed));
  EXPECT_TRUE(fs::is_symlink(dir / "lost.wav"));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "lost.wav", "made.wav", "sub"}));
}

// What a user relies on when a file is replaced: permissions, owner, links.
TEST_F(Cli, SaveKeepsWhatTheOldFileStoodFor) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  chmod(dir.path().c_str(), 0777);  // usable by the unprivileged user below
  chmod(in.c_str(), 0644);
  const Bytes old_content = old_output_content();
  const std::string not_opened = "' was not opened\n" + text(JapaneseText::kSaveFailed);
  const auto expect_refused = [&](const testing::RunResult& r, const std::string& output, const std::string& why) {
    EXPECT_EQ(r.status, 1) << why;
    EXPECT_EQ(r.out, head(in, output, "s") + progress("") + "The file '" + output + not_opened) << why;
  };

  // Set-user-ID, set-group-ID and sticky bits are never copied.
  testing::write_bytes(out, old_content);
  chmod(out.c_str(), 07755);
  ASSERT_EQ(gridwave({in, out, "s"}).status, 0);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0755));

  // A file its owner may not write is refused, as opening it would be; root may.
  testing::write_bytes(out, old_content);
  chmod(out.c_str(), 0444);
  testing::RunOptions unprivileged{kShiftJisConsole};
  if (geteuid() == 0) {
    ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
    unprivileged.user = 65534;
  }
  expect_refused(gridwave({in, out, "s"}, unprivileged), out, "read-only");
  EXPECT_EQ(testing::read_bytes(out), old_content);
  if (geteuid() == 0) {
    // Root replaces it, and the file keeps its owner, group and mode.
    ASSERT_EQ(gridwave({in, out, "s"}).status, 0);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
  }

  // A loop of links is an output that cannot be created; the links stay.
  fs::create_symlink("loop-b", dir / "loop-a");
  fs::create_symlink("loop-a", dir / "loop-b");
  fs::create_symlink("self", dir / "self");
  for (const char* name : {"loop-a", "self"}) {
    const std::string output = (dir / name).string();
    expect_refused(gridwave({in, output, "s"}), output, name);
  }
  EXPECT_TRUE(fs::is_symlink(dir / "loop-a") && fs::is_symlink(dir / "loop-b") && fs::is_symlink(dir / "self"));

  // Another hard link to the old file keeps the old content: the path gets a new file.
  testing::write_bytes(out, old_content);
  chmod(out.c_str(), 0644);
  fs::create_hard_link(out, dir / "hard.wav");
  ASSERT_EQ(gridwave({in, out, "s"}).status, 0);
  EXPECT_EQ(testing::read_bytes(dir / "hard.wav"), old_content);
  EXPECT_EQ(fs::file_size(out), 1'604'044u);
}

// The rename is made durable by syncing the folder; when that fails, success
// is not reported.
TEST_F(Cli, FolderIsSyncedAfterTheRename) {
  testing::write_bytes(in, testing::grid_bytes(1, {}));
  const auto r = gridwave_io(with_faults("fsync:pass,fsync:EIO"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, head_io() + progress("") + "The file '" + out + "' could not be written\n" +
                       text(JapaneseText::kSaveFailed));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "out.wav"}));
}

// Row counts whose sums could leave the 64-bit range are refused, even when
// the file holds every row (sparse files here).
TEST_F(Cli, RowCountsBeyondWhatCanBeAddedUpAreRefused) {
  for (const std::int32_t rows : {kMaxRowCount + 1, INT32_MAX}) {
    testing::write_bytes(in, testing::grid_bytes(rows, {}));
    fs::resize_file(in, 4 + 800 * std::uintmax_t(rows));
    const auto r = gridwave_io();
    EXPECT_EQ(r.status, 1) << rows;
    EXPECT_EQ(r.out, head_io() + "The grid file '" + in + "' has too many rows (" + std::to_string(rows) +
                         ", at most 42949673)\n" + text(JapaneseText::kEnding))
        << rows;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.grid"});
  }
}

// Memory running out at any point ends with the memory message on standard
// output, or the run succeeds with the right bytes: never a crash, never
// standard error. The address space limit rises a megabyte at a time to the
// first that is enough, then the megabyte below is tried in fine steps.
TEST_F(Cli, RunningOutOfMemoryAnywhereEndsWithTheMemoryMessage) {
  if (testing::kAddressSanitized) GTEST_SKIP() << "the sanitizer's shadow memory needs terabytes of address space";
  const std::int32_t rows = 70;
  const Cells cells = testing::make_cells(rows, [](int r, int k) { return (r * 31 + k) % 41 - 20; });
  testing::write_bytes(in, testing::grid_bytes(rows, cells));
  const Bytes expected = render_grid_wave(rows, cells, 1);
  int failures_while_rendering = 0;
  // True when the run succeeded.
  const auto run_within = [&](long kilobytes) {
    testing::RunOptions options{{"LC_ALL=C", "GRIDWAVE_THREADS=4"}};
    options.limits.push_back({RLIMIT_AS, kilobytes << 10});
    fs::remove(out);
    const auto r = gridwave_io(options);
    if (r.status == 127 && r.err.find("error while loading shared libraries") != std::string::npos) {
      return false;  // too tight for the loader to start the program at all
    }
    EXPECT_EQ(r.err, "") << kilobytes;
    if (r.status == 0) {
      EXPECT_EQ(testing::read_bytes(out), expected) << kilobytes;
      return true;
    }
    failures_while_rendering += r.out.find("start|") != std::string::npos;
    EXPECT_EQ(r.status, 1) << kilobytes;
    EXPECT_TRUE(r.out.ends_with("Not enough memory for the sound buffer\n")) << kilobytes << r.out;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.grid"}) << kilobytes;
    return false;
  };
  long enough = 4096;
  while (enough < 256 * 1024 && !run_within(enough)) enough += 1024;
  ASSERT_LT(enough, 256 * 1024);
  for (long kilobytes = enough - 1024; kilobytes < enough; kilobytes += 32) run_within(kilobytes);
  EXPECT_GT(failures_while_rendering, 0);  // some limits bit after the accumulator was there
}

// The in-memory render gives the program's bytes, and counts the samples the
// program warns about.
TEST_F(Cli, InMemoryRenderWritesWhatTheProgramWrites) {
  struct Case {
    const char* name;
    std::int32_t rows;
    Cells cells;
  };
  const std::vector<Case> cases = {
      {"silent", 1, {}},
      {"scaled", 4, testing::make_cells(4, [](int r, int k) { return (k % 7 - 3) * 300 * r; })},
      {"loud, unscaled", 5, testing::make_cells(5, [](int r, int k) { return r == 1 ? 309 : r == 4 && k == 0 ? 19 : 0; })},
      {"two batches with extremes", 75, testing::make_cells(75, [](int r, int k) {
         return (r + k) % 37 == 0 ? INT32_MIN : (r * 7919 + k * 104729) % 2001 - 1000;
       })},
  };
  for (const auto& c : cases) {
    testing::write_bytes(in, testing::grid_bytes(c.rows, c.cells));
    const auto r = gridwave_io();
    ASSERT_EQ(r.status, 0) << c.name;
    for (const int threads : {1, 3}) {
      std::int64_t loud = -1;
      EXPECT_EQ(render_grid_wave(c.rows, c.cells, threads, &loud), testing::read_bytes(out)) << c.name;
      std::string warnings;
      for (std::int64_t i = 0; i < loud; ++i) warnings += "Error";
      EXPECT_NE(r.out.find(warnings + text(JapaneseText::kFinished)), std::string::npos) << c.name;
      EXPECT_EQ(r.out.find(warnings + "Error"), std::string::npos) << c.name;
    }
  }
  EXPECT_THROW(render_grid_wave(3, Cells(599, 1), 1), std::invalid_argument);
  EXPECT_THROW(render_grid_wave(kMaxRowCount + 1, Cells(), 1), std::invalid_argument);
}

}  // namespace
}  // namespace gridwave
