// Random-access byte storage for the sound while it is made: in memory, or
// in an unnamed scratch file so memory does not grow with the duration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gridwave::tools {

class ByteStore {
 public:
  virtual ~ByteStore() = default;
  // Both throw ToolError on failure. Writes past the end extend the store.
  virtual void write_at(std::uint64_t offset, const void* data, std::size_t size) = 0;
  virtual void read_at(std::uint64_t offset, void* data, std::size_t size) const = 0;
  virtual std::uint64_t size() const = 0;
};

class MemoryStore : public ByteStore {
 public:
  explicit MemoryStore(std::size_t initial_size = 0) : bytes_(initial_size) {}
  // Writes within the initial size may come from several threads at once.
  void write_at(std::uint64_t offset, const void* data, std::size_t size) override;
  void read_at(std::uint64_t offset, void* data, std::size_t size) const override;
  std::uint64_t size() const override { return bytes_.size(); }
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// A file with no name: in the folder of near_path when that folder allows it
// (same disk as the output), otherwise in $TMPDIR or /tmp. It disappears when
// closed, also after a crash. Writes may come from several threads at once.
class ScratchFile : public ByteStore {
 public:
  explicit ScratchFile(const std::string& near_path);
  ~ScratchFile() override;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  void write_at(std::uint64_t offset, const void* data, std::size_t size) override;
  void read_at(std::uint64_t offset, void* data, std::size_t size) const override;
  std::uint64_t size() const override;

 private:
  int fd_ = -1;
};

// Copies the whole store to path through AtomicFile: a failure never leaves
// a partial file and keeps what path held. Throws ToolError.
void save_store(const ByteStore& store, const std::string& path);

}  // namespace gridwave::tools
