#include "file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "atomic_file.h"
#include "tool_error.h"

namespace gridwave::tools {

namespace {

[[noreturn]] void fail_reading(const std::string& path, int error) {
  throw ToolError("cannot read " + quoted(path) + ": " + std::strerror(error));
}

// Closes the descriptor on every way out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::vector<unsigned char> read_file_bytes(const std::string& path, std::size_t max_bytes) {
  Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) fail_reading(path, errno);
  struct stat st;
  if (fstat(file.fd, &st) != 0) fail_reading(path, errno);
  if (S_ISDIR(st.st_mode)) fail_reading(path, EISDIR);

  std::vector<unsigned char> bytes;
  unsigned char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail_reading(path, errno);
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > max_bytes)
      throw ToolError(quoted(path) + " is too large (more than " + std::to_string(max_bytes) +
                      " bytes)");
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

void save_output(const std::string& path, const std::vector<unsigned char>& bytes) {
  errno = 0;
  const SaveResult result = save_file(path.c_str(), bytes.data(), bytes.size());
  if (result == SaveResult::kSaved) return;
  const std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : "";
  if (result == SaveResult::kNotOpened) throw ToolError("cannot create " + quoted(path) + reason);
  throw ToolError("cannot write " + quoted(path) + reason);
}

}  // namespace gridwave::tools
