// Test-side NTT frames: characters with even parity, the doubled message
// length, and a CRC-16/KERMIT worked out independently of the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nttframe {

// The frame DLE SOH header DLE STX, message type, length (doubled when it is
// 0x10), `params` (doubled DLEs included), DLE ETX, CRC low byte, CRC high
// byte. `header` replaces the header character.
std::vector<std::uint8_t> build(const std::vector<std::uint8_t>& params, std::uint8_t type = 0x40,
                                std::uint8_t header = 0x07);

// A parameter: type, length (doubled when it is 0x10) and the data characters.
std::vector<std::uint8_t> param(std::uint8_t type, const std::string& data);

// The CRC value the report shows for a frame built by `build`.
unsigned crcShown(const std::vector<std::uint8_t>& frame);

// UTF-8 text as the report writes it (Shift-JIS).
std::string sjis(const std::string& utf8);

}  // namespace nttframe
