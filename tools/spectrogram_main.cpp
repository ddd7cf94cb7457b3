// spectrogram SOUND PNG: draws a sound's spectrogram, labelled with its axes
// and colour scale, and can turn the sound back into a grid file.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli_support.h"
#include "file_bytes.h"
#include "grid_output.h"
#include "level_defaults.h"
#include "spectrogram_render.h"
#include "standard_descriptors.h"
#include "tone_analysis.h"
#include "tool_error.h"

using namespace gridwave;
using namespace gridwave::tools;

namespace {

// A progress line that rewrites itself, on a terminal only.
class ProgressLine {
 public:
  ProgressLine() : shown_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() {
    if (shown_ && last_ >= 0) std::fputs("\r\033[K", stderr);
  }
  void operator()(double share) {
    const int percent = static_cast<int>(share * 100);
    if (!shown_ || percent == last_) return;
    last_ = percent;
    std::fprintf(stderr, "\rspectrogram: %d%%", percent);
    std::fflush(stderr);
  }

 private:
  bool shown_;
  int last_ = -1;
};

std::string plain_number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

bool ends_in_png(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  std::string lower = extension;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return extension.empty() || lower == ".png";
}

}  // namespace

int main(int argc, char** argv) {
  ensure_standard_descriptors();
  SpectrogramOptions options;
  std::string sound_path, png_path, grid_path;
  std::int32_t rows = 0;
  std::int32_t grid_max_cell = kDefaultMaxCell;
  std::optional<std::string> title;

  CLI::App app{
      "Draws the spectrogram of a sound (any format libsndfile reads, any sample rate from " +
          std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate) +
          " Hz, any length) as a PNG picture: time from left to right, frequency upwards on a log "
          "(or linear) axis, level in decibels from the floor colour (black) to pale yellow. The "
          "picture is labelled with its axes, a colour bar with its dB scale and a title; --raw "
          "gives the plot area alone.",
      "spectrogram"};
  app.add_option("SOUND", sound_path, "Sound file to read")->required();
  app.add_option("PNG", png_path,
                 "PNG picture to write (a name ending in .png, or with no extension; replaced only "
                 "once it is complete)")
      ->required();
  app.add_option("--width", options.width, "Plot area width in pixels (default 800)")
      ->type_name("PIXELS")
      ->transform(whole_number(1, kMaxPlotSide));
  app.add_option("--height", options.height, "Plot area height in pixels, per channel panel (default 400)")
      ->type_name("PIXELS")
      ->transform(whole_number(1, kMaxPlotSide));
  app.add_option("--low", options.low_hz,
                 "Frequency at the bottom edge in Hz (default on a log scale 312.5, or five octaves "
                 "below --high when that is lower; on a linear scale 0)")
      ->type_name("HZ")
      ->transform(real_number(0.0, kMaxSampleRate / 2.0));
  app.add_option("--high", options.high_hz,
                 "Frequency at the top edge in Hz (default 10000, or just under half the sample rate "
                 "if that is lower)")
      ->type_name("HZ")
      ->transform(real_above(0.0));
  std::string scale = "log", channels;
  app.add_option("--scale", scale, "Frequency axis: log (default) or linear")
      ->type_name("log|linear")
      ->check(one_of({"log", "linear"}));
  app.add_option("--channels", channels,
                 "mix: one panel of the channels' average; each: one panel per channel (default: "
                 "each for 2 to 8 channels, mix for --raw)")
      ->type_name("mix|each")
      ->check(one_of({"mix", "each"}));
  app.add_option("--start", options.start_s, "Draw from this many seconds into the sound (default 0)")
      ->type_name("SECONDS")
      ->transform(real_number(0.0, 1e9));
  app.add_option("--duration", options.duration_s, "Draw this many seconds (default: to the end)")
      ->type_name("SECONDS")
      ->transform(real_above(0.0));
  app.add_option("--db-range", options.range_db,
                 "Decibels from the brightest colour down to the floor colour (default 60)")
      ->type_name("DB")
      ->transform(real_number(1.0, 200.0));
  app.add_option("--top", options.top_db,
                 "Level in dB relative to a full-scale sine that is drawn brightest "
                 "(default: the loudest point of the picture)")
      ->type_name("DB")
      ->transform(real_number(-1000.0, 1000.0));
  app.add_option("--title", title, "Title above the picture (default: the sound file's name)")->type_name("TEXT");
  app.add_flag("--raw", options.raw,
               "Write the plot area alone, width x height pixels per panel: no axes, colour bar or title");
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
  options.scale = scale == "linear" ? FrequencyScale::kLinear : FrequencyScale::kLog;
  if (!channels.empty()) options.channels = channels == "each" ? ChannelPanels::kEach : ChannelPanels::kMix;
  auto usage_error = [](const std::string& message) {
    report_failure("spectrogram", message + " (see --help)");
    return kUsageError;
  };
  if (!ends_in_png(png_path))
    return usage_error("PNG: '" + png_path + "' does not end in .png; the picture is always a PNG");
  if (options.scale == FrequencyScale::kLog && options.low_hz && *options.low_hz <= 0)
    return usage_error("--low: 0 is out of range on a log scale: it must be above 0");
  if (options.low_hz && options.high_hz && *options.low_hz >= *options.high_hz)
    return usage_error("--low " + plain_number(*options.low_hz) + " must be below --high " +
                       plain_number(*options.high_hz));

  return run_reporting_failures("spectrogram", [&] {
    options.title = title.value_or(std::filesystem::path(sound_path).filename().string());
    const std::unique_ptr<SoundSource> sound = open_sound(sound_path);
    std::vector<unsigned char> png;
    {
      ProgressLine progress;
      options.progress = [&progress](double share) { progress(share); };
      png = render_spectrogram_png(*sound, options);
    }
    if (grid_path.empty()) {
      save_output(png_path, png);
    } else {
      const Sound start = read_mixed(*sound, grid_frames(sound->sample_rate()));
      const std::vector<unsigned char> grid_bytes = encode_grid(analyse_grid(start, rows, grid_max_cell));
      save_outputs_together({{png_path, &png}, {grid_path, &grid_bytes}});
    }
    return 0;
  });
}
