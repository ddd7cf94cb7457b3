// The program's run sequence: arguments, banner, row count, row loop with its
// progress stars, save phase, exit status.
#pragma once

namespace gridwave {

// argc counts the program's own name, so a correct call has 4: Input (the
// grid file), Output (the WAV file) and Source (only echoed).
int run(int argc, char** argv);

}  // namespace gridwave
