// Scanning values out of the hand-written text files (detector settings,
// generator data files) the way the C library's "%d" and "%s" conversions
// read them, without their undefined behaviour on out-of-range numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sigcore {

// White space as the C library's scans see it (blank, tab, line ends, vt, ff).
constexpr bool isScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "%d": leading white space skipped, an optional sign, decimal digits; the
// scan stops at the first other character. Nothing when no digit follows.
// Values beyond the 32-bit range are held at its nearest end.
std::optional<std::int32_t> scanInt(std::string_view text);

// "%s": the first white-space-delimited word; nothing when there is none.
std::optional<std::string_view> scanWord(std::string_view text);

}  // namespace sigcore
