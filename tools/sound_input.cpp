#include "sound_input.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "tool_error.h"

namespace gridwave::tools {

namespace {

struct CloseSound {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

}  // namespace

Sound load_sound(const std::string& path) {
  // libsndfile's own message for a missing file is long-winded; say it plainly.
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw ToolError("cannot read " + quoted(path) + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw ToolError("cannot read " + quoted(path) + ": " + std::strerror(EISDIR));

  SF_INFO info{};
  std::unique_ptr<SNDFILE, CloseSound> file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw ToolError(quoted(path) + " is not a readable sound file: " + sf_strerror(nullptr));
  if (info.channels < 1 || info.samplerate < 1)
    throw ToolError(quoted(path) + " is not a readable sound file: no channels or no sample rate");
  if (info.frames > kMaxFrames)
    throw ToolError(quoted(path) + " is too long (more than " + std::to_string(kMaxFrames) + " frames)");

  Sound sound{info.samplerate, {}};
  // libsndfile scales every format to -1 ... 1 when reading doubles.
  const double scale = 32768.0 / info.channels;
  constexpr sf_count_t kChunkFrames = 8192;
  std::vector<double> chunk(static_cast<std::size_t>(kChunkFrames) * info.channels);
  for (;;) {
    const sf_count_t got = sf_readf_double(file.get(), chunk.data(), kChunkFrames);
    if (got <= 0) break;
    for (sf_count_t f = 0; f < got; ++f) {
      double sum = 0.0;
      for (int c = 0; c < info.channels; ++c) sum += chunk[f * info.channels + c];
      const float value = static_cast<float>(sum * scale);
      // A float file may hold NaN or infinity; they carry no level.
      sound.samples.push_back(std::isfinite(value) ? value : 0.0f);
    }
    if (static_cast<long long>(sound.samples.size()) > kMaxFrames)
      throw ToolError(quoted(path) + " is too long (more than " + std::to_string(kMaxFrames) + " frames)");
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR)
    throw ToolError("cannot read " + quoted(path) + ": " + sf_strerror(file.get()));
  if (sound.samples.empty()) throw ToolError(quoted(path) + " holds no samples");
  return sound;
}

}  // namespace gridwave::tools
