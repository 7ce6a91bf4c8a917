// The check of a measurement against a limit table: bounds are inclusive,
// a value just past either one fails that item only, and a measurement that
// is missing or of the wrong kind never passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "sigcore/measure/limits.hpp"

namespace {

sigcore::FskMeasurement nominalBell202() {
    sigcore::FskMeasurement m;
    m.measured = true;
    m.markHz = 1200;
    m.spaceHz = 2200;
    m.bitRate = 1200;
    m.markDbfs = -16.64;  // -13.5 dBm0
    m.spaceDbfs = -16.64;
    m.snrDb = 40;
    return m;
}

sigcore::FskMeasurement nominalV23() {
    sigcore::FskMeasurement m = nominalBell202();
    m.markHz = 1300;
    m.spaceHz = 2100;
    return m;
}

// The value of the item named `name`; a failure when there is none.
sigcore::CheckItem named(const sigcore::CheckResult& r, const std::string& name) {
    for (const sigcore::CheckItem& item : r.items) {
        if (item.name == name) return item;
    }
    ADD_FAILURE() << "no item " << name;
    return sigcore::CheckItem{};
}

// The names of the items that failed.
std::vector<std::string> failed(const sigcore::CheckResult& r) {
    std::vector<std::string> out;
    for (const sigcore::CheckItem& item : r.items) {
        if (!item.pass) out.push_back(item.name);
    }
    return out;
}

// A dual-tone alert as measured, both tones at `dbfs`.
sigcore::LineSignal alert(sigcore::LineSignalKind kind, double ms, double dbfs) {
    sigcore::LineSignal s;
    s.kind = kind;
    s.measure.lowHz = 2130;
    s.measure.highHz = 2750;
    s.measure.lowDbfs = dbfs;
    s.measure.highDbfs = dbfs;
    s.measure.twistDb = 0;
    s.measure.durationMs = ms;
    return s;
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
    m.bitRate = 1187.9;  // 1 % slow and a little more
    r = sigcore::checkFsk(m, 3.14, gr30);
    EXPECT_FALSE(r.pass);
    m.bitRate = 1212.1;
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
    d.tones.lowDbfs = -13.14;  // -10 dBm0 each
    d.tones.highDbfs = -13.14;
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

namespace {

// Levels are dBFS plus the reference; each level, twist and noise limit
// fails just past its bound and names only its item.
TEST(Limits, FskLevelsTwistAndNoisePerStandard) {
    using sigcore::CheckStandard;
    const double ref = 3.14;
    EXPECT_TRUE(sigcore::checkFsk(nominalV23(), ref, CheckStandard::Etsi).pass);
    // BT also limits the seizure and mark, which this burst lacks.
    EXPECT_FALSE(sigcore::checkFsk(nominalV23(), ref, CheckStandard::Bt).pass);

    sigcore::FskMeasurement m = nominalV23();
    m.markDbfs = -33.78 - ref;  // on the bound
    EXPECT_TRUE(sigcore::checkFsk(m, ref, CheckStandard::Etsi).pass);
    m.markDbfs -= 0.01;
    EXPECT_EQ(failed(sigcore::checkFsk(m, ref, CheckStandard::Etsi)), std::vector<std::string>{"mark_dbm0"});
    // The same burst is inside BT's wider range, and a different reference
    // moves it back inside ETSI's.
    m.seizureBits = 200;
    m.markBits = 70;
    EXPECT_TRUE(sigcore::checkFsk(m, ref, CheckStandard::Bt).pass);
    EXPECT_TRUE(sigcore::checkFsk(m, ref + 1.0, CheckStandard::Etsi).pass);
    // A seizure read as 316 bits that may have been 315 (its closing mark
    // bit may be the mark's) is within BT's 315; one read as 318 is not,
    // nor a 316 that may have been 317.
    m.seizureBits = 316;
    m.seizureDoubt = -1;
    EXPECT_TRUE(sigcore::checkFsk(m, ref, CheckStandard::Bt).pass);
    m.seizureBits = 318;
    EXPECT_EQ(failed(sigcore::checkFsk(m, ref, CheckStandard::Bt)), std::vector<std::string>{"seizure_bits"});
    m.seizureBits = 316;
    m.seizureDoubt = +1;
    EXPECT_EQ(failed(sigcore::checkFsk(m, ref, CheckStandard::Bt)), std::vector<std::string>{"seizure_bits"});

    // Bounds are inclusive and exact (generated bursts just inside and
    // outside each limit are in the end-to-end tests).
    m = nominalV23();
    m.twistDb = 6.0;
    EXPECT_TRUE(sigcore::checkFsk(m, ref, CheckStandard::Etsi).pass);
    m.twistDb = -6.01;
    EXPECT_EQ(failed(sigcore::checkFsk(m, ref, CheckStandard::Etsi)), std::vector<std::string>{"twist_db"});
    m = nominalBell202();
    m.snrDb = 25.0;
    EXPECT_TRUE(sigcore::checkFsk(m, ref, CheckStandard::Gr30).pass);
    m.snrDb = 24.99;
    EXPECT_EQ(failed(sigcore::checkFsk(m, ref, CheckStandard::Gr30)), std::vector<std::string>{"snr_db"});
}

// The time after the last signal is an item only where the standard limits
// it after that kind of signal.
TEST(Limits, GapAfterTheLastSignalIsJudgedByItsKind) {
    using sigcore::CheckStandard;
    using sigcore::LineSignalKind;
    sigcore::FskMeasurement bt = nominalV23();
    bt.seizureBits = 300;
    bt.markBits = 80;
    const sigcore::SignalGap shortAfterAlert{LineSignalKind::DtAs, 44.9};
    sigcore::CheckResult r = sigcore::checkFsk(bt, 3.14, CheckStandard::Bt, shortAfterAlert);
    EXPECT_EQ(failed(r), std::vector<std::string>{"after_signal_ms"});
    EXPECT_TRUE(sigcore::checkFsk(bt, 3.14, CheckStandard::Bt, sigcore::SignalGap{LineSignalKind::DtAs, 45}).pass);
    // After ringing BT sets no gap: no item at all.
    r = sigcore::checkFsk(bt, 3.14, CheckStandard::Bt, sigcore::SignalGap{LineSignalKind::Ring, 10});
    EXPECT_TRUE(r.pass);
    for (const sigcore::CheckItem& item : r.items) EXPECT_NE(item.name, "after_signal_ms");

    // ETSI: 45 to 500 ms after a DT-AS, 500 to 2000 ms after ringing; one
    // item, by the kind that came last.
    const sigcore::FskMeasurement v23 = nominalV23();
    for (const auto& [kind, ms, pass] : {std::tuple{LineSignalKind::DtAs, 45.0, true},
                                         std::tuple{LineSignalKind::DtAs, 500.1, false},
                                         std::tuple{LineSignalKind::Ring, 499.9, false},
                                         std::tuple{LineSignalKind::Ring, 2000.0, true}}) {
        r = sigcore::checkFsk(v23, 3.14, CheckStandard::Etsi, sigcore::SignalGap{kind, ms});
        EXPECT_EQ(r.pass, pass) << ms;
        EXPECT_EQ(std::count_if(r.items.begin(), r.items.end(),
                                [](const sigcore::CheckItem& i) { return i.name == "after_signal_ms"; }),
                  1);
    }

    sigcore::FskMeasurement us = nominalBell202();
    us.seizureBits = 300;
    us.markBits = 180;
    r = sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, sigcore::SignalGap{LineSignalKind::Ring, 499.0});
    EXPECT_EQ(failed(r), std::vector<std::string>{"after_signal_ms"});
    // The mark's length is judged by what came before: 126 to 186 bits after
    // ringing, 70 to 90 off hook; without a signal, not at all.
    const sigcore::SignalGap afterRing{LineSignalKind::Ring, 600};
    EXPECT_TRUE(sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, afterRing).pass);
    us.markBits = 187;
    EXPECT_EQ(failed(sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, afterRing)),
              std::vector<std::string>{"mark_bits"});
    EXPECT_TRUE(sigcore::checkFsk(us, 3.14, CheckStandard::Gr30).pass);
    us.markBits = 90;
    EXPECT_TRUE(sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, sigcore::SignalGap{LineSignalKind::Cas, 300}).pass);
    us.markBits = 69;
    r = sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, sigcore::SignalGap{LineSignalKind::Ack, 100});
    EXPECT_EQ(failed(r), std::vector<std::string>{"mark_bits"});
    EXPECT_EQ(std::count_if(r.items.begin(), r.items.end(),
                            [](const sigcore::CheckItem& i) { return i.name == "mark_bits"; }),
              1);
    us.markBits = 80;
    EXPECT_TRUE(sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, sigcore::SignalGap{LineSignalKind::Ack, 500}).pass);
    r = sigcore::checkFsk(us, 3.14, CheckStandard::Gr30, sigcore::SignalGap{LineSignalKind::Ack, 500.1});
    EXPECT_FALSE(named(r, "after_signal_ms").pass);
    EXPECT_DOUBLE_EQ(*named(r, "after_signal_ms").max, 500.0);
}

// Alerts and acknowledgements: every item passes on its bounds and fails
// just past one, naming it; a kind the standard sets nothing for fails with
// no items.
TEST(Limits, LineSignalsAreJudgedByTheirKind) {
    using sigcore::CheckStandard;
    using sigcore::LineSignalKind;
    const double ref = 3.14;
    // BT's idle-state alert: 88 to 110 ms, 2130/2750 Hz +- 1.1 %, -37.78 to
    // 0.22 dBm0 per tone, twist up to 7 dB.
    sigcore::LineSignal dtas = alert(LineSignalKind::DtAs, 88.0, -20.0);
    EXPECT_TRUE(sigcore::checkSignal(dtas, ref, CheckStandard::Bt).pass);
    EXPECT_EQ(sigcore::checkSignal(dtas, ref, CheckStandard::Bt).items.size(), 6u);
    dtas.measure.durationMs = 110.01;
    EXPECT_EQ(failed(sigcore::checkSignal(dtas, ref, CheckStandard::Bt)), std::vector<std::string>{"duration_ms"});
    dtas = alert(LineSignalKind::DtAs, 100.0, -37.78 - ref - 0.01);
    EXPECT_EQ(failed(sigcore::checkSignal(dtas, ref, CheckStandard::Bt)),
              (std::vector<std::string>{"low_dbm0", "high_dbm0"}));
    dtas = alert(LineSignalKind::DtAs, 100.0, -20.0);
    dtas.measure.lowHz = 2130 * 1.0109;  // just inside
    dtas.measure.highHz = 2750 * 0.988;
    dtas.measure.twistDb = -7.01;
    EXPECT_EQ(failed(sigcore::checkSignal(dtas, ref, CheckStandard::Bt)),
              (std::vector<std::string>{"high_hz", "twist_db"}));

    // The off-hook alert: 75 to 85 ms and +- 0.5 % for Bellcore and ETSI,
    // whose levels differ.
    sigcore::LineSignal cas = alert(LineSignalKind::Cas, 80.0, -10.0 - ref);
    EXPECT_TRUE(sigcore::checkSignal(cas, ref, CheckStandard::Etsi).pass);
    EXPECT_EQ(failed(sigcore::checkSignal(cas, ref, CheckStandard::Gr30)),
              (std::vector<std::string>{"low_dbm0", "high_dbm0"}));
    cas = alert(LineSignalKind::Cas, 74.9, -20.0);
    cas.measure.lowHz = 2130 * 1.0051;
    EXPECT_EQ(failed(sigcore::checkSignal(cas, ref, CheckStandard::Gr30)),
              (std::vector<std::string>{"low_hz", "duration_ms"}));
    // BT's loop-state alert is 80 to 85 ms.
    cas = alert(LineSignalKind::Cas, 79.9, -20.0);
    EXPECT_EQ(failed(sigcore::checkSignal(cas, ref, CheckStandard::Bt)), std::vector<std::string>{"duration_ms"});

    // The acknowledgement: D or A, 55 to 65 ms.
    sigcore::LineSignal ack;
    ack.kind = LineSignalKind::Ack;
    ack.measure.digit = 'D';
    ack.measure.durationMs = 65.0;
    EXPECT_TRUE(sigcore::checkSignal(ack, ref, CheckStandard::Gr30).pass);
    ack.measure.digit = 'B';
    ack.measure.durationMs = 54.9;
    EXPECT_EQ(failed(sigcore::checkSignal(ack, ref, CheckStandard::Gr30)),
              (std::vector<std::string>{"digit_valid", "duration_ms"}));

    // No limits: ringing anywhere, an on-hook DT-AS for ETSI, any NTT signal.
    EXPECT_FALSE(sigcore::hasSignalLimits(LineSignalKind::Ring, CheckStandard::Gr30));
    EXPECT_FALSE(sigcore::hasSignalLimits(LineSignalKind::DtAs, CheckStandard::Etsi));
    EXPECT_TRUE(sigcore::hasSignalLimits(LineSignalKind::Cas, CheckStandard::Etsi));
    sigcore::LineSignal ring;
    ring.kind = LineSignalKind::Ring;
    ring.measure.durationMs = 2000;
    const sigcore::CheckResult r = sigcore::checkSignal(ring, ref, CheckStandard::Gr30);
    EXPECT_FALSE(r.pass);
    EXPECT_TRUE(r.items.empty());
    EXPECT_FALSE(sigcore::checkSignal(alert(LineSignalKind::Cas, 80, -20), ref, CheckStandard::Ntt).pass);
    EXPECT_FALSE(sigcore::checkSignal(alert(LineSignalKind::Cas, 80, -20), ref, CheckStandard::Dtmf).pass);
}

TEST(Limits, SignalTablesAreGroupedAndCiteASource) {
    for (const char* name : {"gr30", "etsi", "bt", "ntt", "dtmf"}) {
        const auto s = sigcore::parseCheckStandard(name);
        ASSERT_TRUE(s);
        for (const sigcore::SignalLimit& limit : sigcore::signalLimitsOf(*s)) {
            EXPECT_EQ(limit.standard, *s);
            EXPECT_FALSE(limit.source.empty());
            EXPECT_TRUE(limit.min || limit.max);
            EXPECT_TRUE(sigcore::hasSignalLimits(limit.kind, *s));
        }
    }
    EXPECT_TRUE(sigcore::signalLimitsOf(sigcore::CheckStandard::Ntt).empty());
    EXPECT_FALSE(sigcore::limitsOf(sigcore::CheckStandard::Ntt).empty());
}

// NTT's bursts are judged by V.23's 10 Hz on each tone, and nothing else:
// a tone just past 10 Hz off fails alone, and the levels, rate and noise
// that limit an ETSI burst are not items.
TEST(Limits, NttTonesWithinTenHertz) {
    const auto ntt = sigcore::CheckStandard::Ntt;
    sigcore::FskMeasurement m = nominalV23();
    m.markDbfs = -60;  // far below any ETSI level: no level limit here
    m.bitRate = 1250;
    sigcore::CheckResult r = sigcore::checkFsk(m, 3.14, ntt);
    EXPECT_TRUE(r.pass);
    ASSERT_EQ(r.items.size(), 2u);
    m.markHz = 1310.0;  // on the bound
    m.spaceHz = 2090.0;
    EXPECT_TRUE(sigcore::checkFsk(m, 3.14, ntt).pass);
    m.markHz = 1310.01;
    EXPECT_EQ(failed(sigcore::checkFsk(m, 3.14, ntt)), std::vector<std::string>{"mark_hz"});
    m.markHz = 1289.99;
    m.spaceHz = 2110.01;
    EXPECT_EQ(failed(sigcore::checkFsk(m, 3.14, ntt)), (std::vector<std::string>{"mark_hz", "space_hz"}));
    // A gap after ringing is not limited for NTT.
    r = sigcore::checkFsk(nominalV23(), 3.14, ntt, sigcore::SignalGap{sigcore::LineSignalKind::Ring, 10});
    EXPECT_TRUE(r.pass);
    EXPECT_EQ(r.items.size(), 2u);
}

// DTMF caller ID: each tone -28 to -4 dBm0, and the first digit at least
// 200 ms after a line reversal (judged once, not per digit; not after
// other signals).
TEST(Limits, DtmfLevelsAndTimeAfterTheLineReversal) {
    using sigcore::LineSignalKind;
    const int rate = 8000;
    const double ref = 3.14;
    sigcore::CheckedDigit d;
    d.digit = '1';
    d.tones = {true, 697, 1209, -28.0 - ref, -4.0 - ref, 0, 0, 0.060 * rate};
    std::vector<sigcore::CheckedDigit> digits{d};
    const auto dtmf = sigcore::CheckStandard::Dtmf;
    EXPECT_TRUE(sigcore::checkDigits(digits, rate, ref, dtmf).pass);
    digits[0].tones.lowDbfs = -28.01 - ref;
    digits[0].tones.highDbfs = -3.99 - ref;
    EXPECT_EQ(failed(sigcore::checkDigits(digits, rate, ref, dtmf)),
              (std::vector<std::string>{"1:low_dbm0", "1:high_dbm0"}));
    digits[0].tones = d.tones;

    sigcore::CheckResult r = sigcore::checkDigits(digits, rate, ref, dtmf, sigcore::SignalGap{LineSignalKind::LineReversal, 200});
    EXPECT_TRUE(r.pass);
    EXPECT_TRUE(named(r, "after_signal_ms").pass);
    r = sigcore::checkDigits(digits, rate, ref, dtmf, sigcore::SignalGap{LineSignalKind::LineReversal, 199.9});
    EXPECT_EQ(failed(r), std::vector<std::string>{"after_signal_ms"});
    r = sigcore::checkDigits(digits, rate, ref, dtmf, sigcore::SignalGap{LineSignalKind::DtAs, 10});
    EXPECT_TRUE(r.pass);
    for (const sigcore::CheckItem& item : r.items) EXPECT_NE(item.name, "after_signal_ms");
    // A burst checked as DTMF still gives nothing, gap or not.
    EXPECT_FALSE(sigcore::checkFsk(nominalV23(), ref, dtmf, sigcore::SignalGap{LineSignalKind::LineReversal, 300}).pass);
}

}  // namespace
