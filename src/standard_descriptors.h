// Descriptors 0, 1 and 2 kept taken, so that no file the program opens can
// become its standard input, output or error by accident.
#pragma once

namespace gridwave {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Call it
// first thing in main(), before anything else opens a file: a program started
// with `>&-` would otherwise get its output file as descriptor 1, and
// everything it prints would land in that file. Ends the process with
// status 1 when /dev/null cannot be opened, as nothing could then be saved
// safely.
void ensure_standard_descriptors();

}  // namespace gridwave
