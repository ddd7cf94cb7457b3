// Writes a benchmark grid file: make_bench_grid dense|blocks|extreme ROWS PATH [SEED]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_grids.h"

int main(int argc, char** argv) {
  gridwave::bench::GridKind kind;
  if ((argc != 4 && argc != 5) || !gridwave::bench::parse_kind(argv[1], kind) || std::atoi(argv[2]) < 1) {
    std::fprintf(stderr, "usage: make_bench_grid dense|blocks|extreme ROWS PATH [SEED]\n");
    return 2;
  }
  const int rows = std::atoi(argv[2]);
  const unsigned seed = argc == 5 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 1;
  const auto cells = gridwave::bench::make_grid(kind, rows, seed);
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  auto put = [out](std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    const unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
    return std::fwrite(b, 1, 4, out) == 4;
  };
  bool ok = put(rows);
  for (std::int32_t v : cells) ok = ok && put(v);
  if (std::fclose(out) != 0 || !ok) {
    std::fprintf(stderr, "%s: write failed\n", argv[3]);
    return 1;
  }
  return 0;
}
