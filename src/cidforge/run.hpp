// The run of cidforge: command line, data file, console lines, generation.
#pragma once

#include "cidforge/datafile.hpp"

#include <span>
#include <string>

namespace cidforge {

// Every option is searched for "-USA" (US format) and "-EUC" (EUC-JP name);
// "-MDMF", "-ETSI" and "-SEIZURE" count only as whole arguments, so that no
// command line that worked before them changes its meaning; anything else is
// accepted and ignored.
void scanOptions(std::span<const std::string> options, GeneratorSettings& settings);

// The refusal line for settings that can't make a sound WAV file, or "" when
// they can: sampling frequency, sample depth, field lengths, the NTT
// message content length, the combination of format options and, for the
// MDMF and ETSI formats, the absence values. Checked before anything is printed or created.
std::string checkSettings(const GeneratorSettings& settings);

// The whole program: args are the command-line arguments after the program
// name. Console output goes to standard output, or to standard error when
// the WAV file goes to standard output ("-"). Returns the exit status.
int runCidforge(std::span<const std::string> args);

}  // namespace cidforge
