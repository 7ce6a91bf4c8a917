// cidgen from the command line to the exit status.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cidgen/compose.hpp"
#include "cidgen/soundfile.hpp"

namespace cidgen {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;

// The composed signal with the options' line impairments, coded in
// `format`; `clipped` counts the samples beyond full scale. False with
// `error` set when it is too long or libsndfile refuses.
[[nodiscard]] bool renderSound(const Options& options, Composed composed, SoundFormat format,
                               std::vector<unsigned char>& bytes, std::size_t& clipped, std::string& error);

// The arguments after the program name; returns the exit status.
int runCidgen(std::span<const char* const> args);

}  // namespace cidgen
