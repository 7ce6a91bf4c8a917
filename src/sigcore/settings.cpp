#include "sigcore/settings.hpp"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

namespace sigcore {

namespace {

// "%d" at `text`: leading white space, an optional sign, decimal digits.
// False when no digit follows. Values beyond the int range are held at its
// ends (they are out of every valid range anyway).
bool scanInteger(const char* text, int& value) {
    const char* p = text;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    long long magnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (magnitude <= LLONG_MAX / 100) magnitude = magnitude * 10 + (*p - '0');
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX) {
        value = INT_MAX;
    } else if (signedValue < INT_MIN) {
        value = INT_MIN;
    } else {
        value = static_cast<int>(signedValue);
    }
    return true;
}

// Scans at `offset` of a line that holds a key of that length.
void scanAt(const SettingsLine& line, std::size_t offset, int& value) {
    const std::size_t length = strnlen(line.data(), line.size());
    if (offset > length) return;
    int scanned = 0;
    if (scanInteger(line.data() + offset, scanned)) value = scanned;
}

}  // namespace

int settingsOpen(SettingsFile& settings, const std::string& path) {
    settings.file.reset(std::fopen(path.c_str(), "r"));
    if (!settings.file) {
        std::fprintf(stderr, "error .... can't open text file[%s]\n", path.c_str());
        return 1;
    }
    return 0;
}

bool settingsGetLine(SettingsFile& settings, SettingsLine& line) {
    if (!settings.file) return false;
    return std::fgets(line.data(), static_cast<int>(line.size()), settings.file.get()) != nullptr;
}

void settingsClose(SettingsFile& settings) { settings.file.reset(); }

void applySettingsLine(const SettingsLine& given, int& sensitivity, int* japaneseCode) {
    SettingsLine line = given;
    line.back() = '\0';  // fgets terminates it anyway; a caller's buffer might not be
    if (line[0] == '/') return;
    if (std::strstr(line.data(), "Sensitivity") != nullptr) {
        scanAt(line, 11, sensitivity);
    } else if (japaneseCode != nullptr && std::strstr(line.data(), "JapaneseCode") != nullptr) {
        scanAt(line, 12, *japaneseCode);
    }
}

void readSettingsFile(const std::string& path, int& sensitivity, int* japaneseCode) {
    SettingsFile settings;
    if (settingsOpen(settings, path) != 0) return;
    SettingsLine line{};
    while (settingsGetLine(settings, line)) applySettingsLine(line, sensitivity, japaneseCode);
    settingsClose(settings);
}

}  // namespace sigcore
