#include "padtoner/dtmfdata.hpp"

#include <array>
#include <climits>
#include <cstring>

#include "sigcore/wave.hpp"

namespace padtoner {

namespace {

// The numeric keys in the order they are tried, with the field each one sets.
struct NumericKey {
    std::string_view name;
    std::int32_t DtmfParameters::*field;
};

constexpr std::array<NumericKey, 9> kNumericKeys{{
    {"SamplingFrequency", &DtmfParameters::SamplingFrequency},
    {"QuantizationBitLength", &DtmfParameters::QuantizationBitLength},
    {"Amplitude", &DtmfParameters::Amplitude},
    {"NoiseAmplitude", &DtmfParameters::NoiseAmplitude},
    {"PNoiseAmplitude", &DtmfParameters::PNoiseAmplitude},
    {"LeaderDuration", &DtmfParameters::LeaderDuration},
    {"ToneDuration", &DtmfParameters::ToneDuration},
    {"SilenceDuration", &DtmfParameters::SilenceDuration},
    {"RampDuration", &DtmfParameters::RampDuration},
}};

constexpr std::string_view kDataKey = "DTMFData";

// White space as the C library's scans see it.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal integer as "%d" scans it: leading white space skipped, an optional
// sign, at least one digit, anything after the digits ignored. A value beyond
// the 32-bit range is held at its nearest end.
std::optional<std::int32_t> scanInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !isDigit(text[i])) return std::nullopt;
    std::int64_t magnitude = 0;
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) magnitude = kLimit;  // keeps on saturating, never overflows
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

// A white-space-delimited word as "%s" scans it; nothing when there is none.
std::optional<std::string_view> scanWord(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && isBlank(text[begin])) ++begin;
    std::size_t end = begin;
    while (end < text.size() && !isBlank(text[end])) ++end;
    if (end == begin) return std::nullopt;
    return text.substr(begin, end - begin);
}

}  // namespace

void dtmfReadLine(DtmfReadState& state, std::string_view line) {
    // The line is text up to its first NUL byte, as the C string it was read into.
    if (const auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
    if (line.empty() || line.front() == '/') return;
    for (const NumericKey& key : kNumericKeys) {
        if (line.starts_with(key.name)) {
            if (const auto value = scanInt(line.substr(key.name.size()))) state.params.*key.field = *value;
            return;
        }
    }
    if (line.starts_with(kDataKey)) {
        if (const auto word = scanWord(line.substr(kDataKey.size()))) state.token = *word;
    }
}

std::string dtmfDataFromToken(std::string_view token) {
    std::size_t begin = 0;
    while (begin < token.size() && token[begin] == '"') ++begin;
    const std::size_t end = token.find('"', begin);
    return std::string(token.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
}

std::optional<DtmfParameters> parseDtmfParameters(std::FILE* in) {
    DtmfReadState state;
    std::array<char, kMaxLinePiece + 2> buffer{};
    constexpr int kReadLimit = static_cast<int>(kMaxLinePiece + 1);  // characters plus the NUL
    while (std::fgets(buffer.data(), kReadLimit, in) != nullptr) {
        dtmfReadLine(state, std::string_view(buffer.data(), std::strlen(buffer.data())));
    }
    if (std::ferror(in)) return std::nullopt;
    state.params.DTMFData = dtmfDataFromToken(state.token);
    return state.params;
}

std::string formatDtmfEcho(const DtmfParameters& params) {
    const std::array<std::pair<std::string_view, std::int32_t>, 9> numbers{{
        {"SamplingFrequency=     ", params.SamplingFrequency},
        {"QuantizationBitLength= ", params.QuantizationBitLength},
        {"Amplitude=             ", params.Amplitude},
        {"NoiseAmplitude=        ", params.NoiseAmplitude},
        {"PNoiseAmplitude=       ", params.PNoiseAmplitude},
        {"LeaderDuration=        ", params.LeaderDuration},
        {"ToneDuration=          ", params.ToneDuration},
        {"SilenceDuration=       ", params.SilenceDuration},
        {"RampDuration=          ", params.RampDuration},
    }};
    std::string echo;
    for (const auto& [label, value] : numbers) {
        echo += label;
        echo += std::to_string(value);
        echo += '\n';
    }
    echo += "DTMFData=              ";
    echo += params.DTMFData;
    echo += '\n';
    return echo;
}

std::optional<DtmfParameters> readDtmfParameters(const std::string& path) {
    std::optional<DtmfParameters> params;
    {
        const sigcore::FileHandle file(std::fopen(path.c_str(), "r"));
        if (!file) return std::nullopt;
        params = parseDtmfParameters(file.get());
    }
    if (params) std::fputs(formatDtmfEcho(*params).c_str(), stdout);
    return params;
}

}  // namespace padtoner
