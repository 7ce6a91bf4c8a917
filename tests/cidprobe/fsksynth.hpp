// Test-side FSK burst synthesiser: continuous-phase tones, a steady mark
// stretch, then each byte as a start bit, eight data bits least significant
// first and five mark bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fsksynth {

struct Tones {
    double markHz = 1200.0;
    double spaceHz = 2200.0;
    double baud = 1200.0;
};

// Continuous-phase modulator writing into a sample vector.
struct Modulator {
    int rate = 8000;
    double amplitude = 10000.0;
    Tones tones;
    double phase = 0.0;
    double bitClock = 0.0;  // fractional samples owed to the next bit
    std::vector<std::int16_t> samples;
};

void appendSilence(Modulator& m, int count);
// `count` bits of one value (1 mark, 0 space).
void appendBits(Modulator& m, int bit, int count);
// Start bit, eight data bits LSB first, `stopBits` mark bits.
void appendByte(Modulator& m, std::uint8_t value, int stopBits = 5);
// Mark lead-in of `markBits`, then the bytes, then `tailBits` of mark.
void appendBurst(Modulator& m, const std::vector<std::uint8_t>& bytes, int markBits = 180, int tailBits = 10,
                 int stopBits = 5);

// SDMF message (type 0x04) with date/time "MMDDhhmm" and the number, checksum last.
std::vector<std::uint8_t> sdmfMessage(const std::string& dateTime, const std::string& number);

// Writes a mono WAV file of 8 or 16 bits. True on success.
bool writeWav(const std::string& path, int rate, int bits, const std::vector<std::int16_t>& samples);

// The six report lines of an SDMF message, as the decoder writes them.
std::string sdmfReportLines(const std::vector<std::uint8_t>& message);

}  // namespace fsksynth
