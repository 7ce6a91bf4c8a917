// cidgen's command line: what to send, how it sounds, where it goes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cidgen/sequence.hpp"
#include "sigcore/messages/messagebuild.hpp"

namespace cidgen {

enum class Standard { UsSdmf, UsMdmf, UsVmwi, Etsi, Ntt, DtmfCid, Dtmf };

// Output containers and sample codings, as libsndfile writes them.
enum class FileType { Wav, Aiff, Flac, RawUlaw, RawAlaw };
enum class Encoding { S8, U8, S16, S24, Float, Ulaw, Alaw };

struct Options {
    Standard standard = Standard::UsMdmf;
    bool standardGiven = false;          // else a --sequence preset chooses it
    sigcore::CallerIdFields fields;      // date and time filled in by the parser
    std::optional<bool> messageWaiting;  // a message-waiting message instead of caller ID
    std::optional<std::vector<std::uint8_t>> raw;  // sent as it is
    std::optional<std::string> digits;   // DTMF digits sent as they are
    bool badChecksum = false;
    std::optional<std::string> fromJson;  // messages as cidscan --json writes them ("-": standard input)

    std::optional<int> seizureBits;      // default: the standard's
    std::optional<int> markBits;
    int stopBits = 1;
    std::optional<double> levelDbm0;     // default: the standard's
    double refDbm0 = 3.14;               // the level a full-scale sine stands for
    double twistDb = 0.0;                // FSK: mark minus space; DTMF: high minus low group
    double markOffsetHz = 0.0;
    double spaceOffsetHz = 0.0;
    double rateErrorPercent = 0.0;
    double dtmfLowDeviationPercent = 0.0;   // DTMF: each group's tones off nominal
    double dtmfHighDeviationPercent = 0.0;
    std::optional<double> snrDb;
    std::optional<std::pair<double, double>> echo;  // delay in ms, level relative to the signal in dB
    std::optional<std::pair<double, double>> hum;   // frequency in Hz, level in dBm0
    double dcPercent = 0.0;              // offset, percent of full scale
    std::optional<double> clipPercent;   // clipping level, percent of full scale
    std::uint64_t seed = 1;
    int rate = 8000;
    double digitMs = 70.0;
    double digitGapMs = 70.0;
    double leadMs = 200.0;
    double tailMs = 200.0;

    std::optional<Preset> sequence;      // the call sequence around the message
    std::optional<std::pair<double, double>> ringCadence;  // on, off in ms; default: the preset's
    std::optional<double> ringHz;
    double ringLevelDbfs = -3.0;         // the ringing's peak
    std::optional<double> alertMs;
    std::optional<double> gapMs;
    std::optional<char> ack;             // us-cw: the phone's DTMF acknowledgement in the gap
    bool describe = false;               // print the timing table instead of writing

    std::string output;                  // "-" is standard output
    std::optional<FileType> type;        // default: from the extension, else WAV
    std::optional<Encoding> encoding;    // default: 16-bit (G.711 for .ul/.al)
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error;  // not empty: the usage error, naming the option
};

// The arguments after the program name. `now` gives the default date and
// time ("MMDD", "HHMM"); the caller passes the current local time.
[[nodiscard]] ParseResult parseOptions(std::span<const char* const> args, const std::string& nowDate,
                                       const std::string& nowTime);

[[nodiscard]] const char* usageText();

// Text safe for a terminal: printable ASCII as it is, other bytes as \xNN.
[[nodiscard]] std::string escaped(std::string_view text);

}  // namespace cidgen
