#include "cidscan/escape.hpp"

#include <array>

namespace cidscan {

namespace {

constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                    '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// The length of the well-formed UTF-8 sequence at text[at] and its code
// point, or 0 when the bytes there are not one.
std::size_t sequenceAt(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if ((lead & 0xE0U) == 0xC0U) {
        length = 2, lowest = 0x80, codePoint = lead & 0x1FU;
    } else if ((lead & 0xF0U) == 0xE0U) {
        length = 3, lowest = 0x800, codePoint = lead & 0x0FU;
    } else if ((lead & 0xF8U) == 0xF0U) {
        length = 4, lowest = 0x10000, codePoint = lead & 0x07U;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0U) != 0x80U) return 0;
        codePoint = (codePoint << 6U) | (next & 0x3FU);
    }
    if (codePoint < lowest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const std::size_t length = sequenceAt(text, at, c);
        if (length == 0 || isControl(c)) {
            // A stray byte shows its value, a control character its code.
            const unsigned value = length == 0 ? static_cast<unsigned char>(text[at]) : static_cast<unsigned>(c);
            out += "\\x";
            out += kHex[value >> 4U];
            out += kHex[value & 0x0FU];
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out.append(text.substr(at, length));
        }
        at += length == 0 ? 1 : length;
    }
    return out;
}

bool isUtf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const std::size_t length = sequenceAt(text, at, c);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string escapeJsonControls(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t at = 0; at < json.size(); ++at) {
        const auto b = static_cast<unsigned char>(json[at]);
        unsigned code = 0x100;  // none
        if (b == 0x7F) {
            code = b;
        } else if (b == 0xC2 && at + 1 < json.size()) {
            const auto next = static_cast<unsigned char>(json[at + 1]);
            if (next >= 0x80 && next <= 0x9F) code = next;
        }
        if (code == 0x100) {
            out += json[at];
            continue;
        }
        out += "\\u00";
        out += kHex[code >> 4U];
        out += kHex[code & 0x0FU];
        if (code != 0x7F) ++at;  // the continuation byte is written too
    }
    return out;
}

std::string htmlText(std::string_view text) {
    const std::string shown = terminalText(text);
    std::string out;
    out.reserve(shown.size());
    for (const char c : shown) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace cidscan
