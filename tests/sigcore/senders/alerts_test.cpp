// Ringing, dual-tone alerts and the line-reversal step: the same samples
// whatever the block size the player asks for, each tone at its frequency
// and peak, the step decaying with its time constant.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "sigcore/senders/segments.hpp"

namespace sigcore {
namespace {

std::vector<double> playAll(std::vector<Segment> list, std::size_t block) {
    SegmentPlayer player(std::move(list));
    std::vector<double> out;
    std::vector<double> buffer(block);
    while (const std::size_t n = player.write(buffer)) out.insert(out.end(), buffer.begin(), buffer.begin() + long(n));
    return out;
}

TEST(AlertSegments, TonesAndStepAreTheSameInAnyBlockSizeAndAsAsked) {
    const int rate = 8000;
    const auto list = [&] {
        return std::vector<Segment>{LineStep{0.5, 10.0, 800, rate}, Tones{2130.0, 0.1, 2750.0, 0.2, 800, rate},
                                    Silence{80}, Tones{25.0, 0.7, 0.0, 0.0, 8000, rate}};
    };
    const auto whole = playAll(list(), 100000);
    ASSERT_EQ(whole.size(), 800u + 800u + 80u + 8000u);
    for (const std::size_t block : {1u, 7u, 333u}) EXPECT_EQ(playAll(list(), block), whole) << block;

    // The step: its peak at once, 1/e of it after the time constant.
    EXPECT_DOUBLE_EQ(whole[0], 0.5);
    EXPECT_NEAR(whole[80], 0.5 / std::numbers::e, 1e-12);
    // Each alert tone's amplitude by correlation over the 100 ms: a whole
    // number of cycles of both, so the correlation separates them exactly.
    for (const auto& [hz, peak] : {std::pair{2130.0, 0.1}, std::pair{2750.0, 0.2}}) {
        double re = 0.0;
        double im = 0.0;
        for (std::size_t k = 0; k < 800; ++k) {
            const double w = 2.0 * std::numbers::pi * hz * double(k) / rate;
            re += whole[800 + k] * std::cos(w);
            im += whole[800 + k] * std::sin(w);
        }
        EXPECT_NEAR(2.0 * std::hypot(re, im) / 800.0, peak, 1e-9) << hz;
    }
    // The ring: a sine from phase 0, its peak a quarter period in.
    const std::size_t ring = 1680;
    EXPECT_EQ(whole[ring], 0.0);
    EXPECT_NEAR(whole[ring + 80], 0.7, 1e-12);  // 25 Hz: 320 samples a period
    EXPECT_NEAR(whole[ring + 7999], 0.7 * std::sin(2.0 * std::numbers::pi * 25.0 * 7999 / rate), 1e-12);
}

}  // namespace
}  // namespace sigcore
