// Test plans: a numbered sound file per line condition or spoiled message,
// and a manifest (one JSON line per file) saying what a receiver that meets
// the standard's limits must do with each.
#pragma once

#include <span>
#include <string>

namespace cidgen {

// `cidgen --plan NAME DIR [--force]`: the arguments after the program name.
// Returns the exit status.
int runPlan(std::span<const char* const> args);

}  // namespace cidgen
