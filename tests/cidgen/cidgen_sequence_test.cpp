// cidgen's call sequences: every preset's message decodes valid where the
// timing table puts it; the alert tones and the ringing sit where the table
// says, at the cadence asked for, found by a tone fit over the samples; bad
// preset choices are refused.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support/testsupport.hpp"

namespace {

using testsupport::runTool;
using testsupport::TempDir;

constexpr double kRate = 8000.0;

struct Row {
    double startMs = 0.0;
    double endMs = 0.0;
    std::string what;
};

std::vector<Row> parseTable(const std::string& text) {
    std::vector<Row> rows;
    const auto lines = testsupport::splitLines(text);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        int index = 0;
        Row r;
        in >> index >> r.startMs >> r.endMs;
        std::getline(in >> std::ws, r.what);
        rows.push_back(r);
    }
    return rows;
}

const Row* rowNamed(const std::vector<Row>& rows, const std::string& prefix, int nth = 0) {
    for (const Row& r : rows) {
        if (r.what.starts_with(prefix) && nth-- == 0) return &r;
    }
    return nullptr;
}

std::vector<double> readSamples(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<double> samples(static_cast<std::size_t>(info.frames));
    sf_read_double(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

// The amplitude of `hz` over a sliding window of `n` samples, by window
// start: the tone sums from a running sum of x e^{-jwk}.
std::vector<double> slidingAmplitude(const std::vector<double>& x, double hz, std::size_t n) {
    std::vector<std::complex<double>> sums(x.size() + 1);
    const double w = 2.0 * std::numbers::pi * hz / kRate;
    for (std::size_t k = 0; k < x.size(); ++k) sums[k + 1] = sums[k] + x[k] * std::polar(1.0, -w * double(k));
    std::vector<double> amp;
    for (std::size_t k = 0; k + n <= x.size(); ++k) amp.push_back(2.0 * std::abs(sums[k + n] - sums[k]) / double(n));
    return amp;
}

// Where the tone's bursts begin and end (ms): where the window amplitude
// crosses half of `peak`, the window's middle at the crossing.
std::vector<std::pair<double, double>> bursts(const std::vector<double>& x, double hz, std::size_t n, double peak) {
    const auto amp = slidingAmplitude(x, hz, n);
    std::vector<std::pair<double, double>> found;
    bool on = false;
    for (std::size_t k = 0; k < amp.size(); ++k) {
        if ((amp[k] > peak / 2.0) == on) continue;
        on = !on;
        const double ms = (double(k) + double(n) / 2.0) * 1000.0 / kRate;
        if (on) found.push_back({ms, 0.0});
        else found.back().second = ms;
    }
    return found;
}

struct PresetCase {
    std::string preset;
    std::string standard;  // cidscan's name
};

// The line signal cidscan --measure reports for a row of the table, or ""
// for a row that is none.
std::string signalOfRow(const std::string& what) {
    if (what.rfind("line reversal", 0) == 0) return "line-reversal";
    if (what.rfind("CAS", 0) == 0) return "cas";
    if (what.rfind("DT-AS", 0) == 0) return "dt-as";
    if (what.rfind("RP-AS", 0) == 0) return "rp-as";
    if (what.rfind("acknowledgement DTMF", 0) == 0) return "ack";
    if (what.find("ring (") != std::string::npos) return "ring";
    return "";
}

// cidscan's output split into its one message and its line signals, the
// signals checked against the table's rows in order: alert tones' edges
// within 1 ms, ringing's within 20 ms, a line reversal at its step.
nlohmann::json messageCheckingSignals(const std::string& out, const std::vector<Row>& rows) {
    std::vector<nlohmann::json> messages;
    std::vector<nlohmann::json> signals;
    for (const std::string& line : testsupport::splitLines(out)) {
        auto j = nlohmann::json::parse(line);
        (j.contains("signal") ? signals : messages).push_back(std::move(j));
    }
    std::vector<const Row*> expected;
    for (const Row& row : rows) {
        if (!signalOfRow(row.what).empty()) expected.push_back(&row);
    }
    EXPECT_EQ(signals.size(), expected.size()) << out;
    for (std::size_t i = 0; i < std::min(signals.size(), expected.size()); ++i) {
        const std::string kind = signalOfRow(expected[i]->what);
        EXPECT_EQ(signals[i]["signal"], kind) << expected[i]->what;
        const double slack = kind == "ring" || kind == "rp-as" ? 20.0 : 1.0;
        EXPECT_NEAR(signals[i]["start_s"].get<double>() * 1000.0, expected[i]->startMs, slack) << expected[i]->what;
        if (kind != "line-reversal") {
            EXPECT_NEAR(signals[i]["end_s"].get<double>() * 1000.0, expected[i]->endMs, slack) << expected[i]->what;
        }
    }
    EXPECT_EQ(messages.size(), 1u) << out;
    return messages.empty() ? nlohmann::json::object() : messages.front();
}

TEST(CidgenSequence, EveryPresetDecodesValidWhereItsTableSaysAndTheTableCoversTheFile) {
    TempDir dir;
    const std::vector<PresetCase> cases{{"us-onhook", "bell202"}, {"us-cw", "bell202"},  {"etsi-dtas", "v23-etsi"},
                                        {"etsi-rpas", "v23-etsi"}, {"etsi-ring", "v23-etsi"}, {"bt", "v23-etsi"},
                                        {"ntt", "v23-ntt"},        {"dtmf", "dtmf-cid"}};
    for (const PresetCase& c : cases) {
        SCOPED_TRACE(c.preset);
        const std::string wav = dir.file(c.preset + ".wav");
        const std::vector<std::string> args{"--sequence", c.preset, "--number", "0123456789", "--date", "12-25",
                                            "--time", "10:30"};
        auto withOut = args;
        withOut.insert(withOut.end(), {"-o", wav});
        ASSERT_EQ(runTool("cidgen", withOut).status, 0);
        auto describe = args;
        describe.push_back("--describe");
        const auto table = runTool("cidgen", describe);
        ASSERT_EQ(table.status, 0) << table.err;
        const auto rows = parseTable(table.out);
        ASSERT_GE(rows.size(), 4u) << table.out;
        for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].startMs, rows[i - 1].endMs);
        EXPECT_NEAR(rows.back().endMs * kRate / 1000.0, double(readSamples(wav).size()), 0.5);

        const auto scan = runTool("cidscan", {"--json", "--measure", wav});
        ASSERT_EQ(scan.status, 0) << scan.err;
        const auto j = messageCheckingSignals(scan.out, rows);
        EXPECT_EQ(j["standard"], c.standard);
        EXPECT_EQ(j["valid"], true);
        EXPECT_EQ(j["fields"]["number"], "0123456789");
        const Row* data = c.preset == "dtmf" ? rowNamed(rows, "DTMF") : rowNamed(rows, "FSK burst");
        ASSERT_NE(data, nullptr) << table.out;
        if (c.preset != "dtmf") {
            EXPECT_NEAR(j["end_s"].get<double>() * 1000.0, data->endMs, 1.0);
            const auto& m = j["measure"];
            const double start = m["seizure_start_s"].is_null() ? m["mark_start_s"].get<double>()
                                                                : m["seizure_start_s"].get<double>();
            EXPECT_NEAR(start * 1000.0, data->startMs, 1.0);
        } else {
            // The digits' own measurements: the message's end is only as
            // fine as the DTMF receiver's blocks.
            const auto& digits = j["measure"]["digits"];
            EXPECT_NEAR(digits[0]["start_s"].get<double>() * 1000.0, data->startMs, 1.0);
            const auto& last = digits.back();
            EXPECT_NEAR(last["start_s"].get<double>() * 1000.0 + last["duration_ms"].get<double>(), data->endMs, 1.0);
        }
    }
}

TEST(CidgenSequence, AlertToneAndRingCadenceSitWhereAskedWithinAMillisecond) {
    TempDir dir;
    // A DT-AS of 90 ms, 70 ms before the data, then a double ring at 400,300.
    const std::string wav = dir.file("bt.wav");
    const std::vector<std::string> bt{"--sequence", "bt", "--alert-ms", "90", "--gap-ms", "70", "--ring-cadence",
                                      "400,300", "--ring-hz", "20", "--ring-level", "-6", "--number", "123"};
    auto withOut = bt;
    withOut.insert(withOut.end(), {"-o", wav});
    ASSERT_EQ(runTool("cidgen", withOut).status, 0);
    auto describe = bt;
    describe.push_back("--describe");
    const auto rows = parseTable(runTool("cidgen", describe).out);
    const auto x = readSamples(wav);
    const double alertPeak = std::pow(10.0, (-13.5 - 3.14) / 20.0);
    const Row* alert = rowNamed(rows, "DT-AS");
    const Row* burst = rowNamed(rows, "FSK burst");
    ASSERT_TRUE(alert != nullptr && burst != nullptr);
    EXPECT_NEAR(alert->endMs - alert->startMs, 90.0, 0.2);
    EXPECT_NEAR(burst->startMs - alert->endMs, 70.0, 0.2);
    for (const double hz : {2130.0, 2750.0}) {
        const auto found = bursts(x, hz, 80, alertPeak);
        ASSERT_FALSE(found.empty());
        EXPECT_NEAR(found[0].first, alert->startMs, 1.0) << hz;
        EXPECT_NEAR(found[0].second, alert->endMs, 1.0) << hz;
    }
    const auto rings = bursts(x, 20.0, 400, std::pow(10.0, -6.0 / 20.0));  // one period of 20 Hz
    ASSERT_EQ(rings.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const Row* ring = rowNamed(rows, "ring (", static_cast<int>(i));
        ASSERT_NE(ring, nullptr);
        EXPECT_NEAR(rings[i].first, ring->startMs, 1.0);
        EXPECT_NEAR(rings[i].second - rings[i].first, 400.0, 1.0);
    }
    EXPECT_NEAR(rings[1].first - rings[0].second, 300.0, 1.0);

    // US on-hook: the second ring keeps the cadence from the first ring's end.
    const std::string us = dir.file("us.wav");
    ASSERT_EQ(runTool("cidgen", {"--sequence", "us-onhook", "--ring-cadence", "1500,3000", "--number", "5551234", "-o",
                                 us})
                  .status,
              0);
    const auto usRings = bursts(readSamples(us), 20.0, 400, std::pow(10.0, -3.0 / 20.0));
    ASSERT_EQ(usRings.size(), 2u);
    EXPECT_NEAR(usRings[0].second - usRings[0].first, 1500.0, 1.0);
    EXPECT_NEAR(usRings[1].first - usRings[0].second, 3000.0, 1.0);
    EXPECT_NEAR(usRings[1].second - usRings[1].first, 1500.0, 1.0);

    // --ring-after-ms puts the second ring that long after the data instead.
    const auto moved = parseTable(
        runTool("cidgen", {"--sequence", "us-onhook", "--ring-after-ms", "700", "--number", "5551234", "--describe"})
            .out);
    const Row* data = rowNamed(moved, "FSK burst");
    const Row* second = rowNamed(moved, "ring (");
    ASSERT_TRUE(data != nullptr && second != nullptr);
    EXPECT_DOUBLE_EQ(second->startMs - data->endMs, 700.0);
}

TEST(CidgenSequence, BadPresetsAndMismatchedMessagesAreRefused) {
    TempDir dir;
    const std::string wav = dir.file("x.wav");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--sequence", "mars", "-o", wav}, "--sequence"},
        {{"--describe", "--number", "1"}, "--describe"},
        {{"--sequence", "dtmf", "--standard", "etsi", "--number", "1", "-o", wav}, "--sequence dtmf"},
        {{"--sequence", "bt", "--standard", "dtmf-cid", "--number", "1", "-o", wav}, "--sequence bt"},
        {{"--sequence", "bt", "--ring-cadence", "400", "-o", wav}, "--ring-cadence"},
        {{"--sequence", "bt", "--ring-level", "3", "-o", wav}, "--ring-level"},
        {{"--sequence", "bt", "--from-json", "-", "-o", wav}, "--from-json"},
        {{"--sequence", "bt", "--ack", "D", "--number", "1", "-o", wav}, "only with --sequence us-cw"},
        {{"--sequence", "etsi-dtas", "--sas-ms", "0", "--number", "1", "-o", wav}, "only with --sequence us-cw"},
        {{"--sequence", "us-cw", "--ack-delay-ms", "20", "--number", "1", "-o", wav}, "--ack-delay-ms: needs --ack"},
        {{"--sequence", "us-cw", "--ack", "D", "--ack-delay-ms", "200", "--number", "1", "-o", wav},
         "must end within --gap-ms"},
        {{"--sequence", "us-cw", "--ack", "E", "--number", "1", "-o", wav}, "--ack: takes one DTMF digit"},
        {{"--sequence", "us-cw", "--ack", "DD", "--number", "1", "-o", wav}, "--ack: takes one DTMF digit"},
        {{"--sequence", "us-cw", "--ack-ms", "70", "--number", "1", "-o", wav}, "--ack-ms: needs --ack"},
        {{"--sequence", "us-cw", "--ack", "D", "--ack-ms", "0", "--number", "1", "-o", wav}, "--ack-ms"},
        {{"--sequence", "us-cw", "--ring-after-ms", "300", "--number", "1", "-o", wav}, "sends no ringing"},
        {{"--sequence", "dtmf", "--reversal-ms", "300", "--number", "1", "-o", wav}, "--reversal-ms: only with"},
        {{"--sequence", "etsi-ring", "--reversal-ms", "300", "--number", "1", "-o", wav}, "--reversal-ms: only with"},
        {{"--sequence", "us-cw", "--sas-ms", "-1", "--number", "1", "-o", wav}, "--sas-ms"},
        {{"--sequence", "us-cw", "--sas-level", "nan", "--number", "1", "-o", wav}, "--sas-level"},
    };
    for (const auto& [args, named] : refused) {
        const auto r = runTool("cidgen", args);
        EXPECT_EQ(r.status, 1) << named;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_FALSE(testsupport::fileExists(wav)) << named;
    }
    // --describe prints the table only: no file even with -o.
    const auto table = runTool("cidgen", {"--sequence", "ntt", "--describe", "-o", wav});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("CAR ring (16 Hz)"), std::string::npos) << table.out;
    EXPECT_FALSE(testsupport::fileExists(wav));
}

TEST(CidgenSequence, CallWaitingWithTheAcknowledgementRenderedStillDecodesWhereTheTableSays) {
    TempDir dir;
    const std::string wav = dir.file("cw.wav");
    const std::vector<std::string> args{"--sequence", "us-cw", "--ack", "d", "--ack-delay-ms", "30", "--sas-ms", "0",
                                        "--number", "5551234"};
    auto withOut = args;
    withOut.insert(withOut.end(), {"-o", wav});
    ASSERT_EQ(runTool("cidgen", withOut).status, 0);
    auto describe = args;
    describe.push_back("--describe");
    const auto table = runTool("cidgen", describe);
    ASSERT_EQ(table.status, 0) << table.err;
    const auto rows = parseTable(table.out);
    EXPECT_EQ(rowNamed(rows, "SAS"), nullptr) << table.out;  // --sas-ms 0 leaves it out
    const Row* cas = rowNamed(rows, "CAS");
    const Row* ack = rowNamed(rows, "acknowledgement DTMF D (941+1633 Hz)");
    const Row* data = rowNamed(rows, "FSK burst");
    ASSERT_TRUE(cas != nullptr && ack != nullptr && data != nullptr) << table.out;
    EXPECT_DOUBLE_EQ(ack->startMs - cas->endMs, 30.0);
    EXPECT_DOUBLE_EQ(ack->endMs - ack->startMs, 60.0);
    EXPECT_DOUBLE_EQ(data->startMs - cas->endMs, 250.0);  // the gap holds the acknowledgement

    const auto scan = runTool("cidscan", {"--json", "--measure", wav});
    ASSERT_EQ(scan.status, 0) << scan.err;
    // The burst's line (the acknowledgement may show as a line of its own).
    nlohmann::json j;
    for (const auto& line : testsupport::splitLines(scan.out)) {
        if (const auto one = nlohmann::json::parse(line); one["standard"] == "bell202") j = one;
    }
    ASSERT_FALSE(j.is_null()) << scan.out;
    EXPECT_EQ(j["valid"], true);
    EXPECT_EQ(j["fields"]["number"], "5551234");
    EXPECT_NEAR(j["measure"]["mark_start_s"].get<double>() * 1000.0, data->startMs, 1.0);
}

}  // namespace
