// BMP, read by our own small decoder. Debian has no small, well-kept BMP
// library: the ones that read it (ImageMagick, GDK-Pixbuf, SDL_image) bring
// large attack surfaces for one simple format, and stb_image has a long
// record of overflows. Uncompressed BMP is a fixed header and a raster, so
// every field is checked here against the file's size before it is used,
// and the decoder runs under the picture fuzzer. Read: Windows headers
// (40, 52, 56, 108 or 124 bytes), 1/4/8-bit palettes, 16/24/32-bit colour
// (BI_RGB, or BI_BITFIELDS masks), bottom-up or top-down rows. Refused with a
// clear message: run-length, JPEG and PNG compression, OS/2 headers.
#include <cstdint>
#include <cstring>

#include "picture_formats.h"
#include "tool_error.h"

namespace gridwave::tools {

namespace {

constexpr std::uint32_t kRgb = 0, kBitfields = 3, kAlphaBitfields = 6;

std::uint32_t le(const std::vector<unsigned char>& b, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}

// A channel from its mask: the masked bits scaled to 0 ... 1.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  double full = 1;
  explicit Channel(std::uint32_t m) : mask(m) {
    if (mask == 0) return;
    while (((mask >> shift) & 1) == 0) ++shift;
    full = static_cast<double>(mask >> shift);
  }
  float of(std::uint32_t pixel) const { return mask == 0 ? 0.0f : static_cast<float>(((pixel & mask) >> shift) / full); }
};

}  // namespace

LumaImage decode_bmp(const std::vector<unsigned char>& b, const std::string& name) {
  auto fail = [&name](const std::string& why) -> LumaImage {
    throw ToolError(quoted(name) + " is not a readable BMP image: " + why);
  };
  if (b.size() < 14 + 12) return fail("it ends inside its header");
  const std::uint32_t raster_at = le(b, 10, 4);
  const std::uint32_t header = le(b, 14, 4);
  if (header == 12) return fail("OS/2 bitmaps are not supported");
  if (header != 40 && header != 52 && header != 56 && header != 108 && header != 124)
    return fail("its header size " + std::to_string(header) + " is not one of a Windows bitmap");
  if (b.size() < 14 + std::size_t{header}) return fail("it ends inside its header");
  const std::int32_t width = static_cast<std::int32_t>(le(b, 18, 4));
  const std::int32_t signed_height = static_cast<std::int32_t>(le(b, 22, 4));
  const int bits = static_cast<int>(le(b, 28, 2));
  const std::uint32_t compression = le(b, 30, 4);
  if (width <= 0 || signed_height == 0 || signed_height == INT32_MIN)
    throw ToolError(quoted(name) + " has no pixels (zero width or height)");
  const bool top_down = signed_height < 0;
  const std::uint32_t height = static_cast<std::uint32_t>(top_down ? -std::int64_t{signed_height} : signed_height);
  check_image_size(static_cast<std::uint32_t>(width), height, name);

  if (compression != kRgb && compression != kBitfields && compression != kAlphaBitfields)
    return fail("compressed bitmaps (run-length, JPEG, PNG) are not supported");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return fail(std::to_string(bits) + " bits per pixel is not a BMP layout");
  if (compression != kRgb && bits != 16 && bits != 32) return fail("colour masks need 16 or 32 bits per pixel");

  // Colour masks: in the header (52 bytes and more) or right after a 40-byte one.
  std::uint32_t masks[3] = {0x7c00, 0x03e0, 0x001f};  // 16-bit BI_RGB: 5-5-5
  if (bits == 32) masks[0] = 0xff0000, masks[1] = 0xff00, masks[2] = 0xff;
  std::size_t palette_at = 14 + header;
  if (compression != kRgb) {
    if (header == 40) {
      const int count = compression == kAlphaBitfields ? 4 : 3;
      if (b.size() < palette_at + 4 * count) return fail("it ends inside its colour masks");
      palette_at += 4 * count;
    }
    for (int i = 0; i < 3; ++i) masks[i] = le(b, 14 + 40 + 4 * i, 4);
  }
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

  std::vector<float> palette;  // brightness of each entry
  if (bits <= 8) {
    std::uint32_t entries = le(b, 46, 4);
    if (entries == 0) entries = 1u << bits;
    if (entries > (1u << bits)) return fail("its palette is larger than its pixels can index");
    if (palette_at + 4 * std::size_t{entries} > b.size()) return fail("it ends inside its palette");
    for (std::uint32_t i = 0; i < entries; ++i) {
      const unsigned char* p = &b[palette_at + 4 * i];  // blue, green, red, unused
      palette.push_back(brightness_of(p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f));
    }
  }

  const std::size_t stride = ((std::size_t(width) * bits + 31) / 32) * 4;
  if (raster_at > b.size() || (b.size() - raster_at) / stride < height) return fail("it is truncated");

  LumaImage image{width, static_cast<int>(height), std::vector<float>(std::size_t(width) * height)};
  for (std::uint32_t y = 0; y < height; ++y) {
    const unsigned char* row = &b[raster_at + stride * (top_down ? y : height - 1 - y)];
    float* out = &image.luma[std::size_t(y) * width];
    for (std::int32_t x = 0; x < width; ++x) {
      if (bits <= 8) {
        const int per_byte = 8 / bits;
        const unsigned index = (row[x / per_byte] >> (8 - bits * (x % per_byte + 1))) & ((1u << bits) - 1);
        if (index >= palette.size()) return fail("a pixel names a colour its palette does not have");
        out[x] = palette[index];
      } else if (bits == 24) {
        const unsigned char* p = row + 3 * std::size_t(x);
        out[x] = brightness_of(p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f);
      } else {
        const std::uint32_t pixel = le(b, (row - b.data()) + std::size_t(x) * (bits / 8), bits / 8);
        out[x] = brightness_of(red.of(pixel), green.of(pixel), blue.of(pixel));
      }
    }
  }
  return image;
}

}  // namespace gridwave::tools
