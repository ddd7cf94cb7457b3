// The row loop as first written: every row rendered on its own by
// render_row, which reopens the grid file and reads it from the start.
// gridwave_plain is the program built around it; compare.sh times gridwave
// against it.
#include "console.h"
#include "row_loop.h"
#include "tone.h"

namespace gridwave {

int render_grid(Slot* accumulator, const char* path, std::int32_t rows, std::int32_t length, bool) {
  for (std::int32_t d = 1; d < rows; ++d) {
    if (render_row(accumulator, row_frequency(d, rows), length, d, path) != 0) return 1;
    if (d % 10 == 0) say("*");
  }
  return 0;
}

}  // namespace gridwave
