// The plain row loop: every row read from the grid file and rendered on its
// own, one after another. Slow (each row reopens the file and reads past the
// rows before it, and renders sample by sample) but plainly right: it is the
// reference that the program's batched row loop (row_loop.h) is measured and
// tested against, by gridwave_plain, the fuzzer and the tests.
#pragma once

#include <cstdint>

#include "accumulator.h"
#include "constants.h"

namespace gridwave {

// Reads row d of the grid file at path and adds its tone at this frequency
// into the accumulator, for `columns` columns (at most kCellsPerRow). Returns
// 1 (the input stream has printed why) when the file cannot be opened or is
// too short.
int render_row(Slot* accumulator, double frequency, int columns, std::int32_t d, const char* path);

// Rows 1 ... rows-1 through render_row, with a progress star after every
// tenth row. Takes the same arguments as render_grid, so that either can be
// the program's row loop.
int render_grid_row_by_row(Accumulator& accumulator, const char* path, std::int32_t rows, int columns);
// The same into slots that may hold anything.
int render_grid_row_by_row(Slot* accumulator, const char* path, std::int32_t rows, int columns);

}  // namespace gridwave
