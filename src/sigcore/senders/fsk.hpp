// Phase-continuous FSK modulator for caller-ID bursts (Bell 202 and V.23
// tones): an optional channel-seizure run of alternating bits, a run of
// mark bits, then each byte as a start bit (space), eight data bits least
// significant first and the stop bits (mark). The phase runs on across
// every bit, so a tone change makes no step in the waveform.
//
//     sigcore::FskSettings settings;                 // Bell 202, 0 seizure bits
//     settings.seizureBits = 300; settings.markBits = 180;
//     sigcore::FskWriter fsk(settings, bytes, 8000);
//     std::array<double, 512> block;
//     while (std::size_t n = fsk.write(block)) consume(std::span(block).first(n));
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sigcore {

// A tone plan: mark (1) and space (0) frequencies and the bit rate.
struct FskTones {
    double markHz = 1200.0;
    double spaceHz = 2200.0;
    double baud = 1200.0;
};
inline constexpr FskTones kBell202Tones{1200.0, 2200.0, 1200.0};
inline constexpr FskTones kV23Tones{1300.0, 2100.0, 1200.0};

struct FskSettings {
    FskTones tones = kBell202Tones;
    double markPeak = 0.1;       // peak amplitudes, full scale 1.0 (twist: they differ)
    double spacePeak = 0.1;
    double markOffsetHz = 0.0;   // added to the nominal frequencies
    double spaceOffsetHz = 0.0;
    double rateErrorPercent = 0.0;  // the bit rate is baud * (1 + this / 100)
    int seizureBits = 0;         // alternating, starting with a space bit
    int markBits = 0;            // mark before the first byte
    int stopBits = 1;            // after each byte
    int trailingMarkBits = 0;    // mark after the last byte
};

class FskWriter {
public:
    // Copies `bytes`; nothing is allocated after construction.
    FskWriter(const FskSettings& settings, std::span<const std::uint8_t> bytes, int rate);

    // Samples of the whole burst.
    [[nodiscard]] std::int64_t totalSamples() const { return total_; }
    // Bits of the whole burst (seizure, mark, framed bytes, trailing mark).
    [[nodiscard]] std::int64_t totalBits() const;

    // Writes the next samples of the burst into `out`; returns how many,
    // fewer than out.size() only when the burst is over.
    std::size_t write(std::span<double> out);

private:
    [[nodiscard]] bool bitAt(std::int64_t bit) const;  // true: mark

    FskSettings settings_;
    std::vector<std::uint8_t> bytes_;
    double rate_ = 8000.0;
    double bitRate_ = 1200.0;
    std::int64_t total_ = 0;
    std::int64_t next_ = 0;  // index of the next sample
    double phase_ = 0.0;     // radians, 0..2 pi
};

}  // namespace sigcore
