#include "sigcore/messages/nttbits.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

using sigcore::addParity;
using sigcore::crc16;
using sigcore::reverseBits;

TEST(NttBits, ReverseBitsMirrorsEveryBit) {
    EXPECT_EQ(reverseBits(0x00), 0x00);
    EXPECT_EQ(reverseBits(0x01), 0x80);
    EXPECT_EQ(reverseBits(0x80), 0x01);
    EXPECT_EQ(reverseBits(0x87), 0xE1);
    EXPECT_EQ(reverseBits(0xFF), 0xFF);
    for (unsigned v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        EXPECT_EQ(reverseBits(reverseBits(b)), b);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ((v >> i) & 1u, (static_cast<unsigned>(reverseBits(b)) >> (7 - i)) & 1u);
        }
    }
}

TEST(NttBits, AddParityGivesEvenParityToSevenBitCharacters) {
    EXPECT_EQ(addParity(0x10), 0x90);
    EXPECT_EQ(addParity(0x01), 0x81);
    EXPECT_EQ(addParity(0x07), 0x87);
    EXPECT_EQ(addParity(0x02), 0x82);
    EXPECT_EQ(addParity(0x40), 0xC0);
    EXPECT_EQ(addParity(0x03), 0x03);
    EXPECT_EQ(addParity(0x30), 0x30);
    EXPECT_EQ(addParity(0x31), 0xB1);
    for (unsigned v = 0; v < 128; ++v) {
        const unsigned withParity = addParity(static_cast<std::uint8_t>(v));
        EXPECT_EQ(withParity & 0x7Fu, v);
        EXPECT_EQ(__builtin_popcount(withParity) % 2, 0);
    }
    // A byte whose bit 7 is already set keeps it.
    EXPECT_EQ(addParity(0x80), 0x80);
    EXPECT_EQ(addParity(0x81), 0x81);
}

namespace {

// The covered bytes of a frame as sent (parity included), reversed for crc16.
std::uint16_t frameCrc(const std::vector<std::uint8_t>& covered) {
    std::vector<std::uint8_t> reversed;
    for (const auto b : covered) reversed.push_back(reverseBits(b));
    return crc16(reversed);
}

// The bytes on the line: reverseBits of the high byte, then of the low byte.
std::array<std::uint8_t, 2> crcBytes(std::uint16_t crc) {
    return {reverseBits(static_cast<std::uint8_t>(crc >> 8)), reverseBits(static_cast<std::uint8_t>(crc & 0xFF))};
}

// Bitwise CRC-16/KERMIT (reflected 0x8408, initial value 0) of the bytes as given.
std::uint16_t kermit(const std::vector<std::uint8_t>& bytes) {
    unsigned reg = 0;
    for (const auto b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) reg = (reg & 1u) ? (reg >> 1) ^ 0x8408u : reg >> 1;
    }
    return static_cast<std::uint16_t>(reg);
}

}  // namespace

TEST(NttBits, Crc16OfTheWorkedFrames) {
    // Header through ETX of the 23-byte frame (number 0..9, no name): CRC bytes 00 B1.
    const std::vector<std::uint8_t> shortFrame{0x87, 0x90, 0x82, 0xC0, 0x0C, 0x82, 0x0A, 0x30, 0xB1,
                                               0xB2, 0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39, 0x90, 0x03};
    EXPECT_EQ(frameCrc(shortFrame), 0x008D);
    EXPECT_EQ(crcBytes(frameCrc(shortFrame)), (std::array<std::uint8_t, 2>{0x00, 0xB1}));

    // The 28-byte frame with M = 0x10 doubled: CRC bytes 8F DA.
    const std::vector<std::uint8_t> longFrame{0x87, 0x90, 0x82, 0xC0, 0x90, 0x90, 0x82, 0x0A, 0x30, 0xB1, 0xB2,
                                              0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39, 0x87, 0x82, 0x30, 0x21,
                                              0x90, 0x03};
    EXPECT_EQ(frameCrc(longFrame), 0xF15B);
    EXPECT_EQ(crcBytes(frameCrc(longFrame)), (std::array<std::uint8_t, 2>{0x8F, 0xDA}));
}

TEST(NttBits, Crc16EqualsKermitOnReversedInput) {
    EXPECT_EQ(crc16({}), 0);
    std::vector<std::uint8_t> bytes;
    for (unsigned i = 0; i < 300; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 37u + 11u));
        const std::uint16_t k = kermit(bytes);
        // KERMIT's register is the bit mirror of the MSB-first register.
        const std::uint16_t mirrored = static_cast<std::uint16_t>(
            (reverseBits(static_cast<std::uint8_t>(k & 0xFF)) << 8) | reverseBits(static_cast<std::uint8_t>(k >> 8)));
        ASSERT_EQ(frameCrc(bytes), mirrored) << "after " << bytes.size() << " bytes";
    }
    // The check value of CRC-16/KERMIT for "123456789" is 0x2189.
    const std::vector<std::uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(kermit(digits), 0x2189);
}
