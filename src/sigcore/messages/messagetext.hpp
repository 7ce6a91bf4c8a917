// Text helpers shared by the whole-message decoders: field values as
// UTF-8 characters, bytes as hex, absence reasons by name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sigcore {

// The bytes as characters in UTF-8, each byte its own character: ASCII as it
// is, 0x80..0xFF as Latin-1. Any byte gives valid text and none is lost;
// control characters stay as they are, for each output to escape as its
// format needs.
[[nodiscard]] std::string printableText(std::span<const std::uint8_t> bytes);

// Lowercase hex digits, two per byte, no separator.
[[nodiscard]] std::string hexBytes(std::span<const std::uint8_t> bytes);

// Why a number or name is absent, by the reason letter: 'O' unavailable,
// 'P' private, 'C' payphone, 'S' service conflict; any other code as
// "code XX".
[[nodiscard]] std::string absenceReason(std::uint8_t code);

}  // namespace sigcore
