#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "constants.h"
#include "test_support.h"
#include "tone.h"

namespace gridwave {
namespace {

using testing::Cells;

std::vector<Slot> render(const Cells& cells, double frequency, std::vector<Slot> start = {}) {
  if (start.empty()) start.assign(kSampleCount, 0);
  render_cells(start.data(), frequency, cells.data(), static_cast<int>(cells.size()));
  return start;
}

TEST(RowFrequency, FallsFiveOctavesFromTenKilohertz) {
  EXPECT_NEAR(row_frequency(1, 200), 9828.2, 0.05);
  EXPECT_NEAR(row_frequency(100, 200), 1767.77, 0.005);
  EXPECT_NEAR(row_frequency(199, 200), 317.96, 0.005);
  EXPECT_DOUBLE_EQ(row_frequency(0, 7), 10000.0);
  EXPECT_DOUBLE_EQ(row_frequency(7, 7), 312.5);
  // Only the ratio counts.
  EXPECT_EQ(row_frequency(50, 100), row_frequency(100, 200));
  EXPECT_NEAR(phase_step(row_frequency(100, 200)), 0.2519, 0.00005);
}

TEST(Accumulate, TruncatesEachContributionTowardZero) {
  EXPECT_EQ(accumulate(0, 0.7), 0);
  EXPECT_EQ(accumulate(5, -0.7), 4);
  EXPECT_EQ(accumulate(-5, 0.7), -4);
  EXPECT_EQ(accumulate(0, -0.7), 0);
  // Slots are 64-bit: sums past the 32-bit range stay exact.
  EXPECT_EQ(accumulate(4'000'000'000, 214'748'364'700.0), 218'748'364'700);
}

TEST(RenderCells, ZeroCellsLeaveTheAccumulatorAlone) {
  std::vector<Slot> start(kSampleCount);
  for (int i = 0; i < kSampleCount; ++i) start[i] = (Slot{i} * 7919) % 2001 - 1000;
  EXPECT_EQ(render(Cells(200, 0), 1234.5, start), start);
}

TEST(RenderCells, NegativeCellIsTheMirroredTone) {
  const auto up = render(Cells(200, 1), 9828.2);
  const auto down = render(Cells(200, -1), 9828.2);
  EXPECT_EQ(up[0], 0);  // every tone starts with sin 0
  Slot loudest = 0;
  for (int i = 0; i < kSampleCount; ++i) {
    ASSERT_EQ(up[i], -down[i]) << i;
    loudest = std::max(loudest, std::abs(up[i]));
  }
  EXPECT_GE(loudest, 99);  // a cell of 1 adds at most +-100
  EXPECT_LE(loudest, 100);
}

TEST(RenderCells, AmplitudeChangesAtTheColumnBorderAndPhaseRunsOn) {
  Cells cells(200, 0);
  cells[1] = 1000;
  const auto acc = render(cells, 1000.0);
  for (int i = 0; i < kSamplesPerColumn; ++i) ASSERT_EQ(acc[i], 0);
  for (int i = 2 * kSamplesPerColumn; i < kSampleCount; ++i) ASSERT_EQ(acc[i], 0);
  // The first sample of column 1 continues the phase of sample 4010, not 0.
  const double phase = [] {
    double p = 0.0;
    for (int i = 0; i < kSamplesPerColumn; ++i) {
      p += phase_step(1000.0);
      if (p >= kFullCircle) p -= kFullCircle;
    }
    return p;
  }();
  EXPECT_NE(acc[kSamplesPerColumn], 0);
  EXPECT_EQ(acc[kSamplesPerColumn], static_cast<Slot>(std::sin(phase) * 1000.0 * 100.0));
}

}  // namespace
}  // namespace gridwave
