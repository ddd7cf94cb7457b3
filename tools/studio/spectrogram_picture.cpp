#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "spectrogram_picture.h"
#include "spectrogram_render.h"
#include "tool_error.h"

namespace gridwave::studio {

namespace {

// The plot area of the page's spectrogram. With the axes, colour bar and
// title around it the picture is about 870 x 370 pixels, the width the page
// gives it at 1280 pixels, so it is shown unscaled; and a default render
// stays well under a second.
constexpr int kPlotWidth = 700;
constexpr int kPlotHeight = 300;

// libsndfile's virtual I/O over bytes in memory, for reading only.
struct Reader {
  const std::vector<unsigned char>& bytes;
  sf_count_t position = 0;
};

sf_count_t reader_length(void* user) { return static_cast<sf_count_t>(static_cast<Reader*>(user)->bytes.size()); }

sf_count_t reader_seek(sf_count_t offset, int whence, void* user) {
  auto* r = static_cast<Reader*>(user);
  const sf_count_t size = static_cast<sf_count_t>(r->bytes.size());
  const sf_count_t target = whence == SEEK_SET ? offset : whence == SEEK_CUR ? r->position + offset : size + offset;
  r->position = std::clamp<sf_count_t>(target, 0, size);
  return r->position;
}

sf_count_t reader_read(void* destination, sf_count_t count, void* user) {
  auto* r = static_cast<Reader*>(user);
  const sf_count_t n = std::min(count, static_cast<sf_count_t>(r->bytes.size()) - r->position);
  std::memcpy(destination, r->bytes.data() + r->position, static_cast<std::size_t>(n));
  r->position += n;
  return n;
}

sf_count_t reader_write(const void*, sf_count_t, void*) { return 0; }

sf_count_t reader_tell(void* user) { return static_cast<Reader*>(user)->position; }

}  // namespace

std::vector<unsigned char> spectrogram_picture(const std::vector<unsigned char>& sound, double low_hz, double high_hz,
                                               bool linear, const std::string& title) {
  Reader reader{sound};
  SF_VIRTUAL_IO io{reader_length, reader_seek, reader_read, reader_write, reader_tell};
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> file(sf_open_virtual(&io, SFM_READ, &info, &reader), sf_close);
  if (!file) throw tools::ToolError(std::string("cannot read the rendered sound: ") + sf_strerror(nullptr));
  std::vector<float> samples(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
  const sf_count_t frames = sf_readf_float(file.get(), samples.data(), info.frames);

  tools::SpectrogramOptions options;
  options.width = kPlotWidth;
  options.height = kPlotHeight;
  options.low_hz = low_hz;
  options.high_hz = high_hz;
  options.scale = linear ? tools::FrequencyScale::kLinear : tools::FrequencyScale::kLog;
  options.title = title;
  return tools::render_spectrogram_png(samples.data(), frames, info.channels, info.samplerate, options);
}

}  // namespace gridwave::studio
