// The program's run sequence: arguments, banner, row count, row loop with its
// progress stars, save phase, exit status.
#pragma once

#include <cstdint>

#include "accumulator.h"

namespace gridwave {

// A row loop: renders rows 1 ... rows-1 of the grid file at path, `columns`
// columns of each, into the accumulator, with a progress star after every
// tenth row; returns 1 when it failed (having printed why). render_grid
// (row_loop.h) is the program's; render_grid_row_by_row (plain_row_loop.h)
// the plain reference.
using RowLoop = int (*)(Accumulator& accumulator, const char* path, std::int32_t rows, int columns);

// argc counts the program's own name, so a correct call has 4: Input (the
// grid file), Output (the WAV file) and Source (only echoed). Renders with
// row_loop.
int run(int argc, char** argv, RowLoop row_loop);

}  // namespace gridwave
