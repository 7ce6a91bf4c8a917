// Floating-point samples to 16 bits: full scale, rounding, clipping, NaN.
#include <gtest/gtest.h>

#include <limits>

#include "cidscan/input.hpp"

TEST(CidscanInput, FloatSamplesKeepTheirLevel) {
    using cidscan::fullScaleToPcm16;
    EXPECT_EQ(fullScaleToPcm16(0.0f), 0);
    EXPECT_EQ(fullScaleToPcm16(0.5f), 16384);
    EXPECT_EQ(fullScaleToPcm16(-0.5f), -16384);
    EXPECT_EQ(fullScaleToPcm16(0.1f), 3277);  // a quiet file stays quiet
    EXPECT_EQ(fullScaleToPcm16(1000.0f / 32768.0f), 1000);
    EXPECT_EQ(fullScaleToPcm16(-1.0f), -32768);
    EXPECT_EQ(fullScaleToPcm16(1.0f), 32767);
    EXPECT_EQ(fullScaleToPcm16(3.0f), 32767);
    EXPECT_EQ(fullScaleToPcm16(-3.0f), -32768);
    EXPECT_EQ(fullScaleToPcm16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(fullScaleToPcm16(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(fullScaleToPcm16(std::numeric_limits<float>::quiet_NaN()), 0);
    // Every 16-bit value survives the trip through float.
    for (int v = -32768; v <= 32767; v += 97) EXPECT_EQ(fullScaleToPcm16(static_cast<float>(v) / 32768.0f), v);
}
