// The grid file and the one input stream through which it is read.
//
// Layout: a little-endian int32 row count c, then rows 0 ... c-1 of 200
// little-endian int32 cells each, in time order. Anything after the last row
// is ignored. Every reader opens the file, reads it from the start in order
// and closes it again; only one grid file is open at a time.
#pragma once

#include <cstdint>

namespace gridwave {

// Opens the grid file as the input stream. A path that cannot be opened or
// is not a regular file prints "Cannot open file" and the ending text, and
// returns 1.
int open_input(const char* path);

// Reads the next cell (or the row count) into destination. When the file ends
// first it prints that the grid file is too short and returns 1.
int read_cell(std::int32_t& destination);

// Reads count cells in one go; fails like read_cell.
int read_cells(std::int32_t* destination, std::int64_t count);

// Reads up to `rows` whole rows (kCellsPerRow cells each) and returns how many
// it read in full. Prints nothing, so that a caller can first finish the rows
// it got and then call report_short_grid().
int read_rows(std::int32_t* destination, int rows);

// Prints that the grid file is too short, with the ending text; returns 1.
int report_short_grid();

// Reads past count cells; fails like read_cell.
int skip_cells(std::int64_t count);

// Checks that the open file is long enough to hold every row of a grid with
// this row count (just the row count when it is 1 or less). Prints the
// too-short message and returns 1 when it is not.
int check_grid_length(std::int32_t rows);

// Checks that the rows' sums stay within what a slot can hold (the row count
// is at most kMaxRowCount). Prints why and returns 1 when they may not.
int check_row_count(std::int32_t rows);

// Bytes a grid with this row count needs, row count included.
std::int64_t grid_bytes_needed(std::int32_t rows);

void close_input();

}  // namespace gridwave
