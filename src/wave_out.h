// The save phase: the accumulator scaled to 16 bits and saved as a mono
// 16-bit PCM WAV file at 44.1 kHz.
#pragma once

#include <cstdint>
#include <vector>

#include "constants.h"

namespace gridwave {

inline constexpr int kWaveHeaderBytes = 44;

// The whole WAV file for the first columns * 4010 slots: the header,
// then the samples, scaled down when the peak is above 32768 so that it lands
// near 32000. Prints nothing; loud_samples, unless null, receives how many
// samples are above 32760 in magnitude (write_wave prints "Error" for each).
std::vector<unsigned char> encode_wave(const Slot* accumulator, int columns, std::int64_t* loud_samples = nullptr);

// Encodes and saves the WAV file at path; 0 when saved. On failure prints why
// ("was not opened" or "could not be written") and returns 1; the path then
// keeps whatever it held before.
int write_wave(const Slot* accumulator, int columns, const char* path);

// write_wave followed by the closing line; returns the run's exit status.
int save_phase(const Slot* accumulator, int columns, const char* path);

}  // namespace gridwave
