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
constexpr double kSearchHz = 60.0;
// The found edges are good to a sample or two; a ramp may be longer.
constexpr double kKeepClearSeconds = 0.002;

double dbfs(double amplitude) { return 20.0 * std::log10(std::max(amplitude, 1e-9) / kFullScale); }

// Where the tone pair begins (direction -1) or ends (+1): searched from the
// fitted stretch's edge `from` outwards up to `limit`, the sample that
// splits the samples between the fitted tones and silence with the least
// squared error. A ramped tone splits where it is at about half amplitude.
std::size_t edgeOf(std::span<const float> x, const ToneModel& model, std::size_t from, std::size_t limit, int step) {
    // cost(edge) = sum of x^2 on the silent side + sum of (x - model)^2 on
    // the tone's side; walking outwards moves one sample from side to side.
    double cost = 0;
    double best = 0;
    std::size_t bestAt = from;
    std::size_t i = from;
    while (i != limit) {
        const std::size_t sample = step > 0 ? i : i - 1;
        const double v = x[sample];
        const double r = v - model.at(sample);
        cost += r * r - v * v;  // the sample joins the tone's side
        i = step > 0 ? i + 1 : i - 1;
        if (cost < best) {
            best = cost;
            bestAt = i;
        }
    }
    return bestAt;
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
    double nominal[2];
    if (!dtmfNominal(digit, nominal[0], nominal[1])) return {};
    return measureTonePair(x, first, rate, nominal, start, end, {kTrimSeconds, kSearchHz, kDigitMarginSeconds});
}

DigitMeasurement measureTonePair(std::span<const float> x, std::int64_t first, int rate, const double nominal[2],
                                 std::int64_t start, std::int64_t end, const TonePairSearch& search) {
    DigitMeasurement out;
    const double s = static_cast<double>(start - first);
    const double e = static_cast<double>(end - first);
    const double trim = search.trimSeconds * rate;
    if (s < 0 || e > static_cast<double>(x.size()) || e - s < 2 * trim + 16) return out;
    Stretch inside{static_cast<std::size_t>(s + trim), static_cast<std::size_t>(e - trim)};
    double freq[2] = {nominal[0] / rate, nominal[1] / rate};
    const double margin = search.marginSeconds * rate;
    const auto from = static_cast<std::size_t>(std::max(0.0, s - margin));
    const auto to = static_cast<std::size_t>(std::min(static_cast<double>(x.size()), e + margin));
    // Inside the receiver's edges first; then again inside the edges that
    // fit found, which hold more of the digit.
    std::size_t toneStart = inside.begin;
    std::size_t toneEnd = inside.end;
    for (int pass = 0; pass < 2; ++pass) {
        const std::span<const Stretch> one(&inside, 1);
        for (int k = 0; k < 2; ++k) {
            bestFrequency(x, one, freq, 2, 0, search.spanHz / rate);
            bestFrequency(x, one, freq, 2, 1, search.spanHz / rate);
        }
        // The edges, from the tones carried on from the inside outwards.
        const ToneModel model = fitModel(x, inside, freq, 2);
        toneStart = edgeOf(x, model, inside.begin, from, -1);
        toneEnd = edgeOf(x, model, inside.end, to, +1);
        const auto keep = static_cast<std::size_t>(kKeepClearSeconds * rate);
        if (toneEnd <= toneStart + 2 * keep + 16) break;
        inside = {toneStart + keep, toneEnd - keep};
    }
    const FitSums fit = fitTones(x, std::span<const Stretch>(&inside, 1), freq, 2);
    const double amplitude[2] = {meanAmplitude(fit, 0), meanAmplitude(fit, 1)};
    out.lowHz = freq[0] * rate;
    out.highHz = freq[1] * rate;
    out.lowDbfs = dbfs(amplitude[0]);
    out.highDbfs = dbfs(amplitude[1]);
    out.twistDb = out.highDbfs - out.lowDbfs;
    out.start = static_cast<double>(toneStart) + static_cast<double>(first);
    out.end = static_cast<double>(toneEnd) + static_cast<double>(first);
    out.measured = true;
    return out;
}

}  // namespace sigcore
