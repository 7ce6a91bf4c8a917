// cidscan --measure and the line signals around a burst, end to end, on
// recordings synthesised here with set tones, levels, edges and cadences
// (not with the project's generator): an alert with its DTMF
// acknowledgement before a Bell 202 burst, a DT-AS before a V.23 burst,
// clipped ringing and a ring-pulse alert, a line reversal's decaying step;
// and what must not be a signal (noise, hum under a burst, a burst alone).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cidprobe/fsksynth.hpp"
#include "support/testsupport.hpp"

using testsupport::runTool;
using testsupport::TempDir;

namespace {

constexpr int kRate = 8000;

double amplitudeOf(double dbfs) { return 32768.0 * std::pow(10.0, dbfs / 20.0); }

// Adds tones from sample `at` for `count` samples (clipped to 16 bits).
void addTones(std::vector<std::int16_t>& x, std::size_t at, std::size_t count, std::vector<double> hz,
              std::vector<double> amplitude) {
    if (x.size() < at + count) x.resize(at + count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        double v = x[at + i];
        for (std::size_t k = 0; k < hz.size(); ++k) {
            v += amplitude[k] * std::sin(2 * std::numbers::pi * hz[k] * static_cast<double>(i) / kRate);
        }
        x[at + i] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
}

// An ETSI call set-up message with a calling number, its checksum last.
std::vector<std::uint8_t> etsiMessage(const std::string& number) {
    std::vector<std::uint8_t> m{0x80, static_cast<std::uint8_t>(2 + number.size()), 0x02,
                                static_cast<std::uint8_t>(number.size())};
    for (const char c : number) m.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (const std::uint8_t b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>(-sum & 0xFFu));
    return m;
}

// An FSK burst appended at the end of `x`, after `gap` samples of silence.
void appendBurst(std::vector<std::int16_t>& x, std::size_t gap, bool v23) {
    fsksynth::Modulator mod;
    mod.amplitude = amplitudeOf(-16);
    if (v23) mod.tones = fsksynth::Tones{1300.0, 2100.0, 1200.0};
    fsksynth::appendSilence(mod, static_cast<int>(gap));
    const auto bytes = v23 ? etsiMessage("01632960123") : fsksynth::sdmfMessage("03141530", "2125551234");
    fsksynth::appendBurst(mod, bytes, 80, 10, 1);
    fsksynth::appendSilence(mod, 4000);
    x.insert(x.end(), mod.samples.begin(), mod.samples.end());
}

std::vector<nlohmann::json> scan(const std::string& wav, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--json", "--measure"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(wav);
    const testsupport::RunResult r = runTool("cidscan", args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<nlohmann::json> out;
    for (const std::string& line : testsupport::splitLines(r.out)) out.push_back(nlohmann::json::parse(line));
    return out;
}

std::string kinds(const std::vector<nlohmann::json>& records) {
    std::string out;
    for (const nlohmann::json& j : records) {
        out += j.contains("signal") ? j.at("signal").get<std::string>() : j.at("standard").get<std::string>();
        out += ' ';
    }
    return out;
}

std::string written(const TempDir& dir, const std::string& name, const std::vector<std::int16_t>& x) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(fsksynth::writeWav(path, kRate, 16, x));
    return path;
}

TEST(CidscanSignals, CasWithItsAcknowledgementBeforeABell202Burst) {
    TempDir dir;
    // CAS from sample 1603 for 80 ms: 2130 Hz at -20 dBFS, 2750 Hz at
    // -18 dBFS; 100 ms later a DTMF D (941 + 1633 Hz) of 60 ms; the burst's
    // first bit 200 ms after the digit's end.
    std::vector<std::int16_t> x(1603, 0);
    addTones(x, 1603, 640, {2130, 2750}, {amplitudeOf(-20), amplitudeOf(-18)});
    addTones(x, 1603 + 640 + 800, 480, {941, 1633}, {amplitudeOf(-12), amplitudeOf(-10)});
    appendBurst(x, 1600, false);
    const std::string wav = written(dir, "cas.wav", x);

    const std::vector<nlohmann::json> r = scan(wav);
    ASSERT_EQ(kinds(r), "cas ack bell202 ");
    const nlohmann::json& cas = r[0];
    EXPECT_FALSE(cas.contains("standard"));
    EXPECT_NEAR(cas.at("start_sample").get<double>(), 1603, 8);  // 1 ms
    EXPECT_NEAR(cas.at("end_sample").get<double>(), 1603 + 640, 8);
    EXPECT_NEAR(cas.at("start_s").get<double>(), 1603.0 / kRate, 0.001);
    const nlohmann::json& m = cas.at("measure");
    EXPECT_NEAR(m.at("low_hz").get<double>(), 2130, 1);
    EXPECT_NEAR(m.at("high_hz").get<double>(), 2750, 1);
    EXPECT_NEAR(m.at("low_dbfs").get<double>(), -20, 0.2);
    EXPECT_NEAR(m.at("high_dbfs").get<double>(), -18, 0.2);
    EXPECT_NEAR(m.at("twist_db").get<double>(), 2, 0.3);
    EXPECT_NEAR(m.at("duration_ms").get<double>(), 80, 1);

    const nlohmann::json& ack = r[1];
    EXPECT_EQ(ack.at("measure").at("digit"), "D");
    EXPECT_NEAR(ack.at("start_sample").get<double>(), 3043, 8);
    EXPECT_NEAR(ack.at("measure").at("duration_ms").get<double>(), 60, 1);
    EXPECT_NEAR(ack.at("measure").at("twist_db").get<double>(), 2, 0.3);

    // The burst: from the acknowledgement's end to its first mark bit.
    const nlohmann::json& burst = r[2];
    EXPECT_TRUE(burst.at("valid").get<bool>());
    EXPECT_NEAR(burst.at("measure").at("after_signal_ms").get<double>(), 200, 1);

    // Without --measure: no signals, and the digit is what it always was.
    const testsupport::RunResult plain = runTool("cidscan", {"--json", wav});
    EXPECT_EQ(plain.out.find("\"signal\""), std::string::npos);
    EXPECT_NE(plain.out.find("\"bell202\""), std::string::npos);
    // Plain DTMF runs: the digit is the acknowledgement there too.
    EXPECT_EQ(kinds(scan(wav, {"--standard", "dtmf"})), "cas ack ");
    // --once: a signal is not the message it waits for.
    const std::vector<nlohmann::json> once = scan(wav, {"--once"});
    EXPECT_EQ(kinds(once), "cas ack bell202 ");
}

TEST(CidscanSignals, TextBlocksOfSignalsWithTheFileNameEscaped) {
    TempDir dir;
    std::vector<std::int16_t> x(2400, 0);
    addTones(x, 2400, 800, {2130, 2750}, {amplitudeOf(-15), amplitudeOf(-15)});
    appendBurst(x, 800, true);
    // A name with an escape sequence in it: never raw on the terminal.
    const std::string wav = written(dir, "a\x1b[2Jb.wav", x);
    const testsupport::RunResult r = runTool("cidscan", {"--measure", wav});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    // The tone's first sample is a zero: its edge may come out one later.
    EXPECT_NE(r.out.find("a\\x1b[2Jb.wav channel 1: dt-as signal, 0.300 s - 0.400 s (samples 240"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-3200)\n  measure: 2130.00 Hz -15.00 dBFS, 2750.00 Hz -15.00 dBFS, twist 0.00 dB, "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  measure: 100.0 ms after the last line signal\n"), std::string::npos) << r.out;
    // The JSON object keeps the name's bytes.
    const std::vector<nlohmann::json> j = scan(wav);
    ASSERT_EQ(kinds(j), "dt-as v23-etsi ");
    EXPECT_EQ(j[0].at("file"), wav);
}

TEST(CidscanSignals, CidgenCallWaitingWithItsAcknowledgement) {
    TempDir dir;
    const std::string wav = dir.file("cw.wav");
    ASSERT_EQ(runTool("cidgen", {"--sequence", "us-cw", "--ack", "A", "--number", "5551234", "-o", wav}).status, 0);
    const std::vector<nlohmann::json> r = scan(wav);
    ASSERT_EQ(kinds(r), "cas ack bell202 ");
    // Where the timing table puts them (after the 300 ms SAS): CAS 500-580 ms,
    // the digit 630-690 ms, the burst's first bit at 830 ms.
    EXPECT_NEAR(r[0].at("start_s").get<double>(), 0.5, 0.001);
    EXPECT_NEAR(r[0].at("end_s").get<double>(), 0.58, 0.001);
    EXPECT_EQ(r[1].at("measure").at("digit"), "A");
    EXPECT_NEAR(r[1].at("start_s").get<double>(), 0.63, 0.001);
    EXPECT_NEAR(r[1].at("end_s").get<double>(), 0.69, 0.001);
    EXPECT_NEAR(r[2].at("measure").at("after_signal_ms").get<double>(), 140, 1);
    // Only with us-cw, and only a DTMF digit.
    EXPECT_NE(runTool("cidgen", {"--sequence", "bt", "--ack", "A", "-o", dir.file("x.wav")}).status, 0);
    EXPECT_NE(runTool("cidgen", {"--sequence", "us-cw", "--ack", "X", "-o", dir.file("x.wav")}).status, 0);
    EXPECT_FALSE(std::ifstream(dir.file("x.wav")).good());
}

TEST(CidscanSignals, AlertWithoutAcknowledgementIsToldByTheBurstAfterIt) {
    TempDir dir;
    // A DT-AS of 100 ms at -15 dBFS each, 100 ms before a V.23 burst: dt-as.
    std::vector<std::int16_t> x(2400, 0);
    addTones(x, 2400, 800, {2130, 2750}, {amplitudeOf(-15), amplitudeOf(-15)});
    appendBurst(x, 800, true);
    std::vector<nlohmann::json> r = scan(written(dir, "dtas.wav", x));
    ASSERT_EQ(kinds(r), "dt-as v23-etsi ");
    EXPECT_NEAR(r[0].at("measure").at("duration_ms").get<double>(), 100, 1);
    EXPECT_NEAR(r[1].at("measure").at("after_signal_ms").get<double>(), 100, 1);
    // The same alert 80 ms long before a Bell 202 burst: a CAS.
    std::vector<std::int16_t> y(2400, 0);
    addTones(y, 2400, 640, {2130, 2750}, {amplitudeOf(-15), amplitudeOf(-15)});
    appendBurst(y, 2000, false);
    r = scan(written(dir, "cw.wav", y));
    ASSERT_EQ(kinds(r), "cas bell202 ");
    EXPECT_NEAR(r[1].at("measure").at("after_signal_ms").get<double>(), 250, 1);
    // A DT-AS before DTMF caller ID opened by an A: the digits are the
    // message, not an acknowledgement.
    std::vector<std::int16_t> d(2400, 0);
    addTones(d, 2400, 800, {2130, 2750}, {amplitudeOf(-15), amplitudeOf(-15)});
    std::size_t at = 2400 + 800 + 800;
    const double rows[4] = {697, 770, 852, 941};
    const double columns[4] = {1209, 1336, 1477, 1633};
    for (const char key : std::string("A5551234C")) {
        const std::size_t k = std::string("123A456B789C*0#D").find(key);
        addTones(d, at, 480, {rows[k / 4], columns[k % 4]}, {amplitudeOf(-12), amplitudeOf(-10)});
        at += 960;
    }
    d.resize(at + 12000, 0);
    r = scan(written(dir, "dtmfcid.wav", d));
    ASSERT_EQ(kinds(r), "dt-as dtmf-cid ");
    EXPECT_TRUE(r[1].at("valid").get<bool>());
    EXPECT_NEAR(r[1].at("measure").at("after_signal_ms").get<double>(), 100, 1);
    // A lone alert at the end of the input.
    std::vector<std::int16_t> z(2400, 0);
    addTones(z, 2400, 800, {2130, 2750}, {amplitudeOf(-30), amplitudeOf(-25)});
    z.resize(z.size() + 800, 0);
    r = scan(written(dir, "lone.wav", z));
    ASSERT_EQ(kinds(r), "dt-as ");
    EXPECT_NEAR(r[0].at("measure").at("twist_db").get<double>(), 5, 0.3);
}

TEST(CidscanSignals, ClippedRingingItsCadenceAndTheRingPulseAlert) {
    TempDir dir;
    // 25 Hz at twice full scale, clipped: 400 ms on, 200 off, 400 on.
    std::vector<std::int16_t> x(1600, 0);
    addTones(x, 1600, 3200, {25}, {65536});
    addTones(x, 1600 + 3200 + 1600, 3200, {25}, {65536});
    x.resize(x.size() + 8000, 0);
    std::vector<nlohmann::json> r = scan(written(dir, "ring.wav", x));
    ASSERT_EQ(kinds(r), "ring ring ");
    for (const nlohmann::json& ring : r) {
        EXPECT_NEAR(ring.at("measure").at("ring_hz").get<double>(), 25, 0.2);
        EXPECT_NEAR(ring.at("measure").at("on_ms").get<double>(), 400, 20);
        EXPECT_NEAR(ring.at("measure").at("ring_dbfs").get<double>(), 0, 0.1);
    }
    EXPECT_NEAR(r[0].at("start_sample").get<double>(), 1600, 160);  // 20 ms
    EXPECT_NEAR(r[1].at("end_sample").get<double>(), 9600, 160);
    EXPECT_NEAR(r[0].at("measure").at("off_ms").get<double>(), 200, 20);
    EXPECT_FALSE(r[1].at("measure").contains("off_ms"));

    // 20 Hz clipped on one side only, 1 s, with a 30 % second harmonic.
    std::vector<std::int16_t> u(1600, 0);
    for (int i = 0; i < kRate; ++i) {
        const double t = 2 * std::numbers::pi * 20 * i / kRate;
        u.push_back(static_cast<std::int16_t>(std::clamp(20000 * (std::sin(t) + 0.3 * std::sin(2 * t)), -32768.0, 4000.0)));
    }
    u.resize(u.size() + 8000, 0);
    r = scan(written(dir, "uneven.wav", u));
    ASSERT_EQ(kinds(r), "ring ");
    EXPECT_NEAR(r[0].at("start_sample").get<double>(), 1600, 160);
    EXPECT_NEAR(r[0].at("end_sample").get<double>(), 9600, 160);
    EXPECT_NEAR(r[0].at("measure").at("ring_hz").get<double>(), 20, 0.2);

    // A 250 ms ring pulse of 40 Hz at -10 dBFS, 800 ms before a V.23
    // burst, then ringing: rp-as, the message, ring.
    std::vector<std::int16_t> y(1600, 0);
    addTones(y, 1600, 2000, {40}, {amplitudeOf(-10)});
    appendBurst(y, 6400, true);
    addTones(y, y.size(), 8000, {40}, {amplitudeOf(-10)});
    y.resize(y.size() + 800, 0);
    r = scan(written(dir, "rpas.wav", y));
    ASSERT_EQ(kinds(r), "rp-as v23-etsi ring ");
    EXPECT_NEAR(r[0].at("measure").at("on_ms").get<double>(), 250, 20);
    EXPECT_NEAR(r[0].at("measure").at("ring_hz").get<double>(), 40, 0.2);
    EXPECT_NEAR(r[0].at("measure").at("ring_dbfs").get<double>(), -10, 0.1);
    EXPECT_NEAR(r[1].at("measure").at("after_signal_ms").get<double>(), 800, 20);
}

TEST(CidscanSignals, LineReversalStepAndNothingFromNoiseHumOrABurstAlone) {
    TempDir dir;
    // A step of half full scale decaying with 10 ms, then a V.23 burst.
    std::vector<std::int16_t> x(2000, 0);
    for (int i = 0; i < 1600; ++i) x.push_back(static_cast<std::int16_t>(16384 * std::exp(-i / 80.0)));
    appendBurst(x, 800, true);
    std::vector<nlohmann::json> r = scan(written(dir, "reversal.wav", x));
    ASSERT_EQ(kinds(r), "line-reversal v23-etsi ");
    EXPECT_NEAR(r[0].at("start_sample").get<double>(), 2000, 8);
    EXPECT_EQ(r[0].at("end_sample"), r[0].at("start_sample"));

    // White noise at about -20 dBFS and a burst alone: no signal, and the
    // message has no time after a signal.
    std::vector<std::int16_t> y;
    unsigned seed = 12345;
    for (int i = 0; i < 3 * kRate; ++i) {
        seed = seed * 1103515245u + 12345u;
        y.push_back(static_cast<std::int16_t>(static_cast<int>((seed >> 16) & 0x7FFF) / 5 - 3276));
    }
    appendBurst(y, 800, false);
    r = scan(written(dir, "noise.wav", y));
    ASSERT_EQ(kinds(r), "bell202 ");
    EXPECT_FALSE(r[0].at("measure").contains("after_signal_ms"));

    // 60 Hz hum at -6 dBFS from 0.5 s before the burst to 0.5 s after it
    // (under 4 s): under the burst, not ringing.
    std::vector<std::int16_t> z(4000, 0);
    appendBurst(z, 4000, false);
    const std::size_t end = z.size();
    addTones(z, 0, end, {60}, {amplitudeOf(-6)});
    r = scan(written(dir, "hum.wav", z));
    ASSERT_EQ(kinds(r), "bell202 ");
}

}  // namespace
