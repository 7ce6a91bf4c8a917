#include "sigcore/messages/nttdecoder.hpp"

#include <span>
#include <string_view>

#include "sigcore/messages/nttbits.hpp"

namespace sigcore {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;

constexpr int kBeforeCall = 0x40;
constexpr int kDuringCall = 0x41;

// framePos values outside the opening.
constexpr int kClosingDlePos = 5;
constexpr int kEtxPos = 6;
constexpr int kFrameDone = 7;

std::uint8_t asByte(int ch) { return static_cast<std::uint8_t>(ch); }

void collectCovered(NttDecoder& decoder, std::uint8_t b) {
    if (decoder.crcCount < decoder.crcBuffer.size()) {
        decoder.crcBuffer[decoder.crcCount++] = reverseBits(b);
    } else {
        decoder.crcOverflow = true;
    }
}

// The five opening characters, once the fifth is in: false when two or more
// are wrong. A single wrong header, DLE or STX is taken for the right one in
// the CRC, as if it had arrived correctly.
bool acceptOpening(NttDecoder& decoder, EventSink& sink) {
    int differences = 0;
    std::size_t wrongAt = 0;
    for (std::size_t i = 0; i < kNttOpening.size(); ++i) {
        if (decoder.headerChars[i] != kNttOpening[i]) {
            ++differences;
            wrongAt = i;
        }
    }
    if (differences >= 2) return false;
    if (differences == 1 && wrongAt >= 2 && wrongAt - 2 < decoder.crcCount) {
        decoder.crcBuffer[wrongAt - 2] = reverseBits(addParity(kNttOpening[wrongAt]));
    }
    for (const std::uint8_t code : kNttOpening) sink.onEvent(NttControl{code});
    return true;
}

// What a parameter's last data byte `ch` completes.
void completeParameter(NttDecoder& decoder, EventSink& sink, int ch) {
    switch (decoder.paramType) {
    case kNttNumberParam:
    case kNttNameParam: sink.onEvent(LineEnd{}); break;
    case kNttReasonParam: sink.onEvent(NttReason{asByte(ch)}); break;
    case kNttExtendedParam:
        sink.onEvent(NttNumberInfo{asByte(decoder.charBeforeLast), asByte(decoder.lastChar), asByte(ch)});
        break;
    default: break;
    }
}

void parameterByte(NttDecoder& decoder, EventSink& sink, int ch) {
    if (decoder.paramPos == 0) {
        decoder.paramType = ch;
        sink.onEvent(NttParameter{asByte(ch)});
    } else if (decoder.paramPos == 1) {
        sink.onEvent(NttParameterLength{asByte(decoder.paramType), asByte(ch)});
        decoder.kanjiPending = false;
        decoder.paramEnd = decoder.paramPos + ch + 1;
    } else if (decoder.paramType != kNttNameParam) {
        sink.onEvent(TextByte{asByte(ch)});
    } else if (!decoder.kanjiPending) {
        decoder.kanjiPair[0] = static_cast<std::uint8_t>(ch);
        decoder.kanjiPending = true;
    } else {
        decoder.kanjiPair[1] = static_cast<std::uint8_t>(ch);
        decoder.kanjiPending = false;
        sink.onEvent(NttNameCharacter{decoder.kanjiPair});
    }
    ++decoder.paramPos;
    if (decoder.paramPos == decoder.paramEnd) {
        completeParameter(decoder, sink, ch);
        decoder.paramPos = 0;
    }
}

// A character of the message body: type, length, parameters.
void bodyChar(NttDecoder& decoder, EventSink& sink, int ch) {
    // The second DLE of a doubled pair is skipped; it still counts as a body position.
    const bool doubledDle = ch == kDle && decoder.lastChar == kDle;
    if (doubledDle) {
        // nothing to write
    } else if (decoder.messagePos == 0 && (ch == kBeforeCall || ch == kDuringCall)) {
        sink.onEvent(NttMessageType{asByte(ch)});
    } else if (decoder.messagePos == 1) {
        sink.onEvent(NttMessageLength{asByte(ch)});
        decoder.messageEnd = decoder.messagePos + ch + 1 + (ch == kDle ? 1 : 0);
        decoder.paramPos = 0;
    } else {
        parameterByte(decoder, sink, ch);
    }
    decoder.charBeforeLast = decoder.lastChar;
    decoder.lastChar = ch;
    ++decoder.messagePos;
    if (decoder.messagePos == decoder.messageEnd) {
        // The framing resumes: DLE ETX is expected.
        decoder.messagePos = 0;
        decoder.inMessage = false;
        decoder.crcReceived = 0;
    }
}

// A character outside the body: the opening, then DLE ETX after the body.
NextByte frameChar(NttDecoder& decoder, EventSink& sink, std::uint8_t ch) {
    if (decoder.framePos < static_cast<int>(kNttOpening.size())) {
        decoder.headerChars[static_cast<std::size_t>(decoder.framePos)] = ch;
    }
    if (decoder.framePos == 4) {
        if (!acceptOpening(decoder, sink)) {
            // The next byte is taken as a new opening DLE.
            decoder.framePos = 0;
            decoder.crcCount = 0;
            decoder.crcOverflow = false;
            return decoder.parityMode;
        }
        decoder.inMessage = true;
        decoder.messagePos = 0;
    } else if (decoder.framePos == kClosingDlePos) {
        if (ch == kDle) sink.onEvent(NttControl{kDle});
    } else if (decoder.framePos == kEtxPos) {
        if (ch == kEtx) {
            sink.onEvent(NttControl{kEtx});
            decoder.parityMode = kPlainBytes;
            decoder.messagePos = 0;
            decoder.crcStage = CrcStage::EtxSeen;
        }
    }
    if (decoder.framePos < kFrameDone) ++decoder.framePos;
    return decoder.parityMode;
}

void crcByte(NttDecoder& decoder, EventSink& sink, std::uint8_t b) {
    if (decoder.crcStage == CrcStage::None) return;  // silent after the verdict
    decoder.crcReceived = ((decoder.crcReceived << 8) | reverseBits(b)) & 0xFFFFu;
    if (decoder.crcStage == CrcStage::EtxSeen) {
        decoder.crcStage = CrcStage::FirstByte;
        return;
    }
    const std::uint16_t computed =
        crc16(std::span<const std::uint8_t>(decoder.crcBuffer.data(), decoder.crcCount));
    // Covered bytes that did not fit were not part of the computation.
    const bool correct = !decoder.crcOverflow && computed == decoder.crcReceived;
    sink.onEvent(NttCrc{static_cast<std::uint16_t>(decoder.crcReceived), computed, correct});
    decoder.crcStage = CrcStage::None;
    decoder.framePos = 0;
    decoder.parityMode = kPlainBytes;
}

}  // namespace

NextByte decodeNttByte(NttDecoder& decoder, EventSink& sink, int value) {
    if (value < 0) {
        decoder.parityMode = kParityChars;
        decoder.framePos = 0;
        decoder.inMessage = false;
        decoder.crcCount = 0;
        decoder.crcOverflow = false;
        decoder.crcStage = CrcStage::None;
        decoder.crcReceived = 0;
        decoder.messagePos = 0;
        decoder.paramPos = 0;
        decoder.lastChar = 0;
        decoder.charBeforeLast = 0;
        return decoder.parityMode;
    }
    const auto b = static_cast<std::uint8_t>(value & 0xFF);
    // Every byte from the header character to ETX, parity bit included.
    if (decoder.framePos >= 2 && decoder.framePos <= kEtxPos) collectCovered(decoder, b);
    if (decoder.parityMode == kPlainBytes) {
        crcByte(decoder, sink, b);
        return decoder.parityMode;
    }
    const auto ch = static_cast<std::uint8_t>(b & 0x7F);  // parity stripped
    if (!decoder.inMessage) return frameChar(decoder, sink, ch);
    bodyChar(decoder, sink, ch);
    return decoder.parityMode;
}

}  // namespace sigcore
