// Reading a whole input file into memory, with messages a user understands.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace gridwave::tools {

// The bytes of the file at path. Throws ToolError when it cannot be opened
// or read, is a directory, or is larger than max_bytes.
std::vector<unsigned char> read_file_bytes(const std::string& path, std::size_t max_bytes);

// Saves bytes at path through a temporary file and a rename, so a failure
// never leaves a partial file. Throws ToolError on failure.
void save_output(const std::string& path, const std::vector<unsigned char>& bytes);

struct Output {
  std::string path;
  const std::vector<unsigned char>* bytes;
};

// Saves several files as a set: each is created, written, synced and closed
// beside its path first, and none replaces what was at its path unless all
// could be. (Only a failed rename, after another file's rename, can still
// leave one replaced and not the other.) Throws ToolError on failure.
void save_outputs_together(const std::vector<Output>& outputs);

}  // namespace gridwave::tools
