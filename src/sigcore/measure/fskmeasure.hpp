// Measures an FSK caller-ID burst after its message was decoded: each tone's
// frequency and level, the bit rate, the lengths of the channel seizure, the
// mark and the stop bits, and where each part begins. The analysis is its
// own: it follows the tones in the samples around the decoder's message and
// takes from the decoder only where the message's first start bit and last
// stop bit lie.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace sigcore {

// The nominal tones and bit rate the burst was sent with.
struct FskNominal {
    double markHz = 1200;
    double spaceHz = 2200;
    double baud = 1200;
};

// Levels are dBFS (a full-scale sine, amplitude 32768, is 0 dBFS); positions
// are stream positions in samples, fractional, each the first instant of its
// part.
struct FskMeasurement {
    bool measured = false;  // false: the burst could not be followed in the samples held
    double markHz = 0;
    double spaceHz = 0;
    double markDbfs = 0;
    double spaceDbfs = 0;
    double twistDb = 0;  // markDbfs - spaceDbfs
    double bitRate = 0;
    double snrDb = 0;    // tone power over the noise in the burst's band
    int seizureBits = 0;
    // The seizure's closing mark bit and the mark's first cannot be told
    // apart: the sender may have sent seizureBits + seizureDoubt bits (-1 or
    // +1; 0 with no seizure).
    int seizureDoubt = 0;
    int markBits = 0;
    std::optional<int> stopBitsMin;  // mark bits between bytes; absent with a single byte
    std::optional<int> stopBitsMax;
    std::optional<double> seizureStart;
    double markStart = 0;
    double messageStart = 0;
    double end = 0;  // where the carrier stops
};

// `x` holds the stream's samples from position `first`; the decoder put the
// message's first start bit at `messageStart` and the sample after its last
// stop bit at `messageEnd`.
FskMeasurement measureFsk(std::span<const float> x, std::int64_t first, int rate, const FskNominal& nominal,
                          std::int64_t messageStart, std::int64_t messageEnd);

// Measures bursts one after another, keeping its work space (the
// transform's tables and the arrays as long as the samples) from one to the
// next, so that a stream's later measurements allocate nothing new.
class FskMeter {
public:
    FskMeter();
    ~FskMeter();
    FskMeter(FskMeter&&) noexcept;
    FskMeter& operator=(FskMeter&&) noexcept;
    FskMeter(const FskMeter&) = delete;
    FskMeter& operator=(const FskMeter&) = delete;

    // As measureFsk.
    FskMeasurement measure(std::span<const float> x, std::int64_t first, int rate, const FskNominal& nominal,
                           std::int64_t messageStart, std::int64_t messageEnd);

    struct Work;

private:
    std::unique_ptr<Work> work_;
};

// The samples before a message that its measurement looks at, for the
// seizure and the mark, and after it, for the carrier's end.
inline constexpr double kFskLookBackSeconds = 1.0;
inline constexpr double kFskLookAheadSeconds = 0.25;

}  // namespace sigcore
