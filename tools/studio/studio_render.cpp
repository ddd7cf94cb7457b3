#include "studio_render.h"

#include <cmath>
#include <string>

#include "constants.h"
#include "grid_output.h"
#include "grid_wave.h"
#include "image_input.h"
#include "picture_sound.h"
#include "picture_to_grid.h"
#include "spectrogram_picture.h"
#include "tool_error.h"

namespace gridwave::studio {

namespace {

// The picture as img2grid makes a grid of it, rendered as gridwave renders
// that grid: the same bytes as the two programs write.
void render_gridwave_mode(const tools::LumaImage& image, const RenderRequest& request, StudioRender& out) {
  tools::CellMapping mapping;
  mapping.range_db = request.range_db;
  mapping.invert = request.invert;
  const tools::Grid grid = tools::picture_to_grid(image, request.rows, mapping);
  out.grid = tools::encode_grid(grid);
  out.sound = render_grid_wave(grid.rows, grid.cells, 0);
  out.rows = grid.rows - 1;
  out.seconds = static_cast<double>(kSampleCount) / kSampleRate;
  out.spectrogram = spectrogram_picture(out.sound, kTopFrequency / std::exp2(kSpanOctaves), kTopFrequency, false,
                                        request.picture_name + " (gridwave)");
}

// img2sound's synthesis with the request's options: the same bytes as
// img2sound writes.
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
  out.spectrogram = spectrogram_picture(out.sound, request.low_hz, request.high_hz, request.linear_scale,
                                        request.picture_name + " (img2sound)");
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
