// img2sound IMAGE SOUND: turns a picture into a sound whose spectrogram draws
// it, with a free choice of duration, frequency range and scale.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli_support.h"
#include "image_input.h"
#include "picture_sound.h"
#include "standard_descriptors.h"

using namespace gridwave::tools;

namespace {

// A percentage on standard error while the sound is made, only when that is
// a terminal: redirected, standard error holds nothing but failures.
std::function<void(double)> terminal_progress() {
  if (isatty(STDERR_FILENO) == 0) return {};
  return [last = -1](double share) mutable {
    const int percent = static_cast<int>(share * 100);
    if (percent == last) return;
    last = percent;
    std::fprintf(stderr, "\rimg2sound: %3d %%", percent);
    if (percent >= 100) std::fprintf(stderr, "\r                \r");
  };
}

}  // namespace

int main(int argc, char** argv) {
  gridwave::ensure_standard_descriptors();
  PictureSoundOptions o;
  CLI::App app{
      "Turns a picture (PNG, JPEG, GIF, BMP, WebP, PGM/PPM) into a sound whose spectrogram draws it. "
      "Each pitch row is a tone whose level follows the picture's brightness along the row; the "
      "picture's columns are spread evenly over the duration, its top at the highest pitch. Levels "
      "glide from column to column and the ends fade, so nothing clicks; start phases are random "
      "(from --seed), so the tones never line up into a spike. The sound is normalised to its peak "
      "(--peak) and saved as WAV or FLAC by SOUND's extension.\n\n"
      "Rows by default, from the time-frequency limit: a spectrogram with a window of T seconds tells apart tones about 1/T Hz "
      "apart and moments about T apart. Rows are spaced evenly in Hz (on a log scale each takes the "
      "picture at its own height), so a window T separates (high - low) T rows and shows duration / T "
      "moments. The default row count is where the two are equal, sqrt(duration (high - low)): 311 "
      "rows 31 Hz apart for 10 s over 312.5 ... 10000 Hz. More rows than that blur into each other "
      "in any view that shows the picture's timing; --rows overrides.",
      "img2sound"};
  std::string image_path, sound_path;
  app.add_option("IMAGE", image_path, "Picture to read")->required();
  app.add_option("SOUND", sound_path, "Sound to write: .wav or .flac (replaced only once complete)")->required();
  app.add_option("--duration", o.duration_s, "Seconds of sound (default 10)")
      ->type_name("SECONDS")
      ->transform(real_number(0.001, kMaxDurationSeconds));
  app.add_option("--low", o.low_hz, "Bottom edge of the lowest row in Hz (default 312.5)")->type_name("HZ")->transform(real_above(0.0));
  app.add_option("--high", o.high_hz, "Top edge of the highest row in Hz (default 10000)")->type_name("HZ")->transform(real_above(0.0));
  std::string scale = "log", bits = "16", phase = "random";
  app.add_option("--scale", scale, "Frequency axis the picture's height is drawn on: log (default) or linear")
      ->type_name("log|linear")
      ->check(CLI::IsMember({"log", "linear"}));
  app.add_option("--rate", o.sample_rate, "Sample rate in Hz (default 44100)")->type_name("HZ")->transform(whole_number(kMinOutputRate, kMaxOutputRate));
  app.add_option("--bits", bits, "Sample format: 16 (default), 24 or float (float: .wav only)")
      ->type_name("16|24|float")
      ->check(CLI::IsMember({"16", "24", "float"}));
  app.add_option("--rows", o.rows, "Pitch rows (default: as many as a spectrogram tells apart, see above)")
      ->type_name("N")
      ->transform(whole_number(1, kMaxRows));
  app.add_option("--seed", o.seed, "Seed of the random start phases and noise (default 1): same seed, same bytes")->type_name("N")->transform(whole_number(0, 9007199254740991LL));
  app.add_option("--phase", phase, "Start phases: random (default) or zero (every row starts at 0, for comparison)")
      ->type_name("random|zero")
      ->check(CLI::IsMember({"random", "zero"}));
  app.add_flag("--noise", o.noise, "A band of noise per row instead of a sine: a smooth fill for photos");
  auto* linear = app.add_flag("--linear", o.linear, "Map brightness to amplitude in proportion, not to decibels");
  app.add_option("--db-range", o.range_db, "Decibels between full brightness and the darkest grey above black (default 60)")
      ->type_name("DB")
      ->transform(real_number(1.0, 200.0))
      ->excludes(linear);
  app.add_flag("--invert", o.invert, "Dark pixels loud, bright pixels silent");
  app.add_option("--peak", o.peak_db, "Level of the loudest sample in dB of full scale (default -1)")
      ->type_name("DB")
      ->transform(real_number(-100.0, 0.0));

  const int parsed = parse_command_line(app, argc, argv);
  if (parsed >= 0) return parsed;
  o.scale = scale == "log" ? FrequencyScale::kLog : FrequencyScale::kLinear;
  o.sample_format = bits == "16" ? SampleFormat::kInt16 : bits == "24" ? SampleFormat::kInt24 : SampleFormat::kFloat;
  o.phases = phase == "zero" ? StartPhases::kZero : StartPhases::kRandom;

  return run_reporting_failures("img2sound", [&] {
    choose_output_format(sound_path, o);
    const LumaImage image = load_image(image_path);
    o.progress = terminal_progress();
    save_picture_sound(image, o, sound_path);
    return 0;
  });
}
