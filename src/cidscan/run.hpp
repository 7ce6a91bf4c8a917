// cidscan from the command line to the exit status: every input in turn,
// or several at once with -j.
#pragma once

#include <span>

namespace cidscan {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInputFailed = 1;
inline constexpr int kExitUsage = 2;
// Every input was read, and a message failed its --check.
inline constexpr int kExitCheckFailed = 3;

// The arguments after the program name; returns the exit status.
int runCidscan(std::span<const char* const> args);

}  // namespace cidscan
