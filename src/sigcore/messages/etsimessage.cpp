#include "sigcore/messages/etsimessage.hpp"

#include <algorithm>
#include <string>

#include "sigcore/messages/fieldcheck.hpp"
#include "sigcore/messages/messagetext.hpp"

namespace sigcore {

namespace {

// How a parameter's value becomes field text.
enum class ValueKind : std::uint8_t {
    Text,              // characters, as they are
    DateTime,          // MMDDHHMM: a "..date" field MM-DD and a "..time" field HH:MM
    Absence,           // 'O' unavailable, 'P' private
    VisualIndicator,   // 0x00 off, 0xFF on
    MessageId,         // status byte and a two-byte reference number
    Count,             // one binary number
    CallType,          // a coded call type
    ForwardedCallType, // a coded reason for forwarding
    CallingUserType,   // a coded kind of calling party
    Duration,          // HHMMSS
    TextOrHex,         // characters when every byte is printable, else hexadecimal
    Hex,               // binary data, in hexadecimal
};

struct ParameterKind {
    std::uint8_t type;
    ValueKind kind;
    std::string_view key;        // the field's key (the date's key for DateTime)
    std::string_view secondKey;  // the time's key for DateTime
};

// Every parameter this decoder names; any other becomes "param_xx" in hexadecimal.
constexpr std::array<ParameterKind, 26> kParameters{{
    {0x01, ValueKind::DateTime, "date", "time"},
    {0x02, ValueKind::Text, "number", ""},
    {0x03, ValueKind::Text, "called_number", ""},
    {0x04, ValueKind::Absence, "number_absent", ""},
    {0x07, ValueKind::Text, "name", ""},
    {0x08, ValueKind::Absence, "name_absent", ""},
    {0x0B, ValueKind::VisualIndicator, "message_waiting", ""},
    {0x0D, ValueKind::MessageId, "message_status", "message_reference"},
    {0x0E, ValueKind::Text, "last_message_number", ""},
    {0x0F, ValueKind::DateTime, "complementary_date", "complementary_time"},
    {0x10, ValueKind::Text, "complementary_number", ""},
    {0x11, ValueKind::CallType, "call_type", ""},
    {0x12, ValueKind::Text, "first_called_number", ""},
    {0x13, ValueKind::Count, "message_count", ""},
    {0x15, ValueKind::ForwardedCallType, "forwarded_call_type", ""},
    {0x16, ValueKind::CallingUserType, "calling_user_type", ""},
    {0x1A, ValueKind::Text, "redirecting_number", ""},
    {0x20, ValueKind::TextOrHex, "charge", ""},
    {0x21, ValueKind::TextOrHex, "additional_charge", ""},
    {0x23, ValueKind::Duration, "call_duration", ""},
    {0x30, ValueKind::Text, "network_provider", ""},
    {0x31, ValueKind::Text, "carrier", ""},
    {0x32, ValueKind::Hex, "terminal_function", ""},
    {0x50, ValueKind::Text, "display_information", ""},
    {0x55, ValueKind::Hex, "service_information", ""},
    {0xE0, ValueKind::TextOrHex, "operator_extension", ""},
}};

// Types 0xE0..0xFF are all for the network operator's own use.
constexpr std::uint8_t kFirstOperatorType = 0xE0;

struct CodeName {
    std::uint8_t code;
    std::string_view name;
};

constexpr std::array<CodeName, 11> kCallTypes{{
    {0x01, "voice"},
    {0x02, "ring_back_when_free"},
    {0x03, "calling_name_delivery"},
    {0x04, "call_return"},
    {0x05, "alarm"},
    {0x06, "download"},
    {0x07, "reverse_charge"},
    {0x10, "external"},
    {0x11, "internal"},
    {0x50, "monitoring"},
    {0x81, "message_waiting"},
}};

constexpr std::array<CodeName, 7> kForwardedCallTypes{{
    {0x00, "unknown"},
    {0x01, "busy"},
    {0x02, "no_reply"},
    {0x03, "unconditional"},
    {0x04, "deflected_after_alerting"},
    {0x05, "deflected_immediate"},
    {0x06, "mobile_not_reachable"},
}};

constexpr std::array<CodeName, 16> kCallingUserTypes{{
    {0x00, "unknown"},
    {0x01, "voice"},
    {0x02, "text"},
    {0x03, "vpn"},
    {0x04, "mobile"},
    {0x05, "mobile_vpn"},
    {0x06, "fax"},
    {0x07, "video"},
    {0x08, "email"},
    {0x09, "operator"},
    {0x0A, "ordinary"},
    {0x0B, "priority"},
    {0x0C, "data"},
    {0x0D, "test"},
    {0x0E, "telemetry"},
    {0x0F, "payphone"},
}};

const ParameterKind* findParameter(std::uint8_t type) {
    if (type >= kFirstOperatorType) return &kParameters.back();
    for (const ParameterKind& p : kParameters) {
        if (p.type == type) return &p;
    }
    return nullptr;
}

bool allDigits(std::span<const std::uint8_t> value) {
    return std::all_of(value.begin(), value.end(), [](std::uint8_t b) { return b >= '0' && b <= '9'; });
}

bool allPrintable(std::span<const std::uint8_t> value) {
    return std::all_of(value.begin(), value.end(), [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
}

std::string codeText(std::span<const CodeName> names, std::span<const std::uint8_t> value) {
    if (value.size() == 1) {
        for (const CodeName& n : names) {
            if (n.code == value[0]) return std::string(n.name);
        }
    }
    return hexBytes(value);
}

std::string pairs(std::span<const std::uint8_t> digits, std::size_t first, char separator) {
    std::string text;
    text += static_cast<char>(digits[first]);
    text += static_cast<char>(digits[first + 1]);
    text += separator;
    text += static_cast<char>(digits[first + 2]);
    text += static_cast<char>(digits[first + 3]);
    return text;
}

void addField(Message& message, std::string_view key, std::string value) {
    message.fields.push_back(MessageField{std::string(key), std::move(value)});
}

void addParameter(Message& message, std::uint8_t type, std::span<const std::uint8_t> value) {
    const ParameterKind* kind = findParameter(type);
    if (kind == nullptr) {
        static constexpr std::string_view kDigits = "0123456789abcdef";
        std::string key = "param_";
        key += kDigits[type >> 4U];
        key += kDigits[type & 0x0FU];
        addField(message, key, hexBytes(value));
        return;
    }
    switch (kind->kind) {
    case ValueKind::Text: addField(message, kind->key, printableText(value)); break;
    case ValueKind::DateTime:
        if (value.size() == 8 && allDigits(value)) {
            addField(message, kind->key, pairs(value, 0, '-'));
            addField(message, kind->secondKey, pairs(value, 4, ':'));
        } else {
            // Not a date: keep the characters under the date's key.
            addField(message, kind->key, printableText(value));
        }
        break;
    case ValueKind::Absence:
        if (value.size() == 1 && value[0] == 'O') {
            addField(message, kind->key, "unavailable");
        } else if (value.size() == 1 && value[0] == 'P') {
            addField(message, kind->key, "private");
        } else {
            addField(message, kind->key, printableText(value));
        }
        break;
    case ValueKind::VisualIndicator:
        if (value.size() == 1 && value[0] == 0x00) {
            addField(message, kind->key, "off");
        } else if (value.size() == 1 && value[0] == 0xFF) {
            addField(message, kind->key, "on");
        } else {
            addField(message, kind->key, hexBytes(value));
        }
        break;
    case ValueKind::MessageId:
        if (value.size() == 3) {
            const std::uint8_t status = value[0];
            addField(message, kind->key,
                     status == 0x00   ? std::string("removed")
                     : status == 0x55 ? std::string("reference_only")
                     : status == 0xFF ? std::string("added")
                                      : hexBytes(value.first(1)));
            addField(message, kind->secondKey, std::to_string((value[1] << 8U) | value[2]));
        } else {
            addField(message, "message_id", hexBytes(value));
        }
        break;
    case ValueKind::Count:
        addField(message, kind->key, value.size() == 1 ? std::to_string(value[0]) : hexBytes(value));
        break;
    case ValueKind::CallType: addField(message, kind->key, codeText(kCallTypes, value)); break;
    case ValueKind::ForwardedCallType: addField(message, kind->key, codeText(kForwardedCallTypes, value)); break;
    case ValueKind::CallingUserType: addField(message, kind->key, codeText(kCallingUserTypes, value)); break;
    case ValueKind::Duration:
        if (value.size() == 6 && allDigits(value)) {
            std::string text = pairs(value, 0, ':');
            text += ':';
            text += static_cast<char>(value[4]);
            text += static_cast<char>(value[5]);
            addField(message, kind->key, text);
        } else {
            addField(message, kind->key, printableText(value));
        }
        break;
    case ValueKind::TextOrHex:
        addField(message, kind->key, allPrintable(value) ? printableText(value) : hexBytes(value));
        break;
    case ValueKind::Hex: addField(message, kind->key, hexBytes(value)); break;
    }
}

// The narrow checks of parameters: dates, numbers, absence codes, the
// indicator.
std::optional<bool> narrowCheck(std::uint8_t type, FieldBytes value) {
    switch (type) {
    case 0x01:
    case 0x0F: return isDateTime(value);
    case 0x02:
    case 0x03:
    case 0x10:
    case 0x12:
    case 0x1A: return isDialString(value);
    case 0x04:
    case 0x08: return isAbsenceCode(value);
    case 0x0B: return value.size() == 1 && (value[0] == 0x00 || value[0] == 0xFF);
    default: return std::nullopt;
    }
}

// What a type misread in one bit would have held: a narrowly checked
// parameter, or a name of plain text.
std::optional<bool> misreadTypeCheck(std::uint8_t type, FieldBytes value) {
    return type == 0x07 ? isPlainText(value) : narrowCheck(type, value);
}

// Whether a parameter holds what its type allows, where that is narrow:
// dates, numbers, absence codes, names, the indicator. A type the decoder
// does not know is taken as sent, unless it looks like a known one misread.
bool parameterHolds(std::uint8_t type, std::span<const std::uint8_t> value) {
    if (const std::optional<bool> narrow = narrowCheck(type, value)) return *narrow;
    if (type == 0x07) return isDisplayText(value);
    return findParameter(type) != nullptr || !mayBeMisreadType(type, value, misreadTypeCheck);
}

// Parameters that fill the message exactly, each of its kind.
bool parametersHold(std::span<const std::uint8_t> params) {
    if (!parametersFillBody(params)) return false;
    for (std::size_t pos = 0; pos < params.size(); pos += 2 + std::size_t{params[pos + 1]}) {
        if (!parameterHolds(params[pos], params.subspan(pos + 2, params[pos + 1]))) return false;
    }
    return true;
}

}  // namespace

bool isEtsiMessageType(std::uint8_t byte) {
    return byte == kEtsiCallSetup || byte == kEtsiMessageWaiting || byte == kEtsiAdviceOfCharge ||
           byte == kEtsiShortMessage;
}

std::string_view etsiMessageTypeName(std::uint8_t type) {
    switch (type) {
    case kEtsiCallSetup: return "call_setup";
    case kEtsiMessageWaiting: return "message_waiting";
    case kEtsiAdviceOfCharge: return "advice_of_charge";
    case kEtsiShortMessage: return "short_message";
    default: return "";
    }
}

bool etsiParameterIsText(std::uint8_t type) {
    const ParameterKind* kind = findParameter(type);
    if (kind == nullptr) return false;
    switch (kind->kind) {
    case ValueKind::Text:
    case ValueKind::DateTime:
    case ValueKind::Absence:
    case ValueKind::Duration: return true;
    default: return false;
    }
}

Message parseEtsiMessage(std::span<const std::uint8_t> bytes) {
    Message message;
    message.standard = Standard::V23Etsi;
    if (bytes.empty()) return message;
    message.type = bytes[0];
    if (bytes.size() < 2) {
        message.raw.assign(bytes.begin(), bytes.end());
        return message;
    }
    const std::size_t length = bytes[1];
    const std::size_t whole = length + 3;  // type, length, parameters, checksum
    const std::span<const std::uint8_t> kept = bytes.first(std::min(bytes.size(), whole));
    message.raw.assign(kept.begin(), kept.end());
    message.complete = kept.size() == whole;
    if (message.complete) {
        // The checksum byte makes the sum of every byte 0 modulo 256.
        unsigned sum = 0;
        for (const std::uint8_t b : kept.first(whole - 1)) sum += b;
        message.checkComputed = static_cast<std::uint8_t>(0x100U - (sum & 0xFFU));
        message.checkReceived = kept[whole - 1];
        message.valid = message.checkComputed == message.checkReceived && parametersHold(kept.subspan(2, length));
    }
    // The parameters: a parameter that runs past the message (or past what
    // arrived) keeps the value bytes that are there.
    const std::span<const std::uint8_t> params = kept.subspan(2, std::min(kept.size() - 2, length));
    std::size_t pos = 0;
    while (pos + 2 <= params.size()) {
        const std::uint8_t type = params[pos];
        const std::size_t size = std::min<std::size_t>(params[pos + 1], params.size() - pos - 2);
        addParameter(message, type, params.subspan(pos + 2, size));
        pos += 2 + size;
    }
    return message;
}

NextByte EtsiMessageDecoder::startBurst(EventSink&) {
    count_ = 0;
    stage_ = Stage::Type;
    messageLeft_ = 0;
    valueLeft_ = 0;
    paramType_ = 0;
    return expected();
}

NextByte EtsiMessageDecoder::expected() const {
    switch (stage_) {
    case Stage::Type: return NextByte::MessageType;
    case Stage::ParamValue: return etsiParameterIsText(paramType_) ? NextByte::SevenBitChar : NextByte::AnyByte;
    default: return NextByte::AnyByte;
    }
}

NextByte EtsiMessageDecoder::decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) {
    if (stage_ == Stage::Done) return expected();
    if (stage_ == Stage::Type && !isEtsiMessageType(byte)) return expected();
    if (count_ == 0) firstStart_ = start;
    lastEnd_ = end;
    bytes_[count_++] = byte;
    switch (stage_) {
    case Stage::Type: stage_ = Stage::Length; break;
    case Stage::Length:
        messageLeft_ = byte;
        stage_ = messageLeft_ > 0 ? Stage::ParamType : Stage::Checksum;
        break;
    case Stage::ParamType:
        paramType_ = byte;
        --messageLeft_;
        stage_ = messageLeft_ > 0 ? Stage::ParamLength : Stage::Checksum;
        break;
    case Stage::ParamLength:
        valueLeft_ = byte;
        --messageLeft_;
        stage_ = messageLeft_ == 0 ? Stage::Checksum : valueLeft_ > 0 ? Stage::ParamValue : Stage::ParamType;
        break;
    case Stage::ParamValue:
        --valueLeft_;
        --messageLeft_;
        stage_ = messageLeft_ == 0 ? Stage::Checksum : valueLeft_ > 0 ? Stage::ParamValue : Stage::ParamType;
        break;
    case Stage::Checksum: emit(sink); break;
    case Stage::Done: break;
    }
    return expected();
}

void EtsiMessageDecoder::endBurst(std::int64_t, EventSink& sink) {
    if (count_ > 0 && stage_ != Stage::Done) emit(sink);
}

void EtsiMessageDecoder::emit(EventSink& sink) {
    MessageDecoded decoded{parseEtsiMessage(std::span<const std::uint8_t>(bytes_.data(), count_))};
    decoded.message.startSample = firstStart_;
    decoded.message.endSample = lastEnd_;
    stage_ = Stage::Done;
    sink.onEvent(decoded);
}

}  // namespace sigcore
