// gridwave under process and memory limits: threads that cannot start, or
// memory that runs out, must never crash the program. It renders with the
// threads it got (the calling thread is enough) and writes the same bytes, or
// ends with the memory message and status 1.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace gridwave {
namespace {

using testing::Bytes;

constexpr int kNobody = 65534;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the sanitizer's shadow memory needs terabytes of address space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Limited {
  const char* name;
  const char* threads;  // GRIDWAVE_THREADS, or null for every CPU
  int resource;         // RLIMIT_AS or RLIMIT_NPROC
  long value;
};

const Limited kLimits[] = {
    {"15 MB of address space", nullptr, RLIMIT_AS, 15'000'000},
    {"40 MB of address space, 256 threads", "256", RLIMIT_AS, 40'000'000},
    {"2 GB of address space, 256 threads", "256", RLIMIT_AS, 2'000'000'000},
    {"3 processes", "8", RLIMIT_NPROC, 3},
    {"1 process: no thread starts", "8", RLIMIT_NPROC, 1},
};

TEST(RenderLimits, ThreadsThatCannotStartNeverCrashTheRun) {
  testing::ScratchDir dir;
  // The folder must be usable by the unprivileged user the process limits
  // are tried as (they do not bind root).
  chmod(dir.path().c_str(), 0777);
  const std::string grid = (dir / "g.grid").string();
  const int rows = 150;  // three batches of rows
  testing::write_bytes(grid, testing::grid_bytes(rows, testing::make_cells(rows, [](int r, int k) {
                                                   return (r * 7919 + k * 104729) % 2001 - 1000;
                                                 })));
  chmod(grid.c_str(), 0644);
  const std::string reference = (dir / "reference.wav").string();
  const auto plain = testing::run_program(GRIDWAVE_BIN, {grid, reference, "x"}, {{"GRIDWAVE_THREADS=1"}});
  ASSERT_EQ(plain.status, 0) << plain.out << plain.err;
  const Bytes expected = testing::read_bytes(reference);

  for (const Limited& limit : kLimits) {
    if (limit.resource == RLIMIT_AS && kSanitized) continue;
    SCOPED_TRACE(limit.name);
    const std::string out = (dir / "out.wav").string();
    unlink(out.c_str());
    testing::RunOptions options;
    if (limit.threads != nullptr) options.env.push_back(std::string("GRIDWAVE_THREADS=") + limit.threads);
    options.limits.push_back({limit.resource, limit.value});
    if (limit.resource == RLIMIT_NPROC && geteuid() == 0) options.user = kNobody;
    // The leak checker needs a thread of its own at exit, which a process
    // limit of 1 forbids: a limit of the sanitizer, not of the program.
    if (kSanitized) options.env.push_back("ASAN_OPTIONS=detect_leaks=0");
    const auto run = testing::run_program(GRIDWAVE_BIN, {grid, out, "x"}, options);
    EXPECT_EQ(run.err, "");
    if (run.status == 0) {
      EXPECT_EQ(testing::read_bytes(out), expected);
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.out.find("Not enough memory for the sound buffer\n"), std::string::npos) << run.out;
    }
  }
}

}  // namespace
}  // namespace gridwave
