// cidscan --measure end to end: a burst made here with set tones, level,
// bit rate, seizure, mark and stop bits is measured within the accuracy the
// manual page states, DTMF digits of set lengths likewise; and the option
// only adds: without its "measure" member and lines the output is byte for
// byte what cidscan writes without it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cidprobe/fsksynth.hpp"
#include "support/testsupport.hpp"

using testsupport::runTool;
using testsupport::TempDir;

namespace {

// 8000 Hz, 16 bits: 0.25 s of silence, 120 seizure bits (space first),
// 150 mark bits, an SDMF message with one stop bit, 10 mark bits.
std::string measuredBurst(const TempDir& dir) {
    fsksynth::Modulator mod;
    mod.rate = 8000;
    mod.amplitude = 10000.0;
    mod.tones = fsksynth::Tones{1204.0, 2193.0, 1203.0};
    fsksynth::appendSilence(mod, 2000);
    for (int k = 0; k < 60; ++k) {
        fsksynth::appendBits(mod, 0, 1);
        fsksynth::appendBits(mod, 1, 1);
    }
    fsksynth::appendBurst(mod, fsksynth::sdmfMessage("03141530", "2125551234"), 150, 10, 1);
    fsksynth::appendSilence(mod, 2000);
    const std::string path = dir.file("burst.wav");
    EXPECT_TRUE(fsksynth::writeWav(path, 8000, 16, mod.samples));
    return path;
}

// The output with every line that --measure adds taken out.
std::string withoutMeasureLines(const std::string& text) {
    std::string out;
    for (const std::string& line : testsupport::splitLines(text)) {
        if (line.rfind("  measure: ", 0) != 0) out += line + "\n";
    }
    return out;
}

TEST(CidscanMeasure, BurstOfKnownTonesLevelAndLengthsIsMeasured) {
    TempDir dir;
    const std::string burst = measuredBurst(dir);
    testsupport::RunResult r = runTool("cidscan", {"--json", "--measure", burst});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    const nlohmann::json& m = j.at("measure");
    const double dbfs = 20 * std::log10(10000.0 / 32768.0);
    EXPECT_NEAR(m.at("mark_hz").get<double>(), 1204.0, 1.0);
    EXPECT_NEAR(m.at("space_hz").get<double>(), 2193.0, 1.0);
    EXPECT_NEAR(m.at("mark_dbfs").get<double>(), dbfs, 0.2);
    EXPECT_NEAR(m.at("space_dbfs").get<double>(), dbfs, 0.2);
    EXPECT_NEAR(m.at("mark_dbm0").get<double>(), dbfs + 3.14, 0.2);
    EXPECT_NEAR(m.at("twist_db").get<double>(), 0.0, 0.3);
    EXPECT_NEAR(m.at("bit_rate").get<double>(), 1203.0, 1.203);
    EXPECT_EQ(m.at("seizure_bits"), 120);
    EXPECT_EQ(m.at("mark_bits"), 150);
    EXPECT_EQ(m.at("stop_bits_min"), 1);
    EXPECT_EQ(m.at("stop_bits_max"), 1);
    const double bit = 1.0 / 1203.0;
    EXPECT_NEAR(m.at("seizure_start_s").get<double>(), 0.25, 0.001);
    EXPECT_NEAR(m.at("mark_start_s").get<double>(), 0.25 + 120 * bit, 0.001);
    EXPECT_NEAR(m.at("message_start_s").get<double>(), 0.25 + 270 * bit, 0.001);
    EXPECT_NEAR(m.at("message_start_s").get<double>(), j.at("start_s").get<double>(), 0.001);
    // 21 bytes of ten bits, then ten mark bits.
    EXPECT_NEAR(m.at("end_s").get<double>(), 0.25 + (270 + 210 + 10) * bit, 0.001);

    // --ref-dbm0 moves the dBm0 levels only.
    r = runTool("cidscan", {"--json", "--measure", "--ref-dbm0", "0", burst});
    const nlohmann::json k = nlohmann::json::parse(r.out).at("measure");
    EXPECT_EQ(k.at("mark_dbm0"), k.at("mark_dbfs"));
    EXPECT_EQ(k.at("space_dbm0"), k.at("space_dbfs"));
    for (const char* bad : {"x", "3.14dB", "", "1000"}) {
        EXPECT_EQ(runTool("cidscan", {"--ref-dbm0", bad, burst}).status, 2) << bad;
    }
}

TEST(CidscanMeasure, DigitsOfKnownLengthsAreMeasured) {
    TempDir dir;
    // 50 ms tones with 3 ms linear ramps (half amplitude 1.5 ms in from
    // each end: 47 ms) and 30 ms of silence (33 ms), equal tone levels.
    const std::string data = dir.file("dtmf.txt");
    testsupport::writeFile(data,
                           "SamplingFrequency 8000\nQuantizationBitLength 16\nAmplitude 30\nNoiseAmplitude 0\n"
                           "PNoiseAmplitude 0\nLeaderDuration 500\nToneDuration 50\nSilenceDuration 30\n"
                           "RampDuration 3\nDTMFData 147*2580#369D\n");
    const std::string wav = dir.file("dtmf.wav");
    ASSERT_EQ(runTool("padtoner", {data, wav}).status, 0);
    const testsupport::RunResult r = runTool("cidscan", {"--json", "--measure", "--standard", "dtmf", wav});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json digits = nlohmann::json::parse(r.out).at("measure").at("digits");
    ASSERT_EQ(digits.size(), 13u);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        SCOPED_TRACE(i);
        const nlohmann::json& d = digits[i];
        EXPECT_EQ(d.at("digit"), std::string(1, "147*2580#369D"[i]));
        EXPECT_NEAR(d.at("duration_ms").get<double>(), 47.0, 1.0);
        if (i + 1 < digits.size()) {
            EXPECT_NEAR(d.at("gap_ms").get<double>(), 33.0, 1.0);
        }
        EXPECT_NEAR(d.at("twist_db").get<double>(), 0.0, 0.3);
    }
    EXPECT_TRUE(digits.back().at("gap_ms").is_null());
}

TEST(CidscanMeasure, WithoutItsAdditionsTheOutputIsUnchanged) {
    TempDir dir;
    const std::string burst = measuredBurst(dir);
    // The JSON object less its "measure" member, written the same way.
    const testsupport::RunResult plainJson = runTool("cidscan", {"--json", burst});
    const testsupport::RunResult measuredJson = runTool("cidscan", {"--json", "--measure", burst});
    ASSERT_EQ(measuredJson.status, 0);
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(measuredJson.out);
    ASSERT_TRUE(j.contains("measure"));
    j.erase("measure");
    EXPECT_EQ(j.dump() + "\n", plainJson.out);
    // The text block less its measure lines; several files and channels.
    const std::vector<std::string> files{burst, burst};
    std::vector<std::string> args = files;
    const testsupport::RunResult plainText = runTool("cidscan", args);
    args.insert(args.begin(), "--measure");
    const testsupport::RunResult measuredText = runTool("cidscan", args);
    ASSERT_EQ(plainText.status, 0);
    EXPECT_NE(measuredText.out, plainText.out);
    EXPECT_EQ(withoutMeasureLines(measuredText.out), plainText.out);
    // --once still stops after one message.
    EXPECT_EQ(testsupport::splitLines(runTool("cidscan", {"--json", "--measure", "--once", burst, burst}).out).size(), 1u);
}

}  // namespace
