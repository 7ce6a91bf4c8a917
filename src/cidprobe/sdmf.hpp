// Decoder of the US caller-ID messages: the type byte of SDMF and MDMF
// messages, and a single data message (type 0x04) in full: length, date,
// time, calling number and checksum verdict, written to the report as the
// bytes arrive.
#pragma once

#include <cstdint>

#include "sigcore/report.hpp"

namespace cidprobe {

// Codes returned after each byte.
inline constexpr int kNoMessage = 0;        // no message type recognised
inline constexpr int kChecksumNext = 1;     // only the checksum is left (or has passed)
inline constexpr int kInsideMessage = 2;    // inside a recognised message

struct SdmfDecoder {
    int messagePos = 0;           // index of the byte about to be handled
    int messageType = 0;          // type byte recognised at index 0, or 0
    int messageLength = 0;        // length byte N of a type 0x04 message
    std::uint32_t messageSum = 0; // running sum of every byte since the reset
    int decoderState = kNoMessage;
};

// A byte 0..255, or -1 to reset at the start of a burst (writes nothing,
// returns 0). Returns decoderState.
int decodeMessageByte(SdmfDecoder& decoder, sigcore::Report& report, int value);

}  // namespace cidprobe
