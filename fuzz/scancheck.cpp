#include "scancheck.hpp"

#include "fuzzsupport.hpp"
#include "sigcore/report/fskscan.hpp"
#include "sigcore/io/wave.hpp"

namespace fuzzsupport {

int scanSensitivity(const std::uint8_t* data, std::size_t size) { return size == 0 ? 80 : data[size - 1] % 101; }

void checkScan(int status, const std::string& input, const std::string& report) {
    sigcore::WaveReader reader;
    const sigcore::WaveInfo info = sigcore::waveOpen(reader, input);
    sigcore::waveClose(reader);
    const bool usable = info.numberSamples != 0 && info.sampling_frequency >= sigcore::kLowestRate &&
                        info.sampling_frequency <= sigcore::kHighestRate;
    if (!usable) {
        require(status == 1, "an unusable recording fails the run");
        require(fileSize(report) < 0, "an unusable recording leaves no report");
        return;
    }
    require(status == 0, "a usable recording is processed");
    const std::string text = readWhole(report);
    require(countOccurrences(text, "Mark at least 55ms has found.\n") == countOccurrences(text, "terminated ["),
            "every confirmed burst gets its termination line");
}

}  // namespace fuzzsupport
