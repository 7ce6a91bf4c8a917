// cidscan's command line: the options, the files, and the usage text.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sigcore/measure/limits.hpp"

namespace cidscan {

// Which standards run over the samples. All is US, NTT, ETSI and DTMF caller
// ID; plain DTMF digits only when asked for.
enum class StandardChoice { Us, Ntt, Etsi, V23, DtmfCid, Dtmf, All };

// Sample formats of headerless input.
enum class RawFormat { S16le, Mulaw, Alaw };

struct RawInput {
    RawFormat format = RawFormat::S16le;
    int rate = 0;
    int channels = 1;
};

enum class OutputFormat { Text, Json };

struct Options {
    std::vector<std::string> files;      // "-" is standard input; never empty after parsing
    OutputFormat output = OutputFormat::Text;
    std::optional<std::string> report;   // --report FILE: an HTML page of the run (implies measure)
    StandardChoice standards = StandardChoice::All;
    std::optional<int> channel;          // from 1; every channel when not set
    std::optional<RawInput> raw;         // every input is headerless samples
    int sensitivity = 80;
    int jobs = 1;
    bool once = false;
    bool measure = false;                // --measure: measure every message's signal
    double refDbm0 = 3.14;               // the level a full-scale sine stands for, dBm0
    std::optional<sigcore::CheckStandard> check;  // --check: judge every measurement (implies measure)
    std::optional<std::string> expect;   // --expect: a test plan's manifest to set each file against
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error;  // not empty: a usage error
};

// Parses the arguments after the program name.
[[nodiscard]] ParseResult parseOptions(std::span<const char* const> args);

// The text of --help.
[[nodiscard]] const char* usageText();

}  // namespace cidscan
