// linesim: what the line benchmarks share to make a caller-ID burst and
// impair it: a condition (tones, baud, twist, lead mark, level, noise floor,
// an impairment of the samples), the modulator with random carrier phase,
// bit timing and stop bits, a white-noise floor and an echo.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace linesim {

inline constexpr double kPi = 3.14159265358979323846;

// What a condition does to a burst.
struct Condition {
    std::string name;
    double markHz = 1200, spaceHz = 2200, baud = 1200;
    double markGainDb = 0, spaceGainDb = 0;
    double leadMarkMs = 150;
    double levelDbfs = -12;  // peak of the tones
    double snrDb = 25;
    std::function<void(std::vector<double>&, int rate)> impair;
};

inline std::uint8_t withParity(std::uint8_t c) {
    const auto ones = static_cast<unsigned>(__builtin_popcount(c & 0x7Fu));
    return static_cast<std::uint8_t>((c & 0x7Fu) | ((ones % 2u) << 7));
}

// One burst: silence, mark, the bytes (one stop bit, sometimes more), mark,
// silence; random carrier phase and bit timing.
inline std::vector<double> modulate(const Condition& c, const std::vector<std::uint8_t>& bytes, int rate,
                             std::mt19937& random, double fixedPhase = -1.0, double fixedTiming = -1.0) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<int> bits;
    const int lead = static_cast<int>(c.leadMarkMs / 1000.0 * c.baud);
    for (int i = 0; i < lead; ++i) bits.push_back(1);
    for (const auto b : bytes) {
        bits.push_back(0);
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k) & 1);
        const int stops = 1 + static_cast<int>(random() % 3);
        for (int k = 0; k < stops; ++k) bits.push_back(1);
    }
    for (int i = 0; i < 10; ++i) bits.push_back(1);
    const double amp = 32767.0 * std::pow(10.0, c.levelDbfs / 20.0);
    const double markAmp = amp * std::pow(10.0, c.markGainDb / 20.0);
    const double spaceAmp = amp * std::pow(10.0, c.spaceGainDb / 20.0);
    std::vector<double> x(static_cast<std::size_t>(0.2 * rate), 0.0);
    double phase = 2 * kPi * unit(random);
    double t = unit(random);  // sub-sample timing
    if (fixedPhase >= 0.0) phase = fixedPhase;
    if (fixedTiming >= 0.0) t = fixedTiming;
    const double samplesPerBit = rate / c.baud;
    for (const int bit : bits) {
        t += samplesPerBit;
        while (t >= 1.0) {
            phase += 2 * kPi * (bit ? c.markHz : c.spaceHz) / rate;
            x.push_back((bit ? markAmp : spaceAmp) * std::sin(phase));
            t -= 1.0;
        }
    }
    x.resize(x.size() + static_cast<std::size_t>(0.2 * rate), 0.0);
    return x;
}

inline void addNoise(std::vector<double>& x, double toneAmp, double snrDb, std::mt19937& random) {
    const double sigma = toneAmp / std::sqrt(2.0) / std::pow(10.0, snrDb / 20.0);
    std::normal_distribution<double> gauss(0.0, sigma);
    for (auto& v : x) v += gauss(random);
}

inline std::vector<std::int16_t> toPcm(const std::vector<double>& x) {
    std::vector<std::int16_t> pcm(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(std::lround(std::clamp(x[i], -32768.0, 32767.0)));
    }
    return pcm;
}

inline std::function<void(std::vector<double>&, int)> echo(double ms, double db) {
    return [ms, db](std::vector<double>& x, int rate) {
        const auto d = static_cast<std::size_t>(std::lround(ms / 1000.0 * rate));
        const double g = std::pow(10.0, db / 20.0);
        for (std::size_t i = x.size(); i-- > d;) x[i] += g * x[i - d];
    };
}

}  // namespace linesim
