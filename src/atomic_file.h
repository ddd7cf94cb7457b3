// Saving a file so that a failure never leaves a truncated file behind and
// never destroys what was there before.
#pragma once

#include <cstddef>

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

}  // namespace gridwave
