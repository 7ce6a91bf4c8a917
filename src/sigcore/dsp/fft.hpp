// Radix-2 FFT over split real/imaginary arrays, with the helpers of the
// detectors' band-pass filter: Hann window, band clearing, spectrum mirroring.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace sigcore {

// 2 pi as the detectors use it throughout (not the full-precision value).
inline constexpr double kDetectorTwoPi = 6.28318530717958;

// Tables for transforms of one size, made by the constructor. The per-stage
// twiddle arrays and the window are copies (or exact functions) of the sine
// and cosine entries laid out in the order the transform reads them.
struct FftTables {
    // Allocates and fills the tables for transforms of n points (n a power
    // of two); exits with the allocation message when memory runs out.
    explicit FftTables(int n);

    int size = 0;                   // n given to the constructor
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

enum class FftDirection {
    Forward,  // kernel e^(-2 pi i kt/n)
    Inverse,  // kernel e^(+2 pi i kt/n)
};

enum class FftScaling {
    None,
    DivideByN,  // every result multiplied by 1/n
};

// In-place transform of n values, results in natural order. An n other than
// the tables' size prints the size message and exits with status 1.
void fft(const FftTables& tables, FftDirection direction, FftScaling scaling, ComplexSpan data, int n);

// Ways for fftStages to do less work; every value it still computes is the
// one fft would compute. All off unless named.
struct FftShortcuts {
    // The imaginary input is all 0: it is never read, so its array need not
    // be cleared.
    bool skipImaginaryInput = false;
    // Only the real parts of the result are wanted: the imaginary ones are
    // left stale.
    bool realPartsOnly = false;
    // The last stage is left to the caller: entries 2i and 2i + 1 then hold
    // the inputs of its butterfly, whose twiddle is (1, 0) (sum to entry 2i,
    // difference to entry 2i + 1). n a power of two >= 4.
    bool leaveLastStage = false;
    // With realPartsOnly and n a power of two >= 8: the real parts go here in
    // natural order (entry bitReverse[i] receives what entry i would hold),
    // and the data arrays are left stale. n values.
    double* realPartsInNaturalOrder = nullptr;
};

// The butterfly stages of fft alone: no reordering and no scaling. Entry i
// then holds bin bitReverse[i]. The band-pass filter reads its results
// through the bit-reversal table instead of moving them.
void fftStages(const FftTables& tables, FftDirection direction, ComplexSpan data, int n, FftShortcuts shortcuts);

// Multiplies re[i] by 0.5 - 0.5 * cosine[i] for i = 0..n-1 (n at most the table size).
void hannWindow(const FftTables& tables, std::span<double> re, int n);

// Clears entries 0..lowBin-1 and highBin+1..half-1 (both parts).
void bandLimit(ComplexSpan data, int half, int lowBin, int highBin);

// Entry n-i becomes the conjugate of entry i, i = 1..n/2-1 (nothing when n < 4).
void mirrorSpectrum(ComplexSpan data, int n);

}  // namespace sigcore
