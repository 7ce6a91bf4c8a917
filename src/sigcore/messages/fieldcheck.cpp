#include "sigcore/messages/fieldcheck.hpp"

#include <algorithm>

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

bool parametersFillBody(FieldBytes body) {
    std::size_t pos = 0;
    while (pos < body.size()) {
        if (pos + 2 > body.size()) return false;
        pos += 2 + std::size_t{body[pos + 1]};
    }
    return pos == body.size();
}

}  // namespace sigcore
