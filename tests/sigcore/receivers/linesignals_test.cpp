// The line-signal receiver on synthetic samples: what it takes for an alert
// and what it leaves (too short, one tone only, FSK and DTMF tones), ringing
// of several frequencies and its edges, rings that start and stop at any phase
// or soon after a noisy start of the stream, hum and a DC offset that are
// neither, the decaying step of a line reversal, the same result whatever the block size (at a high rate
// too), and a settled position
// that never passes a signal still under way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "sigcore/receivers/linesignals.hpp"

namespace {

constexpr int kRate = 8000;

struct Collect final : sigcore::LineToneSink {
    std::vector<sigcore::LineTone> tones;
    void onLineTone(const sigcore::LineTone& tone) override { tones.push_back(tone); }
};

void addTones(std::vector<std::int16_t>& x, std::size_t at, std::size_t count, std::vector<double> hz, double amplitude) {
    if (x.size() < at + count) x.resize(at + count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        double v = x[at + i];
        for (const double f : hz) v += amplitude * std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / kRate);
        x[at + i] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
}

std::vector<sigcore::LineTone> run(const std::vector<std::int16_t>& x, std::size_t block = 256) {
    Collect sink;
    sigcore::LineSignalReceiver receiver(kRate, sink);
    for (std::size_t at = 0; at < x.size(); at += block) {
        receiver.push(std::span<const std::int16_t>(x).subspan(at, std::min(block, x.size() - at)));
    }
    receiver.finish();
    return sink.tones;
}

TEST(LineSignalReceiver, AlertNeedsBothTonesForThirtyMilliseconds) {
    std::vector<std::int16_t> x(800, 0);
    addTones(x, 800, 640, {2130, 2750}, 4000);   // 80 ms: an alert
    addTones(x, 4000, 160, {2130, 2750}, 4000);  // 20 ms: too short
    addTones(x, 6000, 800, {2130}, 8000);        // one tone only
    addTones(x, 8000, 800, {1300, 2100}, 8000);  // V.23's tones together
    addTones(x, 10000, 800, {941, 1633}, 8000);  // DTMF D
    addTones(x, 12000, 640, {2130, 2750}, 40);   // under -45 dBFS each
    x.resize(14000, 0);
    const std::vector<sigcore::LineTone> tones = run(x);
    ASSERT_EQ(tones.size(), 1u);
    EXPECT_EQ(tones[0].kind, sigcore::LineToneKind::Alert);
    // The blocks' edges: within one block of 5 ms.
    EXPECT_NEAR(static_cast<double>(tones[0].start), 800, 40);
    EXPECT_NEAR(static_cast<double>(tones[0].end), 1440, 40);
}

TEST(LineSignalReceiver, RingingOfEachFrequencyWithItsEdges) {
    for (const double hz : {16.0, 20.0, 25.0, 50.0, 68.0}) {
        SCOPED_TRACE(hz);
        std::vector<std::int16_t> x(1000, 0);
        addTones(x, 1000, 4000, {hz}, 60000);  // clipped
        x.resize(9000, 0);
        const std::vector<sigcore::LineTone> tones = run(x);
        ASSERT_EQ(tones.size(), 1u);
        EXPECT_EQ(tones[0].kind, sigcore::LineToneKind::Ringing);
        EXPECT_NEAR(tones[0].hz, hz, hz * 0.02);
        EXPECT_NEAR(static_cast<double>(tones[0].start), 1000, 160);
        EXPECT_NEAR(static_cast<double>(tones[0].end), 5000, 400);
    }
    // Clipped on one side only: the DC blocker's tail is the wave's own
    // mean (and crosses zero once more), yet the ringing ends within a
    // cycle and a half of where it does (it went on for seconds before).
    std::vector<std::int16_t> uneven(1000, 0);
    for (int i = 0; i < 8000; ++i) {
        const double v = 30000 * std::sin(2 * std::numbers::pi * 25 * i / kRate);
        uneven.push_back(static_cast<std::int16_t>(std::min(v, 3000.0)));
    }
    uneven.resize(20000, 0);
    const std::vector<sigcore::LineTone> one = run(uneven);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].kind, sigcore::LineToneKind::Ringing);
    EXPECT_NEAR(static_cast<double>(one[0].end), 9000, 480);
    // A high-level FSK tone or DTMF digit is no ringing; nor 50 ms of it.
    std::vector<std::int16_t> x(1000, 0);
    addTones(x, 1000, 4000, {1200}, 30000);
    addTones(x, 6000, 4000, {697, 1209}, 15000);
    addTones(x, 11000, 400, {25}, 20000);
    x.resize(14000, 0);
    EXPECT_TRUE(run(x).empty());
}

// Rings of a sine starting `phase` eighths of a cycle in, each `length`
// samples from each of `starts`, with white noise of RMS `noise` on them.
struct Rings {
    double hz = 25;
    double amplitude = 60000;  // clipped
    int phase = 0;
    std::size_t length = 0;
    std::vector<std::size_t> starts;
    std::size_t total = 0;
    double noise = 0;
};

std::vector<std::int16_t> samplesOf(const Rings& r, unsigned seed) {
    std::vector<double> wave(r.total, 0.0);
    for (const std::size_t at : r.starts) {
        for (std::size_t i = 0; i < r.length; ++i) {
            const double t = static_cast<double>(i) / kRate;
            wave[at + i] = r.amplitude * std::sin(r.phase * std::numbers::pi / 4 + 2 * std::numbers::pi * r.hz * t);
        }
    }
    std::vector<std::int16_t> x;
    for (const double v : wave) {
        double sum = 0;  // twelve uniform values: about Gaussian
        for (int k = 0; k < 12; ++k) {
            seed = seed * 1103515245u + 12345u;
            sum += static_cast<double>((seed >> 16) & 0x7FFF) / 32768.0;
        }
        x.push_back(static_cast<std::int16_t>(std::clamp(std::lround(v + r.noise * (sum - 6)), -32768L, 32767L)));
    }
    return x;
}

TEST(LineSignalReceiver, RingsAtAnyPhaseInTheirCadenceAndSoonAfterANoisyStart) {
    // Two clipped rings of 250 to 310 ms, 340 to 400 ms apart, the first
    // 0.4 s into the stream, clean and with noise 20 dB under them,
    // starting and ending at every phase of a cycle. A wave that starts in
    // its positive half crosses upwards where it has no zero crossing, so
    // can the noise just before it, and the filters' tail after a wave that
    // stops just before it would rise again crosses once more a cycle or two
    // later: none of them may make the ring's cycles look uneven.
    for (const double hz : {17.0, 55.0}) {
        const auto period = static_cast<std::size_t>(kRate / hz);
        for (const double noise : {0.0, 2100.0}) {
            for (int phase = 0; phase < 8; ++phase) {
                for (std::size_t cut = 0; cut < period; cut += period / 8) {
                    SCOPED_TRACE(testing::Message() << hz << " Hz, noise " << noise << ", phase " << phase
                                                    << ", cut " << cut);
                    const Rings r{hz, 60000, phase, 2000 + cut, {3200, 8400}, 14000, noise};
                    const unsigned seed = static_cast<unsigned>(phase * 1000) + static_cast<unsigned>(cut) + 1;
                    const std::vector<sigcore::LineTone> tones = run(samplesOf(r, seed));
                    EXPECT_EQ(tones.size(), 2u);
                    if (tones.size() != 2) continue;
                    for (std::size_t i = 0; i < 2; ++i) {
                        EXPECT_EQ(tones[i].kind, sigcore::LineToneKind::Ringing);
                        EXPECT_NEAR(tones[i].hz, hz, hz * 0.02);
                        // Edges within 20 ms.
                        const auto start = static_cast<double>(r.starts[i]);
                        EXPECT_NEAR(static_cast<double>(tones[i].start), start, 160);
                        EXPECT_NEAR(static_cast<double>(tones[i].end), start + static_cast<double>(r.length), 160);
                    }
                }
            }
        }
    }
    // The UK's 400 ms on, 200 ms off at 25 Hz with noise 20 dB under it:
    // the DC blocker's memory of the first ring, with the noise on it, is
    // no start of the second.
    for (int phase = 0; phase < 8; ++phase) {
        for (std::size_t cut = 0; cut < 320; cut += 40) {
            SCOPED_TRACE(testing::Message() << "cadence, phase " << phase << ", cut " << cut);
            const std::size_t on = 3200 + cut;
            const Rings r{25, 60000, phase, on, {3200, 3200 + on + 1600}, 3200 + 2 * on + 5600, 2000};
            const unsigned seed = static_cast<unsigned>(phase * 1000) + static_cast<unsigned>(cut) + 1;
            const std::vector<sigcore::LineTone> tones = run(samplesOf(r, seed));
            EXPECT_EQ(tones.size(), 2u);
            if (tones.size() != 2) continue;
            EXPECT_NEAR(static_cast<double>(tones[0].end), static_cast<double>(r.starts[0] + on), 160);
            EXPECT_NEAR(static_cast<double>(tones[1].start), static_cast<double>(r.starts[1]), 160);
        }
    }
    // A quieter ring (-16 dBFS) 0.2 s into a stream whose first sample is a
    // noise peak (three times the RMS): that sample is no DC offset whose
    // decay would raise the level the ring must stand 20 dB above.
    std::vector<std::int16_t> x = samplesOf({45, 5000, 0, 2000, {1600}, 6000, 350}, 7);
    x[0] = 1050;
    const std::vector<sigcore::LineTone> tones = run(x);
    ASSERT_EQ(tones.size(), 1u);
    EXPECT_EQ(tones[0].kind, sigcore::LineToneKind::Ringing);
    EXPECT_NEAR(static_cast<double>(tones[0].start), 1600, 160);
}

TEST(LineSignalReceiver, NeitherHumNoiseNorAnOffsetFromTheStart) {
    // 50 Hz for 5 s: longer than any ring.
    std::vector<std::int16_t> x;
    addTones(x, 0, 40000, {50}, 20000);
    EXPECT_TRUE(run(x).empty());
    // An offset of a quarter of full scale from the first sample on.
    EXPECT_TRUE(run(std::vector<std::int16_t>(16000, 8192)).empty());
    // Noise in ringing's band (white noise through a 40 Hz resonator,
    // about 50 Hz wide) at about -28 dBFS: 60 s of it. Its swings pass the
    // level now and then for a few cycles, uneven and little above the
    // level before them.
    std::vector<std::int16_t> noise;
    unsigned seed = 1;
    double y1 = 0;
    double y2 = 0;
    const double c = 2 * 0.98 * std::cos(2 * std::numbers::pi * 40 / kRate);
    for (int i = 0; i < 60 * kRate; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double y = c * y1 - 0.98 * 0.98 * y2 + static_cast<double>(static_cast<int>((seed >> 16) & 0x7FFF) - 16384);
        y2 = y1;
        y1 = y;
        noise.push_back(static_cast<std::int16_t>(std::clamp(std::lround(0.001 * y), -32768L, 32767L)));
    }
    const std::vector<sigcore::LineTone> found = run(noise);
    EXPECT_TRUE(found.empty()) << found.size() << " signals, the first from " << found.front().start;
}

TEST(LineSignalReceiver, DecayingStepIsALineReversal) {
    std::vector<std::int16_t> x(1000, 0);
    for (int i = 0; i < 2000; ++i) x.push_back(static_cast<std::int16_t>(-16384 * std::exp(-i / 80.0)));
    x.resize(6000, 0);
    const std::vector<sigcore::LineTone> tones = run(x);
    ASSERT_EQ(tones.size(), 1u);
    EXPECT_EQ(tones[0].kind, sigcore::LineToneKind::LineReversal);
    EXPECT_NEAR(static_cast<double>(tones[0].start), 1000, 4);
    EXPECT_EQ(tones[0].end, tones[0].start);
}

TEST(LineSignalReceiver, BlockSizeChangesNothingAndSettledWaitsForARun) {
    std::vector<std::int16_t> x(800, 0);
    addTones(x, 800, 800, {2130, 2750}, 4000);
    addTones(x, 3000, 3000, {25}, 20000);
    x.resize(9000, 0);
    const std::vector<sigcore::LineTone> whole = run(x, x.size());
    const std::vector<sigcore::LineTone> single = run(x, 1);
    const std::vector<sigcore::LineTone> odd = run(x, 77);
    ASSERT_EQ(whole.size(), 2u);
    for (const auto* other : {&single, &odd}) {
        ASSERT_EQ(other->size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ((*other)[i].start, whole[i].start);
            EXPECT_EQ((*other)[i].end, whole[i].end);
            EXPECT_DOUBLE_EQ((*other)[i].hz, whole[i].hz);
            EXPECT_DOUBLE_EQ((*other)[i].peak, whole[i].peak);
        }
    }
    // Fed sample by sample, the settled position never passes the start of
    // a signal not yet reported, and moves on.
    Collect sink;
    sigcore::LineSignalReceiver receiver(kRate, sink);
    std::int64_t last = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        receiver.push(std::span<const std::int16_t>(&x[i], 1));
        const std::int64_t settled = receiver.settledBefore();
        EXPECT_GE(settled, last);
        last = settled;
        const std::size_t reported = sink.tones.size();
        for (const sigcore::LineTone& t : whole) {
            const bool pending = std::none_of(sink.tones.begin(), sink.tones.begin() + static_cast<long>(reported),
                                              [&](const sigcore::LineTone& r) { return r.start == t.start; });
            if (pending && t.start < static_cast<std::int64_t>(i) - 40) {
                ASSERT_LE(settled, t.start) << i;
            }
        }
    }
    EXPECT_GT(last, 8000);
}

// At 48000 Hz a block holds several of the receiver's chunks of samples:
// the wave's threshold, side and swings carry over from one to the next,
// whatever the pushes' sizes.
TEST(LineSignalReceiver, AtAHighRateTheSameSignalsWhateverThePushes) {
    constexpr int kHigh = 48000;
    std::vector<std::int16_t> x(kHigh / 10, 0);
    const auto add = [&](std::size_t at, std::size_t count, std::vector<double> hz, double amplitude) {
        if (x.size() < at + count) x.resize(at + count, 0);
        for (std::size_t i = 0; i < count; ++i) {
            double v = 0;
            for (const double f : hz) {
                v += amplitude * std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / kHigh);
            }
            x[at + i] = static_cast<std::int16_t>(std::lround(v));
        }
    };
    add(kHigh / 5, kHigh / 10, {2130, 2750}, 4000);  // 100 ms of alert
    add(kHigh / 2, kHigh, {20}, 20000);              // 1 s of ringing
    x.resize(3 * kHigh, 0);
    // A decaying step well after the ringing.
    for (int i = 0; i < kHigh / 4; ++i) x.push_back(static_cast<std::int16_t>(12000 * std::exp(-i / 480.0)));
    x.resize(4 * kHigh, 0);
    const auto found = [&](std::size_t block) {
        Collect sink;
        sigcore::LineSignalReceiver receiver(kHigh, sink);
        for (std::size_t at = 0; at < x.size(); at += block) {
            receiver.push(std::span<const std::int16_t>(x).subspan(at, std::min(block, x.size() - at)));
        }
        receiver.finish();
        return sink.tones;
    };
    const std::vector<sigcore::LineTone> whole = found(x.size());
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole[0].kind, sigcore::LineToneKind::Alert);
    EXPECT_EQ(whole[1].kind, sigcore::LineToneKind::Ringing);
    EXPECT_NEAR(whole[1].hz, 20, 0.2);
    EXPECT_NEAR(static_cast<double>(whole[1].start), kHigh / 2.0, kHigh / 100.0);
    EXPECT_EQ(whole[2].kind, sigcore::LineToneKind::LineReversal);
    EXPECT_NEAR(static_cast<double>(whole[2].start), 3.0 * kHigh, kHigh / 1000.0);
    for (const std::size_t block : {std::size_t{1}, std::size_t{63}, std::size_t{65}, std::size_t{1000}}) {
        const std::vector<sigcore::LineTone> other = found(block);
        ASSERT_EQ(other.size(), whole.size()) << block;
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(other[i].kind, whole[i].kind) << block;
            EXPECT_EQ(other[i].start, whole[i].start) << block;
            EXPECT_EQ(other[i].end, whole[i].end) << block;
            EXPECT_DOUBLE_EQ(other[i].hz, whole[i].hz) << block;
            EXPECT_DOUBLE_EQ(other[i].peak, whole[i].peak) << block;
        }
    }
}

}  // namespace
