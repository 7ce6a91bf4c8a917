// The SDMF/MDMF decoder on any byte sequence with resets in between (the
// escape of decoderCalls), writing to a report in memory.
#include <cstddef>
#include <cstdint>

#include "cidprobe/sdmf.hpp"
#include "fuzzsupport.hpp"
#include "sigcore/report/reportsink.hpp"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sigcore::Report report;
    fuzzsupport::MemoryReport memory;
    fuzzsupport::openMemoryReport(report, memory);
    sigcore::ReportTextSink sink(report, 8000);
    cidprobe::SdmfDecoder decoder;
    for (const int value : fuzzsupport::decoderCalls(data, size)) {
        const sigcore::NextByte next = cidprobe::decodeMessageByte(decoder, sink, value);
        require(next == sigcore::NextByte::MessageType || next == sigcore::NextByte::AnyByte ||
                    next == sigcore::NextByte::SevenBitChar,
                "the decoder asks for a type, any byte or a character");
        if (value < 0) require(next == sigcore::NextByte::MessageType, "a reset asks for a message type");
    }
    require(!report.failed, "every report line was written");
    fuzzsupport::readMemoryReport(report, memory);
    return 0;
}
