// What the tests use to reach inside the console; the program needs none of it.
#pragma once

namespace gridwave {

// Forces the encoding of the Japanese texts, whatever the locale.
void set_utf8_console(bool utf8);

}  // namespace gridwave
