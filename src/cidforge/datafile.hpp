// The generator's data text file and the settings record it fills.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cidforge {

// Everything one run needs: the data file's values, then the two format flags
// of the command line.
struct GeneratorSettings {
    std::int32_t samplingFrequency = 8000;  // Hz
    std::int32_t quantizationBitLength = 8; // bits per sample: 8 or 16
    std::int32_t amplitude = 0;             // tone peak, percent of full scale
    std::int32_t noiseAmplitude = 0;        // noise peak, percent of full scale
    std::int32_t leaderDuration = 0;        // ms of silence before and after the burst
    std::int32_t headerDuration = 0;        // ms of mark tone before the message
    std::int32_t footerDuration = 0;        // ms of mark tone after the message
    std::string directoryNumber;            // calling number, bytes as written
    std::string idName;                     // caller name (Shift-JIS or EUC-JP), NTT only
    std::string dateTime;                   // MMDDhhmm characters, US only
    bool usaFormat = false;                 // US (SDMF) instead of NTT
    bool sjisName = true;                   // IDName is Shift-JIS, else EUC-JP
};

// A data-file line holds at most this many characters; longer lines are read
// in pieces of this size, each handled as a line of its own.
inline constexpr std::size_t kMaxLineChars = 254;

// Reads every line of the file into `settings`. False when the file can't be
// opened or read; `settings` is then unchanged by a file that could not be opened.
bool readDataFile(const std::string& path, GeneratorSettings& settings);

// Applies one line: a comment ('/' first) is skipped; otherwise the first key,
// in fixed order, found anywhere in the line decides the field, and its value
// is scanned from the offset equal to the key's length.
void applyDataLine(std::string_view line, GeneratorSettings& settings);

// A string token as its value: the bytes between a leading double quote and
// the next one (or the token's end); a token without a leading quote as it is.
std::string unquoteValue(std::string_view token);

}  // namespace cidforge
