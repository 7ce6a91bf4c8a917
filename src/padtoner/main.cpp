// padtoner: writes a DTMF tone sequence, described by a data text file, as a
// WAV file. Every line goes to standard output.
#include <cstdio>
#include <string>

#include "padtoner/dtmfdata.hpp"
#include "padtoner/dtmfwave.hpp"
#include "padtoner/helptext.hpp"
#include "sigcore/noise.hpp"

int main(int argc, char** argv) {
    std::fputs("padtoner - DTMF tone sequence generator\n", stdout);
    if (argc != 3) {
        std::fputs(padtoner::helpText().c_str(), stdout);
        return 1;
    }
    const std::string dataPath = argv[1];
    const std::string wavePath = argv[2];

    const auto params = padtoner::readDtmfParameters(dataPath);
    if (!params) {
        std::printf("can't open data text file [%s]\n", dataPath.c_str());
        return 1;
    }
    if (const std::string error = padtoner::dtmfParameterError(*params); !error.empty()) {
        std::printf("%s\n", error.c_str());
        return 1;
    }

    sigcore::NoiseState noise;
    const padtoner::DtmfWriteResult result = padtoner::writeDtmfWave(*params, wavePath, noise);
    switch (result.status) {
    case padtoner::DtmfWriteStatus::written:
        return result.closeResult;
    case padtoner::DtmfWriteStatus::noMemory:
        std::fputs("memory not available\n", stdout);
        return 1;
    case padtoner::DtmfWriteStatus::cannotCreate:
        std::fputs("can't open the file to write\n", stdout);
        return 1;
    case padtoner::DtmfWriteStatus::writeFailed:
        std::printf("can't write the file [%s]\n", wavePath.c_str());
        return result.closeResult;
    case padtoner::DtmfWriteStatus::refused:
        break;
    }
    return 1;
}
