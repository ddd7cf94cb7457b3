// The batched renderer against the plain one: the same accumulator, slot for
// slot, on every SIMD target this CPU runs and with 1, 2 and 3 threads.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "batch_render.h"
#include "render_pipeline.h"
#include "render_testing.h"
#include "console.h"
#include "console_testing.h"
#include "constants.h"
#include "grid_input.h"
#include "row_loop.h"
#include "test_support.h"
#include "tone.h"
#include "wave_out.h"

namespace gridwave {
namespace {

using testing::Cells;

struct Grid {
  std::string name;
  int rows;      // rendered rows (row 0 of a file is not among them)
  int columns;   // 3 columns keep most cases fast; a few run the full 200
  std::function<std::int32_t(std::mt19937&, int row, int column)> cell;
};

// Row r sounds as row r + 1 of a grid of rows + 1 rows, as in the program.
std::vector<double> frequencies(int rows) {
  std::vector<double> f;
  for (int r = 0; r < rows; ++r) f.push_back(row_frequency(r + 1, rows + 1));
  return f;
}

Cells cells_of(const Grid& g) {
  std::mt19937 rng(static_cast<unsigned>(g.rows * 7919 + g.columns));
  return testing::make_cells(g.rows, [&](int r, int k) { return g.cell(rng, r, k); });
}

std::vector<Slot> plain(const Grid& g, const Cells& cells, const std::vector<double>& f) {
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  for (int r = 0; r < g.rows; ++r) {
    render_cells(acc.data(), f[r], cells.data() + std::size_t(r) * kCellsPerRow, g.columns);
  }
  return acc;
}

std::int32_t dense(std::mt19937& rng, int, int) { return static_cast<std::int32_t>(rng() % 256); }
std::int32_t signed_cell(std::mt19937& rng, int, int) {
  return static_cast<std::int32_t>(rng() % 200001) - 100000;
}
std::int32_t extreme(std::mt19937& rng, int, int) {
  const std::int32_t values[] = {INT32_MAX, INT32_MIN, -INT32_MAX, 1, -1, 0};
  return values[rng() % 6];
}
std::int32_t sparse(std::mt19937& rng, int, int) {
  return rng() % 10 == 0 ? static_cast<std::int32_t>(rng() % 511) - 255 : 0;
}
std::int32_t silent(std::mt19937&, int, int) { return 0; }
// Silent rectangles with loud ones in between, as a picture draws them.
std::int32_t blocks(std::mt19937& rng, int r, int k) {
  return ((r / 8) * 7 + k / 2) % 5 == 0 ? static_cast<std::int32_t>(1 + rng() % 255) : 0;
}

const std::vector<Grid> kGrids = {
    {"one row", 1, 3, dense},
    {"seven rows", 7, 3, dense},
    {"signed", 13, 3, signed_cell},
    {"extremes", 21, 3, extreme},
    {"sparse", 45, 3, sparse},
    {"all zero", 9, 3, silent},
    // More batches than the pipeline has buffers: its ring of them wraps.
    {"five batches, one column", 5 * kBatchRows, 1, signed_cell},
    {"blocks over two batches", kBatchRows + 11, 3, blocks},
    {"one column", 5, 1, dense},
    {"no column", 5, 0, dense},
};

// Runs f once for each SIMD target this CPU supports, that target forced.
void for_each_target(const std::function<void(const std::string&)>& f) {
  for (std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    ASSERT_STREQ(render_target_name(), hwy::TargetName(target));
    f(hwy::TargetName(target));
  }
  hwy::SetSupportedTargetsForTest(0);
}

TEST(RenderBatch, SameAccumulatorAsPlainOnEveryTargetAndThreadCount) {
  for (const Grid& g : kGrids) {
    const Cells cells = cells_of(g);
    const auto f = frequencies(g.rows);
    const auto expected = plain(g, cells, f);
    for_each_target([&](const std::string& target) {
      for (int threads : {1, 2, 3}) {
        std::vector<Slot> acc(kAccumulatorSlots, 0);
        render_cells_batched(acc.data(), f.data(), cells.data(), g.rows, g.columns, threads);
        ASSERT_EQ(acc, expected) << g.name << ", " << target << ", " << threads << " threads";
      }
    });
  }
}

// The exactness check rests on bounds for the error of the sines the
// renderer computes; measure the errors on every target over whole runs of
// phases (highest to lowest pitch, and pitches that are exact fractions of
// the sample rate), and check they stay within the bounds themselves, not
// merely within the margin.
TEST(RenderBatch, SineErrorsStayWithinTheirBoundsOnEveryTarget) {
  std::vector<double> steps;
  for (std::int32_t d : {1, 2, 17, 40, 50, 80, 99, 120, 160, 199}) steps.push_back(phase_step(row_frequency(d, 200)));
  for (std::int32_t d : {16, 32, 48}) steps.push_back(phase_step(row_frequency(d, 64)));
  for_each_target([&](const std::string& target) {
    const SineErrors e = measure_sine_errors(steps.data(), static_cast<int>(steps.size()), kSampleCount);
    EXPECT_LE(e.rotation, e.rotation_bound) << target;
    EXPECT_LE(e.shifted_ratio, 1.0) << target;
    EXPECT_LE(e.vector_sin, e.vector_sin_bound) << target;
    EXPECT_GT(e.rotation, 0.0) << target;  // measured, not skipped
    std::printf("%-8s rotation %.2e (bound %.2e), shifted %.4f of its bound, hn::Sin %.2e (bound %.2e)\n",
                target.c_str(), e.rotation, e.rotation_bound, e.shifted_ratio, e.vector_sin, e.vector_sin_bound);
  });
}

// Slots that hold something already, up to beyond 2^53 where a double no
// longer holds every whole number: the sums must round just as the plain
// loop's do.
TEST(RenderBatch, AddsOntoWhatTheAccumulatorHolds) {
  const Grid g{"signed", 10, 2, signed_cell};
  const Cells cells = cells_of(g);
  const auto f = frequencies(g.rows);
  const std::vector<std::pair<const char*, std::function<Slot(int)>>> preloads = {
      {"small", [](int i) { return (Slot{i} * 7919) % 200001 - 100000; }},
      {"+-2^55", [](int i) { return (i % 2 ? Slot{1} << 55 : -(Slot{1} << 55)) + (Slot{i} * 7919) % 1001; }},
  };
  for (const auto& [name, preload] : preloads) {
    std::vector<Slot> expected(kAccumulatorSlots), acc(kAccumulatorSlots);
    for (int i = 0; i < kAccumulatorSlots; ++i) expected[i] = acc[i] = preload(i);
    for (int r = 0; r < g.rows; ++r) {
      render_cells(expected.data(), f[r], cells.data() + std::size_t(r) * kCellsPerRow, g.columns);
    }
    render_cells_batched(acc.data(), f.data(), cells.data(), g.rows, g.columns, 2);
    EXPECT_EQ(acc, expected) << name;
  }
}

// Full length, with rows whose phase comes back to exactly the same values
// (rows 40, 80, ... of 200 sound at 5000, 2500, ... Hz): there the sine is
// exactly +-1 now and then and the std::sin path must be taken.
TEST(RenderBatch, FullLengthGridsTakeTheExactPathWhereTheSineIsInDoubt) {
  const std::vector<Grid> grids = {
      {"dense, full length", 199, kCellsPerRow, dense},
      {"extremes, full length", 70, kCellsPerRow, extreme},
  };
  for (const Grid& g : grids) {
    const Cells cells = cells_of(g);
    std::vector<double> f;
    for (int r = 0; r < g.rows; ++r) f.push_back(row_frequency(r + 1, 200));
    const auto expected = plain(g, cells, f);
    const std::uint64_t fallbacks_before = sin_fallback_count();
    std::vector<Slot> acc(kAccumulatorSlots, 0);
    render_cells_batched(acc.data(), f.data(), cells.data(), g.rows, g.columns, 2);
    EXPECT_EQ(acc, expected) << g.name;
    EXPECT_GT(sin_fallback_count(), fallbacks_before) << g.name;
    // Identical accumulators make identical files; say so where it counts.
    ::testing::internal::CaptureStdout();
    const bool same_wave = encode_wave(acc.data(), kCellsPerRow) == encode_wave(expected.data(), kCellsPerRow);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(same_wave) << g.name;
  }
}

TEST(RenderThreads, EnvironmentForcesTheCount) {
  const char* saved = std::getenv("GRIDWAVE_THREADS");
  const std::string old = saved != nullptr ? saved : "";
  unsetenv("GRIDWAVE_THREADS");
  const int cpus = render_threads();
  EXPECT_GE(cpus, 1);
  const std::vector<std::pair<const char*, int>> cases = {
      {"3", 3}, {"1", 1}, {"256", 256}, {"0", cpus}, {"-2", cpus}, {"257", cpus}, {"2x", cpus}, {"", cpus}};
  for (const auto& [value, expected] : cases) {
    setenv("GRIDWAVE_THREADS", value, 1);
    EXPECT_EQ(render_threads(), expected) << "'" << value << "'";
  }
  if (saved != nullptr) setenv("GRIDWAVE_THREADS", old.c_str(), 1);
  else unsetenv("GRIDWAVE_THREADS");
}

// A grid file that holds fewer rows than the row loop was told (it shrank
// after the row count was checked): the rows it holds are done and their
// stars shown, then the file is reported as too short.
TEST(RowLoop, FileShorterThanItsRowsFailsAfterTheRowsItHeld) {
  testing::ScratchDir dir;
  const std::string path = (dir / "g.grid").string();
  const int held = kBatchRows + 16;  // rows 0 ... held-1 are in the file
  const Cells cells = testing::make_cells(held, [](int r, int k) { return (r * 13 + k) % 50 - 25; });
  testing::write_bytes(path, testing::grid_bytes(held + 40, cells));
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  set_utf8_console(true);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(render_grid(acc.data(), path.c_str(), held + 40, kCellsPerRow), 1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, std::string((held - 1) / 10, '*') + "The grid file '" + path + "' is too short\n" +
                     japanese(JapaneseText::kEnding));
}

}  // namespace
}  // namespace gridwave
