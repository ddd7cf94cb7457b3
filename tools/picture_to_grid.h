// Turning a picture into grid cells: the picture is resampled to the grid's
// columns (and optionally to a chosen number of rows) by area averaging, and
// each cell's brightness becomes a level.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "grid_output.h"
#include "image_input.h"
#include "level_defaults.h"

namespace gridwave::tools {

struct CellMapping {
  bool linear = false;       // brightness -> amplitude; otherwise brightness -> decibels
  double range_db = kDefaultRangeDb;  // brightness 0 ... 1 spans this many decibels below the top
  std::int32_t max_cell = kDefaultMaxCell;  // the value of full brightness
  bool invert = false;       // dark pixels loud, bright ones silent
};

// Gain (0 ... 1) for a brightness in 0 ... 1. Black is always silent (0);
// in decibels, brightness b sounds (1 - b) * range_db below full level.
double gain_for_brightness(double brightness, bool linear, double range_db, bool invert);

// Cell value for a brightness: its gain times max_cell, rounded.
std::int32_t cell_for_brightness(double brightness, const CellMapping& mapping);

// Averages source values into `count` equal parts: output i is the mean of
// the source over [i * n / count, (i + 1) * n / count), partial pixels
// weighted by how much of them falls inside.
std::vector<double> area_resample(const std::vector<double>& source, int count);

// The picture's brightness resampled to rows x columns by area averaging,
// row by row from the top.
std::vector<double> resample_brightness(const LumaImage& image, int rows, int columns);

// Picture rows img2grid makes by default: the most that gridwave's own
// synthesis draws without interference arcs in the spectrogram tool's default
// view. Measured on a flat grey picture: the lightness along each row of that
// view varies by 0.009 (standard deviation, 0 ... 1 scale) at 50 rows, 0.023
// at 70, 0.031 at 80 (short dashes), 0.039 at 90 where curved arcs first
// show, 0.048 at 100 and 0.114 at 200. Neighbouring rows closer than a 91 ms
// column resolves beat against each other; all rows start in phase, so the
// beats line up into arcs.
inline constexpr int kDefaultPictureRows = 80;

// The grid for an image: rows 1 ... H from the image's top row down (so the
// top of the picture sounds highest), row 0 silent, 200 columns. The picture
// is resampled to H = height rows (default kDefaultPictureRows).
Grid picture_to_grid(const LumaImage& image, std::optional<int> height, const CellMapping& mapping);

}  // namespace gridwave::tools
