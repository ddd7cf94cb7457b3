// Writes a benchmark grid file: make_bench_grid dense|blocks|extreme ROWS PATH [SEED]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench_grids.h"
#include "grid_output.h"

int main(int argc, char** argv) {
  gridwave::bench::GridKind kind;
  if ((argc != 4 && argc != 5) || !gridwave::bench::parse_kind(argv[1], kind) || std::atoi(argv[2]) < 1) {
    std::fprintf(stderr, "usage: make_bench_grid dense|blocks|extreme ROWS PATH [SEED]\n");
    return 2;
  }
  const int rows = std::atoi(argv[2]);
  const unsigned seed = argc == 5 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 1;
  try {
    gridwave::tools::save_grid(argv[3], {rows, gridwave::bench::make_grid(kind, rows, seed)});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_grid: %s\n", e.what());
    return 1;
  }
  return 0;
}
