// cidgen --plan's call-sequence conditions: each file's manifest line puts
// the sequence at the limit the condition names, and the signals it lists
// are the ones cidscan --measure names.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

#include "cidgen/compose.hpp"
#include "cidgen/options.hpp"
#include "cidgen/sequence.hpp"
#include "support/testsupport.hpp"

namespace {

using testsupport::runTool;
using testsupport::TempDir;

// A plan's manifest lines by short name (the file name without its number).
std::map<std::string, nlohmann::json> planLines(const std::string& plan, const TempDir& dir) {
    const auto r = runTool("cidgen", {"--plan", plan, dir.file(plan)});
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, nlohmann::json> lines;
    for (const std::string& text : testsupport::splitLines(testsupport::readFile(dir.file(plan + "/manifest.jsonl")))) {
        auto line = nlohmann::json::parse(text);
        const std::string file = line["file"];
        lines[file.substr(4, file.size() - 8)] = std::move(line);
    }
    return lines;
}

const nlohmann::json* signalOf(const nlohmann::json& conditions, const std::string& kind) {
    for (const auto& s : conditions["signals"]) {
        if (s["signal"] == kind) return &s;
    }
    return nullptr;
}

double lengthOf(const nlohmann::json& conditions, const std::string& kind) {
    const nlohmann::json* s = signalOf(conditions, kind);
    return s == nullptr ? -1.0 : (*s)["end_ms"].get<double>() - (*s)["start_ms"].get<double>();
}

TEST(CidgenPlan, SequenceConditionsSitAtTheLimitsTheyName) {
    TempDir dir;
    const auto gr30 = planLines("gr30", dir);
    ASSERT_TRUE(gr30.contains("cw-data-soonest"));
    EXPECT_DOUBLE_EQ(gr30.at("onhook-gap-min")["conditions"]["after_signal_ms"], 500.0);
    EXPECT_DOUBLE_EQ(gr30.at("onhook-gap-max")["conditions"]["after_signal_ms"], 2000.0);
    EXPECT_DOUBLE_EQ(lengthOf(gr30.at("cw-cas-short")["conditions"], "cas"), 75.0);
    EXPECT_DOUBLE_EQ(lengthOf(gr30.at("cw-cas-long")["conditions"], "cas"), 85.0);
    // The data 0 and 500 ms after the acknowledgement, the last signal.
    for (const auto& [name, after] : {std::pair{"cw-data-soonest", 0.0}, std::pair{"cw-data-latest", 500.0}}) {
        const auto& c = gr30.at(name)["conditions"];
        EXPECT_DOUBLE_EQ(c["after_signal_ms"], after) << name;
        EXPECT_EQ(c["signals"].back()["signal"], "ack") << name;
        EXPECT_DOUBLE_EQ(c["burst_ms"].get<double>() - c["signals"].back()["end_ms"].get<double>(), after) << name;
    }
    EXPECT_EQ(gr30.at("cw-mark-short")["conditions"]["mark_bits"], 70);
    EXPECT_EQ(gr30.at("cw-mark-long")["conditions"]["seizure_bits"], 0);

    const auto etsi = planLines("etsi", dir);
    EXPECT_DOUBLE_EQ(etsi.at("dtas-gap-min")["conditions"]["after_signal_ms"], 45.0);
    EXPECT_DOUBLE_EQ(etsi.at("dtas-gap-max")["conditions"]["after_signal_ms"], 500.0);
    EXPECT_DOUBLE_EQ(etsi.at("ring-gap-max")["conditions"]["after_signal_ms"], 2000.0);
    EXPECT_NE(signalOf(etsi.at("rpas-gap-min")["conditions"], "rp-as"), nullptr);

    const auto bt = planLines("bt", dir);
    const auto& reversal = bt.at("reversal-min")["conditions"];
    EXPECT_DOUBLE_EQ((*signalOf(reversal, "dt-as"))["start_ms"].get<double>() -
                         (*signalOf(reversal, "line-reversal"))["start_ms"].get<double>(),
                     100.0);
    EXPECT_DOUBLE_EQ(lengthOf(bt.at("dtas-short")["conditions"], "dt-as"), 88.0);
    EXPECT_DOUBLE_EQ(lengthOf(bt.at("dtas-long")["conditions"], "dt-as"), 110.0);
    EXPECT_DOUBLE_EQ(bt.at("gap-min")["conditions"]["after_signal_ms"], 45.0);
    EXPECT_EQ(bt.at("seizure-max")["conditions"]["seizure_bits"], 315);
    EXPECT_EQ(bt.at("mark-min")["conditions"]["mark_bits"], 55);
    const auto ntt = planLines("ntt", dir);
    EXPECT_DOUBLE_EQ(lengthOf(ntt.at("car-cadence-short")["conditions"], "ring"), 250.0);
    EXPECT_DOUBLE_EQ(lengthOf(ntt.at("car-cadence-long")["conditions"], "ring"), 600.0);
    // 6 s of CAR at 500 ms on and off: six rings before the burst.
    const auto& longest = ntt.at("car-longest")["conditions"];
    int before = 0;
    for (const auto& s : longest["signals"]) before += s["start_ms"] < longest["burst_ms"] ? 1 : 0;
    EXPECT_EQ(before, 6);

    const auto dtmf = planLines("dtmf-cid", dir);
    const auto& reversalGap = dtmf.at("reversal-gap-min")["conditions"];
    EXPECT_DOUBLE_EQ(reversalGap["after_signal_ms"], 200.0);
    EXPECT_EQ(reversalGap["signals"][0]["signal"], "line-reversal");
    EXPECT_FALSE(reversalGap.contains("seizure_bits"));
    EXPECT_DOUBLE_EQ(dtmf.at("ring-after-max")["conditions"]["sequence"]["ring_after_ms"], 500.0);

    // Every line names its preset and limit; the beyond lines are "either".
    for (const auto& [name, line] : bt) {
        EXPECT_EQ(line["conditions"]["sequence"]["preset"], "bt") << name;
        EXPECT_FALSE(line["conditions"]["sequence"]["limit"].get<std::string>().empty()) << name;
        EXPECT_EQ(line["expect"], name.ends_with("-beyond") ? "either" : "display") << name;
    }
}

TEST(CidgenPlan, SequenceSignalsAreListedInTimeOrderBeforeAndAfterTheBurst) {
    TempDir dir;
    for (const std::string plan : {"gr30", "etsi", "bt", "ntt", "dtmf-cid"}) {
        for (const auto& [name, line] : planLines(plan, dir)) {
            const auto& c = line["conditions"];
            if (!c.contains("sequence")) continue;
            double last = 0.0;
            for (const auto& s : c["signals"]) {
                const double start = s["start_ms"];
                EXPECT_GE(start, last) << plan << "/" << name;
                last = s.contains("end_ms") ? s["end_ms"].get<double>() : start;
                // Nothing the line sends overlaps the burst.
                EXPECT_TRUE(last <= c["burst_ms"].get<double>() || start > c["burst_ms"].get<double>())
                    << plan << "/" << name;
            }
            EXPECT_GE(c["burst_ms"].get<double>(), c["lead_ms"].get<double>()) << plan << "/" << name;
        }
    }
}

// The signals a sequence marks are those cidscan reports: the 440 Hz tone
// before the CAS is not one, the acknowledgement is.
TEST(CidgenPlan, SequenceStepsNameTheSignalsCidscanReports) {
    const std::map<cidgen::Preset, std::vector<std::string_view>> expected{
        {cidgen::Preset::UsOnHook, {"ring", "ring"}},
        {cidgen::Preset::UsCallWaiting, {"cas", "ack"}},
        {cidgen::Preset::EtsiDtas, {"line-reversal", "dt-as", "ring"}},
        {cidgen::Preset::EtsiRpas, {"rp-as", "ring"}},
        {cidgen::Preset::Bt, {"line-reversal", "dt-as", "ring", "ring"}},
        {cidgen::Preset::DtmfBeforeRing, {"line-reversal", "ring"}},
    };
    for (const auto& [preset, kinds] : expected) {
        cidgen::Options o;
        o.sequence = preset;
        o.standard = cidgen::presetStandard(preset);
        o.fields.number = "2015550123";
        if (preset == cidgen::Preset::UsCallWaiting) o.ack = 'D';
        const cidgen::Composed c = cidgen::compose(o);
        ASSERT_TRUE(c.error.empty()) << c.error;
        std::vector<std::string_view> found;
        for (const cidgen::Step& step : c.steps) {
            if (!step.signal.empty()) found.push_back(step.signal);
        }
        EXPECT_EQ(found, kinds) << cidgen::presetName(preset);
    }
}

}  // namespace
