#include "sigcore/dsp/correlator.hpp"

#include <algorithm>
#include <cmath>

#include "sigcore/dsp/alloc.hpp"
#include "sigcore/dsp/fft.hpp"
#include "sigcore/dsp/simd.hpp"

namespace sigcore {

ToneCorrelator::ToneCorrelator() : ToneCorrelator(std::span<const double>{}) {}

ToneCorrelator::ToneCorrelator(std::span<const double> values) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] != 0.0) last = i;
    }
    const std::size_t n = last + 1;
    coefficients = allocOrExit<double>(n);
    delay = allocOrExit<double>(2 * n);
    length = static_cast<int>(n);
    position = 0;
    for (std::size_t i = 0; i <= last && i < values.size(); ++i) coefficients[i] = values[i];
}

namespace {

// Outputs m0 .. m0 + Width - 1 of correlatorRun with the partial sums held in
// registers across the coefficients instead of in `out`.
template <std::size_t Width>
inline void correlatorTile(const double* __restrict coefficients, int length, const double* __restrict x,
                           double* __restrict out) {
    double sums[Width];
    for (std::size_t j = 0; j < Width; ++j) sums[j] = 0.0;
    for (int k = 0; k < length; ++k) {
        const double c = coefficients[k];
        const double* const past = x - k;
        for (std::size_t j = 0; j < Width; ++j) sums[j] += past[j] * c;
    }
    for (std::size_t j = 0; j < Width; ++j) out[j] = sums[j];
}

// One output of correlatorRun, formed on its own.
inline double correlatorAt(const double* __restrict coefficients, int length, const double* x) {
    double sum = 0.0;
    for (int k = 0; k < length; ++k) sum += x[-k] * coefficients[k];
    return sum;
}

}  // namespace

SIGCORE_VECTOR_CLONES void correlatorRun(const ToneCorrelator& correlator, const double* x, double* out, int count) {
    constexpr std::size_t kTile = 32;
    constexpr int kTileCount = static_cast<int>(kTile);
    const double* const c = correlator.coefficients.data();
    const int length = correlator.length;
    int m = 0;
    for (; m + kTileCount <= count; m += kTileCount) correlatorTile<kTile>(c, length, x + m, out + m);
    double* __restrict const sums = out;
    for (int j = m; j < count; ++j) sums[j] = 0.0;
    for (int k = 0; k < length; ++k) {
        const double ck = c[k];
        const double* __restrict const past = x - k;
        for (int j = m; j < count; ++j) sums[j] += past[j] * ck;
    }
}

SIGCORE_VECTOR_CLONES void toneEnergyRun(const ToneCorrelator& cosine, const ToneCorrelator& sine, const double* x,
                                         double* energy, int count) {
    constexpr std::size_t kTile = 32;
    constexpr int kTileCount = static_cast<int>(kTile);
    const double* const cosValues = cosine.coefficients.data();
    const double* const sinValues = sine.coefficients.data();
    int m = 0;
    for (; m + kTileCount <= count; m += kTileCount) {
        double c[kTile];
        double s[kTile];
        correlatorTile<kTile>(cosValues, cosine.length, x + m, c);
        correlatorTile<kTile>(sinValues, sine.length, x + m, s);
        double* __restrict const e = energy + m;
        for (std::size_t j = 0; j < kTile; ++j) e[j] = s[j] * s[j] + c[j] * c[j];
    }
    for (; m < count; ++m) {
        const double c = correlatorAt(cosValues, cosine.length, x + m);
        const double s = correlatorAt(sinValues, sine.length, x + m);
        energy[m] = s * s + c * c;
    }
}

int toneReferenceLength(int toneHz, int samplingRate, int baud) {
    if (toneHz <= 0 || baud <= 0) return 0;
    const int cycles = (2 * toneHz) / baud;
    const double length = (static_cast<double>(cycles) * samplingRate / toneHz + 1) * 0.5;
    return length > 0.0 && length < 2147483647.0 ? static_cast<int>(length) : 0;
}

void buildToneReferences(int toneHz, int samplingRate, int baud, ToneCorrelator& cosine, ToneCorrelator& sine) {
    const int length = toneReferenceLength(toneHz, samplingRate, baud);
    const auto count = static_cast<std::size_t>(length);
    std::vector<double> cosValues = allocOrExit<double>(count);
    std::vector<double> sinValues = allocOrExit<double>(count);
    const long double twoPi = kDetectorTwoPi;
    for (std::size_t i = 0; i < count; ++i) {
        const long double angle = static_cast<long double>(i) * toneHz * twoPi / samplingRate;
        cosValues[i] = static_cast<double>(std::cos(angle) / length);
        sinValues[i] = static_cast<double>(std::sin(angle) / length);
    }
    cosine = ToneCorrelator(cosValues);
    sine = ToneCorrelator(sinValues);
}

}  // namespace sigcore
