#include "cidprobe-ntt/nttdecoder.hpp"

#include <cstdio>
#include <span>
#include <string_view>

#include "cidprobe-ntt/nttlabels.hpp"
#include "sigcore/nttbits.hpp"

namespace cidprobe_ntt {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kHeader = 0x07;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::array<std::uint8_t, 5> kOpening{kDle, kSoh, kHeader, kDle, kStx};

constexpr int kBeforeCall = 0x40;
constexpr int kDuringCall = 0x41;

constexpr int kNumberParam = 0x02;
constexpr int kReasonParam = 0x04;
constexpr int kNameParam = 0x07;
constexpr int kExtendedParam = 0x21;

// framePos values outside the opening.
constexpr int kClosingDlePos = 5;
constexpr int kEtxPos = 6;
constexpr int kFrameDone = 7;

void print(sigcore::Report& report, const Label& label) { sigcore::reportPrint(report, label.sjis); }

// A length line: the value in hexadecimal and in decimal.
void printLength(sigcore::Report& report, const Label& format, int value) {
    std::array<char, 96> line{};
    std::snprintf(line.data(), line.size(), format.sjis.data(), static_cast<unsigned>(value), value);
    sigcore::reportPrint(report, line.data());
}

// One byte of the message as it came; a zero byte leaves no trace in the text.
void printChar(sigcore::Report& report, std::uint8_t c) {
    if (c == 0) return;
    const char text = static_cast<char>(c);
    sigcore::reportPrint(report, std::string_view(&text, 1));
}

void collectCovered(NttDecoder& decoder, std::uint8_t b) {
    if (decoder.crcCount < decoder.crcBuffer.size()) {
        decoder.crcBuffer[decoder.crcCount++] = sigcore::reverseBits(b);
    } else {
        decoder.crcOverflow = true;
    }
}

// The five opening characters, once the fifth is in: false when two or more
// are wrong. A single wrong header, DLE or STX is taken for the right one in
// the CRC, as if it had arrived correctly.
bool acceptOpening(NttDecoder& decoder, sigcore::Report& report) {
    int differences = 0;
    std::size_t wrongAt = 0;
    for (std::size_t i = 0; i < kOpening.size(); ++i) {
        if (decoder.headerChars[i] != kOpening[i]) {
            ++differences;
            wrongAt = i;
        }
    }
    if (differences >= 2) return false;
    if (differences == 1 && wrongAt >= 2 && wrongAt - 2 < decoder.crcCount) {
        decoder.crcBuffer[wrongAt - 2] = sigcore::reverseBits(sigcore::addParity(kOpening[wrongAt]));
    }
    sigcore::reportPrint(report, "10 [DLE]\n");
    sigcore::reportPrint(report, "01 [SOH]\n");
    print(report, kHeaderLine);
    sigcore::reportPrint(report, "10 [DLE]\n");
    sigcore::reportPrint(report, "02 [STX]\n");
    return true;
}

void convertName(NttDecoder& decoder) {
    if (decoder.japaneseCode == kShiftJis) {
        jisToSjis(decoder.kanjiPair);
    } else if (decoder.japaneseCode == kEucJp) {
        jisToEuc(decoder.kanjiPair);
    }
}

// The labels written when a parameter's last data byte `ch` has been handled.
void completeParameter(NttDecoder& decoder, sigcore::Report& report, int ch) {
    switch (decoder.paramType) {
    case kNumberParam:
    case kNameParam: sigcore::reportPrint(report, "\n"); break;
    case kReasonParam:
        if (const Label* reason = findLabel(kReasonLabels, ch)) print(report, *reason);
        break;
    case kExtendedParam: {
        const Label* type = findLabel(kNumberTypeLabels, decoder.charBeforeLast);
        print(report, type != nullptr ? *type : kNumberTypeUnclear);
        const Label* plan = decoder.lastChar == '0' ? findLabel(kNumberingPlanLabels, ch) : nullptr;
        print(report, plan != nullptr ? *plan : kNumberingPlanUnclear);
        break;
    }
    default: break;
    }
}

void parameterByte(NttDecoder& decoder, sigcore::Report& report, int ch) {
    if (decoder.paramPos == 0) {
        decoder.paramType = ch;
        switch (ch) {
        case kNumberParam: print(report, kNumberParamLine); break;
        case kReasonParam: print(report, kReasonParamLine); break;
        case kNameParam: print(report, kNameParamLine); break;
        case kExtendedParam: print(report, kExtendedParamLine); break;
        default: break;
        }
    } else if (decoder.paramPos == 1) {
        printLength(report, kParamLengthFormat, ch);
        if (decoder.paramType == kNumberParam || decoder.paramType == kNameParam) sigcore::reportPrint(report, "   ");
        decoder.kanjiPending = false;
        decoder.paramEnd = decoder.paramPos + ch + 1;
    } else if (decoder.paramType != kNameParam) {
        printChar(report, static_cast<std::uint8_t>(ch));
    } else if (!decoder.kanjiPending) {
        decoder.kanjiPair[0] = static_cast<std::uint8_t>(ch);
        decoder.kanjiPending = true;
    } else {
        decoder.kanjiPair[1] = static_cast<std::uint8_t>(ch);
        decoder.kanjiPending = false;
        convertName(decoder);
        printChar(report, decoder.kanjiPair[0]);
        printChar(report, decoder.kanjiPair[1]);
    }
    ++decoder.paramPos;
    if (decoder.paramPos == decoder.paramEnd) {
        completeParameter(decoder, report, ch);
        decoder.paramPos = 0;
    }
}

// A character of the message body: type, length, parameters.
void bodyChar(NttDecoder& decoder, sigcore::Report& report, int ch) {
    // The second DLE of a doubled pair is skipped; it still counts as a body position.
    const bool doubledDle = ch == kDle && decoder.lastChar == kDle;
    if (doubledDle) {
        // nothing to write
    } else if (decoder.messagePos == 0 && ch == kBeforeCall) {
        print(report, kBeforeCallLine);
    } else if (decoder.messagePos == 0 && ch == kDuringCall) {
        print(report, kDuringCallLine);
    } else if (decoder.messagePos == 1) {
        printLength(report, kMessageLengthFormat, ch);
        decoder.messageEnd = decoder.messagePos + ch + 1 + (ch == kDle ? 1 : 0);
        decoder.paramPos = 0;
    } else {
        parameterByte(decoder, report, ch);
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
int frameChar(NttDecoder& decoder, sigcore::Report& report, std::uint8_t ch) {
    if (decoder.framePos < static_cast<int>(kOpening.size())) {
        decoder.headerChars[static_cast<std::size_t>(decoder.framePos)] = ch;
    }
    if (decoder.framePos == 4) {
        if (!acceptOpening(decoder, report)) {
            // The next byte is taken as a new opening DLE.
            decoder.framePos = 0;
            decoder.crcCount = 0;
            decoder.crcOverflow = false;
            return decoder.parityMode;
        }
        decoder.inMessage = true;
        decoder.messagePos = 0;
    } else if (decoder.framePos == kClosingDlePos) {
        if (ch == kDle) sigcore::reportPrint(report, "10 [DLE]\n");
    } else if (decoder.framePos == kEtxPos) {
        if (ch == kEtx) {
            sigcore::reportPrint(report, "03 [ETX]\n");
            decoder.parityMode = kPlainBytes;
            decoder.messagePos = 0;
            decoder.crcStage = CrcStage::EtxSeen;
        }
    }
    if (decoder.framePos < kFrameDone) ++decoder.framePos;
    return decoder.parityMode;
}

void crcByte(NttDecoder& decoder, sigcore::Report& report, std::uint8_t b) {
    if (decoder.crcStage == CrcStage::None) return;  // silent after the verdict
    decoder.crcReceived = ((decoder.crcReceived << 8) | sigcore::reverseBits(b)) & 0xFFFFu;
    if (decoder.crcStage == CrcStage::EtxSeen) {
        decoder.crcStage = CrcStage::FirstByte;
        return;
    }
    const std::uint16_t computed =
        sigcore::crc16(std::span<const std::uint8_t>(decoder.crcBuffer.data(), decoder.crcCount));
    // Covered bytes that did not fit were not part of the computation.
    const bool correct = !decoder.crcOverflow && computed == decoder.crcReceived;
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "%04x [CRC] %04x %s\n", static_cast<unsigned>(decoder.crcReceived),
                  static_cast<unsigned>(computed), correct ? "correct" : "incorrect");
    sigcore::reportPrint(report, line.data());
    decoder.crcStage = CrcStage::None;
    decoder.framePos = 0;
    decoder.parityMode = kPlainBytes;
}

}  // namespace

void jisToSjis(std::array<std::uint8_t, 2>& pair) {
    const unsigned j1 = pair[0];
    const unsigned j2 = pair[1];
    const unsigned first = (j1 + 1) / 2 + (j1 < 0x5F ? 0x70u : 0xB0u);
    unsigned second = 0;
    if (j1 % 2 == 0) {
        second = j2 + 0x7E;
    } else {
        second = j2 <= 0x5F ? j2 + 0x1F : j2 + 0x20;
    }
    pair[0] = static_cast<std::uint8_t>(first & 0xFFu);
    pair[1] = static_cast<std::uint8_t>(second & 0xFFu);
}

void jisToEuc(std::array<std::uint8_t, 2>& pair) {
    pair[0] = static_cast<std::uint8_t>(pair[0] | 0x80u);
    pair[1] = static_cast<std::uint8_t>(pair[1] | 0x80u);
}

int decodeNttByte(NttDecoder& decoder, sigcore::Report& report, int value) {
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
        crcByte(decoder, report, b);
        return decoder.parityMode;
    }
    const auto ch = static_cast<std::uint8_t>(b & 0x7F);  // parity stripped
    if (!decoder.inMessage) return frameChar(decoder, report, ch);
    bodyChar(decoder, report, ch);
    return decoder.parityMode;
}

}  // namespace cidprobe_ntt
