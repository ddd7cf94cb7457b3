#include "console.h"
#include "console_testing.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>

namespace gridwave {
namespace {

bool utf8_console = false;
bool flush_each_text = false;

struct Encoded {
  const char* shift_jis;
  const char* utf8;
};

// Shift-JIS (code page 932) bytes of the same texts, for consoles that are
// not UTF-8 (the C locale included).
constexpr Encoded kTexts[] = {
    {"\x83p\x83\x89\x83\x81\x81[\x83^\x81[\x82\xaa\x88\xd9\x8f\xed\x82\xc5\x82\xb7\x81"
     "B",
     "パラメーターが異常です。"},
    {"\x8f\x88\x97\x9d\x82\xf0\x8fI\x97\xb9\x82\xb5\x82\xdc\x82\xb7\x81"
     "B\n\x89\xbd\x82\xa9\x83L\x81[\x82\xf0\x89\x9f\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81"
     "B\n",
     "処理を終了します。\n何かキーを押してください。\n"},
    {"\x8f\x88\x97\x9d\x82\xf0\x8aJ\x8en\x82\xb5\x82\xdc\x82\xb7\n", "処理を開始します\n"},
    {"\n\x8f\x88\x97\x9d\x82\xf0\x8fI\x97\xb9\x82\xb5\x82\xdc\x82\xb7\n", "\n処理を終了します\n"},
    {"\n\x95\xdb\x91\xb6\x82\xc9\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd\n",
     "\n保存に失敗しました\n"},
};

}  // namespace

void console_init() {
  std::setlocale(LC_CTYPE, "");
  utf8_console = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  flush_each_text = isatty(STDOUT_FILENO) == 1;
}

void set_utf8_console(bool utf8) { utf8_console = utf8; }

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  if (flush_each_text) std::fflush(stdout);
}

const char* japanese(JapaneseText text) {
  const Encoded& e = kTexts[static_cast<int>(text)];
  return utf8_console ? e.utf8 : e.shift_jis;
}

}  // namespace gridwave
