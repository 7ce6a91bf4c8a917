// Decoder of the US caller-ID messages for the report: the type byte of SDMF
// and MDMF messages, and a single data message (type 0x04) in full: length,
// date, time, calling number and checksum verdict, as events while the bytes
// arrive.
#pragma once

#include <cstdint>

#include "sigcore/messages/decoder.hpp"

namespace cidprobe {

// Where the decoder stands after a byte.
enum class SdmfStage : std::uint8_t {
    NoMessage,      // no message type recognised
    ChecksumNext,   // only the checksum is left (or has passed)
    InsideMessage,  // inside a recognised message
};

struct SdmfDecoder {
    int messagePos = 0;           // index of the byte about to be handled
    int messageType = 0;          // type byte recognised at index 0, or 0
    int messageLength = 0;        // length byte N of a type 0x04 message
    std::uint32_t messageSum = 0; // running sum of every byte since the reset
    SdmfStage stage = SdmfStage::NoMessage;
};

// Whether `byte` is one of the six US message types.
bool isUsMessageType(std::uint8_t byte);

// What the demodulator should expect after the decoder has reached `stage`:
// a message type, the checksum (any byte) or a 7-bit character.
sigcore::NextByte expectedAfter(SdmfStage stage);

// A byte 0..255, or -1 to reset at the start of a burst (emits nothing).
// Returns what the next byte is expected to be.
sigcore::NextByte decodeMessageByte(SdmfDecoder& decoder, sigcore::EventSink& sink, int value);

// The decoder behind the demodulator's contract.
class SdmfReportDecoder final : public sigcore::MessageDecoder {
public:
    sigcore::NextByte startBurst(sigcore::EventSink& sink) override { return decodeMessageByte(state_, sink, -1); }
    sigcore::NextByte decodeByte(std::uint8_t byte, std::int64_t, std::int64_t, sigcore::EventSink& sink) override {
        return decodeMessageByte(state_, sink, byte);
    }
    [[nodiscard]] bool isMessageType(std::uint8_t byte) const override { return isUsMessageType(byte); }

private:
    SdmfDecoder state_;
};

}  // namespace cidprobe
