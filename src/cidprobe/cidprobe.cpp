#include "cidprobe/cidprobe.hpp"

#include <cstdio>

#include "cidprobe/sdmf.hpp"
#include "sigcore/fskscan.hpp"
#include "sigcore/settings.hpp"

namespace cidprobe {

int fskScanUs(int sensitivity, const std::string& inputPath, const std::string& reportPath) {
    SdmfReportDecoder decoder;
    return sigcore::fskScan(sensitivity, sigcore::kBell202, decoder, inputPath, reportPath);
}

int runCidprobe(std::span<const char* const> args) {
    int sensitivity = kDefaultSensitivity;
    if (args.size() < 2) {
        std::fputs(">cidprobe fsk.wav fsk.txt fsk.ini\n", stderr);
        return 1;
    }
    std::fprintf(stderr, "input  filename=%s\n", args[0]);
    std::fprintf(stderr, "output filename=%s\n", args[1]);
    // Exactly three file names: the third is the settings file. With more
    // the settings file is not read.
    if (args.size() == 3) sigcore::readSettingsFile(args[2], sensitivity, nullptr);
    std::fprintf(stderr, "Sensitivity=%d\n", sensitivity);
    return fskScanUs(sensitivity, args[0], args[1]);
}

}  // namespace cidprobe
