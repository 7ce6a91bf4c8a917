// The demodulator's fast block path against its one-sample reference, over
// long recordings with noise, bursts, mark tones of about 55 ms and level
// jumps: every event, every byte and every position must agree.
//
// The reference takes each sample on its own: the limiter, the four
// correlators one step at a time, the decision against the threshold, the
// histories, and then demodAdvance for every sample, idle and mark run
// included. demodBlock correlates runs of samples at once and keeps the idle
// and mark-run steps in its own loop; this test is what holds the two together.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "sigcore/receivers/demod.hpp"
#include "sigcore/receivers/receiver.hpp"

namespace {

using sigcore::DemodMode;
using sigcore::DemodState;
using sigcore::NextByte;

// Records every byte with its position as events, and asks for each of the
// four byte tests in turn so that all of them steer the scoring.
class LoggingDecoder final : public sigcore::MessageDecoder {
public:
    NextByte startBurst(sigcore::EventSink& sink) override {
        sink.onEvent(sigcore::LineEnd{});
        return NextByte::MessageType;
    }
    NextByte decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, sigcore::EventSink& sink) override {
        sink.onEvent(sigcore::TextByte{byte});
        sink.onEvent(sigcore::BurstDetected{start});
        sink.onEvent(sigcore::BurstEnded{end});
        return static_cast<NextByte>(byte % 4);
    }
    bool isMessageType(std::uint8_t byte) const override { return byte == 0x80 || byte == 0x04 || byte == 0x41; }
};

// Continuous-phase FSK and the other pieces of a test recording.
struct Recording {
    int rate;
    std::vector<std::int16_t> samples;
    std::mt19937 random{12345};
    double phase = 0.0;

    // 0 .. n-1
    int pick(int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }

    void tone(double hz, double seconds, double amplitude) {
        const auto n = static_cast<std::size_t>(seconds * rate);
        for (std::size_t i = 0; i < n; ++i) {
            phase += 2 * M_PI * hz / rate;
            samples.push_back(static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase))));
        }
    }
    void silence(double seconds) { samples.resize(samples.size() + static_cast<std::size_t>(seconds * rate), 0); }
    void burst(double markSeconds, int bytes, double amplitude, double baudScale = 1.0) {
        const double bit = baudScale / 1200.0;
        tone(1200, markSeconds, amplitude);
        for (int b = 0; b < bytes; ++b) {
            const auto value = static_cast<unsigned>(random() & 0xFFu);
            tone(2200, bit, amplitude);
            for (int k = 0; k < 8; ++k) tone((value >> k) & 1u ? 1200 : 2200, bit, amplitude);
            tone(1200, bit * (1 + pick(3)), amplitude);
        }
        tone(1200, 0.02, amplitude);
    }
    // Gaussian noise over everything, with the level changing every few seconds.
    void addNoise(double rms) {
        std::normal_distribution<double> gauss(0.0, 1.0);
        double level = rms;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (i % static_cast<std::size_t>(3 * rate) == 0) level = rms * (0.2 + 2.0 * pick(100) / 100.0);
            const double x = samples[i] + level * gauss(random);
            samples[i] = static_cast<std::int16_t>(std::clamp(std::lround(x), -32768L, 32767L));
        }
    }
};

Recording makeRecording(int rate) {
    Recording r{rate, {}};
    // Mark tones around the 55 ms that confirm a burst, each followed by a
    // quieter burst: a threshold left over from the tone would lose it.
    for (double ms = 50.0; ms <= 57.0; ms += 0.5) {
        r.silence(0.1);
        r.tone(1200, ms / 1000.0, 20000);
        r.silence(0.05 + r.pick(50) / 1000.0);
        r.burst(0.06 + r.pick(100) / 1000.0, 6 + r.pick(20), 2500);
    }
    // Bursts at many levels, some short of mark, some off in speed.
    for (int k = 0; k < 60; ++k) {
        r.silence(0.05 + r.pick(300) / 1000.0);
        const double level = 300.0 * std::pow(1.25, k % 16);
        r.burst((40 + r.pick(200)) / 1000.0, 3 + r.pick(30), level, 0.97 + r.pick(7) / 100.0);
        if (k % 5 == 0) r.tone(2200, 0.03, level);  // a space tone after the burst
    }
    r.silence(0.3);
    r.addNoise(150.0);
    return r;
}

// The one-sample reference of the per-sample layer, then demodAdvance.
void referenceRun(DemodState& state, sigcore::MessageDecoder& decoder, sigcore::EventSink& sink,
                  const std::vector<std::int16_t>& samples) {
    sigcore::ToneBank tones;
    const sigcore::TonePlan& plan = sigcore::kBell202;
    sigcore::buildToneReferences(plan.markHz, state.samplingRate, plan.baud, tones.markCos, tones.markSin);
    sigcore::buildToneReferences(plan.spaceHz, state.samplingRate, plan.baud, tones.spaceCos, tones.spaceSin);
    for (std::size_t u = 0; u < samples.size(); ++u) {
        double x = samples[u];
        if (state.state >= DemodMode::AwaitStart) {
            int y = static_cast<int>(samples[u] * 2.5);
            y = std::clamp(y, -state.clipLevel, state.clipLevel);
            x = std::clamp(y, -32768, 32767);
        }
        const double mc = sigcore::correlatorStep(tones.markCos, x);
        const double ms = sigcore::correlatorStep(tones.markSin, x);
        const double sc = sigcore::correlatorStep(tones.spaceCos, x);
        const double ss = sigcore::correlatorStep(tones.spaceSin, x);
        const double mark = ms * ms + mc * mc;
        const double space = ss * ss + sc * sc;
        std::uint8_t d = sigcore::kUndecided;
        if (space < mark && state.threshold < mark) d = sigcore::kMark;
        if (mark < space && state.threshold < space) d = sigcore::kSpace;
        sigcore::energyPush(state.energy, mark, space);
        sigcore::decisionPush(state.decisions, d);
        sigcore::demodAdvance(state, decoder, sink, d, static_cast<std::uint32_t>(u));
    }
    sigcore::demodFinish(state, decoder, sink, static_cast<std::int64_t>(samples.size()));
}

void blockRun(DemodState& state, sigcore::MessageDecoder& decoder, sigcore::EventSink& sink,
              const std::vector<std::int16_t>& samples) {
    const sigcore::TonePlan& plan = sigcore::kBell202;
    sigcore::demodBuildTones(state, plan.markHz, plan.spaceHz, plan.baud);
    std::mt19937 random(7);
    std::size_t done = 0;
    while (done < samples.size()) {
        // Pieces of every size, across the demodulator's own chunks.
        const std::size_t n = std::min<std::size_t>(samples.size() - done, 1 + random() % 1500u);
        sigcore::demodBlock(state, decoder, sink, std::span<const std::int16_t>(samples.data() + done, n),
                            static_cast<std::uint32_t>(done));
        done += n;
    }
    sigcore::demodFinish(state, decoder, sink, static_cast<std::int64_t>(samples.size()));
}

std::size_t countOf(const std::vector<sigcore::Event>& events, std::size_t index) {
    std::size_t n = 0;
    for (const auto& e : events) n += e.index() == index ? 1u : 0u;
    return n;
}

TEST(DemodEquivalence, BlockPathAgreesWithOneSampleReferenceEventForEvent) {
    for (const int rate : {8000, 11025, 48000}) {
        const Recording recording = makeRecording(rate);
        sigcore::EventLog fast;
        sigcore::EventLog reference;
        LoggingDecoder fastDecoder;
        LoggingDecoder referenceDecoder;
        DemodState fastState;
        DemodState referenceState;
        sigcore::demodInit(fastState, 80, rate, 1200);
        sigcore::demodInit(referenceState, 80, rate, 1200);
        blockRun(fastState, fastDecoder, fast, recording.samples);
        referenceRun(referenceState, referenceDecoder, reference, recording.samples);

        // The recording is only a test if it gets the state machine everywhere.
        const std::size_t confirmed = countOf(reference.events, sigcore::Event(sigcore::MarkConfirmed{}).index());
        const std::size_t bytes = countOf(reference.events, sigcore::Event(sigcore::TextByte{}).index());
        EXPECT_GE(confirmed, 40u) << rate;
        EXPECT_GE(bytes, 100u) << rate;

        ASSERT_EQ(fast.events.size(), reference.events.size()) << rate;
        for (std::size_t i = 0; i < fast.events.size(); ++i) {
            ASSERT_TRUE(fast.events[i] == reference.events[i]) << "rate " << rate << ", event " << i;
        }
        EXPECT_EQ(fastState.threshold, referenceState.threshold) << rate;
        EXPECT_EQ(fastState.state, referenceState.state) << rate;
    }
}

}  // namespace
