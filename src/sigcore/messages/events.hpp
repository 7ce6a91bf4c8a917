// What a receiver finds, as typed events: the demodulator's burst events and
// the message decoders' events, in the order in which a report shows them.
// Nothing below a sink formats text; a sink turns events into an output (the
// detectors' report file, JSON lines, ...). Positions are sample indices of
// the stream the receiver was given, counted from 0.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace sigcore {

// ---- burst events, from the demodulator ----------------------------------

// A mark run that has lasted long enough to be a burst began at `position`.
struct BurstDetected {
    std::int64_t position = 0;
    bool operator==(const BurstDetected&) const = default;
};
// The 55 ms of mark are complete; the message decoder has been reset.
struct MarkConfirmed {
    std::int64_t position = 0;
    bool operator==(const MarkConfirmed&) const = default;
};
// The burst is over: no further start bit, two failed alignments, or the end
// of the input. `position` is where the demodulator takes it to end.
struct BurstEnded {
    std::int64_t position = 0;
    bool operator==(const BurstEnded&) const = default;
};

// ---- US (Bell 202) report decoder ------------------------------------------

// A recognised message type byte and the decoder's name for it.
struct UsMessageType {
    std::uint8_t code = 0;
    std::string_view name;
    bool operator==(const UsMessageType&) const = default;
};
// The length byte of a single data message.
struct UsMessageLength {
    std::uint8_t length = 0;
    bool operator==(const UsMessageLength&) const = default;
};
// Where the text of a single data message's fields begins or continues.
enum class UsFieldMark : std::uint8_t {
    DateStart,      // before the month
    DateSeparator,  // between month and day
    TimeStart,      // before the hour
    TimeSeparator,  // between hour and minute
    NumberStart,    // before the calling number
};
struct UsField {
    UsFieldMark mark = UsFieldMark::DateStart;
    bool operator==(const UsField&) const = default;
};
// The checksum byte as received and the low byte of the sum of every byte of
// the message including it: correct when that sum is 0.
struct UsChecksum {
    std::uint8_t received = 0;
    std::uint8_t sum = 0;
    bool correct = false;
    bool operator==(const UsChecksum&) const = default;
};

// ---- NTT report decoder ------------------------------------------------------

// A framing character: DLE 0x10, SOH 0x01, the header 0x07, STX 0x02, ETX 0x03.
struct NttControl {
    std::uint8_t code = 0;
    bool operator==(const NttControl&) const = default;
};
struct NttMessageType {
    std::uint8_t code = 0;  // 0x40 before the call, 0x41 during the call
    bool operator==(const NttMessageType&) const = default;
};
struct NttMessageLength {
    std::uint8_t length = 0;
    bool operator==(const NttMessageLength&) const = default;
};
// A parameter's type character, whatever it is.
struct NttParameter {
    std::uint8_t type = 0;
    bool operator==(const NttParameter&) const = default;
};
struct NttParameterLength {
    std::uint8_t type = 0;
    std::uint8_t length = 0;
    bool operator==(const NttParameterLength&) const = default;
};
// One caller-name character as two JIS X 0208 bytes (parity stripped).
struct NttNameCharacter {
    std::array<std::uint8_t, 2> jis{};
    bool operator==(const NttNameCharacter&) const = default;
};
// The last character of a "reason for withholding the number" parameter.
struct NttReason {
    std::uint8_t code = 0;
    bool operator==(const NttReason&) const = default;
};
// The last three characters of an extended number information parameter:
// the number type, the character before the plan, the numbering plan.
struct NttNumberInfo {
    std::uint8_t typeCode = 0;
    std::uint8_t planPrefix = 0;
    std::uint8_t planCode = 0;
    bool operator==(const NttNumberInfo&) const = default;
};
// The CRC as received and as computed over the covered bytes.
struct NttCrc {
    std::uint16_t received = 0;
    std::uint16_t computed = 0;
    bool correct = false;
    bool operator==(const NttCrc&) const = default;
};

// ---- shared by the report decoders -------------------------------------------

// A character of a field's value as received (a number digit, a date digit).
struct TextByte {
    std::uint8_t value = 0;
    bool operator==(const TextByte&) const = default;
};
// A field's line is complete.
struct LineEnd {
    bool operator==(const LineEnd&) const = default;
};

// ---- whole messages -----------------------------------------------------------

// Which signalling standard a message was received in.
enum class Standard : std::uint8_t {
    Bell202,  // US SDMF and MDMF over Bell 202 tones
    V23Ntt,   // the Japanese NTT frame over V.23 tones
    V23Etsi,  // the European presentation-layer messages over V.23 tones
    DtmfCallerId,  // caller ID sent as DTMF digits before the first ring
    Dtmf,          // plain DTMF digits, one message per run of digits
};

// Whether a standard's messages are checked by an 8-bit sum (US and ETSI),
// which two misread bits of the same weight pass; NTT frames carry a CRC-16.
[[nodiscard]] constexpr bool hasSumCheck(Standard standard) {
    return standard == Standard::Bell202 || standard == Standard::V23Etsi;
}

// One DTMF digit of a plain digit message, with where its tone lay.
struct MessageTone {
    char digit = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool operator==(const MessageTone&) const = default;
};

// One decoded parameter: a key that scripts can rely on ("number", "name",
// "date", ...) and its value as UTF-8 text.
struct MessageField {
    std::string key;
    std::string value;
    bool operator==(const MessageField&) const = default;
};

// A complete (or cut-off) message with everything known about it.
struct Message {
    Standard standard = Standard::Bell202;
    std::uint8_t type = 0;
    std::int64_t startSample = 0;  // first sample of the first byte's start bit
    std::int64_t endSample = 0;    // sample after the last byte's stop bit
    bool complete = false;         // every byte the length fields announce arrived
    bool valid = false;            // the checksum or CRC matches
    bool repaired = false;         // valid only after one uncertain bit was flipped
    std::vector<std::uint8_t> raw;  // the message bytes as received, check included
    std::vector<MessageField> fields;
    // The checksum (US and ETSI, 8 bits) or CRC (NTT, 16 bits) as received and as
    // worked out from the bytes before it; both 0 when it never arrived.
    std::uint16_t checkReceived = 0;
    std::uint16_t checkComputed = 0;
    std::vector<MessageTone> tones;  // plain DTMF digits only
    bool operator==(const Message&) const = default;
};

struct MessageDecoded {
    Message message;
    bool operator==(const MessageDecoded&) const = default;
};

// ---- DTMF ------------------------------------------------------------------------

// One accepted DTMF digit ('0'-'9', '*', '#', 'A'-'D'): the tone began at
// sample `start` and ended before sample `end`.
struct DtmfTone {
    char digit = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool operator==(const DtmfTone&) const = default;
};

using Event = std::variant<BurstDetected, MarkConfirmed, BurstEnded, UsMessageType, UsMessageLength, UsField,
                           UsChecksum, NttControl, NttMessageType, NttMessageLength, NttParameter, NttParameterLength,
                           NttNameCharacter, NttReason, NttNumberInfo, NttCrc, TextByte, LineEnd, MessageDecoded,
                           DtmfTone>;

// Receives the events of one stream as soon as they are known.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void onEvent(const Event& event) = 0;
};

// A sink that keeps every event, for tests and for callers that collect.
class EventLog final : public EventSink {
public:
    void onEvent(const Event& event) override { events.push_back(event); }
    std::vector<Event> events;
};

}  // namespace sigcore
