// The US caller-ID detector: command line, settings file and the detector
// run with the Bell 202 tone plan and the SDMF/MDMF decoder.
#pragma once

#include <span>
#include <string>

namespace cidprobe {

inline constexpr int kDefaultSensitivity = 80;

// fskScan with the Bell 202 tone plan (mark 1200 Hz, space 2200 Hz, 1200
// baud) and the SDMF report decoder.
int fskScanUs(int sensitivity, const std::string& inputPath, const std::string& reportPath);

// The program: `args` are the arguments after the program name
// (input.wav report.txt [settings.ini]). Returns the exit status.
int runCidprobe(std::span<const char* const> args);

}  // namespace cidprobe
