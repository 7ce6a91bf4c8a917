// The run of padtoner: command line, data file, console lines, generation.
#pragma once

#include <span>

namespace padtoner {

// The whole program: `args` are the arguments after the program name
// (data.txt out.wav, or --help / --version alone). Console lines go to
// standard output, or to standard error when the WAV file goes to standard
// output ("-"). Returns the exit status (255 after a failed write).
int runPadtoner(std::span<const char* const> args);

}  // namespace padtoner
