// Reading a sound file held in memory (any format libsndfile reads), for
// drawing the spectrogram of a sound that never touches the disk.
#pragma once

#include <vector>

#include "sound_input.h"

namespace gridwave::studio {

// Throws tools::ToolError when libsndfile cannot read the bytes.
tools::Sound decode_sound(const std::vector<unsigned char>& bytes);

}  // namespace gridwave::studio
