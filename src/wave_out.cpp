#include "wave_out.h"

#include <algorithm>
#include <cmath>

#include "atomic_file.h"
#include "console.h"

namespace gridwave {
namespace {

constexpr int kDataBytesPerColumn = kSamplesPerColumn * 2;  // 8020
constexpr float kLevelFactor = 0.00003125f;  // a little above 1/32000 as a float
constexpr double kLoudestUnscaled = 32768.0;
constexpr std::int64_t kWarnAbove = 32760;

void put_tag(std::vector<unsigned char>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

void put_u16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t v) {
  put_u16(out, static_cast<std::uint16_t>(v));
  put_u16(out, static_cast<std::uint16_t>(v >> 16));
}

// The factor every slot is multiplied by before truncation: 1 unless the
// peak is above 32768. The peak is a float. Rounding to float is monotonic,
// so rounding the largest magnitude once gives the same peak as rounding
// each new maximum on the way, and the scan stays a plain max.
float level_scale(const Slot* accumulator, int count) {
  double loudest = 1.0;
  for (int i = 0; i < count; ++i) loudest = std::max(loudest, std::fabs(static_cast<double>(accumulator[i])));
  const float peak = static_cast<float>(loudest);
  double x = 1.0;
  if (count > 0 && static_cast<double>(peak) > kLoudestUnscaled) {
    x = static_cast<double>(peak) * static_cast<double>(kLevelFactor);
  }
  return static_cast<float>(1.0 / x);
}

int sample_count(int columns) { return std::max(0, columns) * kSamplesPerColumn; }

std::vector<unsigned char> wave_header(int columns) {
  const std::uint32_t data_bytes = static_cast<std::uint32_t>(std::max(0, columns)) * kDataBytesPerColumn;
  std::vector<unsigned char> out;
  out.reserve(kWaveHeaderBytes);
  put_tag(out, "RIFF");
  put_u32(out, data_bytes + 36);
  put_tag(out, "WAVE");
  put_tag(out, "fmt ");
  put_u32(out, 16);                    // format chunk size
  put_u16(out, 1);                     // PCM
  put_u16(out, 1);                     // mono
  put_u32(out, kSampleRate);
  put_u32(out, kSampleRate * 2);       // byte rate
  put_u16(out, 2);                     // block alignment
  put_u16(out, 16);                    // bits per sample
  put_tag(out, "data");
  put_u32(out, data_bytes);
  return out;
}

// Samples [first, first + count) scaled, saturated and stored little-endian
// at out; returns how many are above 32760 in magnitude.
int encode_samples(const Slot* accumulator, double scale, int first, int count, unsigned char* out) {
  int warnings = 0;
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<std::int64_t>(static_cast<double>(accumulator[first + i]) * scale);
    warnings += v > kWarnAbove || v < -kWarnAbove;
    // Saturate rather than keep the low 16 bits, so a loud sample never flips sign.
    const auto sample = static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
    out[2 * i] = static_cast<unsigned char>(sample);
    out[2 * i + 1] = static_cast<unsigned char>(sample >> 8);
  }
  return warnings;
}

}  // namespace

std::vector<unsigned char> encode_wave(const Slot* accumulator, int columns, std::int64_t* loud_samples) {
  const int count = sample_count(columns);
  std::vector<unsigned char> out = wave_header(columns);
  out.resize(kWaveHeaderBytes + 2 * static_cast<std::size_t>(count));
  const int loud =
      encode_samples(accumulator, level_scale(accumulator, count), 0, count, out.data() + kWaveHeaderBytes);
  if (loud_samples != nullptr) *loud_samples = loud;
  return out;
}

int write_wave(const Slot* accumulator, int columns, const char* path) {
  // The file is created first, so a path that cannot be created is reported
  // before any sample is looked at. The samples follow a piece at a time.
  AtomicFile file;
  if (file.open(path) != SaveResult::kSaved) {
    say("The file '%s' was not opened\n", path);
    return 1;
  }
  const std::vector<unsigned char> header = wave_header(columns);
  bool written = file.write(header.data(), header.size());
  const int count = sample_count(columns);
  const double scale = level_scale(accumulator, count);
  constexpr int kPiece = 16384;
  unsigned char piece[2 * kPiece];
  for (int first = 0; written && first < count; first += kPiece) {
    const int n = std::min(kPiece, count - first);
    // Nothing else is printed among the warnings, so they can follow each piece.
    const int loud = encode_samples(accumulator, scale, first, n, piece);
    for (int i = 0; i < loud; ++i) say("Error");
    written = file.write(piece, 2 * static_cast<std::size_t>(n));
  }
  if (!written || file.commit() != SaveResult::kSaved) {
    say("The file '%s' could not be written\n", path);
    return 1;
  }
  return 0;
}

int save_phase(const Slot* accumulator, int columns, const char* path) {
  if (write_wave(accumulator, columns, path) == 0) {
    say("%s", japanese(JapaneseText::kFinished));
    return 0;
  }
  say("%s", japanese(JapaneseText::kSaveFailed));
  return 1;
}

}  // namespace gridwave
