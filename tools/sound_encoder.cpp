#include "sound_encoder.h"

#include <sndfile.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tool_error.h"

namespace gridwave::tools {

namespace {

// libsndfile's virtual I/O over a ByteStore; it seeks back at the end to
// complete the header, which a plain stream could not do.
// Errors must not cross libsndfile's C frames as exceptions: they are kept
// here and reported once libsndfile returns.
struct Cursor {
  ByteStore* store;
  sf_count_t position = 0;
  std::string error;
};

sf_count_t store_length(void* user) { return static_cast<sf_count_t>(static_cast<Cursor*>(user)->store->size()); }

sf_count_t store_seek(sf_count_t offset, int whence, void* user) {
  auto* cursor = static_cast<Cursor*>(user);
  const sf_count_t base = whence == SEEK_SET   ? 0
                          : whence == SEEK_CUR ? cursor->position
                                               : static_cast<sf_count_t>(cursor->store->size());
  if (base + offset < 0) return -1;
  return cursor->position = base + offset;
}

sf_count_t store_read(void* data, sf_count_t count, void* user) {
  auto* cursor = static_cast<Cursor*>(user);
  const sf_count_t size = static_cast<sf_count_t>(cursor->store->size());
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - cursor->position));
  try {
    if (n > 0) cursor->store->read_at(cursor->position, data, n);
  } catch (const std::exception& e) {
    cursor->error = e.what();
    return 0;
  }
  cursor->position += n;
  return n;
}

sf_count_t store_write(const void* data, sf_count_t count, void* user) {
  auto* cursor = static_cast<Cursor*>(user);
  try {
    cursor->store->write_at(cursor->position, data, count);
  } catch (const std::exception& e) {
    cursor->error = e.what();
    return 0;
  }
  cursor->position += count;
  return count;
}

sf_count_t store_tell(void* user) { return static_cast<Cursor*>(user)->position; }

int sndfile_format(const PictureSoundOptions& options) {
  const int container = options.container == SoundContainer::kFlac ? SF_FORMAT_FLAC : SF_FORMAT_WAV;
  switch (options.sample_format) {
    case SampleFormat::kInt24: return container | SF_FORMAT_PCM_24;
    case SampleFormat::kFloat: return container | SF_FORMAT_FLOAT;
    case SampleFormat::kInt16: break;
  }
  return container | SF_FORMAT_PCM_16;
}

}  // namespace

void encode_sound(const ByteStore& samples, std::int64_t frames, float gain, const PictureSoundOptions& options,
                  ByteStore& out, const std::function<void(double)>& progress) {
  SF_VIRTUAL_IO io{store_length, store_seek, store_read, store_write, store_tell};
  Cursor cursor{&out, 0, {}};
  SF_INFO info{};
  info.samplerate = options.sample_rate;
  info.channels = 1;
  info.format = sndfile_format(options);
  if (!sf_format_check(&info)) throw ToolError("this sample format cannot be stored in this kind of file");
  std::unique_ptr<SNDFILE, decltype(&sf_close)> file(sf_open_virtual(&io, SFM_WRITE, &info, &cursor), sf_close);
  if (!file) throw ToolError(std::string("cannot encode the sound: ") + sf_strerror(nullptr));
  // Samples are scaled below full scale already; clipping only guards rounding.
  sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

  constexpr std::int64_t kBlock = 1 << 16;
  std::vector<float> block(kBlock);
  for (std::int64_t done = 0; done < frames;) {
    const std::int64_t n = std::min(kBlock, frames - done);
    samples.read_at(static_cast<std::uint64_t>(done) * sizeof(float), block.data(), n * sizeof(float));
    for (std::int64_t i = 0; i < n; ++i) block[i] *= gain;
    if (sf_writef_float(file.get(), block.data(), n) != n || !cursor.error.empty())
      throw ToolError(cursor.error.empty() ? std::string("cannot encode the sound: ") + sf_strerror(file.get())
                                           : cursor.error);
    done += n;
    if (progress) progress(static_cast<double>(done) / frames);
  }
  if (sf_close(file.release()) != 0 || !cursor.error.empty())
    throw ToolError(cursor.error.empty() ? "cannot finish encoding the sound" : cursor.error);
}

}  // namespace gridwave::tools
