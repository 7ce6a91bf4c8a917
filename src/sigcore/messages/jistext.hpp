// JIS X 0208 caller names to UTF-8, through the C library's iconv.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace sigcore {

// Each pair is one JIS X 0208 character (both bytes 0x21..0x7E). A pair that
// is no character (or that the C library can't convert) becomes U+FFFD.
[[nodiscard]] std::string jisToUtf8(std::span<const std::array<std::uint8_t, 2>> characters);

}  // namespace sigcore
