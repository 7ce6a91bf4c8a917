#include "sigcore/dsp/fft.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "sigcore/dsp/alloc.hpp"
#include "sigcore/dsp/simd.hpp"

namespace sigcore {

namespace {

// Number of doublings of 1 needed to reach at least n; 0 when n <= 1.
int stageCount(int n) {
    int m = 0;
    for (long long reach = 1; reach < n; reach *= 2) ++m;
    return m;
}

// Butterflies k = 0..count-1 of one block: a = entry k, b = entry k + half.
// Always inlined, so that a count known when compiling gives fixed-width code.
[[gnu::always_inline]] inline void butterflies(double* __restrict re, double* __restrict im, int count, const double* __restrict wrs,
                 const double* __restrict wis, int half) {
    double* __restrict bRe = re + half;
    double* __restrict bIm = im + half;
    for (int k = 0; k < count; ++k) {
        const double wr = wrs[k];
        const double wi = wis[k];
        const double tRe = re[k] - bRe[k];
        const double tIm = im[k] - bIm[k];
        re[k] = re[k] + bRe[k];
        im[k] = im[k] + bIm[k];
        bRe[k] = tRe * wr - tIm * wi;
        bIm[k] = tRe * wi + tIm * wr;
    }
}

// The second of two paired stages on the first stage's results: the
// butterflies (s0, s1) and (u0, u1), both with the twiddle (wr, wi).
inline void secondStage(double& outRe, double& outIm, double& out1R, double& out1I, double& out2R, double& out2I,
                        double& out3R, double& out3I, double s0R, double s0I, double s1R, double s1I, double u0R,
                        double u0I, double u1R, double u1I, double wr, double wi) {
    const double v0R = s0R - s1R;
    const double v0I = s0I - s1I;
    outRe = s0R + s1R;
    outIm = s0I + s1I;
    out1R = v0R * wr - v0I * wi;
    out1I = v0R * wi + v0I * wr;
    const double v1R = u0R - u1R;
    const double v1I = u0I - u1I;
    out2R = u0R + u1R;
    out2I = u0I + u1I;
    out3R = v1R * wr - v1I * wi;
    out3I = v1R * wi + v1I * wr;
}

// Two consecutive stages on one block of 4q entries, values kept in registers
// between them: the first stage's butterflies (k, k + 2q) and (k + q, k + 3q)
// with its twiddles k and k + q, then the second's (k, k + q) and
// (k + 2q, k + 3q), both with its twiddle k. Each value is computed as the
// two stages compute it one after the other.
// The four quarters come as separate pointers: so the compiler sees that
// they do not overlap and vectorises the loop.
inline void butterflyPairs(double* __restrict re, double* __restrict im, double* __restrict r1, double* __restrict i1,
                           double* __restrict r2, double* __restrict i2, double* __restrict r3, double* __restrict i3,
                           int q, const double* __restrict w1r, const double* __restrict w1i,
                           const double* __restrict w2r, const double* __restrict w2i) {
    for (int k = 0; k < q; ++k) {
        // First stage.
        const double aR = re[k], aI = im[k], bR = r1[k], bI = i1[k];
        const double cR = r2[k], cI = i2[k], dR = r3[k], dI = i3[k];
        const double t0R = aR - cR;
        const double t0I = aI - cI;
        const double s0R = aR + cR;
        const double s0I = aI + cI;
        const double u0R = t0R * w1r[k] - t0I * w1i[k];
        const double u0I = t0R * w1i[k] + t0I * w1r[k];
        const double t1R = bR - dR;
        const double t1I = bI - dI;
        const double s1R = bR + dR;
        const double s1I = bI + dI;
        const double u1R = t1R * w1r[k + q] - t1I * w1i[k + q];
        const double u1I = t1R * w1i[k + q] + t1I * w1r[k + q];
        // Second stage: (s0, s1) and (u0, u1).
        secondStage(re[k], im[k], r1[k], i1[k], r2[k], i2[k], r3[k], i3[k], s0R, s0I, s1R, s1I, u0R, u0I, u1R, u1I,
                    w2r[k], w2i[k]);
    }
}

// butterflyPairs for a first stage whose imaginary inputs are all 0 (never
// read): its butterflies are those of realButterflies, and the imaginary
// parts of their sums are the 0 that realButterflies stores.
inline void realButterflyPairs(double* __restrict re, double* __restrict im, double* __restrict r1,
                               double* __restrict i1, double* __restrict r2, double* __restrict i2,
                               double* __restrict r3, double* __restrict i3, int q, const double* __restrict w1r,
                               const double* __restrict w1i, const double* __restrict w2r,
                               const double* __restrict w2i) {
    for (int k = 0; k < q; ++k) {
        // First stage.
        const double aR = re[k], bR = r1[k], cR = r2[k], dR = r3[k];
        const double t0R = aR - cR;
        const double s0R = aR + cR;
        const double s0I = 0.0;
        const double u0R = t0R * w1r[k];
        const double u0I = t0R * w1i[k];
        const double t1R = bR - dR;
        const double s1R = bR + dR;
        const double s1I = 0.0;
        const double u1R = t1R * w1r[k + q];
        const double u1I = t1R * w1i[k + q];
        // Second stage: (s0, s1) and (u0, u1).
        secondStage(re[k], im[k], r1[k], i1[k], r2[k], i2[k], r3[k], i3[k], s0R, s0I, s1R, s1I, u0R, u0I, u1R, u1I,
                    w2r[k], w2i[k]);
    }
}

// butterflies with a count known when compiling: a block of a late stage
// becomes straight-line vector code of the width that fits it.
template <int Half>
inline void fixedButterflies(double* __restrict re, double* __restrict im, const double* __restrict wrs,
                             const double* __restrict wis) {
    butterflies(re, im, Half, wrs, wis, Half);
}

// The butterflies of a first stage whose imaginary inputs are all 0: t.im is
// 0, so (t.re * wr - 0 * wi, t.re * wi + 0 * wr) is (t.re * wr, t.re * wi).
// The imaginary input is never read (it need not even be cleared).
inline void realButterflies(double* __restrict re, double* __restrict im, int half, const double* __restrict wrs,
                            const double* __restrict wis) {
    double* __restrict bRe = re + half;
    double* __restrict bIm = im + half;
    for (int k = 0; k < half; ++k) {
        const double tRe = re[k] - bRe[k];
        re[k] = re[k] + bRe[k];
        im[k] = 0.0;
        bRe[k] = tRe * wrs[k];
        bIm[k] = tRe * wis[k];
    }
}

// A butterfly whose twiddle is (1, 0).
inline void unitButterfly(double* re, double* im, int a, int b) {
    const double tRe = re[a] - re[b];
    const double tIm = im[a] - im[b];
    re[a] = re[a] + re[b];
    im[a] = im[a] + im[b];
    re[b] = tRe;
    im[b] = tIm;
}

// The message keeps the wording the programs have always printed.
[[noreturn]] void sizeMismatch() {
    std::fputs("The size is different from the size defined in initfft function\n", stdout);
    std::fflush(stdout);
    std::exit(1);
}

// The twiddles of the stages still to run, in the order they read them.
struct Twiddles {
    const double* cos;
    const double* sin;
    // Past the twiddles of `count` butterflies of a block.
    void advance(int count) {
        cos += count;
        sin += count;
    }
};

// The passes of fftStages: each runs one stage, or two with the values kept
// in registers between them, over every block of the arrays. Always inlined,
// so that each vector clone of fftStages holds its own copy.

// The first two stages in one pass, the first with an imaginary input of 0
// (never read). n = 2 * half, a power of two, half >= 8.
[[gnu::always_inline]] inline void realFirstTwoStages(double* __restrict re, double* __restrict im, int half,
                                                      Twiddles& tw) {
    const int q = half / 2;
    realButterflyPairs(re, im, re + q, im + q, re + 2 * q, im + 2 * q, re + 3 * q, im + 3 * q, q, tw.cos, tw.sin,
                       tw.cos + half, tw.sin + half);
    tw.advance(half + half / 2);
}

// Two wide stages (blocks of span = 2 * half entries, half >= 8) in one pass:
// half the passes over the arrays.
[[gnu::always_inline]] inline void twoStages(double* __restrict re, double* __restrict im, int n, int span, int half,
                                             Twiddles& tw) {
    if (half == 8) {
        // Blocks of 16 entries: quarters of 4, a width known when compiling.
        for (int h0 = 0; h0 < n; h0 += span) {
            butterflyPairs(re + h0, im + h0, re + h0 + 4, im + h0 + 4, re + h0 + 8, im + h0 + 8, re + h0 + 12,
                           im + h0 + 12, 4, tw.cos, tw.sin, tw.cos + half, tw.sin + half);
        }
    } else {
        for (int h0 = 0; h0 < n; h0 += span) {
            const int q = half / 2;
            butterflyPairs(re + h0, im + h0, re + h0 + q, im + h0 + q, re + h0 + 2 * q, im + h0 + 2 * q,
                           re + h0 + 3 * q, im + h0 + 3 * q, q, tw.cos, tw.sin, tw.cos + half, tw.sin + half);
        }
    }
    tw.advance(half + half / 2);
}

// One stage when n is not a power of two: partners beyond n are left out.
[[gnu::always_inline]] inline void partialStage(double* __restrict re, double* __restrict im, int n, int span,
                                                int half, const Twiddles& tw) {
    for (int h0 = 0; h0 < n; h0 += span) {
        const int kEnd = std::min(half, n - half - h0);
        if (kEnd > 0) butterflies(re + h0, im + h0, kEnd, tw.cos, tw.sin, half);
    }
}

// One stage of blocks of span = 2 * half entries, half >= 4.
[[gnu::always_inline]] inline void wideStage(double* __restrict re, double* __restrict im, int n, int span, int half,
                                             const Twiddles& tw) {
    if (half == 8) {
        for (int h0 = 0; h0 < n; h0 += span) fixedButterflies<8>(re + h0, im + h0, tw.cos, tw.sin);
    } else if (half == 4) {
        for (int h0 = 0; h0 < n; h0 += span) fixedButterflies<4>(re + h0, im + h0, tw.cos, tw.sin);
    } else {
        for (int h0 = 0; h0 < n; h0 += span) butterflies(re + h0, im + h0, half, tw.cos, tw.sin, half);
    }
}

// The last two stages at once (blocks of 4), real parts only: the last stage
// reads nothing else, and this one's imaginary outputs feed only it. With
// `natural`, entries h + 1, h + 2 and h + 3 (h a multiple of 4) are bins
// bitReverse[h] + n/2, + n/4 and + 3n/4, written there in natural order;
// otherwise they stay in place.
[[gnu::always_inline]] inline void lastTwoStagesRealParts(double* __restrict re, double* __restrict im, int n,
                                                          const Twiddles& tw, const int* reverse,
                                                          double* __restrict natural) {
    const double wr = tw.cos[1];
    const double wi = tw.sin[1];
    if (natural != nullptr) {
        const auto quarter = static_cast<std::size_t>(n / 4);
        for (int h = 0; h < n; h += 4) {
            const double a0 = re[h] + re[h + 2];
            const double a2 = re[h] - re[h + 2];
            const double tRe = re[h + 1] - re[h + 3];
            const double tIm = im[h + 1] - im[h + 3];
            const double a1 = re[h + 1] + re[h + 3];
            const double a3 = tRe * wr - tIm * wi;
            const auto b = static_cast<std::size_t>(reverse[h]);
            natural[b] = a0 + a1;
            natural[b + 2 * quarter] = a0 - a1;
            natural[b + quarter] = a2 + a3;
            natural[b + 3 * quarter] = a2 - a3;
        }
        return;
    }
    for (int h = 0; h < n; h += 4) {
        const double a0 = re[h] + re[h + 2];
        const double a2 = re[h] - re[h + 2];
        const double tRe = re[h + 1] - re[h + 3];
        const double tIm = im[h + 1] - im[h + 3];
        const double a1 = re[h + 1] + re[h + 3];
        const double a3 = tRe * wr - tIm * wi;
        re[h] = a0 + a1;
        re[h + 1] = a0 - a1;
        re[h + 2] = a2 + a3;
        re[h + 3] = a2 - a3;
    }
}

// The second-last stage (blocks of 4): the first butterfly of each block has
// the twiddle (1, 0).
[[gnu::always_inline]] inline void secondLastStage(double* __restrict re, double* __restrict im, int n,
                                                   const Twiddles& tw) {
    const double wr = tw.cos[1];
    const double wi = tw.sin[1];
    for (int h = 0; h < n; h += 4) {
        unitButterfly(re, im, h, h + 2);
        const double tRe = re[h + 1] - re[h + 3];
        const double tIm = im[h + 1] - im[h + 3];
        re[h + 1] = re[h + 1] + re[h + 3];
        im[h + 1] = im[h + 1] + im[h + 3];
        re[h + 3] = tRe * wr - tIm * wi;
        im[h + 3] = tRe * wi + tIm * wr;
    }
}

// The last stage (blocks of 2, twiddle (1, 0)); with realPartsOnly only the
// real parts are computed.
[[gnu::always_inline]] inline void lastStage(double* __restrict re, double* __restrict im, int n,
                                             bool realPartsOnly) {
    if (realPartsOnly) {
        for (int i = 0; i < n / 2; ++i) {
            const double a = re[2 * i];
            const double b = re[2 * i + 1];
            re[2 * i] = a + b;
            re[2 * i + 1] = a - b;
        }
    } else {
        for (int i = 0; i < n / 2; ++i) unitButterfly(re, im, 2 * i, 2 * i + 1);
    }
}

}  // namespace

FftTables::FftTables(int n) {
    const auto count = static_cast<std::size_t>(std::max(n, 0));
    sine = allocOrExit<double>(count);
    cosine = allocOrExit<double>(count);
    bitReverse = allocOrExit<int>(count);
    window = allocOrExit<double>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double angle = static_cast<double>(i) * kDetectorTwoPi / n;
        sine[i] = std::sin(angle);
        cosine[i] = std::cos(angle);
        window[i] = 0.5 - 0.5 * cosine[i];
    }

    // Incremental bit reversal: j follows i as a counter whose bits run backwards.
    int j = 0;
    for (int i = 1; i <= n - 2; ++i) {
        int b = n / 2;
        while (b <= j && b > 0) {
            j -= b;
            b /= 2;
        }
        j += b;
        bitReverse[static_cast<std::size_t>(i)] = j;
    }
    if (n >= 1) {
        bitReverse[0] = 0;
        bitReverse[count - 1] = n - 1;
    }
    swapPairs.clear();
    for (int i = 1; i <= n - 2; ++i) {
        const int r = bitReverse[static_cast<std::size_t>(i)];
        if (i < r && r < n) {
            swapPairs.push_back(static_cast<std::size_t>(i));
            swapPairs.push_back(static_cast<std::size_t>(r));
        }
    }

    // Twiddles in the order the stages read them: stage s has span/2 of them.
    const int m = stageCount(n);
    std::size_t total = 0;
    for (int s = 1; s <= m; ++s) total += std::size_t{1} << (m - s);
    stageCos = allocOrExit<double>(total);
    stageSin = allocOrExit<double>(total);
    stageSinNeg = allocOrExit<double>(total);
    std::size_t at = 0;
    for (int s = 1; s <= m; ++s) {
        const long long half = 1LL << (m - s);
        const long long step = 1LL << (s - 1);
        for (long long k = 0; k < half; ++k, ++at) {
            const auto index = static_cast<std::size_t>((k * step) & (n - 1));
            stageCos[at] = cosine[index];
            stageSin[at] = sine[index];
            stageSinNeg[at] = -sine[index];
        }
    }
    size = n;
}

SIGCORE_VECTOR_CLONES void fftStages(const FftTables& tables, FftDirection direction, ComplexSpan data, int n,
                                     FftShortcuts shortcuts) {
    if (n != tables.size || data.re.size() < static_cast<std::size_t>(std::max(n, 0)) ||
        data.im.size() < static_cast<std::size_t>(std::max(n, 0))) {
        sizeMismatch();
    }
    double* __restrict const re = data.re.data();
    double* __restrict const im = data.im.data();
    const int m = stageCount(n);
    Twiddles tw{tables.stageCos.data(),
                direction == FftDirection::Forward ? tables.stageSinNeg.data() : tables.stageSin.data()};
    const bool powerOfTwo = n > 0 && (n & (n - 1)) == 0;

    // Decimation in frequency. Within a stage the butterflies are independent,
    // so they run block by block, each computing exactly the values of the
    // textbook order. A twiddle of index 0 is (1, 0): multiplying by it
    // leaves every value as it is, so the last stage and the first butterfly
    // of the second-last one skip the multiplications.
    const int lastStageToRun = shortcuts.leaveLastStage && powerOfTwo && m >= 2 ? m - 1 : m;
    for (int s = 1; s <= lastStageToRun; ++s) {
        const int span = 1 << (m - s + 1);
        const int half = span / 2;
        const bool realFirst = s == 1 && shortcuts.skipImaginaryInput;
        if (powerOfTwo && half >= 8 && s + 1 <= lastStageToRun) {
            if (realFirst) {
                realFirstTwoStages(re, im, half, tw);
            } else {
                twoStages(re, im, n, span, half, tw);
            }
            ++s;
            continue;
        }
        if (!powerOfTwo) {
            partialStage(re, im, n, span, half, tw);
        } else if (realFirst && half >= 1) {
            realButterflies(re, im, half, tw.cos, tw.sin);
        } else if (half >= 4) {
            wideStage(re, im, n, span, half, tw);
        } else if (half == 2 && shortcuts.realPartsOnly && lastStageToRun == m) {
            lastTwoStagesRealParts(re, im, n, tw, tables.bitReverse.data(), shortcuts.realPartsInNaturalOrder);
            break;
        } else if (half == 2) {
            secondLastStage(re, im, n, tw);
        } else if (half == 1) {
            lastStage(re, im, n, shortcuts.realPartsOnly);
        }
        tw.advance(half);
    }
}

void fft(const FftTables& tables, FftDirection direction, FftScaling scaling, ComplexSpan data, int n) {
    fftStages(tables, direction, data, n, FftShortcuts{});
    double* const re = data.re.data();
    double* const im = data.im.data();
    for (std::size_t p = 0; p + 1 < tables.swapPairs.size(); p += 2) {
        const std::size_t i = tables.swapPairs[p];
        const std::size_t r = tables.swapPairs[p + 1];
        std::swap(re[i], re[r]);
        std::swap(im[i], im[r]);
    }
    if (scaling == FftScaling::DivideByN) {
        const double scale = 1.0 / n;
        for (int i = 0; i < n; ++i) {
            re[i] = re[i] * scale;
            im[i] = im[i] * scale;
        }
    }
}

SIGCORE_VECTOR_CLONES void hannWindow(const FftTables& tables, std::span<double> re, int n) {
    const std::size_t count = std::min({static_cast<std::size_t>(std::max(n, 0)), re.size(), tables.window.size()});
    for (std::size_t i = 0; i < count; ++i) re[i] = re[i] * tables.window[i];
}

void bandLimit(ComplexSpan data, int half, int lowBin, int highBin) {
    const auto size = static_cast<int>(std::min(data.re.size(), data.im.size()));
    const int end = std::min(half, size);
    for (int i = 0; i < std::min(lowBin, end); ++i) {
        data.re[static_cast<std::size_t>(i)] = 0.0;
        data.im[static_cast<std::size_t>(i)] = 0.0;
    }
    for (int i = std::max(highBin + 1, 0); i < end; ++i) {
        data.re[static_cast<std::size_t>(i)] = 0.0;
        data.im[static_cast<std::size_t>(i)] = 0.0;
    }
}

void mirrorSpectrum(ComplexSpan data, int n) {
    if (n < 4) return;
    const auto size = static_cast<int>(std::min(data.re.size(), data.im.size()));
    if (n > size) return;
    for (int i = 1; i <= n / 2 - 1; ++i) {
        const auto src = static_cast<std::size_t>(i);
        const auto dst = static_cast<std::size_t>(n - i);
        data.re[dst] = data.re[src];
        data.im[dst] = -data.im[src];
    }
}

}  // namespace sigcore
