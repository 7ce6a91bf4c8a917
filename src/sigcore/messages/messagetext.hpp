// Text helpers shared by the whole-message decoders: field values as
// readable UTF-8, bytes as hex, absence reasons by name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sigcore {

// Printable ASCII as it is; every other byte as \xNN (so that the result is
// always valid UTF-8 and shows what was received).
[[nodiscard]] std::string printableText(std::span<const std::uint8_t> bytes);

// As printableText, but a byte from 0xA0 to 0xFF is the Latin-1 character
// of that code, in UTF-8 (for names, where such bytes are letters); 0x80 to
// 0x9F, control codes in Latin-1, stay \xNN.
[[nodiscard]] std::string latin1Text(std::span<const std::uint8_t> bytes);

// Lowercase hex digits, two per byte, no separator.
[[nodiscard]] std::string hexBytes(std::span<const std::uint8_t> bytes);

// Why a number or name is absent, by the reason letter: 'O' unavailable,
// 'P' private, 'C' payphone, 'S' service conflict; any other code as
// "code XX".
[[nodiscard]] std::string absenceReason(std::uint8_t code);

}  // namespace sigcore
