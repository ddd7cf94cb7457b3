// gridwave against sound computed without it: tests/golden/make_golden.py
// renders a few small grids the slow, obvious way in Python and keeps what
// the WAV files must hold (size, a hash, a few samples, how many "Error"
// warnings). A change to the pitch scale, the phase wrap or the save phase
// that the program's own code would agree with still fails here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render_testing.h"
#include "test_support.h"
#include "tone.h"

namespace gridwave {
namespace {

// The accumulator case: slots before the save phase.
struct GoldenAccumulator {
  std::string name, grid;
  std::uint64_t hash = 0;
  std::vector<std::pair<std::size_t, Slot>> slots;  // (index, value)
};

struct Golden {
  std::string name, grid;
  std::size_t bytes = 0;
  std::uint64_t hash = 0;
  std::size_t warnings = 0;
  std::vector<std::pair<std::size_t, int>> samples;  // (index, value)
};

template <typename T>
std::vector<std::pair<std::size_t, T>> read_picks(std::istringstream& fields) {
  std::vector<std::pair<std::size_t, T>> picks;
  std::string pick;
  while (fields >> pick) {
    const auto eq = pick.find('=');
    picks.push_back({std::stoul(pick.substr(0, eq)), static_cast<T>(std::stoll(pick.substr(eq + 1)))});
  }
  return picks;
}

void read_expected(std::vector<Golden>& cases, std::vector<GoldenAccumulator>& accumulators) {
  std::ifstream in(std::string(GOLDEN_DIR) + "/expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    if (line.rfind("accumulator ", 0) == 0) {
      GoldenAccumulator a;
      std::string tag, hash;
      fields >> tag >> a.name >> a.grid >> hash;
      a.hash = std::stoull(hash, nullptr, 16);
      a.slots = read_picks<Slot>(fields);
      accumulators.push_back(a);
      continue;
    }
    Golden g;
    std::string hash;
    fields >> g.name >> g.grid >> g.bytes >> hash >> g.warnings;
    g.hash = std::stoull(hash, nullptr, 16);
    g.samples = read_picks<int>(fields);
    cases.push_back(g);
  }
}

std::uint64_t fnv1a64(const testing::Bytes& bytes) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char b : bytes) h = (h ^ b) * 0x100000001b3ULL;
  return h;
}

std::size_t count(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) ++n;
  return n;
}

TEST(Golden, SoundMatchesAnIndependentRendering) {
  std::vector<Golden> cases;
  std::vector<GoldenAccumulator> unused;
  read_expected(cases, unused);
  ASSERT_EQ(cases.size(), 4u);
  testing::ScratchDir dir;
  for (const Golden& g : cases) {
    SCOPED_TRACE(g.name);
    const std::string out = (dir / (g.name + ".wav")).string();
    const auto run = testing::run_program(GRIDWAVE_BIN, {std::string(GOLDEN_DIR) + "/" + g.grid, out, "x"});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(count(run.out, "Error"), g.warnings);
    const testing::Bytes wave = testing::read_bytes(out);
    ASSERT_EQ(wave.size(), g.bytes);
    for (const auto& [index, value] : g.samples) {
      const auto sample = static_cast<std::int16_t>(wave[44 + 2 * index] | wave[45 + 2 * index] << 8);
      EXPECT_EQ(sample, value) << "sample " << index;
    }
    EXPECT_EQ(fnv1a64(wave), g.hash);
  }
}

}  // namespace
}  // namespace gridwave

namespace gridwave {
namespace {

// Both renderers, the plain one and the batched one the program runs.
TEST(Golden, AccumulatorMatchesAnIndependentRendering) {
  std::vector<Golden> unused;
  std::vector<GoldenAccumulator> cases;
  read_expected(unused, cases);
  ASSERT_EQ(cases.size(), 1u);
  for (const GoldenAccumulator& g : cases) {
    const testing::Bytes file = testing::read_bytes(std::string(GOLDEN_DIR) + "/" + g.grid);
    std::vector<std::int32_t> cells((file.size() - 4) / 4);
    std::memcpy(cells.data(), file.data() + 4, cells.size() * 4);
    const std::int32_t rows = static_cast<std::int32_t>(cells.size() / kCellsPerRow);
    std::vector<double> frequencies;
    for (std::int32_t d = 1; d < rows; ++d) frequencies.push_back(row_frequency(d, rows));
    const std::int32_t* sounding = cells.data() + kCellsPerRow;  // row 0 is never sounded
    std::vector<Slot> plain(kAccumulatorSlots, 0), batched(kAccumulatorSlots, 0);
    for (std::int32_t r = 0; r + 1 < rows; ++r) {
      render_cells(plain.data(), frequencies[static_cast<std::size_t>(r)], sounding + r * kCellsPerRow, kCellsPerRow);
    }
    render_cells_batched(batched.data(), frequencies.data(), sounding, rows - 1, kCellsPerRow, 2);
    for (const auto* acc : {&plain, &batched}) {
      SCOPED_TRACE(acc == &plain ? "plain" : "batched");
      for (const auto& [index, value] : g.slots) EXPECT_EQ((*acc)[index], value) << "slot " << index;
      testing::Bytes bytes(kSampleCount * sizeof(Slot));
      std::memcpy(bytes.data(), acc->data(), bytes.size());  // little-endian, as the script packs them
      EXPECT_EQ(fnv1a64(bytes), g.hash);
    }
  }
}

}  // namespace
}  // namespace gridwave
