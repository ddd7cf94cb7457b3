#include "run.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

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

// The accumulator, on huge pages where the system offers them (a few page
// faults instead of 1,700). Released with std::free.
Slot* allocate_accumulator() {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  constexpr std::size_t kBytes = (sizeof(Slot) * kAccumulatorSlots + kHugePage - 1) / kHugePage * kHugePage;
  void* memory = std::aligned_alloc(kHugePage, kBytes);
  if (memory != nullptr) madvise(memory, kBytes, MADV_HUGEPAGE);
  return static_cast<Slot*>(memory);
}

}  // namespace

int run(int argc, char** argv) {
  console_init();
  const std::unique_ptr<Slot, decltype(&std::free)> accumulator(allocate_accumulator(), &std::free);
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
  // Writing every slot here, before any render thread exists, also maps its
  // pages; first touches from several threads would cost a TLB shootdown each.
  std::fill_n(accumulator.get(), kAccumulatorSlots, Slot{0});

  std::int32_t rows = 0;
  if (read_row_count(input, rows) != 0) return 1;

  say("%s%s", japanese(JapaneseText::kStarting), kProgressFrame);
  if (render_rows(accumulator.get(), input, rows, kLengthValue) != 0) return 1;
  return save_phase(accumulator.get(), output);
}

}  // namespace gridwave
