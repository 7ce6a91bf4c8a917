// Measures DTMF digits: each digit's two tones (frequency and level), the
// twist, and where the tone pair begins and ends, refined from the
// receiver's coarse positions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace sigcore {

// Levels in dBFS (a full-scale sine is 0 dBFS); positions in samples.
struct DigitMeasurement {
    bool measured = false;  // false: the digit is no longer held or too short to fit
    double lowHz = 0;
    double highHz = 0;
    double lowDbfs = 0;
    double highDbfs = 0;
    double twistDb = 0;  // highDbfs - lowDbfs
    double start = 0;    // first instant of the tone pair
    double end = 0;      // first instant after it
};

// The nominal low and high tone of a digit ('0'-'9', '*', '#', 'A'-'D');
// false for any other character.
bool dtmfNominal(char digit, double& lowHz, double& highHz);

// `x` holds the stream from position `first`; the receiver heard `digit`
// from `start` to before `end`.
DigitMeasurement measureDigit(std::span<const float> x, std::int64_t first, int rate, char digit, std::int64_t start,
                              std::int64_t end);

// Any pair of tones (nominal[0] the lower) heard from about `start` to
// `end`: how far inside those edges the first fit stays, how far from
// nominal each frequency is searched, how far outside them the edges are
// looked for.
struct TonePairSearch {
    double trimSeconds = 0.005;
    double spanHz = 60.0;
    double marginSeconds = 0.03;
};
DigitMeasurement measureTonePair(std::span<const float> x, std::int64_t first, int rate, const double nominal[2],
                                 std::int64_t start, std::int64_t end, const TonePairSearch& search);

// The samples around a digit that its measurement looks at.
inline constexpr double kDigitMarginSeconds = 0.03;

}  // namespace sigcore
