// The SDMF/MDMF decoder on any byte sequence with resets in between (the
// escape of decoderCalls), writing to a report in memory.
#include <cstddef>
#include <cstdint>

#include "cidprobe/sdmf.hpp"
#include "fuzzsupport.hpp"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sigcore::Report report;
    fuzzsupport::MemoryReport memory;
    fuzzsupport::openMemoryReport(report, memory);
    cidprobe::SdmfDecoder decoder;
    for (const int value : fuzzsupport::decoderCalls(data, size)) {
        const int state = cidprobe::decodeMessageByte(decoder, report, value);
        require(state == cidprobe::kNoMessage || state == cidprobe::kChecksumNext ||
                    state == cidprobe::kInsideMessage,
                "the decoder returns one of its three codes");
        if (value < 0) require(state == cidprobe::kNoMessage, "a reset returns 0");
    }
    require(!report.failed, "every report line was written");
    fuzzsupport::readMemoryReport(report, memory);
    return 0;
}
