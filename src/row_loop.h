// The driver's row loop: rows 1 ... rows-1 of the grid file rendered into the
// accumulator, with a progress star after every tenth row.
#pragma once

#include <cstdint>

#include "accumulator.h"
#include "constants.h"
#include "exact_arithmetic.h"

namespace gridwave {

// Reads the rows in one pass, a batch at a time, while every core renders
// the batches before; a batch's stars follow once it is done. A file that
// turns out shorter than announced (it changed after the row count was read)
// fails after the stars of the rows it still held, just as rendering row by
// row would. Renders `columns` columns (at most kCellsPerRow). Returns 1 when
// the file cannot be opened again or is too short (the reason has been
// printed), 0 otherwise.
int render_grid(Accumulator& accumulator, const char* path, std::int32_t rows, int columns);
// The same into slots that may hold anything.
int render_grid(Slot* accumulator, const char* path, std::int32_t rows, int columns);

}  // namespace gridwave
