#include "cidprobe/sdmf.hpp"

#include <array>
#include <string_view>

namespace cidprobe {

namespace {

struct TypeName {
    std::uint8_t code;
    std::string_view name;
};

// The message types this decoder knows: the only list of them.
constexpr std::array<TypeName, 6> kTypes{{
    {0x04, "SDMF header"},
    {0x06, "SDMF Message waiting indicator"},
    {0x0b, "SDMF (for Message Desk Information)"},
    {0x80, "MDMF packet header"},
    {0x81, "MDMF test sequence packet header"},
    {0x82, "Message waiting notification"},
}};

constexpr int kSingleDataMessage = 0x04;

void emitFieldMark(sigcore::EventSink& sink, sigcore::UsFieldMark mark) { sink.onEvent(sigcore::UsField{mark}); }

// The field text that stands ahead of the data bytes at positions 2, 4, 6, 8 and 10.
bool markAt(int position, sigcore::UsFieldMark& mark) {
    switch (position) {
    case 2: mark = sigcore::UsFieldMark::DateStart; return true;
    case 4: mark = sigcore::UsFieldMark::DateSeparator; return true;
    case 6: mark = sigcore::UsFieldMark::TimeStart; return true;
    case 8: mark = sigcore::UsFieldMark::TimeSeparator; return true;
    case 10: mark = sigcore::UsFieldMark::NumberStart; return true;
    default: return false;
    }
}

void singleDataByte(SdmfDecoder& decoder, sigcore::EventSink& sink, int b) {
    const int pos = decoder.messagePos;
    if (pos == 1) {
        sink.onEvent(sigcore::UsMessageLength{static_cast<std::uint8_t>(b)});
        decoder.messageLength = b;
    } else {
        sigcore::UsFieldMark mark{};
        if (markAt(pos, mark) && pos <= decoder.messageLength + 1) {
            emitFieldMark(sink, mark);
        } else if (pos == decoder.messageLength + 2) {
            const auto sum = static_cast<std::uint8_t>(decoder.messageSum & 0xFFu);
            sink.onEvent(sigcore::UsChecksum{static_cast<std::uint8_t>(b), sum, sum == 0});
        }
        if (pos < decoder.messageLength + 2) sink.onEvent(sigcore::TextByte{static_cast<std::uint8_t>(b)});
    }
    // The date and the time each end their line, and so does the message's last data byte.
    if (pos == 5 || pos == 9) sink.onEvent(sigcore::LineEnd{});
    if (pos == decoder.messageLength + 1) {
        sink.onEvent(sigcore::LineEnd{});
        decoder.stage = SdmfStage::ChecksumNext;
    }
}

}  // namespace

bool isUsMessageType(std::uint8_t byte) {
    for (const TypeName& type : kTypes) {
        if (type.code == byte) return true;
    }
    return false;
}

sigcore::NextByte expectedAfter(SdmfStage stage) {
    switch (stage) {
    case SdmfStage::NoMessage: return sigcore::NextByte::MessageType;
    case SdmfStage::ChecksumNext: return sigcore::NextByte::AnyByte;
    case SdmfStage::InsideMessage: return sigcore::NextByte::SevenBitChar;
    }
    return sigcore::NextByte::AnyByte;
}

sigcore::NextByte decodeMessageByte(SdmfDecoder& decoder, sigcore::EventSink& sink, int value) {
    if (value < 0) {
        decoder = SdmfDecoder{};
        return expectedAfter(decoder.stage);
    }
    const int b = value & 0xFF;
    decoder.messageSum += static_cast<std::uint32_t>(b);
    if (decoder.messagePos == 0) {
        for (const TypeName& type : kTypes) {
            if (type.code == b) {
                sink.onEvent(sigcore::UsMessageType{type.code, type.name});
                decoder.messageType = b;
                decoder.stage = SdmfStage::InsideMessage;
            }
        }
    } else if (decoder.messageType == kSingleDataMessage) {
        singleDataByte(decoder, sink, b);
    }
    ++decoder.messagePos;
    return expectedAfter(decoder.stage);
}

}  // namespace cidprobe
