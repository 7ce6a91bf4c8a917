// The check of a measurement against a limit table: bounds are inclusive,
// a value just past either one fails that item only, and a measurement that
// is missing or of the wrong kind never passes.
#include <gtest/gtest.h>

#include "sigcore/measure/limits.hpp"

namespace {

sigcore::FskMeasurement nominalBell202() {
    sigcore::FskMeasurement m;
    m.measured = true;
    m.markHz = 1200;
    m.spaceHz = 2200;
    m.bitRate = 1200;
    return m;
}

TEST(Limits, EveryStandardNameRoundTripsAndTablesCiteASource) {
    for (const char* name : {"gr30", "etsi", "bt", "ntt", "dtmf"}) {
        const auto s = sigcore::parseCheckStandard(name);
        ASSERT_TRUE(s);
        EXPECT_EQ(sigcore::checkStandardName(*s), name);
        for (const sigcore::Limit& limit : sigcore::limitsOf(*s)) {
            EXPECT_EQ(limit.standard, *s);
            EXPECT_FALSE(limit.source.empty());
            EXPECT_TRUE(limit.min || limit.max);
        }
    }
    EXPECT_FALSE(sigcore::parseCheckStandard("GR30"));
}

TEST(Limits, FskItemsFailJustPastEitherBound) {
    const auto gr30 = sigcore::CheckStandard::Gr30;
    EXPECT_TRUE(sigcore::checkFsk(nominalBell202(), 3.14, gr30).pass);
    sigcore::FskMeasurement m = nominalBell202();
    m.markHz = 1212.0;  // on the bound
    EXPECT_TRUE(sigcore::checkFsk(m, 3.14, gr30).pass);
    m.markHz = 1212.01;
    sigcore::CheckResult r = sigcore::checkFsk(m, 3.14, gr30);
    EXPECT_FALSE(r.pass);
    for (const sigcore::CheckItem& item : r.items) EXPECT_EQ(item.pass, item.name != "mark_hz") << item.name;

    m = nominalBell202();
    m.bitRate = 1132.0;  // a bit longer than 883 us
    r = sigcore::checkFsk(m, 3.14, gr30);
    EXPECT_FALSE(r.pass);
    m.bitRate = 1277.5;  // shorter than 783 us
    EXPECT_FALSE(sigcore::checkFsk(m, 3.14, gr30).pass);

    m = nominalBell202();
    m.measured = false;
    EXPECT_FALSE(sigcore::checkFsk(m, 3.14, gr30).pass);
    EXPECT_FALSE(sigcore::checkFsk(nominalBell202(), 3.14, sigcore::CheckStandard::Dtmf).pass);
}

TEST(Limits, DigitsAreJudgedEachAndAnUnmeasuredOneFails) {
    const int rate = 8000;
    sigcore::CheckedDigit d;
    d.digit = '5';
    d.tones.measured = true;
    d.tones.start = 0;
    d.tones.end = 0.050 * rate;  // 50 ms: on the bound
    d.gap = 0.045 * rate;
    std::vector<sigcore::CheckedDigit> digits{d, d};
    digits.back().gap.reset();
    sigcore::CheckResult r = sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf);
    EXPECT_TRUE(r.pass);
    ASSERT_EQ(r.items.size(), 3u);  // no gap after the last digit
    EXPECT_EQ(r.items[2].name, "2:duration_ms");

    digits[0].gap = 0.0449 * rate;
    r = sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf);
    EXPECT_FALSE(r.pass);
    EXPECT_FALSE(r.items[1].pass);

    digits[0].gap = 0.045 * rate;
    digits[1].tones.measured = false;
    EXPECT_FALSE(sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf).pass);
    EXPECT_FALSE(sigcore::checkDigits({}, rate, 3.14, sigcore::CheckStandard::Dtmf).pass);
    EXPECT_FALSE(sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Gr30).pass);
}

}  // namespace
