// cidscan --check end to end: a generated burst inside every limit passes
// and exits 0; one just outside a limit fails, names that item, and exits
// 3; the table and the object appear only with the option.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/testsupport.hpp"

using testsupport::runTool;
using testsupport::TempDir;

namespace {

std::string generated(const TempDir& dir, const std::string& name, std::vector<std::string> args) {
    const std::string path = dir.file(name);
    args.insert(args.end(), {"-o", path});
    const testsupport::RunResult r = runTool("cidgen", args);
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}

// The names of the failed items of the one message cidscan found.
std::vector<std::string> failedItems(const nlohmann::json& message) {
    std::vector<std::string> out;
    for (const nlohmann::json& item : message.at("check").at("items")) {
        if (!item.at("pass").get<bool>()) out.push_back(item.at("name").get<std::string>());
    }
    return out;
}

struct Case {
    const char* label;
    std::vector<std::string> cidgenArgs;
    std::vector<std::string> checkArgs;
    std::vector<std::string> failed;  // empty: passes
};

TEST(CidscanCheck, BurstsInsideAndJustOutsideALimit) {
    TempDir dir;
    const std::vector<std::string> us{"--standard", "us-mdmf", "--number", "2125551234"};
    const std::vector<std::string> dtmf{"--standard", "dtmf", "--digits", "123"};
    const std::vector<std::string> etsi{"--standard", "etsi", "--number", "0123456789", "--mark-bits", "60"};
    const std::vector<std::string> ntt{"--standard", "ntt", "--number", "0312345678"};
    auto with = [](std::vector<std::string> base, std::vector<std::string> more) {
        base.insert(base.end(), more.begin(), more.end());
        return base;
    };
    const std::vector<Case> cases{
        {"bell202 nominal", us, {"--check", "gr30"}, {}},
        {"bell202 mark 10 Hz high", with(us, {"--mark-offset", "10"}), {"--check", "gr30"}, {}},
        {"bell202 mark 15 Hz high", with(us, {"--mark-offset", "15"}), {"--check", "gr30"}, {"mark_hz"}},
        {"bell202 space 25 Hz low", with(us, {"--space-offset", "-25"}), {"--check", "gr30"}, {"space_hz"}},
        {"v23 with a BT-length mark", etsi, {"--check", "bt"}, {}},
        {"v23 with 90 seizure bits", with(etsi, {"--seizure-bits", "90"}), {"--check", "bt"}, {"seizure_bits"}},
        {"v23 with 95 mark bits", with(etsi, {"--mark-bits", "95"}), {"--check", "bt"}, {"mark_bits"}},
        {"bell202 bit rate 0.8 % fast", with(us, {"--rate-error", "0.8"}), {"--check", "gr30"}, {}},
        {"bell202 bit rate 1.3 % fast", with(us, {"--rate-error", "1.3"}), {"--check", "gr30"}, {"bit_rate"}},
        {"bell202 bit rate 1.3 % slow", with(us, {"--rate-error", "-1.3"}), {"--check", "gr30"}, {"bit_rate"}},
        {"bell202 at -35 dBm0", with(us, {"--level", "-35"}), {"--check", "gr30"}, {}},
        {"bell202 at -37 dBm0", with(us, {"--level", "-37"}), {"--check", "gr30"}, {"mark_dbm0", "space_dbm0"}},
        {"bell202 at -5 dBm0", with(us, {"--level", "-5"}), {"--check", "gr30"}, {}},
        {"bell202 at -3.5 dBm0", with(us, {"--level", "-3.5"}), {"--check", "gr30"}, {"mark_dbm0", "space_dbm0"}},
        // The measured ratio is about 2.5 dB above the generator's (the
        // noise is counted in the burst's band only).
        {"bell202 at 26 dB SNR", with(us, {"--snr", "26"}), {"--check", "gr30"}, {}},
        {"bell202 at 20 dB SNR", with(us, {"--snr", "20"}), {"--check", "gr30"}, {"snr_db"}},
        {"v23 nominal", etsi, {"--check", "etsi"}, {}},
        {"v23 mark 18 Hz high", with(etsi, {"--mark-offset", "18"}), {"--check", "etsi"}, {}},
        {"v23 mark 21 Hz high", with(etsi, {"--mark-offset", "21"}), {"--check", "etsi"}, {"mark_hz"}},
        {"v23 space 30 Hz low", with(etsi, {"--space-offset", "-30"}), {"--check", "etsi"}, {}},
        {"v23 space 33 Hz low", with(etsi, {"--space-offset", "-33"}), {"--check", "etsi"}, {"space_hz"}},
        {"v23 bit rate 1.3 % slow", with(etsi, {"--rate-error", "-1.3"}), {"--check", "etsi"}, {"bit_rate"}},
        {"v23 at -33 dBm0", with(etsi, {"--level", "-33"}), {"--check", "etsi"}, {}},
        {"v23 at -34.5 dBm0", with(etsi, {"--level", "-34.5"}), {"--check", "etsi"}, {"mark_dbm0", "space_dbm0"}},
        {"v23 at -6.5 dBm0", with(etsi, {"--level", "-6.5"}), {"--check", "etsi"}, {}},
        {"v23 at -5 dBm0", with(etsi, {"--level", "-5"}), {"--check", "etsi"}, {"mark_dbm0", "space_dbm0"}},
        {"v23 twist 5.5 dB", with(etsi, {"--twist", "5.5"}), {"--check", "etsi"}, {}},
        {"v23 twist 6.5 dB", with(etsi, {"--twist", "6.5"}), {"--check", "etsi"}, {"twist_db"}},
        {"v23 twist -6.5 dB", with(etsi, {"--twist", "-6.5"}), {"--check", "etsi"}, {"twist_db"}},
        {"v23 at 20 dB SNR", with(etsi, {"--snr", "20"}), {"--check", "etsi"}, {}},
        {"v23 at 15 dB SNR", with(etsi, {"--snr", "15"}), {"--check", "etsi"}, {"snr_db"}},
        {"v23 at -37 dBm0 for BT", with(etsi, {"--level", "-37"}), {"--check", "bt"}, {}},
        {"v23 at -38.5 dBm0 for BT", with(etsi, {"--level", "-38.5"}), {"--check", "bt"}, {"mark_dbm0", "space_dbm0"}},
        {"v23 at -5 dBm0 for BT", with(etsi, {"--level", "-5"}), {"--check", "bt"}, {"mark_dbm0", "space_dbm0"}},
        {"dtmf twist 3.9 dB", {"--standard", "dtmf", "--digits", "1", "--twist", "3.9"},
         {"--standard", "dtmf", "--check", "dtmf"}, {}},
        {"dtmf twist 4.2 dB", {"--standard", "dtmf", "--digits", "1", "--twist", "4.2"},
         {"--standard", "dtmf", "--check", "dtmf"}, {"1:twist_db"}},
        {"dtmf nominal", dtmf, {"--standard", "dtmf", "--check", "dtmf"}, {}},
        {"dtmf 45 ms tones", with(dtmf, {"--digit-ms", "45"}), {"--standard", "dtmf", "--check", "dtmf"},
         {"1:duration_ms", "2:duration_ms", "3:duration_ms"}},
        {"dtmf 40 ms gaps", with(dtmf, {"--digit-gap-ms", "40"}), {"--standard", "dtmf", "--check", "dtmf"},
         {"1:gap_ms", "2:gap_ms"}},
        {"dtmf at -27 dBm0", {"--standard", "dtmf", "--digits", "1", "--level", "-27"},
         {"--standard", "dtmf", "--check", "dtmf"}, {}},
        {"dtmf at -29 dBm0", {"--standard", "dtmf", "--digits", "1", "--level", "-29"},
         {"--standard", "dtmf", "--check", "dtmf"}, {"1:low_dbm0", "1:high_dbm0"}},
        {"dtmf at -4.5 dBm0", {"--standard", "dtmf", "--digits", "1", "--level", "-4.5"},
         {"--standard", "dtmf", "--check", "dtmf"}, {}},
        {"dtmf at -3.5 dBm0", {"--standard", "dtmf", "--digits", "1", "--level", "-3.5"},
         {"--standard", "dtmf", "--check", "dtmf"}, {"1:low_dbm0", "1:high_dbm0"}},
        {"ntt nominal", ntt, {"--check", "ntt"}, {}},
        {"ntt mark 8 Hz high", with(ntt, {"--mark-offset", "8"}), {"--check", "ntt"}, {}},
        {"ntt mark 12 Hz high", with(ntt, {"--mark-offset", "12"}), {"--check", "ntt"}, {"mark_hz"}},
        {"ntt space 8 Hz low", with(ntt, {"--space-offset", "-8"}), {"--check", "ntt"}, {}},
        {"ntt space 12 Hz low", with(ntt, {"--space-offset", "-12"}), {"--check", "ntt"}, {"space_hz"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string wav = generated(dir, "burst.wav", c.cidgenArgs);
        std::vector<std::string> args = with({"--json"}, c.checkArgs);
        args.push_back(wav);
        const testsupport::RunResult r = runTool("cidscan", args);
        EXPECT_EQ(r.status, c.failed.empty() ? 0 : 3) << r.err;
        const nlohmann::json j = nlohmann::json::parse(r.out);
        EXPECT_TRUE(j.contains("measure"));  // --check implies --measure
        EXPECT_EQ(j.at("check").at("pass").get<bool>(), c.failed.empty());
        EXPECT_FALSE(j.at("check").at("items").empty());
        EXPECT_EQ(failedItems(j), c.failed);
    }
}

TEST(CidscanCheck, TextTableAndWrongKindOfSignal) {
    TempDir dir;
    const std::string wav = generated(dir, "us.wav", {"--number", "2125551234", "--mark-offset", "15"});
    testsupport::RunResult r = runTool("cidscan", {"--check", "gr30", wav});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("  check gr30: FAIL\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mark_hz"), std::string::npos);
    EXPECT_NE(r.out.find("space_hz"), std::string::npos);

    // An FSK burst judged by the DTMF limits is not a pass.
    r = runTool("cidscan", {"--json", "--check", "dtmf", wav});
    EXPECT_EQ(r.status, 3);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_FALSE(j.at("check").at("pass").get<bool>());
    EXPECT_TRUE(j.at("check").at("items").empty());

    // Without --check: no "check" member, no table.
    r = runTool("cidscan", {"--json", "--measure", wav});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(nlohmann::json::parse(r.out).contains("check"));

    // Only a message written counts: --once stops at the passing one.
    const std::string good = generated(dir, "good.wav", {"--number", "2125551234"});
    EXPECT_EQ(runTool("cidscan", {"--once", "--check", "gr30", good, wav}).status, 0);
    EXPECT_EQ(runTool("cidscan", {"--check", "gr30", good, wav}).status, 3);

    // A Bell 202 burst judged by the V.23 limits fails on its tones.
    r = runTool("cidscan", {"--check", "etsi", wav});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("  check etsi: FAIL\n"), std::string::npos) << r.out;

    // An unknown standard is a usage error.
    EXPECT_EQ(runTool("cidscan", {"--check", "bogus", wav}).status, 2);
}

}  // namespace

namespace {

// A burst a few per cent off the nominal bit rate keeps its bit clock: the
// rate is measured within 0.1 % (it once came out 3 % off the other way,
// and a burst 5 % slow lost its bits: the tones, the SNR and the stop bits
// came out wrong), and the check names the rate as outside the 1 % allowed.
TEST(CidscanCheck, BitRateFivePercentOffIsMeasured) {
    TempDir dir;
    for (const double error : {-6.0, -5.0, -4.5, 3.0, 5.0}) {
        SCOPED_TRACE(error);
        const std::string wav =
            generated(dir, "rate.wav", {"--number", "2125551234", "--rate-error", std::to_string(error)});
        const testsupport::RunResult r = runTool("cidscan", {"--json", "--check", "gr30", wav});
        EXPECT_EQ(r.status, 3) << r.err;
        const nlohmann::json j = nlohmann::json::parse(r.out);
        const std::vector<std::string> failed = failedItems(j);
        EXPECT_NE(std::find(failed.begin(), failed.end(), "bit_rate"), failed.end());
        const double truth = 1200.0 * (1.0 + error / 100.0);
        EXPECT_NEAR(j.at("measure").at("bit_rate").get<double>(), truth, truth * 0.001);
        EXPECT_EQ(j.at("measure").at("seizure_bits"), 300);
        EXPECT_EQ(j.at("measure").at("mark_bits"), 180);
        EXPECT_EQ(j.at("measure").at("stop_bits_min"), 1);
        EXPECT_EQ(j.at("measure").at("stop_bits_max"), 1);
        EXPECT_NEAR(j.at("measure").at("mark_hz").get<double>(), 1200, 1.0);
        EXPECT_NEAR(j.at("measure").at("space_hz").get<double>(), 2200, 1.0);
        EXPECT_GT(j.at("measure").at("snr_db").get<double>(), 60);
    }
}

}  // namespace

namespace {

// The items of the record whose "signal" (or, for the message, "standard")
// is `key`, by name: whether each passed.
std::vector<std::pair<std::string, bool>> itemsOf(const std::string& out, const std::string& signal) {
    std::vector<std::pair<std::string, bool>> items;
    for (const std::string& line : testsupport::splitLines(out)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        const bool wanted = signal.empty() ? !j.contains("signal") : j.value("signal", "") == signal;
        if (!wanted || !j.contains("check")) continue;
        for (const nlohmann::json& item : j["check"]["items"]) items.emplace_back(item["name"], item["pass"]);
    }
    return items;
}

bool has(const std::vector<std::pair<std::string, bool>>& items, const std::string& name, bool pass) {
    return std::find(items.begin(), items.end(), std::pair{name, pass}) != items.end();
}

// A call-waiting sequence: the CAS and the phone's acknowledgement are
// judged by their own limits and the burst by the time after the
// acknowledgement; a CAS 5 ms too long fails on its duration alone, and
// ringing (no limits in a US check) is not judged at all, while the burst
// after it is judged by its distance from the ring (600 ms: the preset's
// 500 ms sits on the limit, where the ring's edge, measured to 20 ms,
// decides).
TEST(CidscanCheck, CallWaitingSignalsAreJudgedWhereTheStandardHasLimits) {
    TempDir dir;
    const std::vector<std::string> cw{"--sequence", "us-cw", "--ack", "D", "--number", "2125551234"};
    const std::string good = generated(dir, "cw.wav", cw);
    testsupport::RunResult r = runTool("cidscan", {"--json", "--check", "gr30", good});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto cas = itemsOf(r.out, "cas");
    EXPECT_TRUE(has(cas, "duration_ms", true)) << r.out;
    EXPECT_TRUE(has(itemsOf(r.out, "ack"), "digit_valid", true)) << r.out;
    EXPECT_TRUE(has(itemsOf(r.out, ""), "after_signal_ms", true)) << r.out;
    EXPECT_TRUE(has(itemsOf(r.out, ""), "mark_bits", true)) << r.out;

    std::vector<std::string> longCas = cw;
    longCas.insert(longCas.end(), {"--alert-ms", "90"});
    r = runTool("cidscan", {"--json", "--check", "gr30", generated(dir, "long.wav", longCas)});
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_TRUE(has(itemsOf(r.out, "cas"), "duration_ms", false)) << r.out;
    EXPECT_FALSE(has(itemsOf(r.out, ""), "after_signal_ms", false)) << r.out;

    const std::string onhook = generated(dir, "ring.wav", {"--sequence", "us-onhook", "--gap-ms", "600", "--number", "2125551234"});
    r = runTool("cidscan", {"--json", "--check", "gr30", onhook});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const std::string& line : testsupport::splitLines(r.out)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        if (j.value("signal", "") == "ring") {
            EXPECT_FALSE(j.contains("check")) << line;
        }
    }
    EXPECT_TRUE(has(itemsOf(r.out, ""), "after_signal_ms", true)) << r.out;
}

}  // namespace

namespace {

// DTMF caller ID after a line reversal: the digits 300 ms after it pass,
// 180 ms after it fail on that time alone (judged once for the message).
TEST(CidscanCheck, DtmfDigitsAreJudgedByTheirTimeAfterTheLineReversal) {
    TempDir dir;
    const std::vector<std::string> seq{"--sequence", "dtmf", "--number", "2125551234"};
    std::string wav = generated(dir, "late.wav", seq);
    testsupport::RunResult r = runTool("cidscan", {"--json", "--check", "dtmf", wav});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has(itemsOf(r.out, ""), "after_signal_ms", true)) << r.out;

    std::vector<std::string> early = seq;
    early.insert(early.end(), {"--gap-ms", "180"});
    wav = generated(dir, "early.wav", early);
    r = runTool("cidscan", {"--json", "--check", "dtmf", wav});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    const auto items = itemsOf(r.out, "");
    EXPECT_TRUE(has(items, "after_signal_ms", false)) << r.out;
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const auto& i) { return !i.second; }), 1) << r.out;
}

}  // namespace
