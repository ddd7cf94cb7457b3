// What every program (gridwave and the tools) shares: the standard
// descriptors kept taken, and saves that leave nothing behind when a signal
// ends the process.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <csignal>

#include <filesystem>
#include <string>
#include <vector>

#include "constants.h"
#include "grid_wave.h"
#include "test_support.h"
#include "tool_fixtures.h"

namespace gridwave {
namespace {

using testing::Bytes;
using testing::Cells;
namespace fs = std::filesystem;

// Runs program with the given shell redirection (">&-", say) applied.
testing::RunResult run_with(const std::string& redirection, const std::string& program,
                            const std::vector<std::string>& args) {
  std::vector<std::string> shell_args = {"-c", "exec \"$0\" \"$@\" " + redirection, program};
  shell_args.insert(shell_args.end(), args.begin(), args.end());
  return testing::run_program("/bin/sh", shell_args, {{"LC_ALL=C"}});
}

const std::vector<std::string> kClosings = {">&-", "<&-", "2>&-", "<&- >&- 2>&-"};

// A grid whose sound peaks at 32762 without being scaled: four samples print
// "Error" during the save, after a Source long enough that they overflow the
// console's buffer while the WAV file is open.
Cells loud_cells() {
  return testing::make_cells(5, [](int r, int k) { return r == 1 ? 309 : r == 4 && k == 0 ? 19 : 0; });
}

TEST(ClosedDescriptors, GridwaveWavIsIntactWhateverIsClosed) {
  testing::ScratchDir dir;
  const std::string in = (dir / "in.grid").string();
  const std::string out = (dir / "out.wav").string();
  testing::write_bytes(in, testing::grid_bytes(5, loud_cells()));
  std::int64_t loud = 0;
  const Bytes expected = render_grid_wave(5, loud_cells(), 1, &loud);
  ASSERT_EQ(loud, 4);
  // Console text before the save of about 4 KB, 8 KB and 16 KB, so that the
  // warnings overflow a buffer of any of those sizes.
  for (const std::size_t before_save : {4090u, 8190u, 16380u}) {
    for (const std::string& closing : kClosings) {
      const std::string source(before_save - 160 - in.size() - out.size(), 's');
      fs::remove(out);
      const auto r = run_with(closing, GRIDWAVE_BIN, {in, out, source});
      EXPECT_EQ(r.status, 0) << closing;
      EXPECT_EQ(testing::read_bytes(out), expected) << closing << " " << before_save;
      if (closing == "<&-" || closing == "2>&-") {  // standard output still open
        const std::string tail = "ErrorErrorErrorError\n\x8f\x88\x97\x9d\x82\xf0\x8fI\x97\xb9\x82\xb5\x82\xdc\x82\xb7\n";
        EXPECT_EQ(r.out.size(), before_save + tail.size()) << closing;
        EXPECT_TRUE(r.out.ends_with(tail)) << closing;
      }
      EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "out.wav"})) << closing;
    }
  }
}

TEST(ClosedDescriptors, ToolOutputsAreIntactWhateverIsClosed) {
  testing::ScratchDir dir;
  const auto path = [&](const char* name) { return (dir / name).string(); };
  testing::write_bytes(path("in.pgm"), testing::encode_pnm(3, 2, 1, 255, {255, 0, 128, 10, 200, 0}));
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                       testing::sine(1000.0, 0.5, 44100, 20000));
  const std::vector<std::string> img2grid_args = {path("in.pgm"), path("out.grid")};
  const std::vector<std::string> img2sound_args = {path("in.pgm"), path("out.wav"), "--duration", "0.5"};
  const std::vector<std::string> spectrogram_args = {path("in.wav"), path("out.png"), "--width", "40",
                                                     "--height", "20", "--grid", path("back.grid"),
                                                     "--rows", "8"};
  ASSERT_EQ(testing::run_program(IMG2GRID_BIN, img2grid_args).status, 0);
  ASSERT_EQ(testing::run_program(SPECTROGRAM_BIN, spectrogram_args).status, 0);
  ASSERT_EQ(testing::run_program(IMG2SOUND_BIN, img2sound_args).status, 0);
  const Bytes sound = testing::read_bytes(path("out.wav"));
  const Bytes grid = testing::read_bytes(path("out.grid"));
  const Bytes png = testing::read_bytes(path("out.png"));
  const Bytes back = testing::read_bytes(path("back.grid"));
  for (const std::string& closing : kClosings) {
    for (const char* name : {"out.grid", "out.png", "back.grid", "out.wav"}) fs::remove(path(name));
    EXPECT_EQ(run_with(closing, IMG2SOUND_BIN, img2sound_args).status, 0) << closing;
    EXPECT_EQ(testing::read_bytes(path("out.wav")), sound) << closing;
    EXPECT_EQ(run_with(closing, IMG2GRID_BIN, img2grid_args).status, 0) << closing;
    EXPECT_EQ(run_with(closing, SPECTROGRAM_BIN, spectrogram_args).status, 0) << closing;
    EXPECT_EQ(testing::read_bytes(path("out.grid")), grid) << closing;
    EXPECT_EQ(testing::read_bytes(path("out.png")), png) << closing;
    EXPECT_EQ(testing::read_bytes(path("back.grid")), back) << closing;
    // A failure is still a failure, with nothing left behind.
    EXPECT_EQ(run_with(closing, IMG2GRID_BIN, {path("missing.pgm"), path("x.grid")}).status, 1) << closing;
    EXPECT_FALSE(fs::exists(path("x.grid"))) << closing;
  }
}

// A signal that ends the process during the save, from a real file size
// limit (SIGXFSZ, not ignored) or raised at a step of the save, leaves no
// temporary file, and the old output keeps its bytes.
TEST(FatalSignals, NoProgramLeavesItsTemporaryFile) {
  testing::ScratchDir dir;
  const auto path = [&](const char* name) { return (dir / name).string(); };
  testing::write_bytes(path("in.grid"), testing::grid_bytes(5, loud_cells()));
  testing::write_bytes(path("in.pgm"), testing::encode_pnm(3, 2, 1, 255, {255, 0, 128, 10, 200, 0}));
  testing::write_sound(path("in.wav"), 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                       testing::sine(1000.0, 0.5, 44100, 20000));
  struct Program {
    const char* name;
    std::vector<std::string> args;
    const char* output;
  };
  const std::vector<Program> programs = {
      {GRIDWAVE_BIN, {path("in.grid"), path("out"), "s"}, "out"},
      {IMG2GRID_BIN, {path("in.pgm"), path("out")}, "out"},  // 2,404 bytes
      {SPECTROGRAM_BIN, {path("in.wav"), path("out"), "--width", "300", "--height", "300"}, "out"},
      {IMG2SOUND_BIN, {path("in.pgm"), path("out.wav"), "--duration", "0.5"}, "out.wav"},
  };
  const testing::Bytes old_content(3000, 'o');
  struct Way {
    std::string fault;  // the fault shim's plan, or empty for the real limit
    int signal_number;
  };
  const std::vector<Way> ways = {{"", SIGXFSZ}, {"write:SIGQUIT", SIGQUIT}, {"fsync:SIGUSR1", SIGUSR1},
                                 {"write:SIGALRM", SIGALRM}, {"close:SIGPIPE", SIGPIPE}};
  for (const Program& program : programs) {
    for (const Way& way : ways) {
      testing::write_bytes(path(program.output), old_content);
      if (std::string(program.output) != "out") fs::remove(path("out"));
      testing::RunOptions options{{"LC_ALL=C"}};
      options.limits = {{RLIMIT_CORE, 0}, {RLIMIT_FSIZE, 1000}};  // the old file is there already
      if (!way.fault.empty()) {
        options.limits.pop_back();
        options.env.push_back(std::string("LD_PRELOAD=") + SAVE_FAULT_SHIM);
        options.env.push_back("GRIDWAVE_FAULT=" + way.fault);
        options.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
      }
      const auto r = testing::run_program(program.name, program.args, options);
      EXPECT_EQ(r.status, 128 + way.signal_number) << program.name << " " << way.fault << r.err;
      EXPECT_EQ(testing::read_bytes(path(program.output)), old_content) << program.name << " " << way.fault;
      EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.grid", "in.pgm", "in.wav", program.output}))
          << program.name << " " << way.fault;
    }
  }
}

}  // namespace
}  // namespace gridwave
