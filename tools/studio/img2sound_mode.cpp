#include "mode_renders.h"
#include "picture_sound.h"

namespace gridwave::studio {

ModeSound render_img2sound(const tools::LumaImage& image, const RenderRequest& request) {
  tools::PictureSoundOptions options;
  options.duration_s = request.duration_s;
  options.low_hz = request.low_hz;
  options.high_hz = request.high_hz;
  options.scale = request.linear_scale ? tools::FrequencyScale::kLinear : tools::FrequencyScale::kLog;
  options.rows = request.rows;
  options.noise = request.noise;
  options.range_db = request.range_db;
  options.invert = request.invert;
  ModeSound sound;
  sound.wav = tools::render_picture_sound(image, options);
  sound.rows = options.rows.value_or(tools::default_row_count(options));
  sound.seconds = options.duration_s;
  return sound;
}

}  // namespace gridwave::studio
