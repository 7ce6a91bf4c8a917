#include "cidforge/datafile.hpp"

#include "sigcore/io/textscan.hpp"
#include "sigcore/io/filehandle.hpp"

#include <array>
#include <cstdio>
#include <cstring>

namespace cidforge {

namespace {

enum class Field {
    samplingFrequency,
    quantizationBitLength,
    noiseAmplitude,
    amplitude,
    leaderDuration,
    headerDuration,
    footerDuration,
    directoryNumber,
    idName,
    dateTime,
    numberAbsence,
    nameAbsence,
};

struct KeyEntry {
    std::string_view key;
    Field field;
};

// Search order matters: "NoiseAmplitude" must be tried before "Amplitude".
// The absence keys come last, so that a line holding an older key as well
// keeps the meaning it always had.
constexpr std::array<KeyEntry, 12> kKeys{{
    {"SamplingFrequency", Field::samplingFrequency},
    {"QuantizationBitLength", Field::quantizationBitLength},
    {"NoiseAmplitude", Field::noiseAmplitude},
    {"Amplitude", Field::amplitude},
    {"LeaderDuration", Field::leaderDuration},
    {"HeaderDuration", Field::headerDuration},
    {"FooterDuration", Field::footerDuration},
    {"DirectoryNumber", Field::directoryNumber},
    {"IDName", Field::idName},
    {"DateTime", Field::dateTime},
    {"NumberAbsence", Field::numberAbsence},
    {"NameAbsence", Field::nameAbsence},
}};

std::int32_t* numericField(Field field, GeneratorSettings& s) {
    switch (field) {
    case Field::samplingFrequency: return &s.samplingFrequency;
    case Field::quantizationBitLength: return &s.quantizationBitLength;
    case Field::noiseAmplitude: return &s.noiseAmplitude;
    case Field::amplitude: return &s.amplitude;
    case Field::leaderDuration: return &s.leaderDuration;
    case Field::headerDuration: return &s.headerDuration;
    case Field::footerDuration: return &s.footerDuration;
    default: return nullptr;
    }
}

std::string* stringField(Field field, GeneratorSettings& s) {
    switch (field) {
    case Field::directoryNumber: return &s.directoryNumber;
    case Field::idName: return &s.idName;
    case Field::dateTime: return &s.dateTime;
    case Field::numberAbsence: return &s.numberAbsence;
    case Field::nameAbsence: return &s.nameAbsence;
    default: return nullptr;
    }
}

}  // namespace

std::string unquoteValue(std::string_view token) {
    if (token.empty() || token.front() != '"') return std::string(token);
    const std::string_view rest = token.substr(1);
    const std::size_t close = rest.find('"');
    return std::string(close == std::string_view::npos ? rest : rest.substr(0, close));
}

std::string quotedText(std::string_view value) {
    std::size_t begin = 0;
    while (begin < value.size() && sigcore::isScanSpace(value[begin])) ++begin;
    const std::string_view rest = value.substr(begin);
    if (rest.empty() || rest.front() != '"') return unquoteValue(sigcore::scanWord(value).value_or(std::string_view{}));
    std::string_view text = rest.substr(1);
    if (const std::size_t close = text.find('"'); close != std::string_view::npos) return std::string(text.substr(0, close));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return std::string(text);
}

void applyDataLine(std::string_view line, GeneratorSettings& settings) {
    // The line ends at its first NUL byte, as a C string would.
    if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
    if (line.empty() || line.front() == '/') return;
    for (const KeyEntry& entry : kKeys) {
        if (line.find(entry.key) == std::string_view::npos) continue;
        // The value is scanned from the key's length counted from the line's
        // start, wherever the key was found (never beyond the line's end,
        // since the line holds the key).
        const std::string_view value = line.substr(entry.key.size());
        if (std::int32_t* number = numericField(entry.field, settings)) {
            if (const auto scanned = sigcore::scanInt(value)) *number = *scanned;
        } else if (std::string* text = stringField(entry.field, settings)) {
            *text = unquoteValue(sigcore::scanWord(value).value_or(std::string_view{}));
            if (entry.field == Field::idName) settings.idNameText = quotedText(value);
        }
        return;
    }
}

bool readDataFile(const std::string& path, GeneratorSettings& settings) {
    sigcore::FileHandle file = sigcore::openFile(path, "r");
    if (!file) return false;
    // Each read takes at most kMaxLineChars characters (up to and including a
    // line end); the rest of a longer line comes with the next read.
    std::array<char, kMaxLineChars + 1> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), file.get()) != nullptr) {
        applyDataLine(std::string_view(buffer.data(), std::strlen(buffer.data())), settings);
    }
    return std::ferror(file.get()) == 0;
}

}  // namespace cidforge
