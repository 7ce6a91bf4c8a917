#include "sigcore/messages/nttmessage.hpp"

#include <string>
#include <vector>

#include "sigcore/messages/jistext.hpp"
#include "sigcore/messages/nttbits.hpp"
#include "sigcore/messages/messagetext.hpp"

namespace sigcore {

namespace {

constexpr std::uint8_t kNameReasonParam = 0x08;
constexpr std::uint8_t kCalledNumberParam = 0x09;
// The called number's extended information, laid out as the calling
// number's (0x21): type of number, then the numbering plan's two characters.
constexpr std::uint8_t kCalledExtendedParam = 0x22;

std::string numberType(std::uint8_t code) {
    switch (code) {
    case '0': return "unknown";
    case '1': return "international";
    case '2': return "national";
    case '3': return "network specific";
    case '4': return "local";
    case '6': return "abbreviated";
    default: return "code " + hexBytes(std::span<const std::uint8_t>(&code, 1));
    }
}

std::string numberingPlan(std::uint8_t prefix, std::uint8_t code) {
    if (prefix == '0') {
        switch (code) {
        case '0': return "unknown";
        case '1': return "ISDN";
        case '3': return "data";
        case '4': return "telex";
        case '8': return "national";
        case '9': return "private";
        default: break;
        }
    }
    const std::array<std::uint8_t, 2> both{prefix, code};
    return "code " + hexBytes(both);
}

// The opening of a frame whose CRC passed is what every frame opens with:
// the frame decoder takes a frame with one wrong opening character (or a
// wrong parity bit there) for one with the right one, and DLE SOH lie
// outside the CRC. Such bytes are put back as sent, and the frame is marked
// repaired.
void restoreOpening(Message& message) {
    for (std::size_t i = 0; i < kNttOpening.size() && i < message.raw.size(); ++i) {
        const std::uint8_t sent = addParity(kNttOpening[i]);
        if (message.raw[i] != sent) {
            message.raw[i] = sent;
            message.repaired = true;
        }
    }
}

}  // namespace

// Listens to the frame decoder's events and keeps what the message needs.
// Its buffers are reserved once, so gathering a frame allocates nothing
// until the message is emitted.
struct NttMessageDecoder::Gatherer final : EventSink {
    std::vector<std::uint8_t> raw;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool opened = false;   // the opening was accepted
    bool emitted = false;  // this burst's frame has been emitted
    int type = -1;
    std::uint8_t paramType = 0;
    std::size_t paramLength = 0;
    std::vector<std::uint8_t> text;  // the current parameter's characters
    std::vector<std::array<std::uint8_t, 2>> name;
    Message message;  // fields completed so far
    bool crcSeen = false;
    NttCrc crc;

    Gatherer() {
        raw.reserve(kNttRawCapacity);
        text.reserve(256);
        name.reserve(128);
    }

    void reset() {
        raw.clear();
        opened = false;
        emitted = false;
        type = -1;
        text.clear();
        name.clear();
        message.fields.clear();
        crcSeen = false;
    }

    void add(std::string key, std::string value) {
        message.fields.push_back(MessageField{std::move(key), std::move(value)});
    }

    void onEvent(const Event& event) override {
        if (const auto* control = std::get_if<NttControl>(&event)) {
            if (control->code == 0x02) opened = true;  // STX ends the opening
        } else if (const auto* messageType = std::get_if<NttMessageType>(&event)) {
            type = messageType->code;
        } else if (const auto* parameter = std::get_if<NttParameter>(&event)) {
            paramType = parameter->type;
            text.clear();
            name.clear();
        } else if (const auto* character = std::get_if<TextByte>(&event)) {
            text.push_back(character->value);
            if (isOther() && text.size() == paramLength) finishOther();
        } else if (const auto* kanji = std::get_if<NttNameCharacter>(&event)) {
            name.push_back(kanji->jis);
        } else if (std::holds_alternative<LineEnd>(event)) {
            if (paramType == kNttNameParam) {
                add("name", jisToUtf8(name));
            } else if (paramType == kNttNumberParam) {
                add("number", printableText(text));
            }
        } else if (const auto* reason = std::get_if<NttReason>(&event)) {
            add("number_absent", absenceReason(reason->code));
        } else if (const auto* info = std::get_if<NttNumberInfo>(&event)) {
            add("number_type", numberType(info->typeCode));
            add("numbering_plan", numberingPlan(info->planPrefix, info->planCode));
        } else if (const auto* check = std::get_if<NttCrc>(&event)) {
            crcSeen = true;
            crc = *check;
        } else if (const auto* length = std::get_if<NttParameterLength>(&event)) {
            paramLength = length->length;
            if (isOther() && paramLength == 0) finishOther();
        }
    }

    // Parameters that the frame decoder ends with no event of their own.
    [[nodiscard]] bool isOther() const {
        return paramType != kNttNumberParam && paramType != kNttReasonParam && paramType != kNttNameParam &&
               paramType != kNttExtendedParam;
    }

    // Such a parameter ends after as many characters as its length says.
    void finishOther() {
        switch (paramType) {
        case kNameReasonParam:
            add("name_absent", text.size() == 1 ? absenceReason(text[0]) : printableText(text));
            break;
        case kCalledNumberParam: add("called_number", printableText(text)); break;
        case kCalledExtendedParam:
            if (text.size() == 3) {
                add("called_number_type", numberType(text[0]));
                add("called_numbering_plan", numberingPlan(text[1], text[2]));
            } else {
                add("called_number_info", hexBytes(text));
            }
            break;
        default: {
            const std::array<std::uint8_t, 1> code{paramType};
            add("param_" + hexBytes(code), hexBytes(text));
            break;
        }
        }
        text.clear();
    }
};

NttMessageDecoder::NttMessageDecoder() : gatherer_(std::make_unique<Gatherer>()) {}
NttMessageDecoder::~NttMessageDecoder() = default;

NextByte NttMessageDecoder::startBurst(EventSink&) {
    gatherer_->reset();
    return decodeNttByte(frame_, *gatherer_, -1);
}

NextByte NttMessageDecoder::decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) {
    Gatherer& g = *gatherer_;
    if (g.emitted) return kPlainBytes;  // one frame per burst
    if (g.raw.empty()) g.start = start;
    if (g.raw.size() < kNttRawCapacity) g.raw.push_back(byte);
    g.end = end;
    const bool openingDone = frame_.framePos == static_cast<int>(kNttOpening.size()) - 1 && !frame_.inMessage;
    const NextByte next = decodeNttByte(frame_, g, byte);
    if (openingDone && !frame_.inMessage && frame_.framePos == 0) {
        // The opening was refused: the next byte starts a new one.
        g.raw.clear();
    }
    if (g.crcSeen) emit(sink);
    return next;
}

void NttMessageDecoder::endBurst(std::int64_t, EventSink& sink) {
    if (gatherer_->opened && !gatherer_->emitted) emit(sink);
}

void NttMessageDecoder::emit(EventSink& sink) {
    Gatherer& g = *gatherer_;
    g.emitted = true;
    Message message;
    message.standard = Standard::V23Ntt;
    if (g.type >= 0) {
        message.type = static_cast<std::uint8_t>(g.type);
    } else if (g.raw.size() > kNttOpening.size()) {
        message.type = static_cast<std::uint8_t>(g.raw[kNttOpening.size()] & 0x7F);
    }
    message.startSample = g.start;
    message.endSample = g.end;
    message.complete = g.crcSeen;
    message.valid = g.crcSeen && g.crc.correct;
    if (g.crcSeen) {
        message.checkReceived = g.crc.received;
        message.checkComputed = g.crc.computed;
    }
    message.raw = g.raw;
    if (message.valid) restoreOpening(message);
    message.fields = g.message.fields;
    sink.onEvent(MessageDecoded{std::move(message)});
}

}  // namespace sigcore
