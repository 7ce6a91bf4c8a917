#include "sigcore/messages/messagetext.hpp"

#include <array>

namespace sigcore {

namespace {

constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

void appendHex(std::string& out, std::uint8_t b) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
}

}  // namespace

std::string printableText(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes) {
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0U | (b >> 6U));
            out += static_cast<char>(0x80U | (b & 0x3FU));
        }
    }
    return out;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) appendHex(out, b);
    return out;
}

std::string absenceReason(std::uint8_t code) {
    switch (code) {
    case 'O': return "unavailable";
    case 'P': return "private";
    case 'C': return "payphone";
    case 'S': return "service conflict";
    default: break;
    }
    std::string out = "code ";
    appendHex(out, code);
    return out;
}

}  // namespace sigcore
