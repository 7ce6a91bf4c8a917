// The informational options every program takes as its only argument:
// --help (usage on standard output) and --version (program name and the
// project version).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sigcore {

enum class InfoRequest { none, help, version };

// help or version when `args` (the arguments after the program name) is
// exactly "--help" or "--version"; none otherwise.
InfoRequest infoRequest(std::span<const char* const> args);

// "<program> (sigtools) <version>\n"
std::string versionLine(std::string_view program);

// Answers a request on standard output: the help text or the version line.
// Returns the exit status (0, or 1 when standard output can't be written).
int answerInfoRequest(InfoRequest request, std::string_view program, std::string_view helpText);

}  // namespace sigcore
