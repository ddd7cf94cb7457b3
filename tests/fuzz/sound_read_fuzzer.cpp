// Fuzz target: arbitrary bytes as the sound file spectrogram reads. The file
// is either refused with ToolError or drawn as a small labelled picture and
// read into a mono sound that the grid analysis turns into a well-formed grid.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "sound_input.h"
#include "spectrogram_render.h"
#include "tone_analysis.h"
#include "tool_error.h"

namespace {

namespace fs = std::filesystem;

std::string sound_path;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "sound_read_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libsndfile reads by path; the file lives on a memory file system where
  // there is one (run.sh names a folder of its own).
  const char* chosen = std::getenv("GRIDWAVE_FUZZ_SCRATCH");
  const fs::path base = chosen != nullptr ? fs::path(chosen)
                        : fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                       : fs::temp_directory_path();
  sound_path = (base / ("sound-" + std::to_string(getpid()))).string();
  std::atexit([] { std::remove(sound_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gridwave::tools;
  {
    std::ofstream file(sound_path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    check(static_cast<bool>(file), "cannot write the scratch file");
  }
  Sound sound;
  try {
    const std::unique_ptr<SoundSource> source = open_sound(sound_path);
    check(source->sample_rate() >= kMinSampleRate && source->sample_rate() <= kMaxSampleRate, "rate out of range");
    check(source->frames() > 0 && source->channels() > 0, "sound without samples");
    // A small labelled picture: reads windows all over the file.
    SpectrogramOptions options;
    options.width = 9;
    options.height = 7;
    const std::vector<unsigned char> png = render_spectrogram_png(*source, options);
    check(png.size() > 8 && png[1] == 'P', "not a PNG");
    sound = read_mixed(*source, grid_frames(source->sample_rate()));
  } catch (const ToolError&) {
    return 0;
  }
  check(!sound.samples.empty(), "sound without samples");
  const std::int32_t max_cell = 1000;
  const Grid grid = analyse_grid(sound, 2, max_cell);
  check(grid.rows == 2 && grid.cells.size() == 400, "wrong grid shape");
  for (std::int32_t c : grid.cells) check(c >= 0 && c <= max_cell, "cell outside its range");
  return 0;
}
