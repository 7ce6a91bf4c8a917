#include "messagecheck.hpp"

#include <cstdint>

#include "fuzzsupport.hpp"

namespace fuzzsupport {

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1Fu;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0Fu;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;  // cut off
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<std::uint8_t>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        const std::uint32_t least = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

void checkMessage(const sigcore::Message& message) {
    require(!message.valid || message.complete, "a valid message is complete");
    require(!message.raw.empty(), "a message has its bytes");
    require(message.startSample <= message.endSample, "a message starts before it ends");
    for (const sigcore::MessageField& field : message.fields) {
        require(!field.key.empty() && isValidUtf8(field.key), "field keys are UTF-8");
        require(isValidUtf8(field.value), "field values are UTF-8");
    }
}

}  // namespace fuzzsupport
