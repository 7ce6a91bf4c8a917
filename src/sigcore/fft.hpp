// Radix-2 FFT over split real/imaginary arrays, with the helpers of the
// detectors' band-pass filter: Hann window, band clearing, spectrum mirroring.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace sigcore {

// 2 pi as the detectors use it throughout (not the full-precision value).
inline constexpr double kDetectorTwoPi = 6.28318530717958;

// Tables made once by initfft. The per-stage twiddle arrays and the window
// are copies (or exact functions) of the sine and cosine entries laid out in
// the order the transform reads them.
struct FftTables {
    int size = 0;                   // n given to initfft
    std::vector<double> sine;       // sin(i * 2pi / n)
    std::vector<double> cosine;     // cos(i * 2pi / n)
    std::vector<int> bitReverse;    // i with its log2(n) low bits reversed
    std::vector<double> window;     // 0.5 - 0.5 * cosine[i]
    std::vector<double> stageCos;   // cosine[(k * step) & (n - 1)], stage after stage
    std::vector<double> stageSin;   // sine[...] likewise
    std::vector<double> stageSinNeg;  // -sine[...]: the forward kernel's sign
    std::vector<std::size_t> swapPairs;  // (i, bitReverse[i]) for i < bitReverse[i], flattened
};

// n complex values as two parallel arrays.
struct ComplexSpan {
    std::span<double> re;
    std::span<double> im;
};

// Allocates and fills the tables for transforms of n points (n a power of two).
void initfft(FftTables& tables, int n);
void fftFree(FftTables& tables);

// In-place transform of n values. direction > 0: forward (kernel e^(-2 pi i kt/n)),
// otherwise inverse. Scaled by 1/n when direction is exactly 1 or -2. An n
// other than the initfft size prints the size message and exits with status 1.
void fft(const FftTables& tables, int direction, ComplexSpan data, int n);

// Shortcuts of fftStages that leave every value it computes as fft would.
struct FftShortcuts {
    bool realInput = false;   // the imaginary input is all 0 (its array need not be cleared)
    bool realOutput = false;  // only the real parts of the result are wanted (the imaginary ones are left stale)
    // The last stage is left to the caller: entries 2i and 2i + 1 then hold
    // the inputs of its butterfly, whose twiddle is (1, 0) (sum to entry 2i,
    // difference to entry 2i + 1). n a power of two >= 4.
    bool lastStageLeft = false;
    // With realOutput and n a power of two >= 8: the real parts go here in
    // natural order (entry bitReverse[i] receives what entry i would hold),
    // and the data arrays are left stale. n values.
    double* naturalOut = nullptr;
};

// The butterfly stages of fft alone: no reordering and no scaling. Entry i
// then holds bin bitReverse[i]. The band-pass filter reads its results
// through the bit-reversal table instead of moving them.
void fftStages(const FftTables& tables, int direction, ComplexSpan data, int n, FftShortcuts shortcuts);

// Multiplies re[i] by 0.5 - 0.5 * cosine[i] for i = 0..n-1 (n at most the table size).
void hannWindow(const FftTables& tables, std::span<double> re, int n);

// Clears entries 0..lowBin-1 and highBin+1..half-1 (both parts).
void bandLimit(ComplexSpan data, int half, int lowBin, int highBin);

// Entry n-i becomes the conjugate of entry i, i = 1..n/2-1 (nothing when n < 4).
void mirrorSpectrum(ComplexSpan data, int n);

}  // namespace sigcore
