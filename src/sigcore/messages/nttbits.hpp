// Bit routines of the NTT caller-ID frame, shared by the generator and the
// NTT detector: bit reversal, the even parity bit and the frame CRC-16.
#pragma once

#include <cstdint>
#include <span>

namespace sigcore {

// Bit i of the input becomes bit 7 - i of the output.
std::uint8_t reverseBits(std::uint8_t value);
// Bit 7 OR-ed with the exclusive OR of bits 0..6 (even parity for 7-bit characters).
std::uint8_t addParity(std::uint8_t value);
// CRC-16, polynomial 0x1021, initial value 0, no final inversion, most
// significant bit first, over the bytes as given (callers pass bit-reversed bytes).
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

}  // namespace sigcore
