// The generator's data text file and the settings record it fills.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cidforge {

// Everything one run needs: the data file's values, then the format flags
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
    std::string idNameText;                 // IDName with the spaces of a quoted value, MDMF and ETSI
    std::string dateTime;                   // MMDDhhmm characters, US, MDMF and ETSI only
    std::string numberAbsence;              // NumberAbsence: "O" or "P", MDMF and ETSI only
    std::string nameAbsence;                // NameAbsence: "O" or "P", MDMF and ETSI only
    bool usaFormat = false;                 // -USA: US (SDMF) instead of NTT
    bool sjisName = true;                   // IDName is Shift-JIS, else EUC-JP
    bool mdmfFormat = false;                // -MDMF: US multiple data message
    bool etsiFormat = false;                // -ETSI: ETSI call set-up message over V.23 tones
    bool channelSeizure = false;            // -SEIZURE: alternating bits before the mark
};

// The message and tone plan a run makes.
enum class MessageFormat {
    ntt,   // NTT frame, V.23 tones (the default)
    sdmf,  // US single data message, Bell 202 tones (-USA)
    mdmf,  // US multiple data message, Bell 202 tones (-MDMF)
    etsi,  // ETSI call set-up message, V.23 tones (-ETSI)
};

// -ETSI wins over -MDMF, which wins over -USA; the run refuses -ETSI together
// with a US option before it gets this far.
inline MessageFormat messageFormat(const GeneratorSettings& settings) {
    if (settings.etsiFormat) return MessageFormat::etsi;
    if (settings.mdmfFormat) return MessageFormat::mdmf;
    if (settings.usaFormat) return MessageFormat::sdmf;
    return MessageFormat::ntt;
}

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

// A value that may hold spaces: after leading white space, the bytes between
// a double quote and the next one (or the line's end, without its line end);
// an unquoted value is its first word, as unquoteValue gives it.
std::string quotedText(std::string_view value);

}  // namespace cidforge
