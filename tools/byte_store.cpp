#include "byte_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"
#include "tool_error.h"

namespace gridwave::tools {

void MemoryStore::write_at(std::uint64_t offset, const void* data, std::size_t size) {
  if (offset + size > bytes_.size()) bytes_.resize(offset + size);
  std::memcpy(bytes_.data() + offset, data, size);
}

void MemoryStore::read_at(std::uint64_t offset, void* data, std::size_t size) const {
  if (offset + size > bytes_.size()) throw ToolError("internal error: read past the end of the sound");
  std::memcpy(data, bytes_.data() + offset, size);
}

namespace {

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int open_unnamed(const std::string& folder) {
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // No O_TMPFILE on this file system: a named file, unlinked at once.
  std::string name = folder + "/.img2sound-scratch-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

[[noreturn]] void fail_scratch(const char* what) {
  throw ToolError(std::string("cannot ") + what + " the scratch file: " + std::strerror(errno));
}

}  // namespace

ScratchFile::ScratchFile(const std::string& near_path) {
  fd_ = open_unnamed(folder_of(near_path));
  if (fd_ < 0) {
    const char* tmp = std::getenv("TMPDIR");
    fd_ = open_unnamed(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  }
  if (fd_ < 0) fail_scratch("create");
}

ScratchFile::~ScratchFile() { close(fd_); }

void ScratchFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail_scratch("write");
    p += n, offset += n, size -= n;
  }
}

void ScratchFile::read_at(std::uint64_t offset, void* data, std::size_t size) const {
  auto* p = static_cast<unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = pread(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail_scratch("read");
    if (n == 0) throw ToolError("cannot read the scratch file: it is shorter than written");
    p += n, offset += n, size -= n;
  }
}

std::uint64_t ScratchFile::size() const {
  struct stat st;
  if (fstat(fd_, &st) != 0) fail_scratch("measure");
  return static_cast<std::uint64_t>(st.st_size);
}

void save_store(const ByteStore& store, const std::string& path) {
  AtomicFile file;
  errno = 0;
  if (file.open(path.c_str()) != SaveResult::kSaved)
    throw ToolError("cannot create " + quoted(path) + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
  std::vector<unsigned char> buffer(std::size_t{1} << 20);
  const std::uint64_t total = store.size();
  for (std::uint64_t done = 0; done < total;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), total - done));
    store.read_at(done, buffer.data(), n);
    errno = 0;
    if (!file.write(buffer.data(), n))
      throw ToolError("cannot write " + quoted(path) + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    done += n;
  }
  errno = 0;
  if (file.commit() != SaveResult::kSaved)
    throw ToolError("cannot write " + quoted(path) + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
}

}  // namespace gridwave::tools
