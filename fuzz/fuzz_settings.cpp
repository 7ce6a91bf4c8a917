// The detectors' settings file: any bytes as the file, read by both
// detectors' rules, and any 256 bytes as one (possibly unterminated) line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzzsupport.hpp"
#include "sigcore/report/settings.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzsupport::writeScratch("settings.ini", data, size);
    int sensitivity = 80;
    sigcore::readSettingsFile(path, sensitivity, nullptr);
    int nttSensitivity = 80;
    int japaneseCode = 0;
    sigcore::readSettingsFile(path, nttSensitivity, &japaneseCode);

    sigcore::SettingsLine line;
    line.fill('7');
    std::memcpy(line.data(), data, std::min(size, line.size()));
    sigcore::applySettingsLine(line, sensitivity, &japaneseCode);
    return 0;
}
