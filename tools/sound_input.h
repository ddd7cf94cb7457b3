// Reading a sound file of any format libsndfile knows, mixed to one channel.
#pragma once

#include <string>
#include <vector>

namespace gridwave::tools {

struct Sound {
  int sample_rate = 0;
  // One value per frame, the channels averaged, in units of a 16-bit sample
  // (full scale is 32768) whatever the file's own sample format.
  std::vector<float> samples;
};

// Longer sounds are refused rather than risking the memory (about 50 minutes
// at 44.1 kHz).
inline constexpr long long kMaxFrames = 1LL << 27;

// Throws ToolError when the file cannot be opened, is not a sound libsndfile
// reads, holds no samples, or fails part-way.
Sound load_sound(const std::string& path);

}  // namespace gridwave::tools
