#include "cidprobe-ntt/nttprobe.hpp"

#include <cstdio>
#include <string_view>

#include "sigcore/io/cliinfo.hpp"
#include "sigcore/io/filehandle.hpp"
#include "sigcore/report/fskscan.hpp"
#include "sigcore/report/settings.hpp"

namespace cidprobe_ntt {

namespace {

constexpr std::string_view kHelpText =
    "usage: cidprobe-ntt recording.wav report.txt [settings.ini]\n"
    "Finds NTT caller-ID bursts (V.23) in the recording and writes\n"
    "the report; the settings file sets Sensitivity (0 to 100) and JapaneseCode (0 Shift-JIS, 1 EUC-JP).\n"
    "\"-\" reads the recording or the settings from standard input, or writes\n"
    "the report to standard output.\n"
    "  --help      this text\n"
    "  --version   program name and version\n";

}  // namespace

int fskScanNtt(int sensitivity, int japaneseCode, const std::string& inputPath, const std::string& reportPath) {
    sigcore::NttReportDecoder decoder;
    return sigcore::fskScan(sensitivity, sigcore::kV23, decoder, inputPath, reportPath, japaneseCode);
}

int runCidprobeNtt(std::span<const char* const> args) {
    int sensitivity = kDefaultSensitivity;
    int japaneseCode = sigcore::kNamesInShiftJis;
    if (const auto request = sigcore::infoRequest(args); request != sigcore::InfoRequest::none) {
        return sigcore::answerInfoRequest(request, "cidprobe-ntt", kHelpText);
    }
    if (args.size() < 2) {
        std::fputs(">cidprobe fsk.wav fsk.txt (fsk.ini)\n", stderr);
        return 1;
    }
    // Standard input can be read once: not as the recording and the settings.
    if (args.size() == 3 && std::string_view(args[0]) == "-" && std::string_view(args[2]) == "-") {
        std::fputs("cidprobe-ntt: the recording and the settings file can't both be standard input ('-')\n", stderr);
        return 1;
    }
    // The report must not overwrite the recording or the settings file.
    const std::string clash = args.size() == 3 ? sigcore::outputClashLine({args[0], args[2]}, args[1])
                                               : sigcore::outputClashLine({args[0]}, args[1]);
    if (!clash.empty()) {
        std::fputs(clash.c_str(), stderr);
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
