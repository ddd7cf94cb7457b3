// The WAV file for a grid held in memory: the very bytes gridwave writes for
// the same grid, with no console text and no file.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace gridwave {

// Renders rows 1 ... rows-1 of the grid and encodes the sound as a WAV file.
// cells holds rows * 200 cells, row 0 included (it is never sounded), row
// after row; cells beyond those are ignored. A row count of 1 or less gives
// silence (cells may then be empty). threads: render threads, 0 or less for
// as many as the CPUs this process may use. loud_samples, unless null,
// receives how many samples are above 32760 in magnitude (gridwave prints
// "Error" for each).
//
// Throws std::invalid_argument when cells holds fewer than rows * 200 values
// or rows is above kMaxRowCount, and std::bad_alloc when memory runs out.
std::vector<unsigned char> render_grid_wave(std::int32_t rows, std::span<const std::int32_t> cells, int threads,
                                            std::int64_t* loud_samples = nullptr);

}  // namespace gridwave
