#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include <unistd.h>

#include "sigcore/dsp/fft.hpp"

namespace {

using sigcore::ComplexSpan;
using sigcore::FftDirection;
using sigcore::FftScaling;
using sigcore::FftShortcuts;
using sigcore::FftTables;

struct Work {
    std::vector<double> re;
    std::vector<double> im;
    explicit Work(int n) : re(static_cast<std::size_t>(n)), im(static_cast<std::size_t>(n)) {}
    ComplexSpan span() { return ComplexSpan{re, im}; }
};

// The transform written the plain way: complex pairs, stage by stage with the
// twiddle loop outside and the block loop inside, then the reordering and the
// scaling. The optimised one must give the very same bits.
void textbookFft(const FftTables& t, FftDirection direction, FftScaling scaling, std::vector<std::complex<double>>& data,
                 int n) {
    int m = 0;
    while ((1 << m) < n) ++m;
    for (int s = 1; s <= m; ++s) {
        const int span = 1 << (m - s + 1);
        const int half = span / 2;
        const int step = 1 << (s - 1);
        for (int k = 0; k < half; ++k) {
            const auto index = static_cast<std::size_t>((k * step) & (n - 1));
            const double wr = t.cosine[index];
            const double wi = direction == FftDirection::Forward ? -t.sine[index] : t.sine[index];
            for (int h = k; h < n; h += span) {
                const auto a = data[static_cast<std::size_t>(h)];
                const auto b = data[static_cast<std::size_t>(h + half)];
                const double tRe = a.real() - b.real();
                const double tIm = a.imag() - b.imag();
                data[static_cast<std::size_t>(h)] = {a.real() + b.real(), a.imag() + b.imag()};
                data[static_cast<std::size_t>(h + half)] = {tRe * wr - tIm * wi, tRe * wi + tIm * wr};
            }
        }
    }
    for (int i = 1; i <= n - 2; ++i) {
        const int r = t.bitReverse[static_cast<std::size_t>(i)];
        if (i < r) std::swap(data[static_cast<std::size_t>(i)], data[static_cast<std::size_t>(r)]);
    }
    if (scaling == FftScaling::DivideByN) {
        const double scale = 1.0 / n;
        for (auto& v : data) v = {v.real() * scale, v.imag() * scale};
    }
}

TEST(Fft, BitReversalTableForEightPoints) {
    const FftTables t(8);
    EXPECT_EQ(t.bitReverse, (std::vector<int>{0, 4, 2, 6, 1, 5, 3, 7}));
    EXPECT_EQ(t.size, 8);
    EXPECT_DOUBLE_EQ(t.cosine[0], 1.0);
    EXPECT_DOUBLE_EQ(t.sine[2], std::sin(2 * 6.28318530717958 / 8));
}

TEST(Fft, ImpulseAndConstant) {
    const FftTables t(8);
    Work w(8);
    w.re[0] = 1.0;
    sigcore::fft(t, FftDirection::Forward, FftScaling::DivideByN, w.span(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(w.re[static_cast<std::size_t>(i)], 0.125) << i;
        EXPECT_EQ(w.im[static_cast<std::size_t>(i)], 0.0) << i;
    }
    Work u(8);
    u.re[0] = 1.0;
    sigcore::fft(t, FftDirection::Forward, FftScaling::None, u.span(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(u.re[static_cast<std::size_t>(i)], 1.0) << i;

    Work c(8);
    for (auto& v : c.re) v = 3.0;
    sigcore::fft(t, FftDirection::Inverse, FftScaling::None, c.span(), 8);
    EXPECT_NEAR(c.re[0], 24.0, 1e-12);
    for (int i = 1; i < 8; ++i) EXPECT_NEAR(std::hypot(c.re[static_cast<std::size_t>(i)], c.im[static_cast<std::size_t>(i)]), 0.0, 1e-12);
}

TEST(Fft, ExponentialLandsInBinOne) {
    const FftTables t(8);
    Work w(8);
    for (int i = 0; i < 8; ++i) {
        w.re[static_cast<std::size_t>(i)] = std::cos(2 * M_PI * i / 8);
        w.im[static_cast<std::size_t>(i)] = std::sin(2 * M_PI * i / 8);
    }
    sigcore::fft(t, FftDirection::Forward, FftScaling::DivideByN, w.span(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(w.re[static_cast<std::size_t>(i)], i == 1 ? 1.0 : 0.0, 1e-12) << i;
        EXPECT_NEAR(w.im[static_cast<std::size_t>(i)], 0.0, 1e-12) << i;
    }
}

TEST(Fft, SameBitsAsTheTextbookOrder) {
    const FftTables t(1024);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-32768.0, 32767.0);
    struct Pass {
        FftDirection direction;
        FftScaling scaling;
        bool realInput;
    };
    int pass = 0;
    for (const Pass p : {Pass{FftDirection::Forward, FftScaling::DivideByN, true},
                         Pass{FftDirection::Inverse, FftScaling::None, false},
                         Pass{FftDirection::Forward, FftScaling::None, false},
                         Pass{FftDirection::Inverse, FftScaling::DivideByN, false}}) {
        Work w(1024);
        std::vector<std::complex<double>> ref(1024);
        for (std::size_t i = 0; i < 1024; ++i) {
            w.re[i] = dist(rng);
            w.im[i] = p.realInput ? 0.0 : dist(rng);
            ref[i] = {w.re[i], w.im[i]};
        }
        sigcore::fft(t, p.direction, p.scaling, w.span(), 1024);
        textbookFft(t, p.direction, p.scaling, ref, 1024);
        for (std::size_t i = 0; i < 1024; ++i) {
            ASSERT_EQ(w.re[i], ref[i].real()) << "pass " << pass << " bin " << i;
            ASSERT_EQ(w.im[i], ref[i].imag()) << "pass " << pass << " bin " << i;
        }
        ++pass;
    }
}

TEST(Fft, ShortcutsKeepTheValues) {
    const FftTables t(1024);
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    Work full(1024);
    Work quick(1024);
    for (std::size_t i = 0; i < 1024; ++i) {
        full.re[i] = quick.re[i] = dist(rng);
        quick.im[i] = 12345.0;  // stale: a real input ignores it
    }
    sigcore::fftStages(t, FftDirection::Forward, full.span(), 1024, FftShortcuts{});
    sigcore::fftStages(t, FftDirection::Forward, quick.span(), 1024, FftShortcuts{.skipImaginaryInput = true});
    for (std::size_t i = 0; i < 1024; ++i) {
        ASSERT_EQ(quick.re[i], full.re[i]) << i;
        ASSERT_EQ(quick.im[i], full.im[i]) << i;
    }
    Work realOut = full;
    sigcore::fftStages(t, FftDirection::Inverse, full.span(), 1024, FftShortcuts{});
    sigcore::fftStages(t, FftDirection::Inverse, realOut.span(), 1024, FftShortcuts{.realPartsOnly = true});
    for (std::size_t i = 0; i < 1024; ++i) ASSERT_EQ(realOut.re[i], full.re[i]) << i;
}

TEST(FftDeathTest, SizeOtherThanTheTablesExits) {
    const FftTables t(8);
    Work w(16);
    // The message goes to standard output; the child sends that to standard
    // error, where the death test looks.
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            dup2(2, 1);
            sigcore::fft(t, FftDirection::Forward, FftScaling::DivideByN, w.span(), 16);
        },
        testing::ExitedWithCode(1), "The size is different from the size defined in initfft function");
}

TEST(Fft, WindowBandLimitAndMirror) {
    const FftTables t(8);
    std::vector<double> re(8, 2.0);
    sigcore::hannWindow(t, re, 8);
    EXPECT_EQ(re[0], 0.0);
    EXPECT_EQ(re[4], 2.0 * (0.5 - 0.5 * t.cosine[4]));

    Work w(8);
    for (std::size_t i = 0; i < 8; ++i) {
        w.re[i] = static_cast<double>(i) + 1;
        w.im[i] = static_cast<double>(i) + 10;
    }
    sigcore::bandLimit(w.span(), 4, 1, 2);  // clears 0 and 3
    EXPECT_EQ(w.re[0], 0.0);
    EXPECT_EQ(w.re[1], 2.0);
    EXPECT_EQ(w.re[2], 3.0);
    EXPECT_EQ(w.im[3], 0.0);
    EXPECT_EQ(w.re[4], 5.0);  // beyond half: untouched
    sigcore::mirrorSpectrum(w.span(), 8);
    EXPECT_EQ(w.re[7], w.re[1]);
    EXPECT_EQ(w.im[7], -w.im[1]);
    EXPECT_EQ(w.re[6], 3.0);
    EXPECT_EQ(w.im[6], -12.0);
    EXPECT_EQ(w.re[4], 5.0);  // half the rate stays
}

}  // namespace
