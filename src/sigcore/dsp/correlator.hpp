// Tone correlators: a cosine and a sine reference per tone, whose squared
// outputs add up to a phase-independent tone energy.
#pragma once

#include <span>
#include <vector>

namespace sigcore {

struct ToneCorrelator {
    // One zero coefficient: a correlator that always gives 0.
    ToneCorrelator();
    // The values up to the last non-zero one (at least one value), with a
    // zeroed delay line; exits with the allocation message when memory runs out.
    explicit ToneCorrelator(std::span<const double> values);

    std::vector<double> coefficients;  // `length` reference values
    // Past input samples, kept twice: slots i and i + length hold the same
    // sample, so the newest `length` samples always lie side by side from
    // `position` on and the sum needs no wrap-around.
    std::vector<double> delay;
    int length = 0;    // number of coefficients, at least 1
    int position = 0;  // slot that receives the next sample
};

// Sum of coefficient k times the sample of k steps ago, k = 0 upward; the
// sample just given is that of step 0, samples before the first call are 0.
inline double correlatorStep(ToneCorrelator& correlator, double sample) {
    const int pos = correlator.position;
    const int length = correlator.length;
    double* const line = correlator.delay.data();
    line[pos] = sample;
    line[pos + length] = sample;
    const double* const x = line + pos;
    const double* const c = correlator.coefficients.data();
    double sum = 0.0;
    for (int k = 0; k < length; ++k) sum += x[k] * c[k];
    correlator.position = pos == 0 ? length - 1 : pos - 1;
    return sum;
}

// The correlations of `count` consecutive samples at once: out[m] = sum of
// coefficient k times x[m - k], k = 0 upward, for m = 0..count-1, where x[-1],
// x[-2], ... are the earlier samples (length - 1 of them must precede x).
// Each sum is formed in the same order as by correlatorStep. The delay line
// is not used.
void correlatorRun(const ToneCorrelator& correlator, const double* x, double* out, int count);

// Tone energies of `count` consecutive samples: energy[m] = s * s + c * c
// with c and s the outputs m of correlatorRun for `cosine` and `sine`.
void toneEnergyRun(const ToneCorrelator& cosine, const ToneCorrelator& sine, const double* x, double* energy,
                   int count);

// Number of reference values for a tone: trunc((cycles * fs / f + 1) * 0.5)
// with cycles = (2 * f) div baud, the whole tone cycles in two bit times.
int toneReferenceLength(int toneHz, int samplingRate, int baud);

// Fills the cosine and sine references of a tone, each entry
// cos|sin(i * f * 2pi / fs) / L evaluated in extended precision and stored
// as a double, and replaces the two correlators by correlators of them.
void buildToneReferences(int toneHz, int samplingRate, int baud, ToneCorrelator& cosine, ToneCorrelator& sine);

}  // namespace sigcore
