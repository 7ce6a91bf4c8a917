// wavpeek: prints the header fields of a WAV file and how many samples the
// header implies and the file really holds.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "sigcore/io/wave.hpp"

namespace wavpeek {

// The fourteen header lines (file name, tags and fields), labels padded so
// that every "=" stands in column 20 and numbers end in column 31.
std::string formatWaveHeader(const sigcore::WaveHeader& header, const std::string& path);
void printWaveHeader(const sigcore::WaveHeader& header, const std::string& path);

// The two count lines: numberSamples from the header, then the samples counted.
std::string formatSampleCounts(std::int32_t calculated, std::int64_t counted);

// Counts the whole samples from the reader's position to the end of the file
// (one byte each at 8 bits, two bytes otherwise, whatever the channels);
// leaves the reader at the end.
std::int64_t countSamples(sigcore::WaveReader& reader);

// The whole run on the program's arguments (without the program name); the
// exit status.
int runWavpeek(std::span<const char* const> args);

}  // namespace wavpeek
