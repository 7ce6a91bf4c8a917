#include "sigcore/dsp/noise.hpp"

#include <gtest/gtest.h>

using sigcore::NoiseState;
using sigcore::noiseRandom;

TEST(NoiseRandom, FirstDrawsAndSeparateStates) {
    NoiseState a;
    NoiseState b;
    EXPECT_EQ(noiseRandom(a), 41);
    EXPECT_EQ(noiseRandom(a), 18467);
    // A second state starts again from 1, untouched by the first.
    EXPECT_EQ(noiseRandom(b), 41);
    EXPECT_EQ(noiseRandom(a), 6334);
    EXPECT_EQ(noiseRandom(a), 26500);
    for (int i = 0; i < 100000; ++i) {
        const int v = noiseRandom(a);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 32767);
    }
}
