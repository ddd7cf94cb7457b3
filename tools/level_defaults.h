// Defaults shared by the tools that turn pictures into grids and sounds back
// into grids and pictures, so that their default views match.
#pragma once

#include <cstdint>

namespace gridwave::tools {

// The largest cell value by default. A cell of 1000 sounds at an amplitude
// of 100,000, so even a single bright row makes gridwave scale the sum down
// to full scale rather than leave it quiet; and 1 ... 1000 gives a 60 dB
// range of distinct levels. Many bright rows sounding together only make
// the scale-down deeper: gridwave scales by the peak, so nothing clips.
inline constexpr std::int32_t kDefaultMaxCell = 1000;

// Decibels from full brightness down to the darkest grey above black.
inline constexpr double kDefaultRangeDb = 60.0;

}  // namespace gridwave::tools
