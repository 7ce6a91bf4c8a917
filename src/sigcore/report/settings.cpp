#include "sigcore/report/settings.hpp"

#include "sigcore/io/textscan.hpp"

#include <cstdio>
#include <cstring>

namespace sigcore {

namespace {

// Scans at `offset` of a line that holds a key of that length.
void scanAt(const SettingsLine& line, std::size_t offset, int& value) {
    const std::size_t length = strnlen(line.data(), line.size());
    if (offset > length) return;
    if (const auto scanned = scanInt(std::string_view(line.data() + offset, length - offset))) value = *scanned;
}

}  // namespace

int settingsOpen(SettingsFile& settings, const std::string& path) {
    settings.file = openFile(path, "r");
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
