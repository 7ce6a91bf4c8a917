// Decoder of the European caller-display messages sent over V.23 tones (the
// tone plan kV23): a message type byte (call set-up, message waiting, advice
// of charge, short message service), a length byte, parameters each made of
// a type byte, a length byte and a value, and a checksum byte that makes the
// sum of every byte 0 modulo 256.
//
// parseEtsiMessage turns the bytes of one message into a Message; the
// streaming EtsiMessageDecoder collects the bytes a receiver slices and emits
// MessageDecoded when the checksum arrives, or at the end of the burst for a
// message cut off before it.
//
//     sigcore::EtsiMessageDecoder decoder;
//     sigcore::FskReceiver receiver(sigcore::kV23, decoder, rate, sink);
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/events.hpp"

namespace sigcore {

// The message types.
inline constexpr std::uint8_t kEtsiCallSetup = 0x80;
inline constexpr std::uint8_t kEtsiMessageWaiting = 0x82;
inline constexpr std::uint8_t kEtsiAdviceOfCharge = 0x86;
inline constexpr std::uint8_t kEtsiShortMessage = 0x89;

// Whether `byte` is one of the message types above.
bool isEtsiMessageType(std::uint8_t byte);

// A short name of a message type ("call_setup", "message_waiting",
// "advice_of_charge", "short_message"), or "" for another byte.
std::string_view etsiMessageTypeName(std::uint8_t type);

// Whether the value of parameter `type` is text (characters) rather than
// binary data.
bool etsiParameterIsText(std::uint8_t type);

// The message in `bytes` (type, length, parameters, checksum, as received;
// fewer when the message was cut off, extra bytes after the checksum are
// ignored). Fills standard, type, complete, valid (the checksum matches and
// the parameters fill the message, each of its kind: see fieldcheck.hpp),
// raw and fields; the
// sample positions are left at 0. Fields come in the order of the
// parameters; see etsimessage.cpp for the keys.
Message parseEtsiMessage(std::span<const std::uint8_t> bytes);

// The streaming decoder behind the demodulator's contract.
class EtsiMessageDecoder final : public MessageDecoder {
public:
    NextByte startBurst(EventSink& sink) override;
    NextByte decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) override;
    void endBurst(std::int64_t position, EventSink& sink) override;
    [[nodiscard]] bool isMessageType(std::uint8_t byte) const override { return isEtsiMessageType(byte); }

    // Type, length, at most 255 bytes of parameters, checksum.
    static constexpr std::size_t kCapacity = 258;

private:
    enum class Stage : std::uint8_t {
        Type,        // waiting for the message type
        Length,      // the message length is next
        ParamType,   // a parameter's type byte is next
        ParamLength, // a parameter's length byte is next
        ParamValue,  // inside a parameter's value
        Checksum,    // the checksum is next
        Done,        // the message has been emitted; later bytes are ignored
    };

    void emit(EventSink& sink);
    [[nodiscard]] NextByte expected() const;

    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t count_ = 0;
    Stage stage_ = Stage::Type;
    int messageLeft_ = 0;  // parameter bytes of the message not yet received
    int valueLeft_ = 0;    // value bytes of the current parameter not yet received
    std::uint8_t paramType_ = 0;
    std::int64_t firstStart_ = 0;
    std::int64_t lastEnd_ = 0;
};

}  // namespace sigcore
