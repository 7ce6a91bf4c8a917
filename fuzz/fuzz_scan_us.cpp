// The US detector run (band-pass filter, demodulator, SDMF decoder, report
// file) on short WAV files; the sensitivity comes from the file's last byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "cidprobe/cidprobe.hpp"
#include "fuzzsupport.hpp"
#include "scancheck.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzzsupport::kMaxScanInput) return 0;
    const int sensitivity = fuzzsupport::scanSensitivity(data, size);
    const std::string input = fuzzsupport::writeScratch("scan.wav", data, size);
    const std::string report = fuzzsupport::scratchFile("scan.txt");
    std::remove(report.c_str());
    const int status = cidprobe::fskScanUs(sensitivity, input, report);
    fuzzsupport::checkScan(status, input, report);
    return 0;
}
