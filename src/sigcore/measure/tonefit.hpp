// Least-squares sinusoid fits over stretches of a signal: one or two tones
// of given frequencies fitted with a free amplitude and phase on each
// stretch, and the frequency that explains most of the stretches' power.
#pragma once

#include <cstddef>
#include <span>

namespace sigcore {

// A stretch of samples [begin, end) of the analysed signal.
struct Stretch {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// What a fit explains, summed over the stretches.
struct FitSums {
    double explained[2] = {0, 0};  // sum over stretches of samples * amplitude^2 / 2, per tone
    double fitted = 0;             // power the fit removes (sum of squares)
    double residual = 0;           // sum of squares left
    std::size_t samples = 0;
    std::size_t stretches = 0;
};

// Fits `tones` (1 or 2) sinusoids of cycles-per-sample frequencies `freq`
// on every stretch, each stretch with its own amplitudes and phases.
FitSums fitTones(std::span<const float> x, std::span<const Stretch> stretches, const double* freq, int tones);

// The frequency of tone `which` (others held at their `freq`) that the fit
// explains most power with, searched within freq[which] +- span (cycles per
// sample) on a grid fine enough for the longest stretch and then refined.
double bestFrequency(std::span<const float> x, std::span<const Stretch> stretches, double* freq, int tones,
                     int which, double span);

// The tones fitted on one stretch, as a model of the signal that can be
// carried on beyond it.
struct ToneModel {
    std::size_t origin = 0;  // the stretch's first sample: the phases' origin
    int tones = 1;
    double freq[2] = {0, 0};
    double coefficients[4] = {0, 0, 0, 0};  // cos and sin amplitude of each tone
    [[nodiscard]] double at(std::size_t i) const;
};
ToneModel fitModel(std::span<const float> x, Stretch stretch, const double* freq, int tones);

// Mean amplitude of tone `which`: sqrt(2 * explained / samples).
double meanAmplitude(const FitSums& sums, int which);

// The step between the values the samples take: the largest power of two
// (up to 2^15) that divides every sample, so 256 for 8-bit audio and 1 for
// 16-bit audio; 1 when a sample is no whole number.
double sampleStep(std::span<const float> x);

// Rounding to a coarse step changes a sine's fundamental: a sine of
// amplitude a, with Gaussian noise of deviation `sigma` added, rounded to
// multiples of `step`, has a fundamental of this amplitude.
double roundedAmplitude(double a, double step, double sigma);
// The amplitude a whose rounded fundamental is `fitted`: what a tone was
// before a coarse quantisation without dither.
double unroundedAmplitude(double fitted, double step, double sigma);

}  // namespace sigcore
