// padtoner's data text file: nine numeric settings and the DTMF symbols to
// send, read into DtmfParameters and echoed on standard output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace padtoner {

// What the data file sets. Keys that the file does not give keep the values of
// the help text's example.
struct DtmfParameters {
    std::int32_t SamplingFrequency = 8000;     // Hz
    std::int32_t QuantizationBitLength = 8;    // bits per sample, 8 or 16
    std::int32_t Amplitude = 30;               // percent of full scale, tone pair
    std::int32_t NoiseAmplitude = 0;           // percent of full scale, white noise
    std::int32_t PNoiseAmplitude = 0;          // percent of full scale, 50 Hz mains hum
    std::int32_t LeaderDuration = 1000;        // ms before the first tone and after the last
    std::int32_t ToneDuration = 50;            // ms per tone burst
    std::int32_t SilenceDuration = 30;         // ms gap after each burst
    std::int32_t RampDuration = 3;             // ms rise and fall of each burst
    std::string DTMFData;                      // the symbols, in order
};

// State of a read in progress: the fields so far and the last DTMFData word.
struct DtmfReadState {
    DtmfParameters params;
    std::string token;
};

// Longest piece of a line handled at once; a longer line is read in pieces of
// this many characters (the line feed counts), each handled as a line.
inline constexpr std::size_t kMaxLinePiece = 254;

// Handles one line (or piece of a line): a comment, a key at the line's very
// start in exact case followed by its value, or anything else (ignored).
void dtmfReadLine(DtmfReadState& state, std::string_view line);

// The symbols from the last DTMFData word: leading double quotes skipped, the
// symbols end at the next double quote or the end of the word.
std::string dtmfDataFromToken(std::string_view token);

// Reads a whole data file from an open stream. Returns nothing when a read
// fails (a directory, an I/O error).
std::optional<DtmfParameters> parseDtmfParameters(std::FILE* in);

// The ten echo lines, each value at the 24th character of its line.
std::string formatDtmfEcho(const DtmfParameters& params);

// Opens and reads the data file ("-" is standard input) and prints the echo
// on `console`. Returns nothing, and prints nothing, when the file can't be
// opened or read.
std::optional<DtmfParameters> readDtmfParameters(const std::string& path, std::FILE* console = stdout);

}  // namespace padtoner
