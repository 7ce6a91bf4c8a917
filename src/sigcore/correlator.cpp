#include "sigcore/correlator.hpp"

#include <algorithm>
#include <cmath>

#include "sigcore/alloc.hpp"
#include "sigcore/fft.hpp"
#include "sigcore/simd.hpp"

namespace sigcore {

void correlatorInit(ToneCorrelator& correlator, int length) {
    const int n = std::max(length, 1);
    correlator.coefficients = allocOrExit<double>(static_cast<std::size_t>(n));
    correlator.delay = allocOrExit<double>(2 * static_cast<std::size_t>(n));
    correlator.length = n;
    correlator.position = 0;
}

void correlatorBuild(ToneCorrelator& correlator, std::span<const double> values) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] != 0.0) last = i;
    }
    correlatorInit(correlator, static_cast<int>(last + 1));
    for (std::size_t i = 0; i <= last && i < values.size(); ++i) correlator.coefficients[i] = values[i];
}

void correlatorFree(ToneCorrelator& correlator) { correlator = ToneCorrelator{}; }

SIGCORE_VECTOR_CLONES void correlatorRun(const ToneCorrelator& correlator, const double* x, double* out, int count) {
    double* __restrict const sums = out;
    for (int m = 0; m < count; ++m) sums[m] = 0.0;
    for (int k = 0; k < correlator.length; ++k) {
        const double c = correlator.coefficients[static_cast<std::size_t>(k)];
        const double* __restrict const past = x - k;
        for (int m = 0; m < count; ++m) sums[m] += past[m] * c;
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
    correlatorBuild(cosine, cosValues);
    correlatorBuild(sine, sinValues);
}

}  // namespace sigcore
