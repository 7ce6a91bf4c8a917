#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sigcore/dsp/correlator.hpp"

namespace {

using sigcore::ToneCorrelator;

TEST(Correlator, ImpulseGivesTheCoefficients) {
    const std::vector<double> coefficients{1, 2, 3};
    ToneCorrelator c(coefficients);
    ASSERT_EQ(c.length, 3);
    std::vector<double> out;
    for (const double x : {1.0, 0.0, 0.0, 0.0}) out.push_back(sigcore::correlatorStep(c, x));
    EXPECT_EQ(out, (std::vector<double>{1, 2, 3, 0}));
}

TEST(Correlator, TrailingZerosAreDropped) {
    ToneCorrelator c(std::vector<double>{0.5, 0.25, 0.0, 0.0});
    EXPECT_EQ(c.length, 2);
    c = ToneCorrelator(std::vector<double>{0.0, 0.0, 0.0});
    EXPECT_EQ(c.length, 1);
    EXPECT_EQ(c.coefficients[0], 0.0);
    c = ToneCorrelator(std::vector<double>{});
    EXPECT_EQ(c.length, 1);
    EXPECT_EQ(ToneCorrelator().length, 1);
}

TEST(Correlator, ReferenceLengthsPerRate) {
    struct Row {
        int rate, mark, space;
    };
    for (const Row& r : {Row{8000, 7, 5}, Row{11025, 9, 8}, Row{16000, 13, 11}, Row{22050, 18, 15},
                         Row{44100, 37, 30}, Row{48000, 40, 33}, Row{96000, 80, 65}}) {
        EXPECT_EQ(sigcore::toneReferenceLength(1200, r.rate, 1200), r.mark) << r.rate;
        EXPECT_EQ(sigcore::toneReferenceLength(2200, r.rate, 1200), r.space) << r.rate;
    }
}

TEST(Correlator, FirstCoefficientsAt8000) {
    ToneCorrelator markCos, markSin, spaceCos, spaceSin;
    sigcore::buildToneReferences(1200, 8000, 1200, markCos, markSin);
    sigcore::buildToneReferences(2200, 8000, 1200, spaceCos, spaceSin);
    EXPECT_EQ(markCos.length, 7);
    EXPECT_EQ(spaceCos.length, 5);
    EXPECT_EQ(markCos.coefficients[0], 1.0 / 7);
    EXPECT_EQ(spaceCos.coefficients[0], 1.0 / 5);
    EXPECT_EQ(markSin.coefficients[0], 0.0);
    EXPECT_EQ(spaceSin.coefficients[0], 0.0);
    // Entry i = cos(i * f * 2pi / fs) / L, taken in extended precision.
    const long double angle = 3.0L * 1200 * static_cast<long double>(6.28318530717958) / 8000;
    EXPECT_EQ(markCos.coefficients[3], static_cast<double>(std::cos(angle) / 7));
    EXPECT_NEAR(markSin.coefficients[1], std::sin(2 * M_PI * 1200 / 8000) / 7, 1e-12);
}

TEST(Correlator, RunMatchesStepByStep) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    ToneCorrelator stepwise, batch;
    sigcore::buildToneReferences(1200, 44100, 1200, stepwise, batch);
    batch = stepwise;
    const int lead = stepwise.length - 1;
    std::vector<double> inputs(static_cast<std::size_t>(lead) + 700, 0.0);
    for (std::size_t i = static_cast<std::size_t>(lead); i < inputs.size(); ++i) inputs[i] = dist(rng);
    std::vector<double> out(700);
    sigcore::correlatorRun(batch, inputs.data() + lead, out.data(), 700);
    for (std::size_t m = 0; m < 700; ++m) {
        ASSERT_EQ(sigcore::correlatorStep(stepwise, inputs[static_cast<std::size_t>(lead) + m]), out[m]) << m;
    }
}

TEST(Correlator, SteadyToneEnergyIsQuarterAmplitudeSquared) {
    ToneCorrelator c, s;
    sigcore::buildToneReferences(1200, 8000, 1200, c, s);
    double energy = 0;
    for (int i = 0; i < 200; ++i) {
        const double x = 1000 * std::sin(2 * M_PI * 1200 * i / 8000 + 0.3);
        const double a = sigcore::correlatorStep(c, x);
        const double b = sigcore::correlatorStep(s, x);
        energy = b * b + a * a;
    }
    EXPECT_NEAR(energy, 500.0 * 500.0, 500.0 * 500.0 * 0.1);
}

}  // namespace
