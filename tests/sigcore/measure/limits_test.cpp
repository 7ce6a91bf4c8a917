// The check of a measurement against a limit table: bounds are inclusive,
// a value just past either one fails that item only, and a measurement that
// is missing or of the wrong kind never passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    d.tones.lowHz = 770;
    d.tones.highHz = 1336;
    d.tones.start = 0;
    d.tones.end = 0.050 * rate;  // 50 ms: on the bound
    d.gap = 0.045 * rate;
    std::vector<sigcore::CheckedDigit> digits{d, d};
    digits.back().gap.reset();
    sigcore::CheckResult r = sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf);
    EXPECT_TRUE(r.pass);
    const auto named = [&r](const std::string& name) {
        for (const sigcore::CheckItem& item : r.items) {
            if (item.name == name) return item;
        }
        ADD_FAILURE() << name;
        return sigcore::CheckItem{};
    };
    EXPECT_FALSE(named("1:gap_ms").name.empty());
    for (const sigcore::CheckItem& item : r.items) EXPECT_NE(item.name, "2:gap_ms");  // none after the last digit

    digits[0].gap = 0.0449 * rate;
    r = sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf);
    EXPECT_FALSE(r.pass);
    EXPECT_FALSE(named("1:gap_ms").pass);
    EXPECT_TRUE(named("1:duration_ms").pass);
    digits[0].gap = 0.045 * rate;

    // '5' is 770 + 1336 Hz: 1.5 % off passes, 1.6 % fails, each tone alone.
    digits[0].tones.lowHz = 770 * 1.015;
    digits[0].tones.highHz = 1336 * 0.984;
    r = sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf);
    EXPECT_TRUE(named("1:low_dev_pct").pass);
    EXPECT_FALSE(named("1:high_dev_pct").pass);
    EXPECT_TRUE(named("2:high_dev_pct").pass);
    digits[0].tones.twistDb = -8.1;  // the high group more than 8 dB weaker
    r = sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf);
    EXPECT_FALSE(named("1:twist_db").pass);
    digits[0].tones = d.tones;

    digits[0].gap = 0.045 * rate;
    digits[1].tones.measured = false;
    EXPECT_FALSE(sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Dtmf).pass);
    EXPECT_FALSE(sigcore::checkDigits({}, rate, 3.14, sigcore::CheckStandard::Dtmf).pass);
    EXPECT_FALSE(sigcore::checkDigits(digits, rate, 3.14, sigcore::CheckStandard::Gr30).pass);
}

}  // namespace
