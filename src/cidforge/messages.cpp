#include "cidforge/messages.hpp"

#include "sigcore/messages/nttbits.hpp"

#include <algorithm>

namespace cidforge {

void sjisPairToJis(CharPair& pair) {
    const std::uint8_t c1 = pair[0];
    const std::uint8_t c2 = pair[1];
    // Lead bytes 0x81..0x9F and 0xE0..0xFC map to one range of 60 values.
    if (static_cast<std::uint8_t>((c1 ^ 0x20) - 0xA1) >= 60) return;
    const unsigned adjust = c2 < 0x9F ? 1 : 0;
    const unsigned rowOffset = c1 < 0xA0 ? 0x70 : 0xB0;
    const unsigned cellOffset = c2 >= 0x9F ? 0x7E : (c2 >= 0x80 ? 0x20 : 0x1F);
    pair[0] = static_cast<std::uint8_t>((c1 - rowOffset) * 2 - adjust);
    pair[1] = static_cast<std::uint8_t>(c2 - cellOffset);
}

void eucPairToJis(CharPair& pair) {
    pair[0] &= 0x7F;
    pair[1] &= 0x7F;
}

void nameToJis(std::string& name, bool sjis) {
    std::size_t i = 0;
    for (; i + 1 < name.size(); i += 2) {
        CharPair pair{static_cast<std::uint8_t>(name[i]), static_cast<std::uint8_t>(name[i + 1])};
        if (sjis) {
            sjisPairToJis(pair);
        } else {
            eucPairToJis(pair);
        }
        name[i] = static_cast<char>(pair[0]);
        name[i + 1] = static_cast<char>(pair[1]);
    }
    if (i < name.size() && !sjis) name[i] = static_cast<char>(static_cast<std::uint8_t>(name[i]) & 0x7F);
}

bool isDoubleByteName(std::string_view name, bool sjis) {
    if (name.size() % 2 != 0) return false;
    const auto in = [](std::uint8_t b, unsigned low, unsigned high) { return b >= low && b <= high; };
    for (std::size_t i = 0; i < name.size(); i += 2) {
        const auto lead = static_cast<std::uint8_t>(name[i]);
        const auto trail = static_cast<std::uint8_t>(name[i + 1]);
        const bool valid = sjis ? (in(lead, 0x81, 0x9F) || in(lead, 0xE0, 0xFC)) &&
                                      (in(trail, 0x40, 0x7E) || in(trail, 0x80, 0xFC))
                                : in(lead, 0xA1, 0xFE) && in(trail, 0xA1, 0xFE);
        if (!valid) return false;
    }
    return true;
}

int stuffDle(std::span<std::uint8_t> buffer, std::size_t index) {
    if (index + 1 >= buffer.size() || buffer[index] != kDle) return 0;
    buffer[index + 1] = kDle;
    return 1;
}

std::uint8_t byteSum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

std::string_view fieldBytes(std::string_view value) { return value.substr(0, kMaxFieldBytes); }

std::string_view jisNameBytes(std::string_view jisName) {
    const std::string_view name = fieldBytes(jisName);
    return name.substr(0, name.find('\0'));
}

namespace {

// A parameter of the NTT body: type, length (doubled when it is DLE), data.
int parameterSize(std::size_t length) { return static_cast<int>(length) + 2 + (length == kDle ? 1 : 0); }

// Appends bytes to a fixed buffer by explicit position; never writes past it.
struct FrameBuilder {
    std::span<std::uint8_t> buffer;
    std::size_t pos = 0;

    void put(std::uint8_t b) {
        if (pos < buffer.size()) buffer[pos] = b;
        ++pos;
    }
    // A length byte, followed by a second DLE when it is DLE.
    void putLength(std::uint8_t b) {
        put(b);
        pos += static_cast<std::size_t>(stuffDle(buffer, pos - 1));
    }
    void putBytes(std::string_view text) {
        for (const char c : text) put(static_cast<std::uint8_t>(c));
    }
};

}  // namespace

int nttContentLength(std::string_view number, std::string_view jisName) {
    const std::string_view n = fieldBytes(number);
    const std::string_view m = jisNameBytes(jisName);
    int length = parameterSize(n.size());
    if (!m.empty()) length += parameterSize(m.size());
    return length;
}

std::size_t buildNttMessage(const GeneratorSettings& settings, NttFrame& frame) {
    frame = NttFrame{};
    const std::string_view number = fieldBytes(settings.directoryNumber);
    const std::string_view name = jisNameBytes(settings.idName);
    const int contentLength = nttContentLength(number, name);
    if (contentLength > kMaxNttContentLength) return 0;

    FrameBuilder out{frame.bytes};
    out.put(kDle);
    out.put(kSoh);
    out.put(0x07);  // header
    out.put(kDle);
    out.put(kStx);
    out.put(0x40);  // information notified before the call is answered
    out.putLength(static_cast<std::uint8_t>(contentLength));
    out.put(0x02);  // calling telephone number
    out.putLength(static_cast<std::uint8_t>(number.size()));
    out.putBytes(number);
    if (!name.empty()) {
        out.put(0x07);  // caller name
        out.putLength(static_cast<std::uint8_t>(name.size()));
        out.putBytes(name);
    }
    out.put(kDle);
    out.put(kEtx);
    const std::size_t bodyEnd = out.pos;

    for (std::size_t i = 0; i < bodyEnd; ++i) frame.bytes[i] = sigcore::addParity(frame.bytes[i]);

    // The CRC covers the header byte through ETX, each byte bit-reversed so
    // that the register runs over the bits in their order on the line.
    std::array<std::uint8_t, kNttFrameCapacity> reversed{};
    for (std::size_t i = 2; i < bodyEnd; ++i) reversed[i - 2] = sigcore::reverseBits(frame.bytes[i]);
    const std::uint16_t crc = sigcore::crc16(std::span<const std::uint8_t>(reversed).first(bodyEnd - 2));
    out.put(sigcore::reverseBits(static_cast<std::uint8_t>(crc >> 8)));
    out.put(sigcore::reverseBits(static_cast<std::uint8_t>(crc & 0xFF)));

    frame.length = std::min(out.pos, frame.bytes.size());
    return frame.length;
}

std::size_t buildSdmfMessage(const GeneratorSettings& settings, SdmfMessage& message) {
    message = SdmfMessage{};
    const std::string_view dateTime = fieldBytes(settings.dateTime);
    const std::string_view number = fieldBytes(settings.directoryNumber);

    FrameBuilder out{message.bytes};
    out.put(0x04);  // single data message
    out.put(static_cast<std::uint8_t>(dateTime.size() + number.size()));
    out.putBytes(dateTime);
    out.putBytes(number);
    const std::uint8_t sum = byteSum(std::span<const std::uint8_t>(message.bytes).first(out.pos));
    out.put(static_cast<std::uint8_t>((256u - sum) & 0xFFu));

    message.length = std::min(out.pos, message.bytes.size());
    return message.length;
}

}  // namespace cidforge

namespace cidforge {

bool isAbsenceCode(std::string_view value) { return value == "O" || value == "P"; }

std::size_t buildMultipleDataMessage(const GeneratorSettings& settings, MdmfMessage& message) {
    message = MdmfMessage{};
    FrameBuilder out{message.bytes};
    const auto putParameter = [&out](std::uint8_t type, std::string_view data) {
        out.put(type);
        out.put(static_cast<std::uint8_t>(data.size()));
        out.putBytes(data);
    };
    const std::string_view dateTime = fieldBytes(settings.dateTime);
    const std::string_view number = fieldBytes(settings.directoryNumber);
    const std::string_view name = fieldBytes(settings.idNameText);

    out.put(kCallSetupMessage);
    out.put(0);  // length, set below
    if (!dateTime.empty()) putParameter(kDateTimeParameter, dateTime);
    if (!settings.numberAbsence.empty()) {
        putParameter(kNumberAbsenceParameter, std::string_view(settings.numberAbsence).substr(0, 1));
    } else if (!number.empty()) {
        putParameter(kNumberParameter, number);
    }
    if (!settings.nameAbsence.empty()) {
        putParameter(kNameAbsenceParameter, std::string_view(settings.nameAbsence).substr(0, 1));
    } else if (!name.empty()) {
        putParameter(kNameParameter, name);
    }
    message.bytes[1] = static_cast<std::uint8_t>(out.pos - 2);
    const std::uint8_t sum = byteSum(std::span<const std::uint8_t>(message.bytes).first(out.pos));
    out.put(static_cast<std::uint8_t>((256u - sum) & 0xFFu));

    message.length = std::min(out.pos, message.bytes.size());
    return message.length;
}

}  // namespace cidforge
