#include "memory_sound.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tool_error.h"

namespace gridwave::studio {

namespace {

// libsndfile's virtual I/O over a byte vector, read only.
struct Reader {
  const std::vector<unsigned char>& bytes;
  sf_count_t position = 0;
};

sf_count_t get_length(void* user) { return static_cast<sf_count_t>(static_cast<Reader*>(user)->bytes.size()); }

sf_count_t seek(sf_count_t offset, int whence, void* user) {
  auto* r = static_cast<Reader*>(user);
  const sf_count_t size = static_cast<sf_count_t>(r->bytes.size());
  sf_count_t target = whence == SEEK_SET ? offset : whence == SEEK_CUR ? r->position + offset : size + offset;
  r->position = std::clamp<sf_count_t>(target, 0, size);
  return r->position;
}

sf_count_t read(void* destination, sf_count_t count, void* user) {
  auto* r = static_cast<Reader*>(user);
  const sf_count_t n = std::min(count, static_cast<sf_count_t>(r->bytes.size()) - r->position);
  std::memcpy(destination, r->bytes.data() + r->position, static_cast<std::size_t>(n));
  r->position += n;
  return n;
}

sf_count_t write(const void*, sf_count_t, void*) { return 0; }

sf_count_t tell(void* user) { return static_cast<Reader*>(user)->position; }

}  // namespace

tools::Sound decode_sound(const std::vector<unsigned char>& bytes) {
  Reader reader{bytes};
  SF_VIRTUAL_IO io{get_length, seek, read, write, tell};
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> file(sf_open_virtual(&io, SFM_READ, &info, &reader), sf_close);
  if (!file) throw tools::ToolError(std::string("cannot read the rendered sound: ") + sf_strerror(nullptr));
  const std::size_t frames = static_cast<std::size_t>(info.frames);
  std::vector<float> interleaved(frames * static_cast<std::size_t>(info.channels));
  sf_readf_float(file.get(), interleaved.data(), info.frames);

  tools::Sound sound;
  sound.sample_rate = info.samplerate;
  sound.samples.resize(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    float sum = 0;
    for (int c = 0; c < info.channels; ++c) sum += interleaved[i * info.channels + c];
    sound.samples[i] = sum / static_cast<float>(info.channels) * 32768.0f;
  }
  return sound;
}

}  // namespace gridwave::studio
