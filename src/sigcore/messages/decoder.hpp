// The contract between the demodulator and a message decoder. The decoder
// owns everything about its message format: its type codes, its framing, its
// check, and what the next byte must look like. The demodulator asks and
// scores candidate bit alignments with the test the decoder names; it knows
// no message format.
#pragma once

#include <cstdint>

#include "sigcore/messages/events.hpp"

namespace sigcore {

// What the decoder expects the next byte to be. The demodulator penalises a
// candidate alignment whose byte does not fit.
enum class NextByte : std::uint8_t {
    MessageType,     // one of the decoder's message type codes (isMessageType)
    SevenBitChar,    // a character: the eighth data bit is 0
    AnyByte,         // eight data bits, no test
    EvenParityChar,  // seven bits and an eighth that makes the parity even
    DigitChar,       // a decimal digit, '0' to '9'
};

class MessageDecoder {
public:
    virtual ~MessageDecoder() = default;

    // A new burst has been confirmed: forget the previous one. Returns what
    // the burst's first byte is expected to be.
    virtual NextByte startBurst(EventSink& sink) = 0;

    // One byte as sliced, whose start bit begins at sample `start` and whose
    // stop bit ends before sample `end`. Emits what the byte completes and
    // returns what the next byte is expected to be.
    virtual NextByte decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) = 0;

    // The burst ended at sample `position` (before the demodulator's own
    // BurstEnded event); a decoder that reports whole messages emits what it
    // holds.
    virtual void endBurst(std::int64_t position, EventSink& sink) {
        static_cast<void>(position);
        static_cast<void>(sink);
    }

    // For NextByte::MessageType: whether `byte` is one of the format's types.
    [[nodiscard]] virtual bool isMessageType(std::uint8_t byte) const {
        static_cast<void>(byte);
        return false;
    }
};

}  // namespace sigcore
