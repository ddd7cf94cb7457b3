// img2grid IMAGE GRID: turns a picture into a grid file that gridwave renders
// into a sound whose spectrogram shows the picture upright.
#include <optional>
#include <string>

#include "cli_support.h"
#include "constants.h"
#include "grid_output.h"
#include "image_input.h"
#include "picture_to_grid.h"
#include "standard_descriptors.h"

using namespace gridwave;
using namespace gridwave::tools;

int main(int argc, char** argv) {
  ensure_standard_descriptors();
  CLI::App app{
      "Turns a picture (PNG, JPEG, GIF, BMP, WebP, or binary PGM/PPM) into a grid file for gridwave. The picture's "
      "top becomes grid row 1, the highest pitch; grid row 0 stays silent. The picture is resampled to H rows "
      "(--height, default " + std::to_string(kDefaultPictureRows) + ": more rows than that beat against each other "
      "and draw arcs), giving a grid of H + 1 rows. Its width is resampled to the grid's " +
          std::to_string(kCellsPerRow) +
          " columns by area averaging. Brightness is the pixel's luma, but at least half its strongest colour channel, "
          "transparency composited over black; by default it maps to a level in decibels, so that the spectrogram tool's "
          "default view shows the picture as drawn. Black is always silent.",
      "img2grid"};
  std::string image_path, grid_path;
  std::optional<int> height;
  CellMapping mapping;
  app.add_option("IMAGE", image_path, "Picture to read")->required();
  app.add_option("GRID", grid_path, "Grid file to write (replaced only once it is complete)")->required();
  app.add_option("--height", height, "Resample the picture to H rows (grid row count H + 1); default " +
                     std::to_string(kDefaultPictureRows) + ", the most gridwave draws without interference arcs")
      ->type_name("H")
      ->transform(whole_number(1, kMaxGridRows - 1));
  auto* linear = app.add_flag("--linear", mapping.linear, "Map brightness to amplitude in proportion, not to decibels");
  app.add_option("--db-range", mapping.range_db,
                 "Decibels between full brightness and the darkest grey above black (default " +
                     std::to_string(static_cast<int>(kDefaultRangeDb)) + ")")
      ->type_name("DB")
      ->transform(real_number(1.0, 200.0))
      ->excludes(linear);
  app.add_option("--max-cell", mapping.max_cell,
                 "Cell value of full brightness; each unit is an amplitude of 100 (default " +
                     std::to_string(kDefaultMaxCell) + ")")
      ->type_name("N")
      ->transform(whole_number(1, 1000000));
  app.add_flag("--invert", mapping.invert, "Dark pixels loud, bright pixels silent");

  const int parsed = parse_command_line(app, argc, argv);
  if (parsed >= 0) return parsed;

  return run_reporting_failures("img2grid", [&] {
    const LumaImage image = load_image(image_path);
    save_grid(grid_path, picture_to_grid(image, height, mapping));
    return 0;
  });
}
