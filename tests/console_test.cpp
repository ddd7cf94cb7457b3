#include "console.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "console_testing.h"

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

}  // namespace
}  // namespace gridwave
