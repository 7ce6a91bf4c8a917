// What the parts of a caller-ID message can hold. An 8-bit checksum lets
// about one corrupted message in 256 through; these tests catch most of
// those on the way, so that a message is called valid only when its
// structure holds too: parameters that fill the body exactly, a date and
// time that exist, dial strings of digits, absence codes, text without
// control characters.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace sigcore {

using FieldBytes = std::span<const std::uint8_t>;

// "MMDDhhmm": eight digits, month 01-12, day 01-31, hour 00-23, minute 00-59.
[[nodiscard]] bool isDateTime(FieldBytes value);

// A number as dialled: at least one character, each a digit, '*', '#' or '+'.
[[nodiscard]] bool isDialString(FieldBytes value);

// One reason letter for an absent number or name: 'O', 'P', 'C' or 'S'.
[[nodiscard]] bool isAbsenceCode(FieldBytes value);

// Characters for a display: no control character (0x00-0x1F, 0x7F); bytes
// from 0x80 on are allowed (8-bit character sets).
[[nodiscard]] bool isDisplayText(FieldBytes value);

// Characters of plain 7-bit text, at least one: 0x20-0x7E.
[[nodiscard]] bool isPlainText(FieldBytes value);

// Parameters (type, length, value) one after the other that end exactly
// where the body ends.
[[nodiscard]] bool parametersFillBody(FieldBytes body);

// A decoder's narrow check of a parameter by its type (digits, codes): whether
// the value holds what the type allows, or no answer where the type has none.
using NarrowCheck = std::optional<bool> (*)(std::uint8_t type, FieldBytes value);

// Whether a parameter of a type the decoder does not know may be a known one
// misread in one bit: a type one bit away has a narrow check that the value
// passes. Under an 8-bit sum the misread type bit is hidden only by a bit of
// the same weight misread the other way (any other top bit, for the top bit),
// often in the value itself, so the value may also pass with one such bit of
// one of its bytes put back.
[[nodiscard]] bool mayBeMisreadType(std::uint8_t type, FieldBytes value, NarrowCheck check);

}  // namespace sigcore
