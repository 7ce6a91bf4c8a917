#include "sigcore/messages/nttbits.hpp"

namespace sigcore {

std::uint8_t reverseBits(std::uint8_t value) {
    unsigned in = value;
    unsigned out = 0;
    for (int i = 0; i < 8; ++i) {
        out = (out << 1) | (in & 1u);
        in >>= 1;
    }
    return static_cast<std::uint8_t>(out);
}

std::uint8_t addParity(std::uint8_t value) {
    unsigned parity = 0;
    for (int i = 0; i < 7; ++i) parity ^= (static_cast<unsigned>(value) >> i) & 1u;
    return static_cast<std::uint8_t>(value | (parity << 7));
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    unsigned reg = 0;
    for (const std::uint8_t b : bytes) {
        reg ^= static_cast<unsigned>(b) << 8;
        for (int i = 0; i < 8; ++i) {
            const bool carry = (reg & 0x8000u) != 0;
            reg = (reg << 1) & 0xFFFFu;
            if (carry) reg ^= 0x1021u;
        }
    }
    return static_cast<std::uint16_t>(reg);
}

}  // namespace sigcore
