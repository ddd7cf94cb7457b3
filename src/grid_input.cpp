#include "grid_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "console.h"
#include "constants.h"

namespace gridwave {
namespace {

// The process-wide input stream and the path it was opened by (for messages).
std::FILE* input = nullptr;
std::string input_path;

void say_ending() { say("%s", japanese(JapaneseText::kEnding)); }

bool is_regular_file(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

std::int32_t from_little_endian(const unsigned char* b) {
  const std::uint32_t u = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                          std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
  return static_cast<std::int32_t>(u);
}

// Reads count cells (into destination unless it is null); false when the
// file ends first.
bool read_quietly(std::int32_t* destination, std::int64_t count) {
  constexpr std::int64_t kChunk = 1024;
  unsigned char bytes[kChunk * kCellBytes];
  while (count > 0) {
    const std::int64_t n = std::min(count, kChunk);
    if (std::fread(bytes, kCellBytes, static_cast<std::size_t>(n), input) !=
        static_cast<std::size_t>(n)) {
      return false;
    }
    if (destination != nullptr) {
      for (std::int64_t k = 0; k < n; ++k) {
        *destination++ = from_little_endian(bytes + k * kCellBytes);
      }
    }
    count -= n;
  }
  return true;
}

}  // namespace

int open_input(const char* path) {
  // A directory or FIFO counts as a file that cannot be opened; checking
  // before fopen also keeps a FIFO from blocking the open.
  std::FILE* file = is_regular_file(path) ? std::fopen(path, "rb") : nullptr;
  struct stat st;
  if (file != nullptr && (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))) {
    std::fclose(file);
    file = nullptr;
  }
  if (file == nullptr) {
    say("Cannot open file\n");
    say_ending();
    return 1;
  }
  input = file;
  input_path = path;
  return 0;
}

int read_cells(std::int32_t* destination, std::int64_t count) {
  return read_quietly(destination, count) ? 0 : report_short_grid();
}

int read_rows(std::int32_t* destination, int rows) {
  int done = 0;
  while (done < rows && read_quietly(destination + std::int64_t{done} * kCellsPerRow, kCellsPerRow)) {
    ++done;
  }
  return done;
}

int report_short_grid() {
  say("The grid file '%s' is too short\n", input_path.c_str());
  say_ending();
  return 1;
}

int read_cell(std::int32_t& destination) { return read_cells(&destination, 1); }

int skip_cells(std::int64_t count) { return read_cells(nullptr, count); }

std::int64_t grid_bytes_needed(std::int32_t rows) {
  return rows >= 2 ? kCellBytes + kRowBytes * rows : kCellBytes;
}

int check_grid_length(std::int32_t rows) {
  struct stat st;
  if (fstat(fileno(input), &st) != 0 || st.st_size < grid_bytes_needed(rows)) {
    return report_short_grid();
  }
  return 0;
}

int check_row_count(std::int32_t rows) {
  if (rows <= kMaxRowCount) return 0;
  say("The grid file '%s' has too many rows (%d, at most %d)\n", input_path.c_str(), rows, kMaxRowCount);
  say_ending();
  return 1;
}

void close_input() {
  if (input != nullptr) std::fclose(input);
  input = nullptr;
}

}  // namespace gridwave
