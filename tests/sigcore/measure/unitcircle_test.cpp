// The table-and-series phasor against the library's sine and cosine: whole,
// half and quarter turns exactly where the grid holds them, every point
// between grid points (either side of one, negative turns, many turns) to
// within a few units in the last place, and turns beyond the grid's reach.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "sigcore/measure/unitcircle.hpp"

namespace {

TEST(UnitCircle, GridPointsAndEveryPhaseBetween) {
    const sigcore::UnitCircle circle;
    EXPECT_EQ(circle.at(0.0), std::complex<double>(1.0, 0.0));
    EXPECT_EQ(circle.at(3.0), std::complex<double>(1.0, 0.0));
    EXPECT_NEAR(circle.at(0.5).real(), -1.0, 1e-16);
    EXPECT_NEAR(circle.at(-0.25).imag(), -1.0, 1e-16);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> fraction(-1.0, 1.0);
    double worst = 0;
    for (int i = 0; i < 200000; ++i) {
        // Turns spread over many periods, on both sides of zero, and points
        // half a grid step from a grid point, where the series reaches furthest.
        const double scale = i % 3 == 0 ? 1.0 : (i % 3 == 1 ? 300.0 : 1e4);
        double turns = fraction(random) * scale;
        if (i % 5 == 0) turns = (std::round(turns * 1024) + 0.5) / 1024;
        const double phase = 2.0 * std::numbers::pi * turns;
        const std::complex<double> got = circle.at(turns);
        // The library's phase is rounded to 2 pi times the turns' own
        // rounding: the two agree to that, as far out as the turns reach.
        const double allowed = 1e-15 + std::abs(phase) * 2.3e-16;
        const double error = std::abs(got - std::polar(1.0, phase));
        worst = std::max(worst, error / allowed);
        ASSERT_LE(error, allowed) << turns;
        ASSERT_NEAR(std::abs(got), 1.0, 1e-15) << turns;
    }
    RecordProperty("worst_share_of_allowed", std::to_string(worst));
    // Far out, and what is no number, as the library has them.
    EXPECT_EQ(circle.at(0x1p45), std::polar(1.0, 2.0 * std::numbers::pi * 0x1p45));
    EXPECT_TRUE(std::isnan(circle.at(std::nan("")).real()));
    EXPECT_TRUE(std::isnan(circle.at(INFINITY).imag()));
}

}  // namespace
