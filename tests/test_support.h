// Fixtures shared by the tests: grid files, scratch folders, running a
// program and reading what it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace gridwave::testing {

using Cells = std::vector<std::int32_t>;

// AddressSanitizer reserves terabytes of address space: tests that limit it
// cannot run in the sanitizer build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitized = true;
#else
inline constexpr bool kAddressSanitized = false;
#endif
#else
inline constexpr bool kAddressSanitized = false;
#endif
using Bytes = std::vector<unsigned char>;

// A grid file: the row count, then the given cells (any number of them, so
// short and long files can be made too).
Bytes grid_bytes(std::int32_t row_count, const Cells& cells);

// Cells of `rows` full rows, cell (r, k) = f(r, k).
template <typename F>
Cells make_cells(int rows, F f) {
  Cells cells;
  cells.reserve(static_cast<std::size_t>(rows) * 200);
  for (int r = 0; r < rows; ++r)
    for (int k = 0; k < 200; ++k) cells.push_back(f(r, k));
  return cells;
}

void write_bytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_bytes(const std::filesystem::path& path);

// A fresh folder, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  std::vector<std::string> entries() const;  // file names in the folder, sorted

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status = -1;    // exit status, or 128 + signal
  std::string out;    // everything written to standard output
  std::string err;    // everything written to standard error
};

struct RunOptions {
  std::vector<std::string> env;    // extra NAME=VALUE entries
  long file_size_limit = -1;       // RLIMIT_FSIZE in bytes for the child, -1 for none
  std::string cwd = {};           // working folder for the child, empty to keep the current one
  std::vector<std::pair<int, long>> limits = {};  // (RLIMIT_..., value) set in the child
  int user = -1;                   // user and group id to run the child as (needs root), -1 to keep
};

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options = {});

}  // namespace gridwave::testing
