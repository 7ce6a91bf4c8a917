#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sigcore/receivers/demod.hpp"
#include "sigcore/report/reportsink.hpp"
#include "support/testsupport.hpp"

namespace {

using sigcore::DemodMode;
using sigcore::DemodState;

// A decoder that records what it is given (-1 for a reset) and expects
// characters; the US message types are its types.
struct RecordingDecoder final : sigcore::MessageDecoder {
    std::vector<int> decoded;
    sigcore::NextByte startBurst(sigcore::EventSink&) override {
        decoded.push_back(-1);
        return sigcore::NextByte::SevenBitChar;
    }
    sigcore::NextByte decodeByte(std::uint8_t byte, std::int64_t, std::int64_t, sigcore::EventSink&) override {
        decoded.push_back(byte);
        return sigcore::NextByte::SevenBitChar;
    }
    bool isMessageType(std::uint8_t byte) const override {
        return byte == 0x80 || byte == 0x81 || byte == 0x82 || byte == 0x04 || byte == 0x06 || byte == 0x0b;
    }
};

// A demodulator at a given rate with a report file and a decoder that
// records what it is given.
struct Bench {
    testsupport::TempDir dir;
    sigcore::Report report;
    DemodState state;
    RecordingDecoder decoder;
    std::vector<int>& decoded = decoder.decoded;
    std::unique_ptr<sigcore::ReportTextSink> sink;
    std::uint32_t next = 0;  // index of the next sample

    explicit Bench(int rate = 8000, int sensitivity = 80) {
        EXPECT_EQ(sigcore::reportOpen(report, dir.file("report.txt")), 0);
        sink = std::make_unique<sigcore::ReportTextSink>(report, rate);
        sigcore::demodInit(state, sensitivity, rate, 1200);
        sigcore::demodBuildTones(state, 1200, 2200, 1200);
    }
    // One sample's decision and energies straight into the histories, then
    // the state machine.
    void decide(std::uint8_t d, double mark = 0.0, double space = 0.0) {
        sigcore::energyPush(state.energy, mark, space);
        sigcore::decisionPush(state.decisions, d);
        sigcore::demodAdvance(state, decoder, *sink, d, next++);
    }
    void decideRun(std::uint8_t d, int count, double mark = 0.0, double space = 0.0) {
        for (int i = 0; i < count; ++i) decide(d, mark, space);
    }
    std::string text() {
        std::fflush(report.file.get());
        return testsupport::readFile(dir.file("report.txt"));
    }
};

TEST(Demod, TimingTable) {
    struct Row {
        int rate, bitSamples, markLimit, candidates, halfWidth, startOffset, r12, r13;
    };
    for (const Row& r : {Row{8000, 7, 440, 10, 2, 2, 80, 87}, Row{11025, 9, 606, 13, 3, 3, 110, 119},
                         Row{16000, 13, 880, 19, 4, 5, 160, 173}, Row{22050, 18, 1212, 27, 6, 8, 221, 239},
                         Row{44100, 37, 2425, 55, 12, 17, 441, 478}}) {
        DemodState s;
        sigcore::demodInit(s, 80, r.rate, 1200);
        EXPECT_EQ(s.bitSamples, r.bitSamples) << r.rate;
        EXPECT_EQ(s.markLimit, r.markLimit) << r.rate;
        EXPECT_EQ(s.candidateCount, r.candidates) << r.rate;
        EXPECT_EQ(s.voteHalfWidth, r.halfWidth) << r.rate;
        EXPECT_EQ(s.startOffset, r.startOffset) << r.rate;
        EXPECT_EQ(s.wait12, r.r12) << r.rate;
        EXPECT_EQ(s.wait13, r.r13) << r.rate;
        EXPECT_EQ(s.energy.records.size(), 1024u) << r.rate;
        EXPECT_EQ(s.state, DemodMode::Idle);
    }
}

TEST(Demod, HigherRatesGetLargerTables) {
    DemodState s48;
    sigcore::demodInit(s48, 80, 48000, 1200);
    EXPECT_EQ(s48.decisions.values.size(), 1024u);  // the fixed size still suffices
    DemodState s96;
    sigcore::demodInit(s96, 80, 96000, 1200);
    EXPECT_EQ(s96.candidateCount, 120);  // beyond the 64 a fixed score array would hold
    EXPECT_EQ(s96.scores.size(), 120u);
    EXPECT_GT(static_cast<int>(s96.decisions.values.size()), s96.wait13 + s96.voteHalfWidth + 2);
    EXPECT_EQ(s96.decisions.values.size(), 2048u);
    DemodState s384;
    sigcore::demodInit(s384, 80, 384000, 1200);
    EXPECT_EQ(s384.energy.records.size(), 8192u);
}

TEST(Demod, ThresholdsFromSensitivity) {
    const std::vector<std::pair<int, double>> table{{0, 67108864.0}, {50, 262144.0}, {80, 9410.137}, {100, 1024.0}};
    for (const auto& [sensitivity, threshold] : table) {
        DemodState s;
        sigcore::demodInit(s, sensitivity, 8000, 1200);
        EXPECT_NEAR(s.initialThreshold, threshold, threshold * 1e-6) << sensitivity;
        EXPECT_EQ(s.threshold, s.initialThreshold);
    }
}

TEST(Demod, CandidateSamplingPointsAt8000) {
    DemodState s;
    sigcore::demodInit(s, 80, 8000, 1200);
    auto points = [&](int v) {
        return std::vector<int>(s.candidatePoints.begin() + v * 10, s.candidatePoints.begin() + v * 10 + 10);
    };
    const std::vector<int> first{0, 6, 13, 20, 26, 33, 40, 46, 53, 60};
    EXPECT_EQ(points(0), first);
    EXPECT_EQ(points(1), (std::vector<int>{0, 7, 13, 20, 27, 33, 40, 47, 53, 60}));
    EXPECT_EQ(points(2), (std::vector<int>{0, 7, 14, 20, 27, 34, 40, 47, 54, 60}));
    for (const int v : {3, 9}) {
        std::vector<int> shifted = first;
        for (auto& p : shifted) p += v / 3;
        EXPECT_EQ(points(v), shifted) << v;
    }
}

TEST(Demod, MarkConfirmedAfter442Samples) {
    Bench b;
    b.decideRun(255, 8000);
    b.decideRun(1, 441, 2.5e7, 0.0);  // samples 8000..8440
    EXPECT_EQ(b.text(), "");
    EXPECT_EQ(b.state.state, DemodMode::MarkRun);
    b.decide(1, 2.5e7, 0.0);  // sample 8441
    EXPECT_EQ(b.text(), "detected [1000 8000]\nMark at least 55ms has found.\n");
    EXPECT_EQ(b.state.state, DemodMode::AwaitStart);
    EXPECT_EQ(b.decoded, (std::vector<int>{-1}));  // decoder reset
}

TEST(Demod, ShortMarkLeavesNoTrace) {
    Bench b;
    b.decideRun(255, 100);
    b.decideRun(1, 441, 2.5e7, 0.0);
    EXPECT_NEAR(b.state.threshold, 2.5e7 * 0.2, 1.0);  // level estimate at markRun 430
    EXPECT_EQ(b.state.clipLevel, 10000);
    b.decide(255);
    EXPECT_EQ(b.state.state, DemodMode::Idle);
    EXPECT_EQ(b.state.threshold, b.state.initialThreshold);
    EXPECT_EQ(b.text(), "");
}

TEST(Demod, LevelEstimateOfASteadyTone) {
    for (const int rate : {8000, 11025}) {
        Bench b(rate);
        const int samples = b.state.markLimit - 5;
        for (int i = 0; i < samples; ++i) {
            const double x = 10000 * std::sin(2 * M_PI * 1200 * i / rate);
            sigcore::demodStep(b.state, b.decoder, *b.sink, static_cast<std::int16_t>(std::lround(x)), b.next++);
        }
        ASSERT_EQ(b.state.state, DemodMode::MarkRun) << rate;
        EXPECT_NEAR(b.state.clipLevel, 10000, 300) << rate;
        const double factor = rate == 8000 ? 0.2 : 0.3;
        EXPECT_NEAR(b.state.threshold, 2.5e7 * factor, 2.5e7 * factor * 0.06) << rate;
    }
}

TEST(Demod, SyncFailuresClearedWhenABurstIsConfirmed) {
    Bench b;
    b.state.syncFailures = 2;  // as left by a burst that ended through two failures
    b.decideRun(1, 442, 1e6, 0.0);
    EXPECT_EQ(b.state.state, DemodMode::AwaitStart);
    EXPECT_EQ(b.state.syncFailures, 0);
}

TEST(Demod, LimiterSaturates) {
    Bench b;
    const auto limited = [&](std::int16_t x) {
        sigcore::demodStep(b.state, b.decoder, *b.sink, x, b.next++);
        return b.state.inputs[static_cast<std::size_t>(b.state.inputLead)];
    };
    EXPECT_EQ(limited(20000), 20000.0);  // idle: passes unchanged
    b.state.state = DemodMode::SeekStart;
    b.state.wakeIndex = -5;
    b.state.clipLevel = 40000;
    EXPECT_EQ(limited(20000), 32767.0);
    EXPECT_EQ(limited(-20000), -32768.0);
    EXPECT_EQ(limited(-3), -7.0);  // trunc(-7.5)
    b.state.clipLevel = 100;
    EXPECT_EQ(limited(20000), 100.0);
    EXPECT_EQ(limited(-20000), -100.0);
}

TEST(Demod, EndOfInputInsideABurst) {
    Bench b;
    b.state.state = DemodMode::SyncByte;
    sigcore::demodFinish(b.state, b.decoder, *b.sink, 24000);
    EXPECT_EQ(b.text(), "terminated [3000 24000]\n");
    Bench idle;
    idle.state.state = DemodMode::MarkRun;
    sigcore::demodFinish(idle.state, idle.decoder, *idle.sink, 24000);
    EXPECT_EQ(idle.text(), "");
}

// Decisions of one byte as a clean burst gives them: mark before, start bit,
// eight data bits least significant first, mark after. Returns B, the base
// the state machine would take (a third of a bit into the start bit).
int layByte(Bench& b, std::uint8_t value) {
    b.decideRun(1, 600 - static_cast<int>(b.next));
    const int start = static_cast<int>(b.next);
    const double bit = b.state.bitLength;
    for (int i = 0; i < 30 * 7; ++i) {
        const int cell = static_cast<int>(i / bit);
        const int level = cell == 0 ? 0 : (cell <= 8 ? (value >> (cell - 1)) & 1 : 1);
        b.decide(static_cast<std::uint8_t>(level), level ? 1e6 : 0.0, level ? 0.0 : 1e6);
    }
    return start + b.state.startOffset;
}

int bestScore(Bench& b, int base) {
    int best = -1000;
    for (int v = 0; v < b.state.candidateCount; ++v) {
        best = std::max(best, sigcore::demodScoreCandidate(b.state, b.decoder, b.next - 1, base, v));
    }
    return best;
}

TEST(Demod, TypeCodeTestOfTheFirstByte) {
    for (const auto& [value, penalty] : std::vector<std::pair<int, int>>{{0x80, 0}, {0x04, 0}, {0x41, 100}}) {
        Bench b;
        const int base = layByte(b, static_cast<std::uint8_t>(value));
        b.state.expected = sigcore::NextByte::AnyByte;  // checksum next: no test
        const int free = bestScore(b, base);
        EXPECT_GT(free, 0) << value;
        b.state.expected = sigcore::NextByte::MessageType;
        EXPECT_EQ(bestScore(b, base), free - penalty) << value;
        b.state.expected = sigcore::NextByte::SevenBitChar;  // bit 7 must be 0
        EXPECT_EQ(bestScore(b, base), free - (value & 0x80 ? 100 : 0)) << value;
        EXPECT_EQ(sigcore::demodAssembleByte(b.state, b.next - 1, base, 1), value);
    }
}

TEST(Demod, ParityTestOfTheNttVariant) {
    for (const auto& [value, penalty] : std::vector<std::pair<int, int>>{{0x07, 10}, {0x03, 0}, {0x83, 10}}) {
        Bench b(8000, 80);
        const int base = layByte(b, static_cast<std::uint8_t>(value));
        b.state.expected = sigcore::NextByte::AnyByte;  // CRC bytes: no test
        const int free = bestScore(b, base);
        b.state.expected = sigcore::NextByte::EvenParityChar;
        EXPECT_EQ(bestScore(b, base), free - penalty) << value;
    }
}

}  // namespace
