// Writes the bundled example grid: 100 rows that draw a rising diagonal, a
// falling one and a frame, so the spectrogram shows a large "X" in a box.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example_grid GRID\n");
    return 2;
  }
  constexpr int kRows = 100;
  constexpr int kColumns = 200;
  constexpr std::int32_t kLevel = 40;
  std::vector<std::int32_t> cells(std::size_t{kRows} * kColumns, 0);
  for (int r = 1; r < kRows; ++r) {
    for (int k = 0; k < kColumns; ++k) {
      const int diagonal = (kRows - 1) * k / (kColumns - 1);
      const bool cross = std::abs(r - diagonal) <= 1 || std::abs(r - (kRows - diagonal)) <= 1;
      const bool frame = r <= 2 || r >= kRows - 2 || k <= 1 || k >= kColumns - 2;
      if (cross || frame) cells[std::size_t{static_cast<unsigned>(r)} * kColumns + k] = kLevel;
    }
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  auto put = [out](std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    const unsigned char b[4] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                                static_cast<unsigned char>(u >> 16),
                                static_cast<unsigned char>(u >> 24)};
    std::fwrite(b, 1, 4, out);
  };
  put(kRows);
  for (std::int32_t v : cells) put(v);
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
