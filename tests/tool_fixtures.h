// Fixtures for the companion tools' tests: pictures in every PNG layout,
// sound files, and PNM files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace gridwave::testing {

struct PngLayout {
  int colour_type;  // SPNG_COLOR_TYPE_*
  int bit_depth;
};

// A PNG file of the given layout; raw holds the rows as the PNG stores them
// (16-bit samples host-endian). For indexed pictures, palette holds R, G, B,
// A of each entry in turn, the alphas going into tRNS.
Bytes encode_png(int width, int height, const PngLayout& layout, const std::vector<std::uint8_t>& raw,
                 const std::vector<std::uint8_t>& palette = {});

// The same 8-bit RGB picture (width * height * 3 bytes, rows from the top)
// in the other formats the tools read. JPEG at quality 95, 4:4:4; GIF with
// a palette of the picture's own colours (at most 256); WebP lossless; BMP
// 24-bit, bottom-up.
Bytes encode_jpeg(int width, int height, const std::vector<std::uint8_t>& rgb);
Bytes encode_gif(int width, int height, const std::vector<std::uint8_t>& rgb);
Bytes encode_webp(int width, int height, const std::vector<std::uint8_t>& rgb);
Bytes encode_bmp(int width, int height, const std::vector<std::uint8_t>& rgb);

// A binary PGM (channels 1) or PPM (channels 3) with the given samples
// (written as two bytes, big-endian, when maxval is above 255).
Bytes encode_pnm(int width, int height, int channels, int maxval, const std::vector<int>& samples);

// Writes interleaved frames in [-1, 1] as a sound file of the libsndfile
// format given (SF_FORMAT_WAV | SF_FORMAT_FLOAT, say).
void write_sound(const std::filesystem::path& path, int sample_rate, int channels, int format,
                 const std::vector<double>& frames);

// A sine of this amplitude (in [-1, 1] units) lasting `count` samples.
std::vector<double> sine(double frequency, double amplitude, int sample_rate, std::size_t count);

// The cells of a grid file, row count first removed: throws if the size is
// not 4 + 800 * rows.
Cells read_grid_cells(const std::filesystem::path& path, std::int32_t& rows);

// Pearson correlation of two equally long series.
double pearson(const std::vector<double>& a, const std::vector<double>& b);

// A tool's failure: the status, nothing on standard output, and one line on
// standard error that starts with the tool's name and holds `words`.
void expect_one_line_failure(const RunResult& r, int status, const std::string& tool, const std::string& words);

// decode_image refuses the bytes (named 'pic') with a message that holds
// every one of `words`.
void expect_picture_refused(const Bytes& bytes, const std::vector<std::string>& words);

}  // namespace gridwave::testing
