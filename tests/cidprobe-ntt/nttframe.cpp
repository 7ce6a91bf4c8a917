#include "nttframe.hpp"

#include "support/testsupport.hpp"

namespace nttframe {

namespace {

std::uint8_t withParity(std::uint8_t c) {
    const auto ones = static_cast<unsigned>(__builtin_popcount(c & 0x7Fu));
    return static_cast<std::uint8_t>((c & 0x7Fu) | ((ones % 2u) << 7));
}

// CRC-16/KERMIT: reflected polynomial 0x8408, initial value 0.
unsigned kermit(const std::uint8_t* bytes, std::size_t count) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0x8408u : crc >> 1;
    }
    return crc;
}

unsigned reverse8(unsigned v) {
    unsigned r = 0;
    for (int i = 0; i < 8; ++i) r |= ((v >> i) & 1u) << (7 - i);
    return r;
}

}  // namespace

std::vector<std::uint8_t> param(std::uint8_t type, const std::string& data) {
    std::vector<std::uint8_t> bytes;
    bytes.push_back(type);
    bytes.push_back(static_cast<std::uint8_t>(data.size()));
    if (data.size() == 0x10) bytes.push_back(0x10);
    for (char c : data) bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

std::vector<std::uint8_t> build(const std::vector<std::uint8_t>& params, std::uint8_t type, std::uint8_t header) {
    std::vector<std::uint8_t> chars{0x10, 0x01, header, 0x10, 0x02, type, static_cast<std::uint8_t>(params.size())};
    if (params.size() == 0x10) chars.push_back(0x10);
    chars.insert(chars.end(), params.begin(), params.end());
    chars.push_back(0x10);
    chars.push_back(0x03);
    std::vector<std::uint8_t> frame;
    for (std::uint8_t c : chars) frame.push_back(withParity(c));
    const unsigned crc = kermit(frame.data() + 2, frame.size() - 2);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

unsigned crcShown(const std::vector<std::uint8_t>& frame) {
    const std::size_t n = frame.size();
    return reverse8(frame.at(n - 2)) << 8 | reverse8(frame.at(n - 1));
}

std::string sjis(const std::string& utf8) { return testsupport::utf8ToSjis(utf8); }

}  // namespace nttframe
