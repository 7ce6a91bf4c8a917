#include "cidprobe/sdmf.hpp"

#include <array>
#include <cstdio>

namespace cidprobe {

namespace {

struct TypeName {
    int code;
    const char* header;
};

constexpr std::array<TypeName, 6> kTypes{{
    {0x04, "04 [SDMF header]\n"},
    {0x06, "06 [SDMF Message waiting indicator]\n"},
    {0x0b, "0b [SDMF (for Message Desk Information)]\n"},
    {0x80, "80 [MDMF packet header]\n"},
    {0x81, "81 [MDMF test sequence packet header]\n"},
    {0x82, "82 [Message waiting notification]\n"},
}};

constexpr int kSingleDataMessage = 0x04;

// Labels written ahead of the data bytes at positions 2, 4, 6, 8 and 10.
const char* labelAt(int position) {
    switch (position) {
    case 2: return "   [Date] ";
    case 4: return ".";
    case 6: return "   [Time] ";
    case 8: return ":";
    case 10: return "   [Number] ";
    default: return nullptr;
    }
}

void singleDataByte(SdmfDecoder& decoder, sigcore::Report& report, int b) {
    const int pos = decoder.messagePos;
    std::array<char, 64> line{};
    if (pos == 1) {
        std::snprintf(line.data(), line.size(), "%02x [SDMF packet length=%d]\n", b, b);
        sigcore::reportPrint(report, line.data());
        decoder.messageLength = b;
    } else {
        const char* label = labelAt(pos);
        if (label != nullptr && pos <= decoder.messageLength + 1) {
            sigcore::reportPrint(report, label);
        } else if (pos == decoder.messageLength + 2) {
            const unsigned sum = decoder.messageSum & 0xFFu;
            std::snprintf(line.data(), line.size(), "%02x [SDMF packet checksum] %02x %s\n", b, sum,
                          sum == 0 ? "correct" : "incorrect");
            sigcore::reportPrint(report, line.data());
        }
        if (pos < decoder.messageLength + 2 && b != 0) {
            const char c = static_cast<char>(b);
            sigcore::reportPrint(report, std::string_view(&c, 1));
        }
    }
    if (pos == 5 || pos == 9) sigcore::reportPrint(report, "\n");
    if (pos == decoder.messageLength + 1) {
        sigcore::reportPrint(report, "\n");
        decoder.decoderState = kChecksumNext;
    }
}

}  // namespace

int decodeMessageByte(SdmfDecoder& decoder, sigcore::Report& report, int value) {
    if (value < 0) {
        decoder = SdmfDecoder{};
        return kNoMessage;
    }
    const int b = value & 0xFF;
    decoder.messageSum += static_cast<std::uint32_t>(b);
    if (decoder.messagePos == 0) {
        for (const TypeName& type : kTypes) {
            if (type.code == b) {
                sigcore::reportPrint(report, type.header);
                decoder.messageType = b;
                decoder.decoderState = kInsideMessage;
            }
        }
    } else if (decoder.messageType == kSingleDataMessage) {
        singleDataByte(decoder, report, b);
    }
    ++decoder.messagePos;
    return decoder.decoderState;
}

}  // namespace cidprobe
