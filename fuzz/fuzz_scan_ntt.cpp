// The NTT detector run (band-pass filter, demodulator with the parity test,
// NTT frame decoder, report file) on short WAV files; the sensitivity comes
// from the file's last byte, the name's character set from the one before.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "cidprobe-ntt/nttprobe.hpp"
#include "fuzzsupport.hpp"
#include "scancheck.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzzsupport::kMaxScanInput) return 0;
    const int sensitivity = fuzzsupport::scanSensitivity(data, size);
    const int japaneseCode = size >= 2 ? data[size - 2] % 3 : 0;
    const std::string input = fuzzsupport::writeScratch("scan.wav", data, size);
    const std::string report = fuzzsupport::scratchFile("scan.txt");
    std::remove(report.c_str());
    const int status = cidprobe_ntt::fskScanNtt(sensitivity, japaneseCode, input, report);
    fuzzsupport::checkScan(status, input, report);
    return 0;
}
