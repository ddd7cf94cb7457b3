#include "run.h"

#include "console.h"
#include "constants.h"
#include "grid_input.h"
#include "row_loop.h"
#include "wave_out.h"

namespace gridwave {
namespace {

constexpr const char* kBanner =
    "Tamvel Art Sub system\n"
    "gridwave, by the gridwave project\n"
    "https://gridwave.invalid/\n";

// The frame's first bar stands over the first star; stars past the right bar
// simply run on.
constexpr const char* kProgressFrame = "start|------------------|finish\n     ";

// Reads the row count and checks that the file holds every row it announces.
int read_row_count(const char* path, std::int32_t& rows) {
  if (open_input(path) != 0) return 1;
  const int failed = read_cell(rows) != 0 || check_grid_length(rows) != 0;
  close_input();
  return failed;
}

}  // namespace

int run(int argc, char** argv) {
  console_init();
  Accumulator accumulator;
  if (!accumulator) {
    say("Not enough memory for the sound buffer\n");
    return 1;
  }
  if (argc != 4) {
    say("%s", japanese(JapaneseText::kBadParameters));
    return 1;
  }
  const char* input = argv[1];
  const char* output = argv[2];
  say("%s", kBanner);
  say("Input =%s\nOutput=%s\nSource=%s\n", input, output, argv[3]);
  // The slots are zero already: fresh anonymous memory.

  std::int32_t rows = 0;
  if (read_row_count(input, rows) != 0) return 1;

  say("%s%s", japanese(JapaneseText::kStarting), kProgressFrame);
  if (render_grid(accumulator, input, rows, kLengthValue) != 0) return 1;
  return save_phase(accumulator.slots(), output);
}

}  // namespace gridwave
