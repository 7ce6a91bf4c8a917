#include "cidscan/options.hpp"

#include <charconv>
#include <string_view>

#include "sigcore/receivers/receiver.hpp"

namespace cidscan {

namespace {

// A whole decimal number within [low, high].
std::optional<int> parseNumber(std::string_view text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<RawFormat> parseRawFormat(std::string_view text) {
    if (text == "s16le") return RawFormat::S16le;
    if (text == "mulaw" || text == "ulaw") return RawFormat::Mulaw;
    if (text == "alaw") return RawFormat::Alaw;
    return std::nullopt;
}

std::optional<StandardChoice> parseStandard(std::string_view text) {
    if (text == "us") return StandardChoice::Us;
    if (text == "ntt") return StandardChoice::Ntt;
    if (text == "etsi") return StandardChoice::Etsi;
    if (text == "v23") return StandardChoice::V23;
    if (text == "dtmf-cid") return StandardChoice::DtmfCid;
    if (text == "dtmf") return StandardChoice::Dtmf;
    if (text == "all") return StandardChoice::All;
    return std::nullopt;
}

// A decimal number (a level in dB) within [low, high].
std::optional<double> parseLevel(std::string_view text, double low, double high) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || !(value >= low && value <= high)) return std::nullopt;
    return value;
}

constexpr int kMostJobs = 256;
constexpr int kMostChannels = 1024;

}  // namespace

const char* usageText() {
    return "usage: cidscan [OPTIONS] [FILE...]\n"
           "Finds and decodes caller-ID messages (US Bell 202 SDMF/MDMF, NTT and ETSI\n"
           "V.23, DTMF caller ID) in recordings; FILE '-' or no FILE reads standard input.\n"
           "\n"
           "  --json                 one JSON object per message (JSON Lines)\n"
           "  --report FILE          also write an HTML page of every message with its\n"
           "                         measurement, check and timing diagram (implies --measure)\n"
           "  --standard S           us, ntt, etsi, v23 (ntt and etsi), dtmf-cid, dtmf (plain\n"
           "                         digits) or all (every caller-ID standard, the default)\n"
           "  --channel N            decode channel N only (from 1; default every channel)\n"
           "  --raw s16le|mulaw|alaw headerless input in this sample format\n"
           "  --rate HZ              sampling rate of headerless input (needed with --raw)\n"
           "  --channels N           channels of headerless input (default 1)\n"
           "  --sensitivity N        detection threshold 0..100 (default 80)\n"
           "  --once                 exit after the first message\n"
           "  --measure              measure each message's tones, levels and timing, and\n"
           "                         report the line signals around it (alerts, ringing)\n"
           "  --ref-dbm0 X           the level in dBm0 of a full-scale sine (default 3.14)\n"
           "  --check S              judge each measurement against the limits of gr30,\n"
           "                         etsi, bt, ntt or dtmf (implies --measure)\n"
           "  --expect MANIFEST      say per file whether the decoder agrees with a test plan's\n"
           "                         manifest (cidgen --plan)\n"
           "  -j N, --jobs N         decode up to N files at once\n"
           "  --help                 this text\n"
           "  --version              the program's version\n"
           "\n"
           "Exit status: 0 every input was read, 1 an input could not be read, 2 usage error,\n"
           "3 every input was read and a message failed its --check, 4 with --expect every\n"
           "file was read and one disagreed with the manifest.\n";
}

namespace {

// Values given so far for headerless input, checked once all are read.
struct RawValues {
    std::optional<int> rate;
    std::optional<int> channels;
    std::optional<RawFormat> format;
};

std::string jobsError() { return "-j takes a number of jobs from 1 to " + std::to_string(kMostJobs); }

// An option without a value; false when `name` is none of them.
bool applyFlag(std::string_view name, Options& o) {
    if (name == "--json") {
        o.output = OutputFormat::Json;
    } else if (name == "--once") {
        o.once = true;
    } else if (name == "--measure") {
        o.measure = true;
    } else if (name == "--help" || name == "-h") {
        o.help = true;
    } else if (name == "--version") {
        o.version = true;
    } else {
        return false;
    }
    return true;
}

// The standard, the channel, the dBm0 reference and the sensitivity; nullopt
// when `name` is none of them, else the error ("" when the value is good).
std::optional<std::string> applyChoice(std::string_view name, std::optional<std::string_view> v, Options& o) {
    if (name == "--standard") {
        const auto choice = v ? parseStandard(*v) : std::nullopt;
        if (!choice) return "--standard takes us, ntt, etsi, v23, dtmf-cid, dtmf or all";
        o.standards = *choice;
    } else if (name == "--channel") {
        const auto n = v ? parseNumber(*v, 1, kMostChannels) : std::nullopt;
        if (!n) return "--channel takes a channel number from 1";
        o.channel = n;
    } else if (name == "--report") {
        // Standard output carries the messages; the page needs a file of its own.
        if (!v || v->empty() || *v == "-") return "--report takes the name of the HTML file to write";
        o.report = std::string(*v);
        o.measure = true;
    } else if (name == "--ref-dbm0") {
        const auto level = v ? parseLevel(*v, -100.0, 100.0) : std::nullopt;
        if (!level) return "--ref-dbm0 takes a level in dBm0 from -100 to 100";
        o.refDbm0 = *level;
    } else if (name == "--expect") {
        if (!v || v->empty()) return "--expect takes the manifest of a test plan";
        o.expect = std::string(*v);
    } else if (name == "--check") {
        const auto standard = v ? sigcore::parseCheckStandard(*v) : std::nullopt;
        if (!standard) return "--check takes gr30, etsi, bt, ntt or dtmf";
        // A standard whose limits could not be sourced would pass everything.
        if (sigcore::limitsOf(*standard).empty()) {
            return "--check " + std::string(*v) + ": no limits for this standard are known yet (gr30, etsi, bt, ntt and dtmf are)";
        }
        o.check = standard;
        o.measure = true;
    } else if (name == "--sensitivity") {
        const auto n = v ? parseNumber(*v, 0, 100) : std::nullopt;
        if (!n) return "--sensitivity takes a number from 0 to 100";
        o.sensitivity = *n;
    } else if (name == "-j" || name == "--jobs") {
        const auto n = v ? parseNumber(*v, 1, kMostJobs) : std::nullopt;
        if (!n) return jobsError();
        o.jobs = *n;
    } else {
        return std::nullopt;
    }
    return std::string();
}

// The options of headerless input; as applyChoice.
std::optional<std::string> applyRaw(std::string_view name, std::optional<std::string_view> v, RawValues& raw) {
    if (name == "--raw") {
        raw.format = v ? parseRawFormat(*v) : std::nullopt;
        if (!raw.format) return "--raw takes s16le, mulaw or alaw";
    } else if (name == "--rate") {
        raw.rate = v ? parseNumber(*v, sigcore::kLowestRate, sigcore::kHighestRate) : std::nullopt;
        if (!raw.rate) {
            return "--rate takes a sampling rate from " + std::to_string(sigcore::kLowestRate) + " to " +
                   std::to_string(sigcore::kHighestRate) + " Hz";
        }
    } else if (name == "--channels") {
        raw.channels = v ? parseNumber(*v, 1, kMostChannels) : std::nullopt;
        if (!raw.channels) return "--channels takes a number of channels from 1";
    } else {
        return std::nullopt;
    }
    return std::string();
}

// One option at args[i] (i moves past a value taken from the next
// argument); the error, "" when it is good.
std::string applyOption(std::span<const char* const> args, std::size_t& i, Options& o, RawValues& raw) {
    const std::string_view arg = args[i];
    // Options with a value take it from the next argument or after '='.
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string_view::npos && arg.starts_with("--")) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
    }
    if (!inlineValue && applyFlag(name, o)) return {};
    const bool takesValue = name == "--report" ||
                            name == "--standard" || name == "--channel" || name == "--sensitivity" || name == "-j" ||
                            name == "--jobs" || name == "--raw" || name == "--rate" || name == "--channels" ||
                            name == "--ref-dbm0" || name == "--check" || name == "--expect";
    if (takesValue) {
        std::optional<std::string_view> value = inlineValue;
        if (!value && i + 1 < args.size()) value = std::string_view(args[++i]);
        if (auto error = applyChoice(name, value, o)) return *error;
        if (auto error = applyRaw(name, value, raw)) return *error;
    }
    if (name.starts_with("-j") && name.size() > 2 && !name.starts_with("--")) {
        const auto n = parseNumber(name.substr(2), 1, kMostJobs);
        if (!n) return jobsError();
        o.jobs = *n;
        return {};
    }
    return "unknown option " + std::string(arg);
}

// The checks made once every argument is read.
std::string finishOptions(Options& o, const RawValues& raw) {
    if (raw.format) {
        if (!raw.rate) return "--raw needs --rate HZ";
        o.raw = RawInput{*raw.format, *raw.rate, raw.channels.value_or(1)};
    } else if (raw.rate || raw.channels) {
        return "--rate and --channels describe headerless input and need --raw";
    }
    if (o.files.empty() && o.expect) return "--expect needs the plan's files";
    if (o.files.empty()) o.files.emplace_back("-");
    int stdinCount = 0;
    for (const std::string& f : o.files) stdinCount += f == "-" ? 1 : 0;
    if (stdinCount > 1) return "standard input ('-') can be read only once";
    return {};
}

}  // namespace

ParseResult parseOptions(std::span<const char* const> args) {
    ParseResult result;
    Options& o = result.options;
    RawValues raw;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
            o.files.emplace_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (std::string error = applyOption(args, i, o, raw); !error.empty()) {
            result.error = std::move(error);
            return result;
        }
    }
    result.error = finishOptions(o, raw);
    return result;
}

}  // namespace cidscan
