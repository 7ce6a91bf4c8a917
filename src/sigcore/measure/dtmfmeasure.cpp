#include "sigcore/measure/dtmfmeasure.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string_view>
#include <vector>

#include "sigcore/measure/tonefit.hpp"

namespace sigcore {

namespace {

constexpr double kFullScale = 32768.0;
constexpr double kLow[4] = {697, 770, 852, 941};
constexpr double kHigh[4] = {1209, 1336, 1477, 1633};
constexpr std::string_view kKeys = "123A456B789C*0#D";
// The receiver's edges are trusted to this; the fits keep clear of them.
constexpr double kTrimSeconds = 0.005;
// The window that finds the edges: long enough to part the tones.
constexpr double kEdgeWindowSeconds = 0.004;
constexpr double kSearchHz = 60.0;

double dbfs(double amplitude) { return 20.0 * std::log10(std::max(amplitude, 1e-9) / kFullScale); }

// Each tone's amplitude in a window sliding along [from, to), both tones
// normalised by their amplitude within the digit and added: 2 where the
// window is wholly in the tone, 1 where half of it is.
std::vector<double> presence(std::span<const float> x, std::size_t from, std::size_t to, const double* freq,
                             const double* amplitude, int window) {
    std::vector<double> out;
    if (to < from + static_cast<std::size_t>(window)) return out;
    out.resize(to - from - static_cast<std::size_t>(window) + 1);
    for (int k = 0; k < 2; ++k) {
        std::complex<double> sum{};
        std::vector<std::complex<double>> terms(to - from);
        for (std::size_t i = from; i < to; ++i) {
            terms[i - from] = std::polar(static_cast<double>(x[i]), -2.0 * std::numbers::pi * freq[k] * double(i));
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(window); ++i) sum += terms[i];
        const double scale = amplitude[k] * window / 2.0;
        for (std::size_t s = 0; s < out.size(); ++s) {
            out[s] += std::abs(sum) / std::max(scale, 1e-9);
            const std::size_t next = s + static_cast<std::size_t>(window);
            if (next < terms.size()) sum += terms[next] - terms[s];
        }
    }
    return out;
}

// The first crossing of 1 from `at` in direction `step`: the window then
// lies half in the tone, whose edge is at its middle.
std::optional<double> crossing(const std::vector<double>& p, std::ptrdiff_t at, int step, int window) {
    const auto n = static_cast<std::ptrdiff_t>(p.size());
    for (std::ptrdiff_t i = at; i >= 0 && i + step >= 0 && i + step < n; i += step) {
        const double a = p[static_cast<std::size_t>(i)];
        const double b = p[static_cast<std::size_t>(i + step)];
        if (a >= 1.0 && b < 1.0) return static_cast<double>(i) + step * (a - 1.0) / (a - b) + window / 2.0;
    }
    return std::nullopt;
}

}  // namespace

bool dtmfNominal(char digit, double& lowHz, double& highHz) {
    const std::size_t k = kKeys.find(digit);
    if (k == std::string_view::npos) return false;
    lowHz = kLow[k / 4];
    highHz = kHigh[k % 4];
    return true;
}

DigitMeasurement measureDigit(std::span<const float> x, std::int64_t first, int rate, char digit,
                              std::int64_t start, std::int64_t end) {
    DigitMeasurement out;
    double nominal[2];
    if (!dtmfNominal(digit, nominal[0], nominal[1])) return out;
    const double s = static_cast<double>(start - first);
    const double e = static_cast<double>(end - first);
    const double trim = kTrimSeconds * rate;
    if (s < 0 || e > static_cast<double>(x.size()) || e - s < 2 * trim + 16) return out;
    const Stretch inside{static_cast<std::size_t>(s + trim), static_cast<std::size_t>(e - trim)};
    double freq[2] = {nominal[0] / rate, nominal[1] / rate};
    const std::span<const Stretch> one(&inside, 1);
    for (int pass = 0; pass < 2; ++pass) {
        bestFrequency(x, one, freq, 2, 0, kSearchHz / rate);
        bestFrequency(x, one, freq, 2, 1, kSearchHz / rate);
    }
    const FitSums fit = fitTones(x, one, freq, 2);
    const double amplitude[2] = {meanAmplitude(fit, 0), meanAmplitude(fit, 1)};
    out.lowHz = freq[0] * rate;
    out.highHz = freq[1] * rate;
    out.lowDbfs = dbfs(amplitude[0]);
    out.highDbfs = dbfs(amplitude[1]);
    out.twistDb = out.highDbfs - out.lowDbfs;
    // The edges: where the tones' presence falls to half, searched outwards
    // from the middle of the digit.
    const int window = std::max(8, static_cast<int>(std::lround(kEdgeWindowSeconds * rate)));
    const double margin = kDigitMarginSeconds * rate;
    const auto from = static_cast<std::size_t>(std::max(0.0, s - margin));
    const auto to = static_cast<std::size_t>(std::min(static_cast<double>(x.size()), e + margin));
    const std::vector<double> p = presence(x, from, to, freq, amplitude, window);
    const auto middle = static_cast<std::ptrdiff_t>((s + e) / 2 - static_cast<double>(from) - window / 2.0);
    const auto before = crossing(p, middle, -1, window);
    const auto after = crossing(p, middle, +1, window);
    out.start = (before ? *before + static_cast<double>(from) : s) + static_cast<double>(first);
    out.end = (after ? *after + static_cast<double>(from) : e) + static_cast<double>(first);
    out.measured = true;
    return out;
}

}  // namespace sigcore
