#include "sigcore/measure/leveltrace.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigcore {

namespace {

constexpr double kFullScale = 32768.0;

float toDbfs(double amplitude) {
    if (!(amplitude > 0.0)) return kTraceFloorDbfs;
    return std::max(kTraceFloorDbfs, static_cast<float>(20.0 * std::log10(amplitude / kFullScale)));
}

// The amplitude of the sine at `omega` (radians per sample) in the windowed
// stretch, by the Goertzel recursion evaluated at any frequency.
double toneAmplitude(std::span<const float> x, std::span<const double> window, double windowSum, double omega) {
    const double coeff = 2.0 * std::cos(omega);
    double s1 = 0;
    double s2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double s = window[i] * x[i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2);
    return 2.0 * std::sqrt(power) / windowSum;
}

// The amplitude of the sine whose RMS the stretch has.
double bandAmplitude(std::span<const float> x) {
    double sum = 0;
    for (const float v : x) sum += static_cast<double>(v) * v;
    return std::sqrt(2.0 * sum / static_cast<double>(x.size()));
}

}  // namespace

LevelTrace traceLevels(std::span<const float> x, std::int64_t first, int rate, std::span<const double> tonesHz,
                       double stepSeconds) {
    LevelTrace out;
    out.toneHz.assign(tonesHz.begin(), tonesHz.end());
    out.dbfs.resize(tonesHz.size());
    const auto step = static_cast<std::size_t>(std::max(1.0, std::round(stepSeconds * rate)));
    const std::size_t length = 2 * step;
    out.step = static_cast<double>(step);
    out.firstCentre = static_cast<double>(first) + static_cast<double>(length) / 2.0;
    if (rate <= 0 || x.size() < length) return out;
    std::vector<double> window(length);
    double windowSum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (static_cast<double>(i) + 0.5) /
                                         static_cast<double>(length));
        windowSum += window[i];
    }
    const std::size_t count = (x.size() - length) / step + 1;
    for (std::size_t t = 0; t < tonesHz.size(); ++t) {
        std::vector<float>& row = out.dbfs[t];
        row.reserve(count);
        const double hz = tonesHz[t];
        const bool band = !(hz > 0.0) || hz >= rate / 2.0;
        const double omega = 2.0 * std::numbers::pi * hz / rate;
        for (std::size_t k = 0; k < count; ++k) {
            const auto stretch = x.subspan(k * step, length);
            row.push_back(toDbfs(band ? bandAmplitude(stretch) : toneAmplitude(stretch, window, windowSum, omega)));
        }
    }
    return out;
}

}  // namespace sigcore
