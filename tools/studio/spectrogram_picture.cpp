#include <sndfile.h>

#include <memory>

#include "spectrogram_picture.h"
#include "spectrogram_render.h"
#include "store_sound_io.h"
#include "tool_error.h"

namespace gridwave::studio {

namespace {

// The plot area of the page's spectrogram. With the axes, colour bar and
// title around it the picture is about 870 x 370 pixels, the width the page
// gives it at 1280 pixels, so it is shown unscaled; and a default render
// stays well under a second.
constexpr int kPlotWidth = 700;
constexpr int kPlotHeight = 300;

}  // namespace

std::vector<unsigned char> spectrogram_picture(const std::vector<unsigned char>& sound, double low_hz, double high_hz,
                                               bool linear, const std::string& title) {
  tools::MemoryStore store;
  store.bytes() = sound;
  SF_VIRTUAL_IO io = tools::store_sound_io();
  tools::StoreCursor cursor{&store, 0, {}};
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> file(sf_open_virtual(&io, SFM_READ, &info, &cursor), sf_close);
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
