// Feeds arbitrary bytes as a grid file through the program's own path: read
// the row count, check the file's length, render rows 1 ... c-1, encode and
// save the WAV file. One column of 4010 samples instead of 200, so one input
// takes about a millisecond even under the sanitizers, while grids of up to
// ten rows fit in the 8 KiB input limit.
//
// Checked for every input, besides the sanitizers' own checks:
// - the file is rejected exactly when it is shorter than its row count needs;
// - every row loop in kRowLoops produces the same accumulator;
// - the WAV has the right size, unscaled samples are the slots saturated to
//   16 bits, scaled ones stay at or below 32000 in magnitude;
// - the saved file holds exactly the encoded bytes and no temporary file is
//   left beside it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "constants.h"
#include "grid_input.h"
#include "plain_row_loop.h"
#include "row_loop.h"
#include "wave_out.h"

namespace {

using namespace gridwave;
namespace fs = std::filesystem;

constexpr int kColumns = 1;
constexpr std::size_t kSlots = kColumns * kSamplesPerColumn;

// Every row loop the program can run (run.h), here into plain slots: the
// plain reference, and its own batched one, on GRIDWAVE_THREADS threads (set
// in LLVMFuzzerInitialize). All must agree with the first.
using SlotsRowLoop = int (*)(Slot* accumulator, const char* path, std::int32_t rows, int columns);
constexpr SlotsRowLoop kRowLoops[] = {render_grid_row_by_row, render_grid};

fs::path scratch;
std::string grid_path;
std::string wave_path;

void fail(const char* what) {
  std::fprintf(stderr, "grid_pipeline_fuzzer: %s\n", what);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

void remove_scratch() {
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
}

void write_grid(const std::uint8_t* data, std::size_t size) {
  std::ofstream file(grid_path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  check(static_cast<bool>(file.flush()), "cannot write the grid file");
}

// Up to limit bytes of the file.
std::vector<unsigned char> read_file(const std::string& path, std::size_t limit) {
  std::vector<unsigned char> bytes(limit);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  check(file != nullptr, "cannot open the saved file");
  bytes.resize(std::fread(bytes.data(), 1, limit, file));
  std::fclose(file);
  return bytes;
}

std::int32_t le32(const std::uint8_t* b) {
  return static_cast<std::int32_t>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                   std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24);
}

void check_samples(const std::vector<Slot>& accumulator, const std::vector<unsigned char>& wave) {
  check(wave.size() == kWaveHeaderBytes + 2 * kSlots, "wrong WAV size");
  Slot peak = 0;
  for (Slot s : accumulator) peak = std::max(peak, s < 0 ? -s : s);
  for (std::size_t i = 0; i < kSlots; ++i) {
    const auto sample = static_cast<std::int16_t>(wave[kWaveHeaderBytes + 2 * i] |
                                                  wave[kWaveHeaderBytes + 2 * i + 1] << 8);
    if (peak <= 32768) {
      check(sample == std::clamp<Slot>(accumulator[i], -32768, 32767), "unscaled sample changed");
    } else {
      check(sample >= -32000 && sample <= 32000, "scaled sample above 32000");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The program's messages (and one "Error" per loud sample) would drown the
  // fuzzer's own report, which goes to standard error.
  const int null = open("/dev/null", O_WRONLY);
  // Three threads split even one column's 4010 samples unevenly.
  setenv("GRIDWAVE_THREADS", "3", 1);
  if (null >= 0) dup2(null, STDOUT_FILENO);
  // A memory file system, where the save's fsync costs nothing. run.sh
  // names a folder of its own, so that nothing is left after a crash.
  const char* chosen = std::getenv("GRIDWAVE_FUZZ_SCRATCH");
  const fs::path base = chosen != nullptr                  ? fs::path(chosen)
                        : fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                       : fs::temp_directory_path();
  std::string pattern = (base / "gridwave-fuzz-XXXXXX").string();
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
  scratch = pattern;
  grid_path = (scratch / "in.grid").string();
  wave_path = (scratch / "out.wav").string();
  std::atexit(remove_scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_grid(data, size);
  const bool has_row_count = size >= 4;
  const std::int32_t expected_rows = has_row_count ? le32(data) : 0;
  // The row count, and every row when there are two or more.
  const std::int64_t needed = expected_rows >= 2 ? 4 + 800 * std::int64_t{expected_rows} : 4;
  const bool long_enough = has_row_count && static_cast<std::int64_t>(size) >= needed;

  // The driver's own pass: the row count, then the length check.
  check(open_input(grid_path.c_str()) == 0, "a regular file was not opened");
  std::int32_t rows = 0;
  const bool read_ok = read_cell(rows) == 0;
  const bool accepted = read_ok && check_grid_length(rows) == 0;
  close_input();
  check(read_ok == has_row_count, "row count read wrongly reported");
  check(!read_ok || rows == expected_rows, "row count misread");
  check(accepted == long_enough, "grid length check wrong");
  if (!accepted) return 0;

  std::vector<Slot> first;
  for (SlotsRowLoop row_loop : kRowLoops) {
    std::vector<Slot> accumulator(kSlots, 0);
    check(row_loop(accumulator.data(), grid_path.c_str(), rows, kColumns) == 0,
          "rendering an accepted grid failed");
    if (first.empty()) {
      first = std::move(accumulator);
    } else {
      check(accumulator == first, "renderers disagree");
    }
  }

  const std::vector<unsigned char> wave = encode_wave(first.data(), kColumns);
  check_samples(first, wave);
  check(write_wave(first.data(), kColumns, wave_path.c_str()) == 0, "save failed");
  check(read_file(wave_path, wave.size() + 1) == wave, "saved file differs from the encoded bytes");
  check(std::distance(fs::directory_iterator(scratch), fs::directory_iterator{}) == 2,
        "a temporary file was left behind");
  return 0;
}
