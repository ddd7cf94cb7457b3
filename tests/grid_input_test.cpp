#include <gtest/gtest.h>

#include <string>

#include "grid_input.h"
#include "test_support.h"

namespace gridwave {
namespace {

TEST(GridInput, ReadsLittleEndianCellsInOrder) {
  testing::ScratchDir dir;
  const auto path = dir / "g";
  testing::write_bytes(path, {0x02, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80,
                              0x78, 0x56, 0x34, 0x12});
  ASSERT_EQ(open_input(path.c_str()), 0);
  std::int32_t v = 0;
  ASSERT_EQ(read_cell(v), 0);
  EXPECT_EQ(v, 2);
  std::int32_t cells[3];
  ASSERT_EQ(read_cells(cells, 3), 0);
  EXPECT_EQ(cells[0], -1);
  EXPECT_EQ(cells[1], INT32_MIN);
  EXPECT_EQ(cells[2], 0x12345678);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(read_cell(v), 1);
  close_input();
  EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("The grid file '" + path.string() + "' is too short\n", 0), 0u);
}

TEST(GridInput, BytesNeededCountsEveryRowIn64Bits) {
  EXPECT_EQ(grid_bytes_needed(-3), 4);
  EXPECT_EQ(grid_bytes_needed(1), 4);
  EXPECT_EQ(grid_bytes_needed(2), 1604);
  EXPECT_EQ(grid_bytes_needed(INT32_MAX), 4 + 800 * std::int64_t{INT32_MAX});
}

}  // namespace
}  // namespace gridwave
