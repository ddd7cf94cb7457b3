#include "plain_row_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console.h"
#include "constants.h"
#include "test_support.h"
#include "tone.h"

namespace gridwave {
namespace {

using testing::Cells;

std::vector<Slot> render(const Cells& cells, double frequency) {
  std::vector<Slot> acc(kAccumulatorSlots, 0);
  render_cells(acc.data(), frequency, cells.data(), static_cast<int>(cells.size()));
  return acc;
}

class RenderRowFile : public ::testing::Test {
 protected:
  testing::ScratchDir dir;
  std::string grid = (dir / "g.grid").string();
  std::vector<Slot> acc = std::vector<Slot>(kAccumulatorSlots, 0);
};

TEST_F(RenderRowFile, ReadsItsOwnRowAndNothingElse) {
  // Row r holds the value r in every cell: row 2 must sound with amplitude 2.
  testing::write_bytes(grid, testing::grid_bytes(3, testing::make_cells(3, [](int r, int) { return r; })));
  ASSERT_EQ(render_row(acc.data(), 1500.0, kCellsPerRow, 2, grid.c_str()), 0);
  EXPECT_EQ(acc, render(Cells(200, 2), 1500.0));
}

TEST_F(RenderRowFile, NoColumnsRenderNothing) {
  testing::write_bytes(grid, testing::grid_bytes(2, Cells(400, 9)));
  ASSERT_EQ(render_row(acc.data(), 1500.0, 0, 1, grid.c_str()), 0);
  EXPECT_TRUE(std::all_of(acc.begin(), acc.end(), [](Slot s) { return s == 0; }));
}

TEST_F(RenderRowFile, MissingOrShortFileFails) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(render_row(acc.data(), 1500.0, kCellsPerRow, 1, (dir / "none").c_str()), 1);
  testing::write_bytes(grid, testing::grid_bytes(2, Cells(399, 9)));
  EXPECT_EQ(render_row(acc.data(), 1500.0, kCellsPerRow, 1, grid.c_str()), 1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Cannot open file\n"), std::string::npos);
  EXPECT_NE(out.find("The grid file '" + grid + "' is too short\n"), std::string::npos);
}

// The loop renders rows 1 ... rows-1 with a star after every tenth row, and
// stops at the first row it cannot read.
TEST_F(RenderRowFile, LoopRendersEveryRowButRowZero) {
  const Cells cells = testing::make_cells(12, [](int r, int k) { return r == 0 ? 5000 : (r * 3 + k) % 9 - 4; });
  testing::write_bytes(grid, testing::grid_bytes(12, cells));
  std::vector<Slot> expected(kAccumulatorSlots, 0);
  for (int d = 1; d < 12; ++d) render_cells(expected.data(), row_frequency(d, 12), cells.data() + d * 200, 200);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(render_grid_row_by_row(acc.data(), grid.c_str(), 12, kCellsPerRow), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "*");
  EXPECT_EQ(acc, expected);

  testing::write_bytes(grid, testing::grid_bytes(12, Cells(cells.begin(), cells.begin() + 11 * 200)));
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(render_grid_row_by_row(acc.data(), grid.c_str(), 12, kCellsPerRow), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "*The grid file '" + grid + "' is too short\n" + japanese(JapaneseText::kEnding));
}

}  // namespace
}  // namespace gridwave
