// Reading sounds of any format libsndfile knows: a file read in blocks where
// they are needed (never whole, so any length fits in bounded memory), or a
// sound already in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gridwave::tools {

// Sample rates the tools show sensibly. Far outside this range a header is
// more likely broken than real, and the analysis windows, which are a fixed
// duration, would cost in proportion to the rate.
inline constexpr int kMinSampleRate = 1000;
inline constexpr int kMaxSampleRate = 768000;

// Where samples come from. Values are in full-scale units (a full-scale sine
// peaks at 1), whatever the file's own sample format; NaN and infinity read
// as 0 (they carry no level); frames outside 0 ... frames() - 1 read as
// silence.
class SoundSource {
 public:
  virtual ~SoundSource() = default;
  int sample_rate() const { return sample_rate_; }
  int channels() const { return channels_; }
  std::int64_t frames() const { return frames_; }
  // Reads `count` frames from frame `first` into out, interleaved
  // (count * channels() values). Throws ToolError when the file fails.
  virtual void read(std::int64_t first, std::int64_t count, float* out) = 0;

 protected:
  int sample_rate_ = 0;
  int channels_ = 0;
  std::int64_t frames_ = 0;
};

// A sound file, opened for reading. Throws ToolError when the file cannot be
// opened, is not a sound libsndfile reads, holds no samples, or has a sample
// rate outside kMinSampleRate ... kMaxSampleRate.
std::unique_ptr<SoundSource> open_sound(const std::string& path);

// Interleaved samples in memory (full scale 1); the source refers to them,
// it does not copy them. Throws ToolError for an empty sound, a channel
// count below 1 or a sample rate outside the range above.
std::unique_ptr<SoundSource> sound_in_memory(const float* interleaved, std::int64_t frames, int channels,
                                             int sample_rate);

struct Sound {
  int sample_rate = 0;
  // One value per frame, the channels averaged, full scale 1.
  std::vector<float> samples;
};

// The first `max_frames` frames (or all, if fewer) mixed to one channel.
Sound read_mixed(SoundSource& source, std::int64_t max_frames);

}  // namespace gridwave::tools
