#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "console.h"
#include "grid_input.h"
#include "test_support.h"

namespace gridwave {
namespace {

std::string to_shift_jis(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in = utf8, out(utf8.size() * 2, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  EXPECT_NE(iconv(cd, &src, &src_left, &dst, &dst_left), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

TEST(Console, ShiftJisTextsMatchTheirUtf8Twins) {
  for (auto text : {JapaneseText::kBadParameters, JapaneseText::kEnding, JapaneseText::kStarting,
                    JapaneseText::kFinished, JapaneseText::kSaveFailed}) {
    set_utf8_console(true);
    const std::string utf8 = japanese(text);
    set_utf8_console(false);
    EXPECT_EQ(japanese(text), to_shift_jis(utf8)) << utf8;
  }
}

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
