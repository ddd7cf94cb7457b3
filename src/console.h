// Everything the program says goes to standard output through say(); the
// Japanese texts come in the console's encoding.
#pragma once

namespace gridwave {

enum class JapaneseText {
  kBadParameters,  // "the parameters are wrong", no line end
  kEnding,         // "ending the processing; press any key", two lines
  kStarting,       // "starting the processing"
  kFinished,       // "the processing has ended", the closing line after a save
  kSaveFailed,     // "saving failed"
};

// Reads the locale (UTF-8 console or not) and whether standard output is a
// terminal. Call once before printing.
void console_init();

// printf to standard output; flushed at once when that is a terminal, so each
// progress star shows the moment its row is done.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text as UTF-8 on a UTF-8 console, otherwise as Shift-JIS bytes.
const char* japanese(JapaneseText text);

}  // namespace gridwave
