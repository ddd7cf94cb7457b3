#include "image_input.h"

#include <spng.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "file_bytes.h"
#include "picture_formats.h"
#include "tool_error.h"

namespace gridwave::tools {

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// A compressed PNG can hardly be larger than its pixels; this bounds the read.
constexpr std::size_t kMaxFileBytes = kMaxPixels * 8 + (std::size_t{1} << 20);
// Bounds the memory libspng may spend on ancillary chunks (text, profiles).
constexpr std::size_t kMaxChunkBytes = std::size_t{1} << 24;

}  // namespace

void check_image_size(std::uint64_t width, std::uint64_t height, const std::string& name) {
  if (width == 0 || height == 0) throw ToolError(quoted(name) + " has no pixels (zero width or height)");
  if (width * height > kMaxPixels)
    throw ToolError(quoted(name) + " is too large (" + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels; at most " + std::to_string(kMaxPixels) +
                    " pixels)");
}

namespace {

LumaImage decode_png(const std::vector<unsigned char>& bytes, const std::string& name) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
  if (!ctx) throw std::bad_alloc();
  auto check = [&name](int error) {
    if (error != 0) throw ToolError(quoted(name) + " is not a readable PNG image: " + spng_strerror(error));
  };
  check(spng_set_chunk_limits(ctx.get(), kMaxChunkBytes, kMaxChunkBytes));
  // A bad checksum on any chunk, ancillary ones (tRNS) included, is a
  // corrupt file, not something to drop silently.
  check(spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR));
  check(spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size()));
  spng_ihdr ihdr{};
  check(spng_get_ihdr(ctx.get(), &ihdr));
  check_image_size(ihdr.width, ihdr.height, name);

  std::size_t size = 0;
  check(spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA16, &size));
  // Host-endian 16-bit red, green, blue, alpha; palettes, grey levels and
  // tRNS transparency are expanded by libspng.
  std::vector<std::uint16_t> rgba(size / 2);
  check(spng_decode_image(ctx.get(), rgba.data(), size, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS));
  // Read on to IEND: the rest of the last IDAT (its CRC, the zlib checksum)
  // and every chunk after it must be intact too.
  check(spng_decode_chunks(ctx.get()));

  return image_from_rgba(ihdr.width, ihdr.height, rgba.data(), 65535.0f);
}

// Reads the header fields of a binary PGM/PPM: numbers separated by white
// space, with comments from '#' to the end of a line.
class PnmHeader {
 public:
  PnmHeader(const std::vector<unsigned char>& bytes, const std::string& name)
      : bytes_(bytes), name_(name) {}

  std::uint64_t number() {
    skip_space_and_comments();
    std::uint64_t value = 0;
    int digits = 0;
    while (pos_ < bytes_.size() && bytes_[pos_] >= '0' && bytes_[pos_] <= '9') {
      value = value * 10 + (bytes_[pos_++] - '0');
      if (++digits > 9) fail("a header number is too large");
    }
    if (digits == 0) fail(pos_ < bytes_.size() ? "its header is malformed" : "it ends inside its header");
    return value;
  }

  // The single white-space byte that ends the header.
  std::size_t raster_start() {
    if (pos_ >= bytes_.size()) fail("it ends inside its header");
    if (!is_space(bytes_[pos_])) fail("its header is malformed");
    return pos_ + 1;
  }

  [[noreturn]] void fail(const std::string& why) const {
    throw ToolError(quoted(name_) + " is not a readable PGM/PPM image: " + why);
  }

 private:
  static bool is_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  void skip_space_and_comments() {
    while (pos_ < bytes_.size()) {
      if (is_space(bytes_[pos_])) {
        ++pos_;
      } else if (bytes_[pos_] == '#') {
        while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }

  const std::vector<unsigned char>& bytes_;
  const std::string& name_;
  std::size_t pos_ = 2;  // past the magic number
};

LumaImage decode_pnm(const std::vector<unsigned char>& bytes, const std::string& name) {
  const int channels = bytes[1] == '5' ? 1 : 3;
  PnmHeader header(bytes, name);
  const std::uint64_t width = header.number();
  const std::uint64_t height = header.number();
  const std::uint64_t maxval = header.number();
  if (maxval == 0 || maxval > 65535) header.fail("its maximum value must be 1 to 65535");
  const std::size_t start = header.raster_start();
  check_image_size(width, height, name);

  const int sample_bytes = maxval < 256 ? 1 : 2;
  const std::size_t pixels = width * height;
  if (bytes.size() - start < pixels * channels * sample_bytes) header.fail("it is truncated");

  const unsigned char* p = bytes.data() + start;
  auto sample = [&p, sample_bytes, maxval]() {
    unsigned value = *p++;
    if (sample_bytes == 2) value = (value << 8) | *p++;  // big-endian
    // Values above maxval are out of range; treat them as full brightness.
    return value >= maxval ? 1.0f : static_cast<float>(value) / static_cast<float>(maxval);
  };
  LumaImage image{static_cast<int>(width), static_cast<int>(height), {}};
  image.luma.resize(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    if (channels == 1) {
      image.luma[i] = sample();
    } else {
      const float r = sample(), g = sample(), b = sample();
      image.luma[i] = brightness_of(r, g, b);
    }
  }
  return image;
}

}  // namespace

float luma_of(float red, float green, float blue) {
  return 0.299f * red + 0.587f * green + 0.114f * blue;
}

float brightness_of(float red, float green, float blue) {
  return std::max(luma_of(red, green, blue), 0.5f * std::max({red, green, blue}));
}

LumaImage decode_image(const std::vector<unsigned char>& bytes, const std::string& name) {
  if (bytes.empty()) throw ToolError(quoted(name) + " is empty");
  auto starts_with = [&bytes](const char* magic, std::size_t length, std::size_t at = 0) {
    return bytes.size() >= at + length && std::memcmp(bytes.data() + at, magic, length) == 0;
  };
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0) return decode_png(bytes, name);
  if (starts_with("\xff\xd8\xff", 3)) return decode_jpeg(bytes, name);
  if (starts_with("GIF87a", 6) || starts_with("GIF89a", 6)) return decode_gif(bytes, name);
  if (starts_with("RIFF", 4) && starts_with("WEBP", 4, 8)) return decode_webp(bytes, name);
  if (starts_with("BM", 2)) return decode_bmp(bytes, name);
  if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6'))
    return decode_pnm(bytes, name);
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7')
    throw ToolError(quoted(name) + " is a kind of PNM image that is not supported (only binary PGM 'P5' and PPM 'P6')");
  throw ToolError(quoted(name) + " is not a supported image (PNG, JPEG, GIF, BMP, WebP, or binary PGM/PPM)");
}

LumaImage load_image(const std::string& path) { return decode_image(read_file_bytes(path, kMaxFileBytes), path); }

}  // namespace gridwave::tools
