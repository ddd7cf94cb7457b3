// Pictures of every format the tools read: the same picture decodes to the
// same brightness, and broken or corrupt files are refused.
#include <gtest/gtest.h>
#include <spng.h>
#include <turbojpeg.h>

#include <cstring>
#include <functional>

#include "image_input.h"
#include "tool_error.h"
#include "tool_fixtures.h"

namespace gridwave::tools {
namespace {

using testing::Bytes;

// 4 x 2: white, black, pure red, pure blue / mid grey, green, dark grey, yellow.
const std::vector<std::uint8_t> kRgb = {255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0, 255,
                                        128, 128, 128, 0, 255, 0, 40, 40, 40, 255, 255, 0};
// Greys keep their value; saturated red and blue are lifted to half; green
// and yellow keep their luma (above half).
const std::vector<float> kBrightness = {1.0f, 0.0f, 0.5f, 0.5f, 128 / 255.0f, 0.587f, 40 / 255.0f, 0.886f};

struct Format {
  const char* name;
  std::function<Bytes(int, int, const std::vector<std::uint8_t>&)> encode;
  float tolerance;  // JPEG is lossy
};

const Format kFormats[] = {
    {"PNG", [](int w, int h, const std::vector<std::uint8_t>& rgb) {
       return testing::encode_png(w, h, {SPNG_COLOR_TYPE_TRUECOLOR, 8}, rgb); }, 1e-5f},
    {"JPEG", testing::encode_jpeg, 0.06f},
    {"GIF", testing::encode_gif, 1e-5f},
    {"WebP", testing::encode_webp, 1e-5f},
    {"BMP", testing::encode_bmp, 1e-5f},
    {"PPM", [](int w, int h, const std::vector<std::uint8_t>& rgb) {
       return testing::encode_pnm(w, h, 3, 255, std::vector<int>(rgb.begin(), rgb.end())); }, 1e-5f},
};

TEST(PictureFormats, EveryFormatGivesTheSameBrightness) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    const LumaImage image = decode_image(f.encode(4, 2, kRgb), "pic");
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 2);
    for (std::size_t i = 0; i < kBrightness.size(); ++i) EXPECT_NEAR(image.luma[i], kBrightness[i], f.tolerance) << i;
  }
}

TEST(PictureFormats, BrokenPicturesOfEveryFormatAreRefused) {
  // A noisy picture, so that the compressed data is long enough to cut.
  std::vector<std::uint8_t> rgb(48 * 32 * 3);
  std::uint32_t state = 99;
  for (auto& v : rgb) v = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  for (const Format& f : kFormats) {
    if (std::strcmp(f.name, "GIF") == 0) continue;  // more than 256 colours: below, with few
    const Bytes whole = f.encode(48, 32, rgb);
    for (const std::size_t keep : {whole.size() / 2, std::size_t{20}, std::size_t{3}}) {
      SCOPED_TRACE(std::string(f.name) + " cut to " + std::to_string(keep));
      EXPECT_THROW(decode_image(Bytes(whole.begin(), whole.begin() + keep), "pic"), ToolError);
    }
  }
  std::vector<std::uint8_t> few(rgb.size());
  for (std::size_t i = 0; i < few.size(); ++i) few[i] = rgb[i] & 0xc0;  // 64 colours
  const Bytes gif = testing::encode_gif(48, 32, few);
  for (const std::size_t keep : {gif.size() / 2, std::size_t{20}, std::size_t{8}}) {
    SCOPED_TRACE("GIF cut to " + std::to_string(keep));
    EXPECT_THROW(decode_image(Bytes(gif.begin(), gif.begin() + keep), "pic"), ToolError);
  }
}

// The offset of the first chunk of this type, and of its data's end (where
// its CRC starts).
std::size_t chunk_at(const Bytes& png, const char* type, bool last = false) {
  std::size_t found = 0;
  for (std::size_t at = 8; at + 8 <= png.size();) {
    const std::size_t length = (std::size_t(png[at]) << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    if (std::memcmp(&png[at + 4], type, 4) == 0) {
      found = at;
      if (!last) break;
    }
    at += 12 + length;
  }
  return found;
}

std::size_t chunk_length(const Bytes& png, std::size_t at) {
  return (std::size_t(png[at]) << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
}

TEST(PictureFormats, CmykJpegIsRefusedPlainly) {
  // A 2 x 1 CMYK JPEG, as libjpeg-turbo writes it.
  tjhandle tj = tjInitCompress();
  const unsigned char cmyk[8] = {200, 0, 0, 0, 0, 0, 0, 255};
  unsigned char* out = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(tj, cmyk, 2, 0, 1, TJPF_CMYK, &out, &size, TJSAMP_444, 90, 0), 0);
  const Bytes jpeg(out, out + size);
  tjFree(out);
  tjDestroy(tj);
  testing::expect_picture_refused(jpeg, {"CMYK JPEG is not supported"});
}

TEST(PictureFormats, CorruptPngsAreRefused) {
  std::vector<std::uint8_t> raw(64 * 64);
  std::uint32_t state = 7;
  for (auto& v : raw) v = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 29);
  // Palette with transparency: green, and white fully transparent; then more.
  std::vector<std::uint8_t> palette = {0, 255, 0, 255, 255, 255, 255, 0};
  for (int i = 2; i < 8; ++i) palette.insert(palette.end(), {std::uint8_t(30 * i), 0, 0, 255});
  const Bytes png = testing::encode_png(64, 64, {SPNG_COLOR_TYPE_INDEXED, 8}, raw, palette);
  ASSERT_NO_THROW(decode_image(png, "pic"));

  const std::size_t idat = chunk_at(png, "IDAT", true), trns = chunk_at(png, "tRNS");
  ASSERT_GT(idat, 0u);
  ASSERT_GT(trns, 0u);
  const std::size_t idat_crc = idat + 8 + chunk_length(png, idat);

  Bytes flipped_bit = png;  // the last byte of the last IDAT's data: the zlib checksum
  flipped_bit[idat_crc - 1] ^= 0x01;
  Bytes bad_trns_crc = png;
  bad_trns_crc[trns + 8 + chunk_length(png, trns)] ^= 0x10;
  const Bytes cut_in_crc(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(idat_crc + 2));
  const Bytes no_iend(png.begin(), png.end() - 12);
  const struct {
    const char* name;
    const Bytes& bytes;
  } cases[] = {
      {"a flipped bit in the last IDAT", flipped_bit},
      {"a bad tRNS CRC", bad_trns_crc},
      {"cut inside the last IDAT's CRC", cut_in_crc},
      {"no IEND", no_iend},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::expect_picture_refused(c.bytes, {"is not a readable PNG image"});
  }
}

TEST(PictureFormats, BmpLayoutsAndRefusals) {
  // 2 x 2, 8-bit palette, top-down (negative height): white, black / red, grey.
  Bytes b(54 + 4 * 4 + 2 * 4, 0);
  auto put = [&b](std::size_t at, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put(10, 54 + 16, 4), put(14, 40, 4), put(18, 2, 4), put(22, static_cast<std::uint32_t>(-2), 4);
  put(26, 1, 2), put(28, 8, 2), put(46, 4, 4);
  const std::uint8_t colours[4][4] = {{255, 255, 255, 0}, {0, 0, 0, 0}, {0, 0, 255, 0}, {100, 100, 100, 0}};  // B, G, R
  std::memcpy(&b[54], colours, 16);
  const std::uint8_t rows[8] = {0, 1, 0, 0, 2, 3, 0, 0};
  std::memcpy(&b[70], rows, 8);
  const LumaImage image = decode_image(b, "pic");
  const std::vector<float> expected = {1.0f, 0.0f, 0.5f, 100 / 255.0f};
  ASSERT_EQ(image.luma.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(image.luma[i], expected[i], 1e-6) << i;

  auto changed = [&b](std::size_t at, std::uint32_t v) {
    Bytes copy = b;
    const unsigned char le[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                 static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    std::copy(le, le + 4, copy.begin() + static_cast<std::ptrdiff_t>(at));
    return copy;
  };
  const Bytes rle = changed(30, 1), huge = changed(18, 20000000);  // 40 million pixels
  Bytes bad_index = b;
  bad_index[70] = 9;
  for (const auto& [bytes, words] : {std::pair{rle, "compressed"}, std::pair{bad_index, "palette"}, std::pair{huge, "too large"}}) {
    SCOPED_TRACE(words);
    testing::expect_picture_refused(bytes, {words});
  }
}

}  // namespace
}  // namespace gridwave::tools
