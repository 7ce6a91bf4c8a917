#include "sigcore/messages/messagebuild.hpp"

#include <iconv.h>

#include <algorithm>
#include <array>

#include "sigcore/messages/nttbits.hpp"
#include "sigcore/messages/nttdecoder.hpp"

namespace sigcore {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kDateTimeParam = 0x01;
constexpr std::uint8_t kNumberParam = 0x02;
constexpr std::uint8_t kNumberAbsentParam = 0x04;
constexpr std::uint8_t kCallQualifierParam = 0x06;
constexpr std::uint8_t kNameParam = 0x07;
constexpr std::uint8_t kNameAbsentParam = 0x08;
constexpr std::uint8_t kIndicatorParam = 0x0b;
constexpr std::uint8_t kEtsiCallTypeParam = 0x11;
constexpr std::uint8_t kRedirectingParam = 0x1a;
constexpr std::uint8_t kNttNameAbsentParam = 0x08;
constexpr std::uint8_t kDle = 0x10;

Bytes textBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Type, length, value; false when the value is longer than a length byte holds.
bool putParameter(Bytes& body, std::uint8_t type, std::span<const std::uint8_t> value) {
    if (value.size() > 255) return false;
    body.push_back(type);
    body.push_back(static_cast<std::uint8_t>(value.size()));
    body.insert(body.end(), value.begin(), value.end());
    return true;
}

// The date-time parameter's "MMDDHHMM": both parts or neither.
std::optional<std::string> dateTimeText(const CallerIdFields& fields, std::string& error) {
    if (fields.date.empty() && fields.time.empty()) return std::nullopt;
    if (fields.date.size() != 4 || fields.time.size() != 4) {
        error = "the date (MMDD) and the time (HHMM) go together";
        return std::nullopt;
    }
    return fields.date + fields.time;
}

// Type, length, body, checksum; refuses a body longer than 255 bytes.
BuildResult finishChecked(std::uint8_t type, const Bytes& body, std::string error) {
    BuildResult result;
    if (!error.empty()) {
        result.error = std::move(error);
        return result;
    }
    if (body.size() > 255) {
        result.error = "the message body is " + std::to_string(body.size()) + " bytes, more than 255";
        return result;
    }
    Bytes& out = result.bytes;
    out.assign(body.size() + 3, 0);
    out[0] = type;
    out[1] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), out.begin() + 2);
    out.back() = checksumFor(std::span<const std::uint8_t>(out).first(out.size() - 1));
    return result;
}

void putExtras(Bytes& body, const CallerIdFields& fields, std::string& error) {
    for (const ExtraParameter& p : fields.extra) {
        if (!putParameter(body, p.type, p.value)) error = "a parameter value is longer than 255 bytes";
    }
}

// The parameters that US MDMF and ETSI call set-up share, in their usual order.
Bytes callerParameters(const CallerIdFields& fields, std::uint8_t callTypeParam, std::string& error) {
    Bytes body;
    if (const auto dateTime = dateTimeText(fields, error)) putParameter(body, kDateTimeParam, textBytes(*dateTime));
    bool fits = true;
    if (fields.numberAbsent != 0) {
        const std::array<std::uint8_t, 1> reason{static_cast<std::uint8_t>(fields.numberAbsent)};
        putParameter(body, kNumberAbsentParam, reason);
    } else if (!fields.number.empty()) {
        fits = putParameter(body, kNumberParam, textBytes(fields.number)) && fits;
    }
    if (!fields.redirecting.empty()) fits = putParameter(body, kRedirectingParam, textBytes(fields.redirecting)) && fits;
    if (fields.callType) {
        const std::array<std::uint8_t, 1> code{*fields.callType};
        putParameter(body, callTypeParam, code);
    }
    if (fields.nameAbsent != 0) {
        const std::array<std::uint8_t, 1> reason{static_cast<std::uint8_t>(fields.nameAbsent)};
        putParameter(body, kNameAbsentParam, reason);
    } else if (!fields.name.empty()) {
        fits = putParameter(body, kNameParam, textBytes(fields.name)) && fits;
    }
    if (!fits) error = "a field is longer than 255 bytes";
    putExtras(body, fields, error);
    return body;
}

Bytes indicatorParameters(bool on, const CallerIdFields& fields, bool withNumber, std::string& error) {
    Bytes body;
    if (const auto dateTime = dateTimeText(fields, error)) putParameter(body, kDateTimeParam, textBytes(*dateTime));
    const std::array<std::uint8_t, 1> state{static_cast<std::uint8_t>(on ? 0xff : 0x00)};
    putParameter(body, kIndicatorParam, state);
    if (withNumber && !fields.number.empty() && !putParameter(body, kNumberParam, textBytes(fields.number))) {
        error = "the number is longer than 255 bytes";
    }
    putExtras(body, fields, error);
    return body;
}

bool isDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::uint8_t checksumFor(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu);
}

void spoilCheck(std::vector<std::uint8_t>& bytes) {
    if (!bytes.empty()) bytes.back() = static_cast<std::uint8_t>(~bytes.back());
}

BuildResult buildUsSdmf(const CallerIdFields& fields) {
    std::string error;
    const auto dateTime = dateTimeText(fields, error);
    if (!dateTime && error.empty()) error = "a single data message needs the date and the time";
    Bytes body;
    if (dateTime) body = textBytes(*dateTime);
    if (fields.numberAbsent != 0) {
        body.push_back(static_cast<std::uint8_t>(fields.numberAbsent));
    } else {
        const Bytes number = textBytes(fields.number);
        body.insert(body.end(), number.begin(), number.end());
    }
    return finishChecked(0x04, body, std::move(error));
}

BuildResult buildUsMdmf(const CallerIdFields& fields) {
    std::string error;
    const Bytes body = callerParameters(fields, kCallQualifierParam, error);
    return finishChecked(0x80, body, std::move(error));
}

BuildResult buildUsSdmfMessageWaiting(bool on) {
    const std::uint8_t code = on ? 0x42 : 0x6f;
    return finishChecked(0x06, Bytes{code, code, code}, {});
}

BuildResult buildUsMdmfMessageWaiting(bool on, const CallerIdFields& fields) {
    std::string error;
    const Bytes body = indicatorParameters(on, fields, false, error);
    return finishChecked(0x82, body, std::move(error));
}

BuildResult utf8ToLatin1(std::string_view text) {
    BuildResult result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        if (lead < 0x80) {
            result.bytes.push_back(lead);
            continue;
        }
        // U+0080..U+00FF are the two-byte sequences C2 80 .. C3 BF.
        const auto next = i + 1 < text.size() ? static_cast<std::uint8_t>(text[i + 1]) : std::uint8_t{0};
        if ((lead != 0xc2 && lead != 0xc3) || (next & 0xc0u) != 0x80u) {
            result.bytes.clear();
            result.error = "the name holds a character outside Latin-1 at byte " + std::to_string(i);
            return result;
        }
        result.bytes.push_back(static_cast<std::uint8_t>(((lead & 0x03u) << 6) | (next & 0x3fu)));
        ++i;
    }
    return result;
}

BuildResult buildEtsiCallSetup(const CallerIdFields& fields) {
    std::string error;
    CallerIdFields latin = fields;
    const BuildResult name = utf8ToLatin1(fields.name);
    if (!name.error.empty()) return name;
    latin.name.assign(name.bytes.begin(), name.bytes.end());
    const Bytes body = callerParameters(latin, kEtsiCallTypeParam, error);
    return finishChecked(0x80, body, std::move(error));
}

BuildResult buildEtsiMessageWaiting(bool on, const CallerIdFields& fields) {
    std::string error;
    const Bytes body = indicatorParameters(on, fields, true, error);
    return finishChecked(0x82, body, std::move(error));
}

BuildResult utf8ToJis(std::string_view text) {
    BuildResult result;
    iconv_t cd = iconv_open("EUC-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        result.error = "the C library can't convert UTF-8 to JIS X 0208";
        return result;
    }
    std::string out(text.size() * 2 + 4, '\0');
    char* inPtr = const_cast<char*>(text.data());  // iconv's interface is not const-correct
    std::size_t inLeft = text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    if (converted == static_cast<std::size_t>(-1) || inLeft != 0) {
        result.error = "the name holds a character with no JIS X 0208 form at byte " +
                       std::to_string(text.size() - inLeft);
        return result;
    }
    // EUC-JP's JIS X 0208 characters are two bytes with bit 7 set; anything
    // else (ASCII, half-width kana, JIS X 0212) has no place in the name.
    for (std::size_t i = 0; i < out.size(); i += 2) {
        const auto lead = static_cast<std::uint8_t>(out[i]);
        if (lead < 0xa1 || lead > 0xfe || i + 1 >= out.size()) {
            result.error = "the name must be written in full-width (JIS X 0208) characters";
            result.bytes.clear();
            return result;
        }
        result.bytes.push_back(static_cast<std::uint8_t>(lead & 0x7fu));
        result.bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(out[i + 1]) & 0x7fu));
    }
    return result;
}

namespace {

// The NTT parameters before DLE stuffing.
BuildResult nttParameters(const CallerIdFields& fields) {
    BuildResult result;
    Bytes& body = result.bytes;
    if (fields.numberAbsent != 0) {
        const std::array<std::uint8_t, 1> reason{static_cast<std::uint8_t>(fields.numberAbsent)};
        putParameter(body, kNttReasonParam, reason);
    } else if (!fields.number.empty()) {
        putParameter(body, kNttNumberParam, textBytes(fields.number));
    }
    if (fields.nameAbsent != 0) {
        const std::array<std::uint8_t, 1> reason{static_cast<std::uint8_t>(fields.nameAbsent)};
        putParameter(body, kNttNameAbsentParam, reason);
    } else if (!fields.name.empty()) {
        const BuildResult jis = utf8ToJis(fields.name);
        if (!jis.error.empty()) return jis;
        putParameter(body, kNttNameParam, jis.bytes);
    }
    for (const ExtraParameter& p : fields.extra) putParameter(body, p.type, p.value);
    for (const std::uint8_t b : body) {
        if (b > 0x7f) {
            result.error = "an NTT frame carries 7-bit characters only";
            return result;
        }
    }
    return result;
}

}  // namespace

BuildResult buildNttFrame(const CallerIdFields& fields) {
    BuildResult params = nttParameters(fields);
    if (!params.error.empty()) return params;
    // Every DLE of the body is sent twice; the message length counts both.
    Bytes body;
    for (const std::uint8_t b : params.bytes) {
        body.push_back(b);
        if (b == kDle) body.push_back(kDle);
    }
    BuildResult result;
    if (body.size() > 127) {
        result.error = "the NTT body is " + std::to_string(body.size()) + " characters, more than 127";
        return result;
    }
    Bytes& frame = result.bytes;
    frame.assign(kNttOpening.begin(), kNttOpening.end());
    frame.push_back(0x40);  // information before the call is answered
    frame.push_back(static_cast<std::uint8_t>(body.size()));
    if (body.size() == kDle) frame.push_back(kDle);
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(kDle);
    frame.push_back(0x03);  // ETX
    for (std::uint8_t& b : frame) b = addParity(b);
    // The CRC covers the header character through ETX, each byte with its
    // bits in line order.
    Bytes reversed;
    for (std::size_t i = 2; i < frame.size(); ++i) reversed.push_back(reverseBits(frame[i]));
    const std::uint16_t crc = crc16(reversed);
    frame.push_back(reverseBits(static_cast<std::uint8_t>(crc >> 8)));
    frame.push_back(reverseBits(static_cast<std::uint8_t>(crc & 0xffu)));
    return result;
}

BuildResult buildDtmfCallerId(const CallerIdFields& fields) {
    BuildResult result;
    if (!isDigits(fields.number) || !isDigits(fields.redirecting)) {
        result.error = "DTMF caller ID sends numbers of the digits 0-9 only";
        return result;
    }
    std::string digits;
    const std::string code = fields.numberAbsent == 'P' ? "10" : "00";
    if (fields.numberAbsent != 0) {
        digits = fields.redirecting.empty() ? "B" + code + "C" : "D" + fields.redirecting + "B" + code + "C";
    } else if (fields.number.empty()) {
        result.error = "DTMF caller ID needs a number or the reason it is absent";
        return result;
    } else {
        digits = "A" + fields.number;
        if (!fields.redirecting.empty()) digits += "D" + fields.redirecting;
        digits += "C";
    }
    result.bytes = textBytes(digits);
    return result;
}

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

}  // namespace sigcore
