// Picture to sound: a decoded picture becomes a sound whose spectrogram draws
// it. Each pitch row is a tone whose level follows the picture's brightness
// along the row, gliding from column to column; the columns are spread
// evenly over the duration. This is the library behind img2sound, and the
// one the studio calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frequency_scale.h"
#include "image_input.h"

namespace gridwave::tools {

enum class StartPhases { kRandom, kZero };
enum class SoundContainer { kWav, kFlac };
enum class SampleFormat { kInt16, kInt24, kFloat };

// Every img2sound option, with the command line's defaults.
struct PictureSoundOptions {
  double duration_s = 10.0;   // --duration: the whole picture, left to right
  double low_hz = 312.5;      // --low: the bottom edge of the picture's lowest row
  double high_hz = 10000.0;   // --high: the top edge of its highest row
  FrequencyScale scale = FrequencyScale::kLog;  // --scale log|linear
  int sample_rate = 44100;    // --rate
  SoundContainer container = SoundContainer::kWav;  // from the output's extension
  SampleFormat sample_format = SampleFormat::kInt16;  // --bits 16|24|float
  std::uint64_t seed = 1;     // --seed: the random start phases (and noise)
  StartPhases phases = StartPhases::kRandom;  // --phase random|zero
  std::optional<int> rows;    // --rows: pitch rows; default: default_row_count()
  bool noise = false;         // --noise: a band of noise per row instead of a sine
  bool linear = false;        // --linear: brightness -> amplitude, not decibels
  double range_db = 60.0;     // --db-range: brightness 0 ... 1 spans this many dB
  bool invert = false;        // --invert: dark pixels loud
  double peak_db = -1.0;      // --peak: the loudest sample, in dB of full scale
  int threads = 0;            // worker threads; 0: every CPU the process may use
  // Called now and then with the share of the work done (0 ... 1); may be empty.
  std::function<void(double)> progress;
};

// Limits the options are checked against (ToolError beyond them).
inline constexpr double kMaxDurationSeconds = 3600.0;
inline constexpr int kMinOutputRate = 8000;
inline constexpr int kMaxOutputRate = 192000;
inline constexpr int kMaxRows = 20000;

// How many pitch rows a spectrogram can tell apart over this duration and
// frequency range (see the definition for the argument).
int default_row_count(const PictureSoundOptions& options);

// The container and sample format for an output path's extension (.wav or
// .flac, any case) and --bits; throws ToolError for other extensions or for
// float samples in FLAC.
void choose_output_format(const std::string& path, PictureSoundOptions& options);

// The sound's file bytes (WAV or FLAC as the options say), built in memory.
// Throws ToolError when the options are out of range.
std::vector<unsigned char> render_picture_sound(const LumaImage& image, const PictureSoundOptions& options);

// The same sound saved at path, rendered and written in blocks so memory does
// not grow with the duration; a failure never leaves a partial file.
void save_picture_sound(const LumaImage& image, const PictureSoundOptions& options, const std::string& path);

}  // namespace gridwave::tools
