// The level trace: a tone's level where it is, its absence where it is not,
// the points placed where their windows are centred, and nothing made of
// too few samples.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "sigcore/measure/leveltrace.hpp"

namespace {

constexpr int kRate = 8000;

void appendSine(std::vector<float>& x, double hz, double dbfs, int samples) {
    const double amplitude = 32768.0 * std::pow(10.0, dbfs / 20.0);
    const std::size_t start = x.size();
    for (int i = 0; i < samples; ++i) {
        x.push_back(static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * (double(start) + i) / kRate)));
    }
}

TEST(LevelTrace, FollowsEachToneAndTheSwitchBetweenThem) {
    std::vector<float> x;
    appendSine(x, 1200, -20, 4000);  // 0.5 s of mark, then 0.5 s of space
    appendSine(x, 2200, -26, 4000);
    const std::array<double, 2> tones{1200, 2200};
    const sigcore::LevelTrace t = sigcore::traceLevels(x, 1000, kRate, tones, 0.005);
    ASSERT_EQ(t.dbfs.size(), 2U);
    EXPECT_DOUBLE_EQ(t.step, 40.0);
    EXPECT_DOUBLE_EQ(t.firstCentre, 1040.0);  // first window: samples 1000..1079
    EXPECT_EQ(t.points(), (8000U - 80U) / 40U + 1U);
    for (std::size_t k = 0; k < t.points(); ++k) {
        const double centre = t.firstCentre + t.step * double(k) - 1000;
        if (centre < 3900) {
            EXPECT_NEAR(t.dbfs[0][k], -20.0, 0.3) << k;
            EXPECT_LT(t.dbfs[1][k], -50.0) << k;
        } else if (centre > 4100) {
            EXPECT_NEAR(t.dbfs[1][k], -26.0, 0.3) << k;
            EXPECT_LT(t.dbfs[0][k], -50.0) << k;
        }
    }
}

TEST(LevelTrace, WholeBandSilenceAndTooFewSamples) {
    std::vector<float> x(400, 0.0F);
    appendSine(x, 941, -10, 800);
    const std::array<double, 2> tones{0, 5000};  // 5000 Hz is past half the rate: the whole band too
    const sigcore::LevelTrace t = sigcore::traceLevels(x, 0, kRate, tones, 0.005);
    ASSERT_GT(t.points(), 20U);
    EXPECT_FLOAT_EQ(t.dbfs[0][0], sigcore::kTraceFloorDbfs);
    EXPECT_NEAR(t.dbfs[0][t.points() - 1], -10.0, 0.1);
    EXPECT_EQ(t.dbfs[1], t.dbfs[0]);

    const std::vector<float> shortStretch(79, 1000.0F);
    EXPECT_EQ(sigcore::traceLevels(shortStretch, 0, kRate, tones, 0.005).points(), 0U);
    EXPECT_EQ(sigcore::traceLevels({}, 0, kRate, tones, 0.005).points(), 0U);
}

}  // namespace
