// The NTT caller-ID detector: command line, settings file (Sensitivity and
// JapaneseCode) and the detector run with the V.23 tone plan and the NTT
// frame decoder (whose characters carry an even parity bit).
#pragma once

#include <span>
#include <string>

#include "sigcore/messages/nttdecoder.hpp"
#include "sigcore/receivers/receiver.hpp"

namespace cidprobe_ntt {

inline constexpr int kDefaultSensitivity = 80;

// fskScan with the V.23 tone plan (mark 1300 Hz, space 2100 Hz, 1200 baud)
// and the NTT frame decoder; the report writes caller names in the character
// set `japaneseCode` selects.
int fskScanNtt(int sensitivity, int japaneseCode, const std::string& inputPath, const std::string& reportPath);

// The program: `args` are the arguments after the program name
// (input.wav report.txt [settings.ini]). Returns the exit status.
int runCidprobeNtt(std::span<const char* const> args);

}  // namespace cidprobe_ntt
