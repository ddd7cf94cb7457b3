// Numbers shared by the whole program: timing, the grid layout, the pitch
// scale and the sample accumulator.
#pragma once

#include <cstdint>

namespace gridwave {

// One accumulator slot per sample. 64 bits wide so that sums of very loud
// rows never wrap; the save phase scales them down to 16 bits.
using Slot = std::int64_t;

inline constexpr int kSampleRate = 44100;
inline constexpr int kSamplesPerColumn = 4010;  // not 4410: a column lasts ~90.9 ms

// Grid file: a 4-byte row count, then rows of 200 little-endian int32 cells,
// a row's amplitude in each of the sound's 200 columns of time.
inline constexpr int kCellsPerRow = 200;
inline constexpr int kCellBytes = 4;
inline constexpr std::int64_t kRowBytes = std::int64_t{kCellsPerRow} * kCellBytes;

inline constexpr int kSampleCount = kSamplesPerColumn * kCellsPerRow;  // 802,000
inline constexpr int kAccumulatorSlots = 882000;  // one second more than is ever used

// The largest row count whose sums always stay where the conversion of a
// double to a 64-bit slot is defined (below 2^63): each of the rows 1 ... c-1
// adds at most |INT32_MIN| * 100 to a slot, and 42,949,672 such rows stay
// below 2^63 with a wide margin for rounding.
inline constexpr std::int32_t kMaxRowCount = 42'949'673;

// Pitch scale and oscillator.
inline constexpr double kTopFrequency = 10000.0;  // what row 0 would sound at
inline constexpr double kSpanOctaves = 5.0;       // row c would sound at 312.5 Hz
inline constexpr double kFullCircle = 6.2831853072;  // this decimal, not exactly 2*pi
inline constexpr double kCellGain = 100.0;

// Adds one row's contribution s to a slot: the sum is taken in double and
// truncated toward zero, so every row loses up to one unit on its own.
inline Slot accumulate(Slot slot, double s) {
  return static_cast<Slot>(static_cast<double>(slot) + s);
}

}  // namespace gridwave
