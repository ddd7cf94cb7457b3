#include "studio_render.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "constants.h"
#include "grid_output.h"
#include "image_input.h"
#include "memory_sound.h"
#include "picture_sound.h"
#include "picture_to_grid.h"
#include "png_output.h"
#include "render_pipeline.h"
#include "tone.h"
#include "tone_analysis.h"
#include "tool_error.h"
#include "wave_out.h"

namespace gridwave::studio {

namespace {

using tools::ToolError;

// The WAV bytes gridwave writes for this grid.
std::vector<unsigned char> render_grid_wave(const tools::Grid& grid) {
  std::vector<Slot> accumulator(kAccumulatorSlots, 0);
  if (grid.rows > 1) {
    std::vector<double> frequencies;
    for (std::int32_t d = 1; d < grid.rows; ++d) frequencies.push_back(row_frequency(d, grid.rows));
    render_batch(accumulator.data(), frequencies.data(), grid.cells.data() + kCellsPerRow, grid.rows - 1,
                 kCellsPerRow, render_threads());
  }
  return encode_wave(accumulator.data(), kLengthValue);
}

std::vector<unsigned char> draw_spectrogram(const std::vector<unsigned char>& sound_bytes, double low_hz,
                                            double high_hz) {
  const tools::Sound sound = decode_sound(sound_bytes);
  tools::SpectrogramView view;
  view.low_hz = low_hz;
  view.high_hz = high_hz;
  const std::vector<float> levels = tools::spectrogram_levels(sound, view);
  double top = -INFINITY;
  for (float level : levels) top = std::max(top, static_cast<double>(level));
  if (!std::isfinite(top)) top = 0.0;
  std::vector<std::uint8_t> rgb;
  rgb.reserve(levels.size() * 3);
  for (float level : levels) {
    const tools::Rgb c = tools::heat_colour((level - top) / tools::kDefaultRangeDb + 1.0);
    rgb.insert(rgb.end(), c.begin(), c.end());
  }
  return tools::encode_rgb_png(view.width, view.height, rgb);
}

void render_gridwave_mode(const tools::LumaImage& image, const RenderRequest& request, StudioRender& out) {
  const int picture_rows = request.rows.value_or(image.height);
  if (picture_rows > kStudioMaxRows)
    throw ToolError("the picture is " + std::to_string(picture_rows) + " rows high; the studio renders at most " +
                    std::to_string(kStudioMaxRows) + " rows: choose fewer Rows");
  tools::CellMapping mapping;
  mapping.range_db = request.range_db;
  mapping.invert = request.invert;
  const tools::Grid grid = tools::picture_to_grid(image, picture_rows, mapping);
  out.grid = tools::encode_grid(grid);
  out.sound = render_grid_wave(grid);
  out.rows = grid.rows - 1;
  out.seconds = static_cast<double>(kSampleCount) / kSampleRate;
  out.spectrogram = draw_spectrogram(out.sound, kTopFrequency / std::exp2(kSpanOctaves), kTopFrequency);
}

void render_img2sound_mode(const tools::LumaImage& image, const RenderRequest& request, StudioRender& out) {
  tools::PictureSoundOptions options;
  options.duration_s = request.duration_s;
  options.low_hz = request.low_hz;
  options.high_hz = request.high_hz;
  options.scale = request.linear_scale ? tools::FrequencyScale::kLinear : tools::FrequencyScale::kLog;
  options.rows = request.rows;
  options.noise = request.noise;
  options.range_db = request.range_db;
  options.invert = request.invert;
  out.sound = tools::render_picture_sound(image, options);
  out.rows = options.rows.value_or(tools::default_row_count(options));
  out.seconds = options.duration_s;
  out.spectrogram = draw_spectrogram(out.sound, options.low_hz, options.high_hz);
}

}  // namespace

StudioRender render_for_studio(const std::vector<unsigned char>& picture, const RenderRequest& request) {
  const tools::LumaImage image = tools::decode_image(picture, request.picture_name);
  StudioRender out;
  out.picture_width = image.width;
  out.picture_height = image.height;
  if (request.mode == Mode::kGridwave) {
    render_gridwave_mode(image, request, out);
  } else {
    render_img2sound_mode(image, request, out);
  }
  return out;
}

}  // namespace gridwave::studio
