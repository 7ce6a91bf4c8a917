#include "padtoner/dtmfdata.hpp"

#include <array>
#include <cstring>

#include "sigcore/io/textscan.hpp"
#include "sigcore/io/filehandle.hpp"

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

}  // namespace

void dtmfReadLine(DtmfReadState& state, std::string_view line) {
    // The line is text up to its first NUL byte, as the C string it was read into.
    if (const auto nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
    if (line.empty() || line.front() == '/') return;
    for (const NumericKey& key : kNumericKeys) {
        if (line.starts_with(key.name)) {
            if (const auto value = sigcore::scanInt(line.substr(key.name.size()))) state.params.*key.field = *value;
            return;
        }
    }
    if (line.starts_with(kDataKey)) {
        if (const auto word = sigcore::scanWord(line.substr(kDataKey.size()))) state.token = *word;
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

std::optional<DtmfParameters> readDtmfParameters(const std::string& path, std::FILE* console) {
    std::optional<DtmfParameters> params;
    {
        const sigcore::FileHandle file = sigcore::openFile(path, "r");
        if (!file) return std::nullopt;
        params = parseDtmfParameters(file.get());
    }
    if (params) std::fputs(formatDtmfEcho(*params).c_str(), console);
    return params;
}

}  // namespace padtoner
