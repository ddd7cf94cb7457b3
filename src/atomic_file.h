// Saving a file so that a failure never leaves a truncated file behind and
// never destroys what was there before.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace gridwave {

enum class SaveResult {
  kSaved,
  kNotOpened,   // the file (or its temporary sibling) could not be created
  kNotWritten,  // created, but a write, the sync, the close or the rename failed
};

// Writes data to a temporary file in the same folder as path and renames it
// over path once it is written, synced and closed; on any failure, and on
// SIGINT, SIGTERM, SIGHUP or SIGPIPE during the save, the temporary file is
// removed and path keeps its old content. A path that names an existing file
// which is not a regular file (/dev/null, a FIFO, a device) is written
// directly. A symbolic link stays: its target is replaced, or created when
// it does not exist yet.
SaveResult save_file(const char* path, const void* data, std::size_t size);

// The same, written piece by piece: open(), any number of write() calls,
// then commit(). A file that is not committed (an error, an early return) is
// removed when the object goes, and path keeps what it held.
class AtomicFile {
 public:
  AtomicFile();
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  SaveResult open(const char* path);  // kSaved when the file is ready for writing
  bool write(const void* data, std::size_t size);  // false once any write failed
  SaveResult commit();  // sync, close, rename: kSaved, or kNotWritten

 private:
  class SignalGuard;
  void discard_temp();

  int fd_ = -1;
  bool failed_ = false;
  std::string target_;  // the file the rename replaces
  std::string temp_;    // the temporary file, while it exists
  std::unique_ptr<SignalGuard> guard_;
};

}  // namespace gridwave
