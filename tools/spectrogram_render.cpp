#include "spectrogram_render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "png_output.h"
#include "spectrogram_plot.h"
#include "tool_error.h"

namespace gridwave::tools {

namespace {

// gridwave's own five octaves, the default view of a sound that holds them.
constexpr double kDefaultHighHz = 10000.0;
constexpr double kDefaultOctaves = 5.0;
// The default top edge stays this share of half the sample rate below it.
constexpr double kNyquistShare = 0.99;
constexpr int kMaxPanels = 8;

std::string hz(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%g Hz", value);
  return text;
}

std::string seconds(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%g s", value);
  return text;
}

SpectrogramView resolve_view(const SoundSource& sound, const SpectrogramOptions& o) {
  const double nyquist = sound.sample_rate() / 2.0;
  SpectrogramView view;
  view.width = o.width;
  view.height = o.height;
  view.scale = o.scale;
  view.high_hz = o.high_hz.value_or(std::min(kDefaultHighHz, kNyquistShare * nyquist));
  // gridwave's bottom pitch, unless the top edge is set lower than that.
  const double gridwave_low = kDefaultHighHz / std::exp2(kDefaultOctaves);
  const double default_low = o.scale == FrequencyScale::kLinear ? 0.0
                             : gridwave_low < view.high_hz  ? gridwave_low
                                                            : view.high_hz / std::exp2(kDefaultOctaves);
  view.low_hz = o.low_hz.value_or(default_low);
  if (!std::isfinite(view.low_hz) || !std::isfinite(view.high_hz)) throw ToolError("--low and --high must be finite");
  if (view.high_hz >= nyquist)
    throw ToolError("--high " + hz(view.high_hz) + " must be below half the sound's sample rate (" + hz(nyquist) + ")");
  if (view.low_hz < 0 || (o.scale == FrequencyScale::kLog && view.low_hz <= 0))
    throw ToolError("--low must be above 0 Hz on a log scale");
  if (view.low_hz >= view.high_hz)
    throw ToolError("--low " + hz(view.low_hz) + " must be below --high " + hz(view.high_hz));

  const double rate = sound.sample_rate();
  const double length = static_cast<double>(sound.frames()) / rate;
  if (!(o.start_s >= 0) || !std::isfinite(o.start_s)) throw ToolError("--start must be 0 or more seconds");
  if (o.duration_s && !(*o.duration_s > 0)) throw ToolError("--duration must be above 0 seconds");
  // Compared as doubles first: a start or duration of 1e300 s has no frame number.
  if (o.start_s * rate >= static_cast<double>(sound.frames()) ||
      std::llround(o.start_s * rate) >= sound.frames())
    throw ToolError("--start " + seconds(o.start_s) + " is past the end of the sound (" + seconds(length) + ")");
  view.first_frame = std::llround(o.start_s * rate);
  const std::int64_t rest = sound.frames() - view.first_frame;
  const double wanted = o.duration_s ? *o.duration_s * rate : static_cast<double>(rest);
  view.frame_count = wanted >= static_cast<double>(rest) ? rest : std::max<std::int64_t>(1, std::llround(wanted));
  return view;
}

std::vector<std::uint8_t> colours(const std::vector<float>& levels, double top, double range_db) {
  std::vector<std::uint8_t> rgb;
  rgb.reserve(levels.size() * 3);
  for (float level : levels) {
    const Rgb c = heat_colour((level - top) / range_db + 1.0);
    rgb.insert(rgb.end(), c.begin(), c.end());
  }
  return rgb;
}

std::string channel_name(int channel, int channels) {
  if (channels == 2) return channel == 0 ? "left" : "right";
  return "channel " + std::to_string(channel + 1);
}

}  // namespace

std::vector<unsigned char> render_spectrogram_png(SoundSource& sound, const SpectrogramOptions& o) {
  if (o.width < 1 || o.width > kMaxPlotSide || o.height < 1 || o.height > kMaxPlotSide)
    throw ToolError("the plot must be 1 to " + std::to_string(kMaxPlotSide) + " pixels each way");
  if (!(o.range_db > 0) || !std::isfinite(o.range_db)) throw ToolError("--db-range must be above 0");
  const SpectrogramView view = resolve_view(sound, o);
  const int channels = sound.channels();
  bool each = o.channels == ChannelPanels::kEach ||
              (o.channels == ChannelPanels::kAuto && !o.raw && channels >= 2 && channels <= kMaxPanels);
  if (each && static_cast<long long>(channels) * o.height > kMaxStackedHeight) {
    if (o.channels == ChannelPanels::kEach)
      throw ToolError(std::to_string(channels) + " panels of " + std::to_string(o.height) +
                      " pixels are taller than " + std::to_string(kMaxStackedHeight) +
                      " pixels: lower --height or use --channels mix");
    each = false;
  }

  const std::vector<std::vector<float>> levels = spectrogram_levels(sound, view, each, o.progress);
  double top = -INFINITY;
  if (o.top_db) {
    top = *o.top_db;
  } else {
    for (const std::vector<float>& panel : levels)
      for (float level : panel) top = std::max(top, static_cast<double>(level));
    if (!std::isfinite(top)) top = 0.0;  // a silent sound
  }

  std::vector<PlotPanel> panels;
  for (std::size_t i = 0; i < levels.size(); ++i)
    panels.push_back({each ? channel_name(static_cast<int>(i), channels) : "", colours(levels[i], top, o.range_db)});

  if (o.raw) {
    // The panels stacked, nothing else.
    std::vector<std::uint8_t> rgb;
    for (const PlotPanel& panel : panels) rgb.insert(rgb.end(), panel.rgb.begin(), panel.rgb.end());
    return encode_rgb_png(o.width, o.height * static_cast<int>(panels.size()), rgb);
  }
  PlotFrame frame;
  frame.width = o.width;
  frame.height = o.height;
  frame.low_hz = view.low_hz;
  frame.high_hz = view.high_hz;
  frame.scale = view.scale;
  frame.start_s = static_cast<double>(view.first_frame) / sound.sample_rate();
  frame.span_s = static_cast<double>(view.frame_count) / sound.sample_rate();
  frame.top_db = top;
  frame.range_db = o.range_db;
  frame.title = o.title;
  const RgbPicture picture = draw_labelled_plot(panels, frame);
  return encode_rgb_png(picture.width, picture.height, picture.rgb);
}

std::vector<unsigned char> render_spectrogram_png(const std::string& sound_path, const SpectrogramOptions& options) {
  const std::unique_ptr<SoundSource> sound = open_sound(sound_path);
  return render_spectrogram_png(*sound, options);
}

std::vector<unsigned char> render_spectrogram_png(const float* interleaved, std::int64_t frames, int channels,
                                                  int sample_rate, const SpectrogramOptions& options) {
  const std::unique_ptr<SoundSource> sound = sound_in_memory(interleaved, frames, channels, sample_rate);
  return render_spectrogram_png(*sound, options);
}

}  // namespace gridwave::tools
