#include "cidprobe-ntt/nttprobe.hpp"

#include <cstdio>

#include "sigcore/fskscan.hpp"
#include "sigcore/settings.hpp"

namespace cidprobe_ntt {

int fskScanNtt(int sensitivity, int japaneseCode, const std::string& inputPath, const std::string& reportPath) {
    sigcore::NttReportDecoder decoder;
    return sigcore::fskScan(sensitivity, sigcore::kV23, decoder, inputPath, reportPath, japaneseCode);
}

int runCidprobeNtt(std::span<const char* const> args) {
    int sensitivity = kDefaultSensitivity;
    int japaneseCode = sigcore::kNamesInShiftJis;
    if (args.size() < 2) {
        std::fputs(">cidprobe fsk.wav fsk.txt (fsk.ini)\n", stderr);
        return 1;
    }
    std::fprintf(stderr, "input  filename=%s\n", args[0]);
    std::fprintf(stderr, "output filename=%s\n", args[1]);
    // Exactly three file names: the third is the settings file. With more
    // the settings file is not read.
    if (args.size() == 3) sigcore::readSettingsFile(args[2], sensitivity, &japaneseCode);
    std::fprintf(stderr, "Sensitivity=%d\n", sensitivity);
    return fskScanNtt(sensitivity, japaneseCode, args[0], args[1]);
}

}  // namespace cidprobe_ntt
