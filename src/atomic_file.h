// Saving a file so that a failure never leaves a truncated file behind and
// never destroys what was there before.
#pragma once

#include <cstddef>
#include <string>

namespace gridwave {

enum class SaveResult {
  kSaved,
  kNotOpened,   // the file (or its temporary sibling) could not be created
  kNotWritten,  // created, but a write, the sync, the close or the rename failed
};

// Writes data to a temporary file in the same folder as path and renames it
// over path once it is written, synced and closed; the folder is synced after
// the rename. On any failure, and when a signal ends the process during the
// save, the temporary file is removed and path keeps its old content.
//
// - A path that names an existing file which is not a regular file
//   (/dev/null, a FIFO, a device) is written directly.
// - A symbolic link stays: its target is replaced, or created when it does
//   not exist yet. A loop of links cannot be created (kNotOpened).
// - An existing file that this process may not write (mode 0444 for its
//   owner, say) is refused with kNotOpened, as opening it would be.
// - The new file keeps the old one's permission bits (never set-user-ID,
//   set-group-ID or sticky) and, when the process may set them (root), its
//   owner and group.
// - Other hard links to the old file keep the old content: the rename gives
//   the path a new file.
SaveResult save_file(const char* path, const void* data, std::size_t size);

// The same, written piece by piece: open(), any number of write() calls,
// then commit(). commit() is finish() then publish(): several files can be
// saved as a group by finishing every one of them before publishing any, so
// that none replaces what was there unless all could be written. A file that
// is not published (an error, an early return) is removed when the object
// goes, and its path keeps what it held.
class AtomicFile {
 public:
  AtomicFile();
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  SaveResult open(const char* path);  // kSaved when the file is ready for writing
  bool write(const void* data, std::size_t size);  // false once any write failed
  SaveResult finish();   // sync and close: kSaved, or kNotWritten (the file is then discarded)
  SaveResult publish();  // after finish(): rename over the path, sync the folder
  SaveResult commit();   // finish() and publish()

 private:
  void discard_temp();

  int fd_ = -1;
  bool failed_ = false;
  bool finished_ = false;
  int pending_ = -1;     // this file's entry in the signal handler's list, or -1
  std::string target_;   // the file the rename replaces
  std::string temp_;     // the temporary file, while it exists
  std::string folder_;   // the folder that holds both, synced after the rename
};

}  // namespace gridwave
