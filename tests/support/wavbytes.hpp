// Hand-made WAV files for tests: any header, legal or not, byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

inline void appendTag(Bytes& b, const std::string& tag) { b.insert(b.end(), tag.begin(), tag.end()); }

inline void appendLe16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

inline void appendLe32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu));
}

// A chunk: tag, 32-bit size, body (no pad byte, the reader expects none).
inline void appendChunk(Bytes& b, const std::string& tag, const Bytes& body) {
    appendTag(b, tag);
    appendLe32(b, static_cast<std::uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
}

struct FmtFields {
    std::uint32_t format = 1;
    std::uint32_t channels = 1;
    std::uint32_t rate = 8000;
    std::uint32_t bits = 16;
    std::uint32_t blocksize = 0xFFFFFFFFu;      // derived from bits and channels when left so
    std::uint32_t bytesPerSecond = 0xFFFFFFFFu;  // likewise
    std::uint32_t fmtSize = 16;                  // bytes beyond 16 are written as zeros
};

// "RIFF", size, "WAVE" and the format chunk; the caller appends the rest.
inline Bytes wavePrefix(const FmtFields& f, std::uint32_t riffSize = 0) {
    const std::uint32_t block = f.blocksize != 0xFFFFFFFFu ? f.blocksize : (f.bits / 8) * f.channels;
    const std::uint32_t bps = f.bytesPerSecond != 0xFFFFFFFFu ? f.bytesPerSecond : block * f.rate;
    Bytes b;
    appendTag(b, "RIFF");
    appendLe32(b, riffSize);
    appendTag(b, "WAVE");
    appendTag(b, "fmt ");
    appendLe32(b, f.fmtSize);
    appendLe16(b, f.format);
    appendLe16(b, f.channels);
    appendLe32(b, f.rate);
    appendLe32(b, bps);
    appendLe16(b, block);
    appendLe16(b, f.bits);
    for (std::uint32_t i = 16; i < f.fmtSize; ++i) b.push_back(0);
    return b;
}

// A complete file: prefix, then "data" with `dataSize` (as stated) and `data` (as present).
inline Bytes waveFile(const FmtFields& f, const Bytes& data, std::uint32_t dataSize) {
    Bytes b = wavePrefix(f, static_cast<std::uint32_t>(20 + f.fmtSize + data.size()));
    appendTag(b, "data");
    appendLe32(b, dataSize);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

inline Bytes waveFile(const FmtFields& f, const Bytes& data) {
    return waveFile(f, data, static_cast<std::uint32_t>(data.size()));
}

}  // namespace testsupport
