#include "padtoner/run.hpp"

#include <cstdio>
#include <string>

#include "padtoner/dtmfdata.hpp"
#include "padtoner/dtmfwave.hpp"
#include "padtoner/helptext.hpp"
#include "sigcore/io/cliinfo.hpp"
#include "sigcore/io/filehandle.hpp"
#include "sigcore/dsp/noise.hpp"

namespace padtoner {

namespace {

constexpr const char* kBanner = "padtoner - DTMF tone sequence generator\n";

}  // namespace

int runPadtoner(std::span<const char* const> args) {
    if (const auto request = sigcore::infoRequest(args); request != sigcore::InfoRequest::none) {
        return sigcore::answerInfoRequest(request, "padtoner", kBanner + helpText());
    }
    // While the WAV file goes to standard output, the console is standard error.
    std::FILE* const console = args.size() == 2 && sigcore::isStandardStream(args[1]) ? stderr : stdout;
    std::fputs(kBanner, console);
    if (args.size() != 2) {
        std::fputs(helpText().c_str(), stdout);
        return 1;
    }
    const std::string dataPath = args[0];
    const std::string wavePath = args[1];
    // The WAV file must not overwrite the data file.
    if (const std::string clash = sigcore::outputClashLine({dataPath}, wavePath); !clash.empty()) {
        std::fputs(clash.c_str(), stderr);
        return 1;
    }

    const auto params = readDtmfParameters(dataPath, console);
    if (!params) {
        std::fprintf(console, "can't open data text file [%s]\n", dataPath.c_str());
        return 1;
    }
    if (const std::string error = dtmfParameterError(*params); !error.empty()) {
        std::fprintf(console, "%s\n", error.c_str());
        return 1;
    }

    sigcore::NoiseState noise;
    const DtmfWriteResult result = writeDtmfWave(*params, wavePath, noise);
    switch (result.status) {
    case DtmfWriteStatus::written:
        return result.closeResult;
    case DtmfWriteStatus::noMemory:
        std::fputs("memory not available\n", console);
        return 1;
    case DtmfWriteStatus::cannotCreate:
        std::fputs("can't open the file to write\n", console);
        return 1;
    case DtmfWriteStatus::writeFailed:
        std::fprintf(console, "can't write the file [%s]\n", wavePath.c_str());
        return result.closeResult;
    case DtmfWriteStatus::refused:
        break;
    }
    return 1;
}

}  // namespace padtoner
