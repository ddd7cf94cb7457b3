#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "constants.h"
#include "test_support.h"
#include "wave_out.h"

namespace gridwave {
namespace {

using testing::Bytes;

std::int16_t sample_at(const Bytes& wave, int i) {
  const std::size_t at = kWaveHeaderBytes + 2 * static_cast<std::size_t>(i);
  return static_cast<std::int16_t>(wave[at] | wave[at + 1] << 8);
}

struct Encoded {
  Bytes wave;
  std::int64_t loud_samples = 0;
  std::string console;  // encoding prints nothing
};

Encoded encode(const std::vector<Slot>& acc, int columns = kCellsPerRow) {
  Encoded e;
  ::testing::internal::CaptureStdout();
  e.wave = encode_wave(acc.data(), columns, &e.loud_samples);
  e.console = ::testing::internal::GetCapturedStdout();
  return e;
}

std::vector<Slot> silence() { return std::vector<Slot>(kAccumulatorSlots, 0); }

TEST(EncodeWave, HeaderAndSilence) {
  const auto [wave, loud, console] = encode(silence());
  const Bytes header = {0x52, 0x49, 0x46, 0x46, 0xC4, 0x79, 0x18, 0x00, 0x57, 0x41, 0x56,
                        0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                        0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x88, 0x58, 0x01, 0x00, 0x02,
                        0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0xA0, 0x79, 0x18, 0x00};
  ASSERT_EQ(wave.size(), 1'604'044u);
  EXPECT_EQ(Bytes(wave.begin(), wave.begin() + kWaveHeaderBytes), header);
  EXPECT_TRUE(std::all_of(wave.begin() + kWaveHeaderBytes, wave.end(), [](auto b) { return b == 0; }));
  EXPECT_EQ(console, "");
}

TEST(EncodeWave, NoColumnsGiveAnEmptyDataChunk) {
  const auto [wave, loud, console] = encode(silence(), 0);
  ASSERT_EQ(wave.size(), 44u);
  EXPECT_EQ(wave[4], 36);
  EXPECT_EQ(wave[40], 0);
}

// Slot values placed at a few sample positions, and what each must become.
struct LevelCase {
  const char* name;
  std::vector<std::pair<int, Slot>> slots;
  std::vector<std::pair<int, std::int16_t>> samples;
  int warnings;
};

class EncodeLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(EncodeLevels, ScalesSaturatesAndWarns) {
  const LevelCase& c = GetParam();
  auto acc = silence();
  for (auto [i, v] : c.slots) acc[i] = v;
  const auto [wave, loud, console] = encode(acc);
  for (auto [i, expected] : c.samples) EXPECT_EQ(sample_at(wave, i), expected) << "sample " << i;
  EXPECT_EQ(loud, c.warnings);
  EXPECT_EQ(console, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeLevels,
    ::testing::Values(
        // Up to 32768 nothing is scaled; 32768 saturates instead of flipping sign.
        LevelCase{"PeakExactly32768",
                  {{0, 32768}, {1, -32768}, {2, 32761}, {3, 32760}, {4, -5}},
                  {{0, 32767}, {1, -32768}, {2, 32761}, {3, 32760}, {4, -5}},
                  3},
        LevelCase{"Peak64000", {{10, 64000}, {11, -64000}, {12, 1000}},
                  {{10, 31999}, {11, -31999}, {12, 499}}, 0},
        LevelCase{"LowestMinus100000", {{5, -100000}, {6, 99999}, {7, 50000}},
                  {{5, -31999}, {6, 31999}, {7, 15999}}, 0},
        // Sums far beyond 32 bits still scale down by their true peak.
        LevelCase{"PeakBeyond32Bits", {{0, 6'400'000'000}, {1, -3'200'000'000}},
                  {{0, 31999}, {1, -15999}}, 0},
        // Slots past the last sample are neither scanned nor written.
        LevelCase{"SlotsPastTheEndIgnored", {{kSampleCount, 1'000'000}, {0, 30000}},
                  {{0, 30000}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteWave, SavesWhatEncodeWaveMakes) {
  testing::ScratchDir dir;
  auto acc = silence();
  for (int i = 0; i < kSampleCount; i += 3) acc[i] = i % 70000 - 35000;
  const std::string path = (dir / "out.wav").string();
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(write_wave(acc.data(), kCellsPerRow, path.c_str()), 0);
  const Bytes expected = encode_wave(acc.data(), kCellsPerRow);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::read_bytes(path), expected);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"});
}

// The output is created before any sample is scaled: a file that cannot be
// created is reported without the warnings for loud samples.
TEST(WriteWave, WarnsOnlyWhenTheFileWasCreated) {
  testing::ScratchDir dir;
  auto acc = silence();
  acc[100] = 32765;
  acc[200] = -32761;
  const std::string good = (dir / "out.wav").string();
  const std::string bad = (dir / "missing" / "out.wav").string();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(write_wave(acc.data(), kCellsPerRow, good.c_str()), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ErrorError");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(write_wave(acc.data(), kCellsPerRow, bad.c_str()), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "The file '" + bad + "' was not opened\n");
}

}  // namespace
}  // namespace gridwave
