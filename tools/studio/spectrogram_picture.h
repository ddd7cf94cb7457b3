// The labelled spectrogram of a sound file held in memory, as the page shows
// it.
#pragma once

#include <string>
#include <vector>

namespace gridwave::studio {

// Draws the sound (WAV bytes) from low_hz to high_hz on a log or linear axis.
std::vector<unsigned char> spectrogram_picture(const std::vector<unsigned char>& sound, double low_hz, double high_hz,
                                               bool linear, const std::string& title);

}  // namespace gridwave::studio
