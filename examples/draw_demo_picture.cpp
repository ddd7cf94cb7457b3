// Draws the demo picture: the word GRIDWAVE, a glowing moon, a sine wave and
// a brightness ramp on black, 200 x 100 pixels (one pixel per grid column).
// img2grid turns it into a grid, and the spectrogram of gridwave's sound
// shows it again.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <numbers>
#include <string>
#include <vector>

#include "png_output.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 100;
constexpr int kSubsamples = 4;  // per axis, for smooth edges

struct Colour {
  double r, g, b;
};

// 5 x 7 capitals, drawn for this picture.
const std::array<const char*, 7>& glyph(char letter) {
  static const std::array<const char*, 7> kG = {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."};
  static const std::array<const char*, 7> kR = {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"};
  static const std::array<const char*, 7> kI = {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."};
  static const std::array<const char*, 7> kD = {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."};
  static const std::array<const char*, 7> kW = {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"};
  static const std::array<const char*, 7> kA = {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"};
  static const std::array<const char*, 7> kV = {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."};
  static const std::array<const char*, 7> kE = {"#####", "#....", "#....", "####.", "#....", "#....", "#####"};
  switch (letter) {
    case 'G': return kG;
    case 'R': return kR;
    case 'I': return kI;
    case 'D': return kD;
    case 'W': return kW;
    case 'A': return kA;
    case 'V': return kV;
    default: return kE;
  }
}

// Colour of the scene at a point (x, y) in pixel units, y growing downwards.
Colour scene(double x, double y) {
  // The word, 3 pixels per font dot, from (6, 8).
  constexpr int kScale = 3, kLeft = 6, kTop = 8;
  const std::string word = "GRIDWAVE";
  const int column = static_cast<int>(std::floor((x - kLeft) / kScale));
  const int row = static_cast<int>(std::floor((y - kTop) / kScale));
  if (column >= 0 && row >= 0 && row < 7) {
    const int letter = column / 6, dot = column % 6;
    if (letter < static_cast<int>(word.size()) && dot < 5 && glyph(word[letter])[row][dot] == '#')
      return {1.0, 0.85, 0.2};
  }
  // A moon whose light fades towards its rim.
  const double distance = std::hypot(x - 178.0, y - 20.0) / 15.0;
  if (distance < 1.0) {
    const double glow = 1.0 - 0.55 * distance * distance;
    return {glow, glow * 0.95, glow * 0.8};
  }
  // Two periods of a sine wave, a little over 3 pixels thick.
  const double wave_y = 62.0 + 16.0 * std::sin(2.0 * std::numbers::pi * x / 100.0);
  if (std::abs(y - wave_y) < 1.7) return {0.3, 0.85, 1.0};
  // A ramp from black to white along the bottom.
  if (y >= 88.0 && y < 96.0) {
    const double v = x / kWidth;
    return {v, v, v};
  }
  return {0.0, 0.0, 0.0};
}

std::vector<std::uint8_t> draw() {
  std::vector<std::uint8_t> rgb;
  rgb.reserve(std::size_t{kWidth} * kHeight * 3);
  for (int py = 0; py < kHeight; ++py) {
    for (int px = 0; px < kWidth; ++px) {
      Colour sum{0, 0, 0};
      for (int sy = 0; sy < kSubsamples; ++sy) {
        for (int sx = 0; sx < kSubsamples; ++sx) {
          const Colour c = scene(px + (sx + 0.5) / kSubsamples, py + (sy + 0.5) / kSubsamples);
          sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
        }
      }
      constexpr double kCount = kSubsamples * kSubsamples;
      for (double channel : {sum.r, sum.g, sum.b})
        rgb.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(channel / kCount, 0.0, 1.0) * 255.0)));
    }
  }
  return rgb;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_demo_picture PNG\n");
    return 2;
  }
  try {
    gridwave::tools::save_rgb_png(argv[1], kWidth, kHeight, draw());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "draw_demo_picture: %s\n", e.what());
    return 1;
  }
  return 0;
}
