// cidgen from the command line to the exit status.
#pragma once

#include <span>

namespace cidgen {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;

// The arguments after the program name; returns the exit status.
int runCidgen(std::span<const char* const> args);

}  // namespace cidgen
