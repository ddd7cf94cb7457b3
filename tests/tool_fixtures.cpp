#include "tool_fixtures.h"

#include <gif_lib.h>
#include <sndfile.h>
#include <turbojpeg.h>
#include <webp/encode.h>
#include <spng.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "image_input.h"
#include "tool_error.h"

namespace gridwave::testing {

Bytes encode_png(int width, int height, const PngLayout& layout, const std::vector<std::uint8_t>& raw,
                 const std::vector<std::uint8_t>& palette) {
  std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = width;
  ihdr.height = height;
  ihdr.bit_depth = static_cast<std::uint8_t>(layout.bit_depth);
  ihdr.color_type = static_cast<std::uint8_t>(layout.colour_type);
  if (spng_set_ihdr(ctx.get(), &ihdr) != 0) throw std::runtime_error("bad PNG layout");
  if (!palette.empty()) {
    spng_plte plte{};
    spng_trns trns{};
    plte.n_entries = static_cast<std::uint32_t>(palette.size() / 4);
    trns.n_type3_entries = plte.n_entries;
    for (std::size_t i = 0; i < plte.n_entries; ++i) {
      const std::uint8_t* entry = &palette[4 * i];
      plte.entries[i] = {entry[0], entry[1], entry[2], 255};
      trns.type3_alpha[i] = entry[3];
    }
    spng_set_plte(ctx.get(), &plte);
    spng_set_trns(ctx.get(), &trns);
  }
  if (int e = spng_encode_image(ctx.get(), raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE))
    throw std::runtime_error(std::string("PNG encoding failed: ") + spng_strerror(e));
  std::size_t size = 0;
  int error = 0;
  unsigned char* buffer = static_cast<unsigned char*>(spng_get_png_buffer(ctx.get(), &size, &error));
  Bytes bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

Bytes encode_jpeg(int width, int height, const std::vector<std::uint8_t>& rgb) {
  std::unique_ptr<void, decltype(&tjDestroy)> tj(tjInitCompress(), tjDestroy);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj.get(), rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 95, 0) != 0)
    throw std::runtime_error("JPEG encoding failed");
  Bytes bytes(out, out + size);
  tjFree(out);
  return bytes;
}

namespace {
int append_gif_bytes(GifFileType* gif, const GifByteType* data, int count) {
  static_cast<Bytes*>(gif->UserData)->insert(static_cast<Bytes*>(gif->UserData)->end(), data, data + count);
  return count;
}
}  // namespace

Bytes encode_gif(int width, int height, const std::vector<std::uint8_t>& rgb) {
  std::vector<GifColorType> colours;
  std::vector<GifPixelType> indices;
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    const GifColorType c{rgb[i], rgb[i + 1], rgb[i + 2]};
    std::size_t k = 0;
    while (k < colours.size() && (colours[k].Red != c.Red || colours[k].Green != c.Green || colours[k].Blue != c.Blue)) ++k;
    if (k == colours.size()) colours.push_back(c);
    indices.push_back(static_cast<GifPixelType>(k));
  }
  colours.resize(256, GifColorType{0, 0, 0});
  Bytes bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, append_gif_bytes, &error);
  ColorMapObject* map = GifMakeMapObject(256, colours.data());
  bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < height; ++y) ok = EGifPutLine(gif, &indices[std::size_t(y) * width], width) == GIF_OK;
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) != GIF_OK || !ok) throw std::runtime_error("GIF encoding failed");
  return bytes;
}

Bytes encode_webp(int width, int height, const std::vector<std::uint8_t>& rgb) {
  std::uint8_t* out = nullptr;
  const std::size_t size = WebPEncodeLosslessRGB(rgb.data(), width, height, width * 3, &out);
  if (size == 0) throw std::runtime_error("WebP encoding failed");
  Bytes bytes(out, out + size);
  WebPFree(out);
  return bytes;
}

Bytes encode_bmp(int width, int height, const std::vector<std::uint8_t>& rgb) {
  const std::size_t stride = (std::size_t(width) * 3 + 3) / 4 * 4;
  Bytes b(54 + stride * height, 0);
  auto put = [&b](std::size_t at, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put(2, static_cast<std::uint32_t>(b.size()), 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, width, 4);
  put(22, height, 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)  // stored blue, green, red, bottom row first
        b[54 + stride * (height - 1 - y) + 3 * x + c] = rgb[(std::size_t(y) * width + x) * 3 + 2 - c];
  return b;
}

Bytes encode_pnm(int width, int height, int channels, int maxval, const std::vector<int>& samples) {
  const std::string header = std::string(channels == 1 ? "P5" : "P6") + "\n# made by a test\n" +
                             std::to_string(width) + " " + std::to_string(height) + "\n" +
                             std::to_string(maxval) + "\n";
  Bytes bytes(header.begin(), header.end());
  for (int s : samples) {
    if (maxval > 255) bytes.push_back(static_cast<unsigned char>(s >> 8));
    bytes.push_back(static_cast<unsigned char>(s & 0xff));
  }
  return bytes;
}

void write_sound(const std::filesystem::path& path, int sample_rate, int channels, int format,
                 const std::vector<double>& frames) {
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
  const sf_count_t count = static_cast<sf_count_t>(frames.size()) / channels;
  const sf_count_t written = sf_writef_double(file, frames.data(), count);
  sf_close(file);
  if (written != count) throw std::runtime_error("short sound write");
}

std::vector<double> sine(double frequency, double amplitude, int sample_rate, std::size_t count) {
  std::vector<double> out(count);
  for (std::size_t n = 0; n < count; ++n)
    out[n] = amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / sample_rate);
  return out;
}

Cells read_grid_cells(const std::filesystem::path& path, std::int32_t& rows) {
  const Bytes bytes = read_bytes(path);
  if (bytes.size() < 4) throw std::runtime_error("grid file too short");
  auto value = [&bytes](std::size_t offset) {
    return static_cast<std::int32_t>(std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
                                     std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24);
  };
  rows = value(0);
  if (rows < 0 || bytes.size() != 4 + std::size_t(rows) * 800) throw std::runtime_error("grid file of wrong size");
  Cells cells(std::size_t(rows) * 200);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = value(4 + 4 * i);
  return cells;
}

double pearson(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  double mean_a = 0, mean_b = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    mean_a += a[i] / n;
    mean_b += b[i] / n;
  }
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - mean_a) * (b[i] - mean_b);
    aa += (a[i] - mean_a) * (a[i] - mean_a);
    bb += (b[i] - mean_b) * (b[i] - mean_b);
  }
  return ab / std::sqrt(aa * bb);
}

void expect_one_line_failure(const RunResult& r, int status, const std::string& tool, const std::string& words) {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(tool + ": ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
}

void expect_picture_refused(const Bytes& bytes, const std::vector<std::string>& words) {
  try {
    tools::decode_image(bytes, "pic");
    ADD_FAILURE() << "accepted";
  } catch (const tools::ToolError& e) {
    for (const std::string& w : words) EXPECT_NE(std::string(e.what()).find(w), std::string::npos) << e.what();
  }
}

}  // namespace gridwave::testing
