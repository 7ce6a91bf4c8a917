// Whole-message decoder of US caller ID over Bell 202: single data messages
// (types 0x04, 0x06, 0x0b) and multiple data messages (0x80, 0x81, 0x82)
// with every parameter, and the checksum verdict. It emits one
// MessageDecoded per message: when the checksum byte arrives, or at the end
// of the burst for a message cut off before it.
//
//     sigcore::UsMessageDecoder decoder;
//     sigcore::FskReceiver receiver(sigcore::kBell202, decoder, rate, sink);
//
// Field keys and values (all UTF-8 text):
//   date "MM-DD", time "HH:MM", number, dialable_number,
//   number_absent / name_absent ("unavailable", "private", ...), name,
//   redirection (reason), redirecting_number, call_qualifier,
//   message_waiting ("on"/"off"), data (hex body of a message without
//   parameters), param_XX (hex data of a parameter of unknown type XX).
// Bytes outside printable ASCII in text fields are shown as \xNN.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/events.hpp"

namespace sigcore {

// Whether `byte` is one of the six US message types.
[[nodiscard]] bool isUsMessageTypeCode(std::uint8_t byte);
// A readable name of a US message type ("" for an unknown code).
[[nodiscard]] std::string_view usMessageTypeName(std::uint8_t type);

// Decodes a message from its bytes as received: the type, the length byte,
// the body and the checksum (a shorter sequence is a cut-off message). Sets
// standard, type, complete, valid, raw, fields and the checksum pair;
// leaves the positions at 0. Valid: the checksum matches and the body holds
// what its type allows (fieldcheck.hpp: parameters that fill it, a real date
// and time, digits in numbers, absence letters, names without control bytes).
[[nodiscard]] Message decodeUsMessage(std::span<const std::uint8_t> bytes);

// The longest message: type, length 255, 255 body bytes, checksum.
inline constexpr std::size_t kUsMessageCapacity = 258;

class UsMessageDecoder final : public MessageDecoder {
public:
    NextByte startBurst(EventSink& sink) override;
    NextByte decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) override;
    void endBurst(std::int64_t position, EventSink& sink) override;
    [[nodiscard]] bool isMessageType(std::uint8_t byte) const override { return isUsMessageTypeCode(byte); }

private:
    // Where a multiple data message's parameters stand.
    enum class ParamStage : std::uint8_t { Type, Length, Data };

    void emit(EventSink& sink);
    [[nodiscard]] NextByte expectation() const;

    std::array<std::uint8_t, kUsMessageCapacity> bytes_{};
    std::size_t count_ = 0;
    std::size_t total_ = 0;  // bytes the length byte announces, with type, length and checksum
    bool emitted_ = false;
    bool ignoring_ = false;  // the burst's first byte was no message type
    std::int64_t start_ = 0;
    std::int64_t end_ = 0;
    ParamStage paramStage_ = ParamStage::Type;
    std::uint8_t paramType_ = 0;
    std::size_t paramLeft_ = 0;
};

}  // namespace sigcore
