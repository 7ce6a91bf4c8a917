#include "sigcore/io/textscan.hpp"

#include <limits>

namespace sigcore {

namespace {

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::int32_t> scanInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isScanSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !isDigit(text[i])) return std::nullopt;
    // Accumulate in 64 bits, held just beyond the 32-bit range so that any
    // number of digits can follow without overflow.
    constexpr std::int64_t cap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > cap) magnitude = cap;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);  // -cap is exactly the 32-bit minimum
}

std::optional<std::string_view> scanWord(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && isScanSpace(text[begin])) ++begin;
    std::size_t end = begin;
    while (end < text.size() && !isScanSpace(text[end])) ++end;
    if (end == begin) return std::nullopt;
    return text.substr(begin, end - begin);
}

}  // namespace sigcore
