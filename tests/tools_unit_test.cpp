// The companion tools' building blocks: picture decoding, resampling,
// brightness mapping and tone analysis.
#include <gtest/gtest.h>
#include <spng.h>

#include <cmath>
#include <cstring>

#include "constants.h"
#include "image_input.h"
#include "picture_to_grid.h"
#include "png_output.h"
#include "tone.h"
#include "tone_analysis.h"
#include "tool_error.h"
#include "tool_fixtures.h"

namespace gridwave::tools {
namespace {

using testing::Bytes;

std::vector<std::uint8_t> words16(std::initializer_list<std::uint16_t> values) {
  std::vector<std::uint8_t> raw(values.size() * 2);
  std::memcpy(raw.data(), std::data(values), raw.size());  // host-endian, as libspng expects
  return raw;
}

TEST(DecodeImage, EveryPngLayoutGivesLumaOverBlack) {
  struct Case {
    const char* name;
    testing::PngLayout layout;
    std::vector<std::uint8_t> raw;  // one row of two pixels
    float first, second;
  };
  const std::vector<Case> cases = {
      {"grey 1-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 1}, {0x80}, 1.0f, 0.0f},
      {"grey 8-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 8}, {0, 255}, 0.0f, 1.0f},
      {"grey 16-bit", {SPNG_COLOR_TYPE_GRAYSCALE, 16}, words16({0x8000, 0xffff}), 32768 / 65535.0f, 1.0f},
      {"grey+alpha 8-bit", {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8}, {255, 51, 102, 255}, 0.2f, 0.4f},
      {"RGB 8-bit", {SPNG_COLOR_TYPE_TRUECOLOR, 8}, {255, 0, 0, 0, 0, 255}, 0.5f, 0.5f},  // saturated: half
      {"RGBA 16-bit",
       {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16},
       words16({0xffff, 0xffff, 0xffff, 0, 0, 0xffff, 0, 0xffff}),
       0.0f,
       0.587f},
      {"palette with transparency",
       {SPNG_COLOR_TYPE_INDEXED, 8},
       {0, 1},
       0.587f,
       0.0f},
  };
  // Green, and white made fully transparent.
  const std::vector<std::uint8_t> palette = {0, 255, 0, 255, 255, 255, 255, 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool indexed = c.layout.colour_type == SPNG_COLOR_TYPE_INDEXED;
    const LumaImage image =
        decode_image(testing::encode_png(2, 1, c.layout, c.raw, indexed ? palette : std::vector<std::uint8_t>{}), "x.png");
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 1);
    EXPECT_NEAR(image.luma[0], c.first, 1e-4);
    EXPECT_NEAR(image.luma[1], c.second, 1e-4);
  }
}

TEST(DecodeImage, BinaryPgmAndPpm) {
  const LumaImage grey = decode_image(testing::encode_pnm(3, 1, 1, 200, {0, 100, 200}), "x.pgm");
  EXPECT_EQ(grey.luma, (std::vector<float>{0.0f, 0.5f, 1.0f}));

  const LumaImage deep = decode_image(testing::encode_pnm(1, 2, 1, 65535, {65535, 257}), "x.pgm");
  EXPECT_EQ(deep.height, 2);
  EXPECT_NEAR(deep.luma[0], 1.0f, 1e-6);
  EXPECT_NEAR(deep.luma[1], 257 / 65535.0f, 1e-6);

  const LumaImage colour = decode_image(testing::encode_pnm(1, 1, 3, 255, {0, 255, 0}), "x.ppm");
  EXPECT_NEAR(colour.luma[0], 0.587f, 1e-6);
}

// A valid PNG with enough pixel data that cutting it or flipping a byte
// hits the compressed image.
Bytes noisy_png() {
  std::vector<std::uint8_t> raw(64 * 64);
  std::uint32_t state = 12345;
  for (auto& v : raw) v = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  return testing::encode_png(64, 64, {SPNG_COLOR_TYPE_GRAYSCALE, 8}, raw);
}

TEST(DecodeImage, RejectsBrokenAndUnsupportedFiles) {
  const Bytes png = noisy_png();
  Bytes truncated(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
  Bytes flipped = png;
  flipped[png.size() / 2] ^= 0x40;
  Bytes header_only(png.begin(), png.begin() + 8);
  auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };

  const struct {
    const char* name;
    Bytes bytes;
    const char* message;
  } cases[] = {
      {"empty", {}, "is empty"},
      {"truncated PNG", truncated, "is not a readable PNG image"},
      {"PNG with a flipped byte", flipped, "is not a readable PNG image"},
      {"PNG signature only", header_only, "is not a readable PNG image"},
      {"text", text("hello"), "is not a supported image"},
      {"GIF cut in its header", text("GIF89a\x01\x00\x01\x00"), "is not a readable GIF image"},
      {"TIFF", text("II*\x00\x08\x00\x00\x00"), "is not a supported image"},
      {"plain PGM", text("P2\n1 1\n255\n0\n"), "not supported"},
      {"zero-width PGM", text("P5\n0 4\n255\n"), "has no pixels"},
      {"zero-height PPM", text("P6 4 0 255\n"), "has no pixels"},
      {"PGM maxval 0", text("P5 1 1 0\n\x01"), "maximum value"},
      {"PGM maxval 65536", text("P5 1 1 65536\n\x01\x01"), "maximum value"},
      {"PGM cut in its header", text("P5 1 1"), "ends inside its header"},
      {"PGM cut in its pixels", text("P5 2 2 255\n\x01\x02\x03"), "truncated"},
      {"16-bit PGM cut in its pixels", text("P5 1 1 1000\n\x01"), "truncated"},
      {"PPM too large", text("P6 100000 100000 255\n"), "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::expect_picture_refused(c.bytes, {c.message, "'pic'"});
  }
}

TEST(AreaResample, AveragesByCoveredArea) {
  const struct {
    std::vector<double> in;
    int count;
    std::vector<double> out;
  } cases[] = {
      {{1, 2, 3, 4}, 2, {1.5, 3.5}},
      {{1, 3}, 4, {1, 1, 3, 3}},
      {{0, 3, 6}, 2, {1, 5}},  // the middle pixel is split in half
      {{2, 4, 8}, 3, {2, 4, 8}},
      {{0, 6}, 3, {0, 3, 6}},
  };
  for (const auto& c : cases) {
    const std::vector<double> out = area_resample(c.in, c.count);
    ASSERT_EQ(out.size(), c.out.size());
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], c.out[i], 1e-12) << i;
  }
}

TEST(CellForBrightness, DecibelsLinearAndInverted) {
  const CellMapping db;  // 60 dB, largest cell 1000
  const CellMapping narrow{false, 20.0, 500, false};
  const CellMapping linear{true, 60.0, 200, false};
  const CellMapping inverted{true, 60.0, 200, true};
  const struct {
    const char* name;
    const CellMapping& mapping;
    double brightness;
    std::int32_t cell;
  } cases[] = {
      {"full", db, 1.0, 1000},
      {"half: 30 dB down", db, 0.5, 32},
      {"the darkest grey still sounds", db, 1 / 255.0, 1},
      {"black is silent", db, 0.0, 0},
      {"above white is white", db, 1.5, 1000},
      {"20 dB range", narrow, 0.5, 158},  // 500 * 10^-0.5
      {"linear", linear, 0.25, 50},
      {"inverted black", inverted, 0.0, 200},
      {"inverted white", inverted, 1.0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(cell_for_brightness(c.brightness, c.mapping), c.cell) << c.name;
}

TEST(PictureToGrid, TopRowSoundsHighestAndRowZeroIsSilent) {
  // 2 x 3 picture: rows from the top 1.0, 0.5, 0.0; right column half as bright.
  const LumaImage image{2, 3, {1.0f, 0.5f, 0.5f, 0.25f, 0.0f, 0.0f}};
  const CellMapping linear{true, 60.0, 100, false};
  EXPECT_EQ(picture_to_grid(image, std::nullopt, linear).rows, kDefaultPictureRows + 1);
  const Grid grid = picture_to_grid(image, 3, linear);
  ASSERT_EQ(grid.rows, 4);
  ASSERT_EQ(grid.cells.size(), 4u * kCellsPerRow);
  for (int k = 0; k < kCellsPerRow; ++k) {
    const bool left = k < kCellsPerRow / 2;
    EXPECT_EQ(grid.at(0, k), 0);
    EXPECT_EQ(grid.at(1, k), left ? 100 : 50);
    EXPECT_EQ(grid.at(2, k), left ? 50 : 25);
    EXPECT_EQ(grid.at(3, k), 0);
  }

  const Grid taller = picture_to_grid(image, 6, linear);
  ASSERT_EQ(taller.rows, 7);
  EXPECT_EQ(taller.at(1, 0), 100);
  EXPECT_EQ(taller.at(2, 0), 100);
  EXPECT_EQ(taller.at(3, 0), 50);
  EXPECT_EQ(taller.at(6, 0), 0);

  const Grid shorter = picture_to_grid(image, 1, linear);
  ASSERT_EQ(shorter.rows, 2);
  EXPECT_EQ(shorter.at(1, 0), 50);  // (1 + 0.5 + 0) / 3
}

}  // namespace
}  // namespace gridwave::tools
