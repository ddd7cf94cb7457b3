#include "sound_encoder.h"

#include <sndfile.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "store_sound_io.h"
#include "tool_error.h"

namespace gridwave::tools {

namespace {

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
  SF_VIRTUAL_IO io = store_sound_io();
  StoreCursor cursor{&out, 0, {}};
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
