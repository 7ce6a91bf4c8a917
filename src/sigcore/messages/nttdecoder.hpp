// Decoder of the NTT caller-ID frame: the five opening characters (DLE SOH,
// header, DLE STX), the message type, its length and each parameter (calling
// number, reason for withholding it, caller name, extended number
// information), DLE ETX and the CRC-16 verdict, as events while the bytes
// arrive.
#pragma once

#include <array>
#include <cstdint>

#include "sigcore/messages/decoder.hpp"

namespace sigcore {

// The frame's fixed opening (DLE SOH header DLE STX) and the parameter types
// that both NTT decoders, the report's and the whole message's, tell apart.
inline constexpr std::array<std::uint8_t, 5> kNttOpening{0x10, 0x01, 0x07, 0x10, 0x02};
inline constexpr std::uint8_t kNttNumberParam = 0x02;
inline constexpr std::uint8_t kNttReasonParam = 0x04;
inline constexpr std::uint8_t kNttNameParam = 0x07;
inline constexpr std::uint8_t kNttExtendedParam = 0x21;

// Results of decodeNttByte: what the demodulator should expect next.
inline constexpr NextByte kPlainBytes = NextByte::AnyByte;  // CRC bytes (and silence after the verdict)
inline constexpr NextByte kParityChars = NextByte::EvenParityChar;  // characters, even parity in bit 7

// Covered bytes kept for the CRC. A frame's body holds at most 129 bytes (its
// length is a 7-bit character), but when the length byte is taken for the
// second DLE of a pair the body keeps an earlier frame's end, or none, and
// may go on filling the buffer: what does not fit is dropped, and the frame
// can't be judged correct.
inline constexpr std::size_t kCrcCapacity = 256;

enum class CrcStage {
    None,      // ETX not seen yet, or the verdict has been written
    EtxSeen,   // the next byte is the first CRC byte
    FirstByte  // the next byte is the second CRC byte
};

struct NttDecoder {
    NextByte parityMode = kParityChars;  // also the value returned
    int framePos = 0;  // 0..4 the opening characters, 5 the DLE after the body, 6 ETX, 7 nothing more
    bool inMessage = false;
    std::array<std::uint8_t, 5> headerChars{};  // the opening characters, parity stripped

    std::array<std::uint8_t, kCrcCapacity> crcBuffer{};  // covered bytes, bit-reversed
    std::size_t crcCount = 0;
    bool crcOverflow = false;  // covered bytes were dropped: the CRC can't be right
    CrcStage crcStage = CrcStage::None;
    std::uint32_t crcReceived = 0;

    int messagePos = 0;  // 0 the type, 1 the length, 2 and on the parameter bytes
    int messageEnd = 0;  // position at which the body ends
    int paramPos = 0;    // 0 the type, 1 the length, 2 and on the data
    int paramType = 0;
    int paramEnd = 0;
    bool kanjiPending = false;  // the first byte of a name character is waiting
    std::array<std::uint8_t, 2> kanjiPair{};
    int lastChar = 0;  // the last two body characters handled
    int charBeforeLast = 0;
};

// A byte 0..255 as sliced (bit 7 the parity bit of a character), or -1 to
// reset at the start of a burst (emits nothing). Returns kParityChars or
// kPlainBytes.
NextByte decodeNttByte(NttDecoder& decoder, EventSink& sink, int value);

// The decoder behind the demodulator's contract.
class NttReportDecoder final : public MessageDecoder {
public:
    NextByte startBurst(EventSink& sink) override { return decodeNttByte(state_, sink, -1); }
    NextByte decodeByte(std::uint8_t byte, std::int64_t, std::int64_t, EventSink& sink) override {
        return decodeNttByte(state_, sink, byte);
    }
    [[nodiscard]] const NttDecoder& state() const { return state_; }

private:
    NttDecoder state_;
};

}  // namespace sigcore
