#include "run.h"

#include <new>
#include <system_error>

#include "console.h"
#include "constants.h"
#include "grid_input.h"
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

// Reads the row count and checks that the file holds every row it announces
// and that their sums can be added up.
int read_row_count(const char* path, std::int32_t& rows) {
  if (open_input(path) != 0) return 1;
  const int failed = read_cell(rows) != 0 || check_grid_length(rows) != 0 || check_row_count(rows) != 0;
  close_input();
  return failed;
}

int report_no_memory() {
  say("Not enough memory for the sound buffer\n");
  return 1;
}

int run_sequence(int argc, char** argv, RowLoop row_loop) {
  Accumulator accumulator;
  if (!accumulator) return report_no_memory();
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
  // Every row is rendered for all of its columns, and the sound holds them all.
  constexpr int columns = kCellsPerRow;
  if (row_loop(accumulator, input, rows, columns) != 0) return 1;
  return save_phase(accumulator.slots(), columns, output);
}

}  // namespace

int run(int argc, char** argv, RowLoop row_loop) {
  console_init();
  // Whatever runs out on the way (memory for a buffer, a thread that cannot
  // start) ends the run with the one memory message; a save in progress has
  // removed its temporary file by then.
  try {
    return run_sequence(argc, argv, row_loop);
  } catch (const std::bad_alloc&) {
    return report_no_memory();
  } catch (const std::system_error&) {
    return report_no_memory();
  }
}

}  // namespace gridwave
