// The NTT caller-ID detector: command line, settings file (Sensitivity and
// JapaneseCode) and the detector run with the V.23 tone plan, the parity
// test and the NTT frame decoder.
#pragma once

#include <span>
#include <string>

#include "cidprobe-ntt/nttdecoder.hpp"
#include "sigcore/demod.hpp"

namespace cidprobe_ntt {

inline constexpr int kDefaultSensitivity = 80;
inline constexpr int kMarkHz = 1300;
inline constexpr int kSpaceHz = 2100;
inline constexpr int kBaud = 1200;

// The NTT rules for the shared detector run: the parity test while
// characters are expected, a burst's first byte scored as a character, and
// `decoder` as the message decoder (it must outlive the run).
sigcore::ScanVariant nttScanVariant(NttDecoder& decoder);

// fskScan with mark 1300 Hz, space 2100 Hz, 1200 baud and the NTT rules;
// caller names are written in the character set `japaneseCode` selects.
int fskScanNtt(int sensitivity, int japaneseCode, const std::string& inputPath, const std::string& reportPath);

// The program: `args` are the arguments after the program name
// (input.wav report.txt [settings.ini]). Returns the exit status.
int runCidprobeNtt(std::span<const char* const> args);

}  // namespace cidprobe_ntt
