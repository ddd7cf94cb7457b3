// Fuzz target: arbitrary bytes as the sound file spectrogram reads. The file
// is either refused with ToolError or read into a mono sound that the grid
// analysis turns into a well-formed grid.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sound_input.h"
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
    sound = load_sound(sound_path);
  } catch (const ToolError&) {
    return 0;
  }
  check(sound.sample_rate > 0, "sound without a sample rate");
  check(!sound.samples.empty(), "sound without samples");
  // The analysis costs time in proportion to the sample rate, not the file.
  if (sound.sample_rate > 200000) return 0;
  const std::int32_t max_cell = 1000;
  const Grid grid = analyse_grid(sound, 2, max_cell);
  check(grid.rows == 2 && grid.cells.size() == 400, "wrong grid shape");
  for (std::int32_t c : grid.cells) check(c >= 0 && c <= max_cell, "cell outside its range");
  return 0;
}
