#include "sigcore/messages/fieldcheck.hpp"

#include <algorithm>
#include <vector>

namespace sigcore {

namespace {

bool isDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }

int twoDigits(FieldBytes value, std::size_t at) { return (value[at] - '0') * 10 + (value[at + 1] - '0'); }

}  // namespace

bool isDateTime(FieldBytes value) {
    if (value.size() != 8 || !std::all_of(value.begin(), value.end(), isDigit)) return false;
    const int month = twoDigits(value, 0);
    const int day = twoDigits(value, 2);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && twoDigits(value, 4) <= 23 &&
           twoDigits(value, 6) <= 59;
}

bool isDialString(FieldBytes value) {
    return !value.empty() && std::all_of(value.begin(), value.end(), [](std::uint8_t b) {
        return isDigit(b) || b == '*' || b == '#' || b == '+';
    });
}

bool isAbsenceCode(FieldBytes value) {
    return value.size() == 1 && (value[0] == 'O' || value[0] == 'P' || value[0] == 'C' || value[0] == 'S');
}

bool isDisplayText(FieldBytes value) {
    return std::all_of(value.begin(), value.end(), [](std::uint8_t b) { return b >= 0x20 && b != 0x7F; });
}

bool isPlainText(FieldBytes value) {
    return !value.empty() &&
           std::all_of(value.begin(), value.end(), [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
}

bool parametersFillBody(FieldBytes body) {
    std::size_t pos = 0;
    while (pos < body.size()) {
        if (pos + 2 > body.size()) return false;
        pos += 2 + std::size_t{body[pos + 1]};
    }
    return pos == body.size();
}

bool mayBeMisreadType(std::uint8_t type, FieldBytes value, NarrowCheck check) {
    std::vector<std::uint8_t> putBack(value.begin(), value.end());
    for (unsigned b = 0; b < 8; ++b) {
        const auto bit = static_cast<std::uint8_t>(1u << b);
        const auto known = static_cast<std::uint8_t>(type ^ bit);
        const std::optional<bool> holds = check(known, value);
        if (!holds.has_value()) continue;
        if (*holds) return true;
        // A type read with the bit set hides a value bit read as 0 that was
        // sent as 1, and the other way round.
        const bool typeBitSet = (type & bit) != 0;
        for (auto& byte : putBack) {
            if (b != 7 && ((byte & bit) != 0) == typeBitSet) continue;
            byte ^= bit;
            const bool passes = check(known, putBack).value_or(false);
            byte ^= bit;
            if (passes) return true;
        }
    }
    return false;
}

}  // namespace sigcore
