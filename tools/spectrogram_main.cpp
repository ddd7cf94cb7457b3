// spectrogram SOUND PNG: draws a sound's spectrogram on gridwave's log
// frequency axis, and can turn the sound back into a grid file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "cli_support.h"
#include "constants.h"
#include "grid_output.h"
#include "level_defaults.h"
#include "png_output.h"
#include "sound_input.h"
#include "standard_descriptors.h"
#include "tone.h"
#include "tone_analysis.h"
#include "tool_error.h"

using namespace gridwave;
using namespace gridwave::tools;

namespace {

// Colours every level: `top` brightest, `range` decibels below it and
// anything quieter (silence included) in the floor colour.
std::vector<std::uint8_t> colour_levels(const std::vector<float>& levels, std::optional<double> top_db,
                                        double range_db) {
  double top = -INFINITY;
  if (top_db) {
    top = *top_db;
  } else {
    for (float level : levels) top = std::max(top, static_cast<double>(level));
    if (!std::isfinite(top)) top = 0.0;  // a silent sound
  }
  std::vector<std::uint8_t> rgb;
  rgb.reserve(levels.size() * 3);
  for (float level : levels) {
    const Rgb c = heat_colour((level - top) / range_db + 1.0);
    rgb.insert(rgb.end(), c.begin(), c.end());
  }
  return rgb;
}

}  // namespace

int main(int argc, char** argv) {
  ensure_standard_descriptors();
  // The rows' own scale: row 0 of any grid would sound at the top, row c at
  // the bottom.
  SpectrogramView view{800, 400, row_frequency(1, 1), row_frequency(0, 1)};
  double range_db = kDefaultRangeDb;
  std::optional<double> top_db;
  std::string sound_path, png_path, grid_path;
  std::int32_t rows = 0;
  std::int32_t grid_max_cell = kDefaultMaxCell;

  CLI::App app{
      "Draws the spectrogram of a sound (any format libsndfile reads; channels are mixed) as a "
      "PNG picture: time from left to right over the whole sound, frequency on a log axis "
      "(by default gridwave's five octaves, 10000 Hz at the top to 312.5 Hz at the bottom), "
      "level in decibels from the floor colour (black) to pale yellow.",
      "spectrogram"};
  app.add_option("SOUND", sound_path, "Sound file to read")->required();
  app.add_option("PNG", png_path, "PNG picture to write (replaced only once it is complete)")->required();
  app.add_option("--width", view.width, "Picture width in pixels (default 800)")
      ->type_name("PIXELS")
      ->transform(whole_number(1, 8000));
  app.add_option("--height", view.height, "Picture height in pixels (default 400)")
      ->type_name("PIXELS")
      ->transform(whole_number(1, 8000));
  app.add_option("--low", view.low_hz, "Frequency at the bottom edge in Hz (default 312.5)")
      ->type_name("HZ")
      ->transform(real_above(0.0));
  app.add_option("--high", view.high_hz, "Frequency at the top edge in Hz (default 10000)")
      ->type_name("HZ")
      ->transform(real_above(0.0));
  app.add_option("--db-range", range_db,
                 "Decibels from the brightest colour down to the floor colour (default 60)")
      ->type_name("DB")
      ->transform(real_number(1.0, 200.0));
  app.add_option("--top", top_db,
                 "Level in dB relative to a full-scale sine that is drawn brightest "
                 "(default: the loudest point of the picture)")
      ->type_name("DB")
      ->transform(real_number(-1000.0, 1000.0));
  auto* grid = app.add_option("--grid", grid_path,
                              "Also write the sound as a grid file: every row's level in every "
                              "column, at the row's own pitch")
                   ->type_name("FILE");
  auto* rows_option = app.add_option("--rows", rows, "Row count of the grid file written by --grid")
                          ->type_name("N")
                          ->transform(whole_number(1, kMaxGridRows));
  auto* max_cell = app.add_option("--grid-max-cell", grid_max_cell,
                                  "Cell value of the loudest cell in the grid file (default " +
                                      std::to_string(kDefaultMaxCell) + ")")
                       ->type_name("N")
                       ->transform(whole_number(1, 1000000));
  grid->needs(rows_option);
  rows_option->needs(grid);
  max_cell->needs(grid);

  const int parsed = parse_command_line(app, argc, argv);
  if (parsed >= 0) return parsed;

  return run_reporting_failures("spectrogram", [&] {
    if (view.high_hz <= view.low_hz) throw ToolError("--high must be above --low");
    const Sound sound = load_sound(sound_path);
    if (view.high_hz >= sound.sample_rate / 2.0)
      throw ToolError("--high must be below half the sound's sample rate (" +
                      std::to_string(sound.sample_rate / 2) + " Hz)");
    const std::vector<float> levels = spectrogram_levels(sound, view);
    save_rgb_png(png_path, view.width, view.height, colour_levels(levels, top_db, range_db));
    if (!grid_path.empty()) save_grid(grid_path, analyse_grid(sound, rows, grid_max_cell));
    return 0;
  });
}
