#include "file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

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
  save_outputs_together({{path, &bytes}});
}

void save_outputs_together(const std::vector<Output>& outputs) {
  auto fail = [](SaveResult result, const std::string& path) {
    const std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : "";
    if (result == SaveResult::kNotOpened) throw ToolError("cannot create " + quoted(path) + reason);
    throw ToolError("cannot write " + quoted(path) + reason);
  };
  // Files not committed are removed when they go, leaving their paths as they were.
  std::vector<std::unique_ptr<AtomicFile>> files;
  for (const Output& output : outputs) {
    errno = 0;
    files.push_back(std::make_unique<AtomicFile>());
    const SaveResult opened = files.back()->open(output.path.c_str());
    if (opened != SaveResult::kSaved) fail(opened, output.path);
    if (!files.back()->write(output.bytes->data(), output.bytes->size())) fail(SaveResult::kNotWritten, output.path);
  }
  // Every file synced and closed before any replaces what was at its path.
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    errno = 0;
    const SaveResult finished = files[i]->finish();
    if (finished != SaveResult::kSaved) fail(finished, outputs[i].path);
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    errno = 0;
    const SaveResult published = files[i]->publish();
    if (published != SaveResult::kSaved) fail(published, outputs[i].path);
  }
}

}  // namespace gridwave::tools
