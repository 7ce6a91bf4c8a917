// The NTT frame decoder on any byte sequence with resets in between (the
// escape of decoderCalls), with the JapaneseCode chosen by the first byte
// (as a signed value, so 0, 1 and every other code come up).
#include <cstddef>
#include <cstdint>

#include "sigcore/messages/nttdecoder.hpp"
#include "fuzzsupport.hpp"
#include "sigcore/report/reportsink.hpp"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    sigcore::Report report;
    fuzzsupport::MemoryReport memory;
    fuzzsupport::openMemoryReport(report, memory);
    sigcore::ReportTextSink sink(report, 8000, static_cast<std::int8_t>(data[0]));
    sigcore::NttDecoder decoder;
    for (const int value : fuzzsupport::decoderCalls(data + 1, size - 1)) {
        const sigcore::NextByte mode = sigcore::decodeNttByte(decoder, sink, value);
        require(mode == sigcore::kParityChars || mode == sigcore::kPlainBytes,
                "the decoder asks for characters or plain bytes");
        if (value < 0) require(mode == sigcore::kParityChars, "a reset asks for characters");
        require(decoder.crcCount <= sigcore::kCrcCapacity, "the CRC buffer is never overrun");
    }
    require(!report.failed, "every report line was written");
    fuzzsupport::readMemoryReport(report, memory);
    return 0;
}
