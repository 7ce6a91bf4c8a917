#include "sigcore/messages/usmessage.hpp"

#include <algorithm>
#include <string>

#include "sigcore/messages/fieldcheck.hpp"
#include "sigcore/messages/messagetext.hpp"

namespace sigcore {

namespace {

struct TypeName {
    std::uint8_t code;
    std::string_view name;
};

constexpr std::array<TypeName, 6> kUsTypes{{
    {0x04, "SDMF caller ID"},
    {0x06, "SDMF message waiting"},
    {0x0b, "SDMF message desk information"},
    {0x80, "MDMF caller ID"},
    {0x81, "MDMF test sequence"},
    {0x82, "MDMF message waiting"},
}};

constexpr std::uint8_t kSdmfCallerId = 0x04;
constexpr std::uint8_t kSdmfMessageWaiting = 0x06;

// Parameter types of multiple data messages.
constexpr std::uint8_t kDateTime = 0x01;
constexpr std::uint8_t kNumber = 0x02;
constexpr std::uint8_t kDialableNumber = 0x03;
constexpr std::uint8_t kNumberAbsent = 0x04;
constexpr std::uint8_t kRedirection = 0x05;
constexpr std::uint8_t kCallQualifier = 0x06;
constexpr std::uint8_t kName = 0x07;
constexpr std::uint8_t kNameAbsent = 0x08;
constexpr std::uint8_t kMessageWaiting = 0x0b;
constexpr std::uint8_t kRedirectingNumber = 0x1a;

// The single data message's message-waiting bodies: three of the same byte.
constexpr std::uint8_t kIndicatorOn = 0x42;
constexpr std::uint8_t kIndicatorOff = 0x6f;

// The parameter types whose data are characters (the others are binary).
bool isTextParameter(std::uint8_t type) {
    switch (type) {
    case kDateTime:
    case kNumber:
    case kDialableNumber:
    case kNumberAbsent:
    case kCallQualifier:
    case kName:
    case kNameAbsent:
    case kRedirectingNumber: return true;
    default: return false;
    }
}

using Bytes = std::span<const std::uint8_t>;

void addField(Message& message, std::string key, std::string value) {
    message.fields.push_back(MessageField{std::move(key), std::move(value)});
}

// "MMDDhhmm": the date from its first four characters, the time from the
// next four (each only when all its characters arrived).
void addDateTime(Message& message, Bytes digits) {
    if (digits.size() >= 4) {
        addField(message, "date", printableText(digits.subspan(0, 2)) + "-" + printableText(digits.subspan(2, 2)));
    }
    if (digits.size() >= 8) {
        addField(message, "time", printableText(digits.subspan(4, 2)) + ":" + printableText(digits.subspan(6, 2)));
    }
}

// A single absence letter in place of the number, or the number itself.
void addNumberOrAbsence(Message& message, Bytes number) {
    if (number.size() == 1 && (number[0] == 'O' || number[0] == 'P')) {
        addField(message, "number_absent", absenceReason(number[0]));
    } else if (!number.empty()) {
        addField(message, "number", printableText(number));
    }
}

std::string redirectionReason(Bytes data) {
    if (data.size() == 1) {
        switch (data[0]) {
        case 0x00: return "unconditional";
        case 0x01: return "busy";
        case 0x02: return "unanswered";
        default: break;
        }
    }
    return "code " + hexBytes(data);
}

std::string indicatorState(Bytes data, std::uint8_t on, std::uint8_t off) {
    const auto all = [&](std::uint8_t v) {
        return !data.empty() && std::all_of(data.begin(), data.end(), [v](std::uint8_t b) { return b == v; });
    };
    if (all(on)) return "on";
    if (all(off)) return "off";
    return "code " + hexBytes(data);
}

void addParameter(Message& message, std::uint8_t type, Bytes data) {
    switch (type) {
    case kDateTime: addDateTime(message, data); break;
    case kNumber: addField(message, "number", printableText(data)); break;
    case kDialableNumber: addField(message, "dialable_number", printableText(data)); break;
    case kNumberAbsent:
        addField(message, "number_absent", data.size() == 1 ? absenceReason(data[0]) : printableText(data));
        break;
    case kRedirection: addField(message, "redirection", redirectionReason(data)); break;
    case kCallQualifier:
        addField(message, "call_qualifier",
                 data.size() == 1 && data[0] == 'L' ? std::string("long distance") : printableText(data));
        break;
    case kName: addField(message, "name", printableText(data)); break;
    case kNameAbsent:
        addField(message, "name_absent", data.size() == 1 ? absenceReason(data[0]) : printableText(data));
        break;
    case kMessageWaiting: addField(message, "message_waiting", indicatorState(data, 0xff, 0x00)); break;
    case kRedirectingNumber: addField(message, "redirecting_number", printableText(data)); break;
    default: {
        static constexpr std::array<char, 16> digits{'0', '1', '2', '3', '4', '5', '6', '7',
                                                     '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
        std::string key = "param_";
        key += digits[type >> 4];
        key += digits[type & 0x0F];
        addField(message, std::move(key), hexBytes(data));
        break;
    }
    }
}

// Parameters one after the other: type, length, data. A parameter whose
// data run past the body is decoded from what there is.
void addParameters(Message& message, Bytes body) {
    std::size_t pos = 0;
    while (pos < body.size()) {
        const std::uint8_t type = body[pos];
        if (pos + 1 >= body.size()) break;  // cut off before the parameter's length
        const std::size_t length = body[pos + 1];
        const std::size_t start = pos + 2;
        const std::size_t available = std::min(length, body.size() - start);
        addParameter(message, type, body.subspan(start, available));
        pos = start + length;
    }
}

// The narrow checks of multiple data message parameters: dates, dial
// strings, absence codes, the indicator.
std::optional<bool> narrowCheck(std::uint8_t type, FieldBytes data) {
    switch (type) {
    case kDateTime: return isDateTime(data);
    case kNumber:
    case kDialableNumber:
    case kRedirectingNumber: return isDialString(data);
    case kNumberAbsent:
    case kNameAbsent: return isAbsenceCode(data);
    case kMessageWaiting: return data.size() == 1 && (data[0] == 0x00 || data[0] == 0xff);
    default: return std::nullopt;
    }
}

// What a type misread in one bit would have held: a narrowly checked
// parameter, or a name of plain text (a real name of 8-bit characters is
// rarer than a misread bit).
std::optional<bool> misreadTypeCheck(std::uint8_t type, FieldBytes data) {
    return type == kName ? isPlainText(data) : narrowCheck(type, data);
}

// Whether a multiple data message parameter holds what its type allows. A
// type the decoder does not know is taken as sent (lines send types of their
// own), unless it looks like a known one misread.
bool parameterHolds(std::uint8_t type, Bytes data) {
    if (const std::optional<bool> narrow = narrowCheck(type, data)) return *narrow;
    switch (type) {
    case kName: return isDisplayText(data);
    case kRedirection:
    case kCallQualifier: return true;
    default: return !mayBeMisreadType(type, data, misreadTypeCheck);
    }
}

// Whether a whole message's body is what its type allows: the single data
// caller ID a date and time, then a number or an absence letter; message
// waiting three indicator bytes; a multiple data message parameters that
// fill the body, each of its kind. Other types are not looked into.
bool bodyHolds(std::uint8_t type, Bytes body) {
    switch (type) {
    case kSdmfCallerId:
        if (body.size() < 9 || !isDateTime(body.first(8))) return false;
        return isDialString(body.subspan(8)) || isAbsenceCode(body.subspan(8));
    case kSdmfMessageWaiting: {
        const std::string state = indicatorState(body, kIndicatorOn, kIndicatorOff);
        return state == "on" || state == "off";
    }
    case 0x80:
    case 0x81:
    case 0x82: {
        if (!parametersFillBody(body)) return false;
        for (std::size_t pos = 0; pos < body.size(); pos += 2 + std::size_t{body[pos + 1]}) {
            if (!parameterHolds(body[pos], body.subspan(pos + 2, body[pos + 1]))) return false;
        }
        return true;
    }
    default: return true;
    }
}

}  // namespace

bool isUsMessageTypeCode(std::uint8_t byte) {
    return std::any_of(kUsTypes.begin(), kUsTypes.end(), [byte](const TypeName& t) { return t.code == byte; });
}

std::string_view usMessageTypeName(std::uint8_t type) {
    for (const TypeName& t : kUsTypes) {
        if (t.code == type) return t.name;
    }
    return {};
}

Message decodeUsMessage(Bytes bytes) {
    Message message;
    message.standard = Standard::Bell202;
    message.raw.assign(bytes.begin(), bytes.end());
    if (bytes.empty()) return message;
    message.type = bytes[0];
    if (bytes.size() < 2) return message;
    const std::size_t length = bytes[1];
    const std::size_t bodyEnd = std::min(bytes.size(), 2 + length);
    const Bytes body = bytes.subspan(2, bodyEnd - 2);
    message.complete = bytes.size() >= length + 3;
    if (message.complete) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < length + 2; ++i) sum += bytes[i];
        message.checkComputed = static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
        message.checkReceived = bytes[length + 2];
        message.valid = message.checkComputed == message.checkReceived && bodyHolds(message.type, body);
    }
    switch (message.type) {
    case kSdmfCallerId:
        addDateTime(message, body.subspan(0, std::min<std::size_t>(body.size(), 8)));
        if (body.size() > 8) addNumberOrAbsence(message, body.subspan(8));
        break;
    case kSdmfMessageWaiting:
        if (!body.empty()) {
            addField(message, "message_waiting", indicatorState(body, kIndicatorOn, kIndicatorOff));
        }
        break;
    case 0x80:
    case 0x81:
    case 0x82: addParameters(message, body); break;
    default:
        if (!body.empty()) addField(message, "data", hexBytes(body));
        break;
    }
    return message;
}

NextByte UsMessageDecoder::startBurst(EventSink&) {
    count_ = 0;
    total_ = 0;
    emitted_ = false;
    ignoring_ = false;
    paramStage_ = ParamStage::Type;
    paramLeft_ = 0;
    return NextByte::MessageType;
}

NextByte UsMessageDecoder::decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) {
    // After a whole message the rest of the burst is ignored, and so is a
    // burst whose first byte is no message type (a burst of another
    // standard whose tones come close, as V.23's do).
    if (emitted_ || ignoring_) return NextByte::AnyByte;
    if (count_ == 0) {
        if (!isUsMessageTypeCode(byte)) {
            ignoring_ = true;
            return NextByte::AnyByte;
        }
        start_ = start;
    }
    end_ = end;
    bytes_[count_++] = byte;
    if (count_ == 2) {
        total_ = static_cast<std::size_t>(byte) + 3;
    } else if (count_ > 2 && count_ < total_ && bytes_[0] >= 0x80) {
        // Follow the parameters so that each byte is scored as what it is.
        switch (paramStage_) {
        case ParamStage::Type:
            paramType_ = byte;
            paramStage_ = ParamStage::Length;
            break;
        case ParamStage::Length:
            paramLeft_ = byte;
            paramStage_ = paramLeft_ > 0 ? ParamStage::Data : ParamStage::Type;
            break;
        case ParamStage::Data:
            if (--paramLeft_ == 0) paramStage_ = ParamStage::Type;
            break;
        }
    }
    if (count_ == total_) {
        emit(sink);
        return NextByte::AnyByte;
    }
    return expectation();
}

NextByte UsMessageDecoder::expectation() const {
    // count_ is the index of the byte to come.
    if (count_ == 1 || count_ + 1 == total_) return NextByte::AnyByte;  // length, checksum
    switch (bytes_[0]) {
    case kSdmfCallerId:
        // Eight digits of date and time, then the number: digits, or one
        // letter for its absence.
        if (count_ < 10 || total_ > 12) return NextByte::DigitChar;
        return NextByte::SevenBitChar;
    case kSdmfMessageWaiting: return NextByte::SevenBitChar;
    case 0x80:
    case 0x81:
    case 0x82:
        if (paramStage_ == ParamStage::Data && paramType_ == kDateTime) return NextByte::DigitChar;
        return paramStage_ == ParamStage::Data && isTextParameter(paramType_) ? NextByte::SevenBitChar
                                                                              : NextByte::AnyByte;
    default: return NextByte::AnyByte;
    }
}

void UsMessageDecoder::endBurst(std::int64_t, EventSink& sink) {
    if (count_ > 0 && !emitted_) emit(sink);
}

void UsMessageDecoder::emit(EventSink& sink) {
    emitted_ = true;
    Message message = decodeUsMessage(Bytes(bytes_.data(), count_));
    message.startSample = start_;
    message.endSample = end_;
    sink.onEvent(MessageDecoded{std::move(message)});
}

}  // namespace sigcore
