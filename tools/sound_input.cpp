#include "sound_input.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "tool_error.h"

namespace gridwave::tools {

namespace {

void check_sample_rate(const std::string& name, long long rate) {
  if (rate < kMinSampleRate || rate > kMaxSampleRate)
    throw ToolError(name + " has a sample rate of " + std::to_string(rate) + " Hz; sounds of " +
                    std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate) +
                    " Hz can be shown");
}

float clean(float value) { return std::isfinite(value) ? value : 0.0f; }

class SoundFile final : public SoundSource {
 public:
  explicit SoundFile(const std::string& path) : path_(path) {
    // libsndfile's own message for a missing file is long-winded; say it plainly.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw ToolError("cannot read " + quoted(path) + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw ToolError("cannot read " + quoted(path) + ": " + std::strerror(EISDIR));
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr) throw ToolError(quoted(path) + " is not a readable sound file: " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1) {
      sf_close(file_);
      throw ToolError(quoted(path) + " is not a readable sound file: no channels or no sample rate");
    }
    if (info.frames <= 0) {
      sf_close(file_);
      throw ToolError(quoted(path) + " holds no samples");
    }
    try {
      check_sample_rate(quoted(path), info.samplerate);
    } catch (...) {
      sf_close(file_);
      throw;
    }
    sample_rate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    seekable_ = info.seekable != 0;
  }
  ~SoundFile() override { sf_close(file_); }

  void read(std::int64_t first, std::int64_t count, float* out) override {
    const std::int64_t begin = std::clamp<std::int64_t>(first, 0, frames_);
    const std::int64_t end = std::clamp<std::int64_t>(first + count, begin, frames_);
    std::fill(out, out + count * channels_, 0.0f);
    if (begin == end) return;
    if (begin != position_) {
      if (!seekable_ || sf_seek(file_, begin, SEEK_SET) != begin)
        throw ToolError("cannot read " + quoted(path_) + ": " + sf_strerror(file_));
      position_ = begin;
    }
    float* target = out + (begin - first) * channels_;
    const sf_count_t got = sf_readf_float(file_, target, end - begin);
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR)
      throw ToolError("cannot read " + quoted(path_) + ": " + sf_strerror(file_));
    // A file shorter than its header says ends in silence.
    position_ = begin + got;
    for (std::int64_t i = 0; i < got * channels_; ++i) target[i] = clean(target[i]);
  }

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
  bool seekable_ = false;
  std::int64_t position_ = 0;
};

class MemorySound final : public SoundSource {
 public:
  MemorySound(const float* samples, std::int64_t frames, int channels, int rate) : samples_(samples) {
    if (channels < 1) throw ToolError("a sound needs at least one channel");
    if (frames < 1) throw ToolError("the sound holds no samples");
    check_sample_rate("the sound", rate);
    sample_rate_ = rate;
    channels_ = channels;
    frames_ = frames;
  }
  void read(std::int64_t first, std::int64_t count, float* out) override {
    for (std::int64_t f = 0; f < count; ++f) {
      const std::int64_t frame = first + f;
      for (int c = 0; c < channels_; ++c)
        out[f * channels_ + c] = frame >= 0 && frame < frames_ ? clean(samples_[frame * channels_ + c]) : 0.0f;
    }
  }

 private:
  const float* samples_;
};

}  // namespace

std::unique_ptr<SoundSource> open_sound(const std::string& path) { return std::make_unique<SoundFile>(path); }

std::unique_ptr<SoundSource> sound_in_memory(const float* interleaved, std::int64_t frames, int channels,
                                             int sample_rate) {
  return std::make_unique<MemorySound>(interleaved, frames, channels, sample_rate);
}

Sound read_mixed(SoundSource& source, std::int64_t max_frames) {
  Sound sound{source.sample_rate(), {}};
  const std::int64_t total = std::min(max_frames, source.frames());
  sound.samples.reserve(static_cast<std::size_t>(total));
  constexpr std::int64_t kBlockFrames = 8192;
  const int channels = source.channels();
  std::vector<float> block(static_cast<std::size_t>(kBlockFrames * channels));
  for (std::int64_t first = 0; first < total; first += kBlockFrames) {
    const std::int64_t count = std::min(kBlockFrames, total - first);
    source.read(first, count, block.data());
    for (std::int64_t f = 0; f < count; ++f) {
      // Summed in double: finite samples as large as 3e38 must not overflow.
      double sum = 0.0;
      for (int c = 0; c < channels; ++c) sum += block[f * channels + c];
      sound.samples.push_back(static_cast<float>(sum / channels));
    }
  }
  return sound;
}

}  // namespace gridwave::tools
