#include "cidforge/modulator.hpp"

#include "cidforge/messages.hpp"
#include "support/testsupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace cidforge;

namespace {

ModulatorState stateAt(std::uint32_t fs, std::int32_t amplitude = 0, std::int32_t noise = 0) {
    ModulatorState state;
    state.samplingFrequency = fs;
    state.amplitude = amplitude;
    state.noiseAmplitude = noise;
    return state;
}

std::vector<std::int64_t> bitCounts(ModulatorState& state, int bits) {
    SampleSink none;
    std::vector<std::int64_t> counts;
    for (int i = 0; i < bits; ++i) counts.push_back(toneBit(state, none, state.markFrequency, ToneMode::count));
    return counts;
}

const std::vector<std::uint8_t> kShortFrame{0x90, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x0C, 0x82, 0x0A, 0x30, 0xB1, 0xB2,
                                            0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39, 0x90, 0x03, 0x00, 0xB1};

}  // namespace

TEST(BitClock, SampleCountsAt8000Hz) {
    ModulatorState state = stateAt(8000);
    const auto counts = bitCounts(state, 1200);
    EXPECT_EQ(std::vector<std::int64_t>(counts.begin(), counts.begin() + 12),
              (std::vector<std::int64_t>{7, 7, 7, 6, 7, 7, 6, 7, 7, 6, 7, 7}));
    std::int64_t total = 0;
    for (const auto c : counts) total += c;
    EXPECT_EQ(total, 8001);
    EXPECT_EQ(state.nextSample, 8001);
}

TEST(BitClock, SampleCountsAt48000HzFollowTheAccumulatedTime) {
    ModulatorState state = stateAt(48000);
    const auto counts = bitCounts(state, 100);
    EXPECT_EQ(counts[0], 41);
    EXPECT_EQ(counts[1], 40);
    EXPECT_EQ(counts[20], 39);  // 21st bit
    EXPECT_EQ(counts[89], 41);  // 90th bit
    for (std::size_t i = 1; i < counts.size(); ++i) {
        if (i != 20 && i != 89) {
            EXPECT_EQ(counts[i], 40) << "bit " << i + 1;
        }
    }
}

TEST(BitClock, ResetKeepsThePhaseAndWriteMatchesCount) {
    ModulatorState state = stateAt(8000, 50);
    SampleSink none;
    const std::int64_t counted = sendMessage(state, none, kShortFrame, ToneMode::count);
    EXPECT_EQ(counted, 2147);  // 322 bits
    const double phase = state.carrierPhase;
    EXPECT_GT(phase, 0.0);
    EXPECT_LE(phase, kTwoPi);
    EXPECT_EQ(toneBit(state, none, 0, ToneMode::reset), 0);
    EXPECT_EQ(state.bitEndTime, 0.0);
    EXPECT_EQ(state.nextSample, 0);
    EXPECT_EQ(state.carrierPhase, phase);

    std::vector<std::int16_t> samples;
    SampleSink capture{nullptr, &samples};
    EXPECT_EQ(sendMessage(state, capture, kShortFrame, ToneMode::write), 2147);
    EXPECT_EQ(samples.size(), 2147u);
    // The written signal starts at the phase the count left, not at 0.
    EXPECT_EQ(samples[0], static_cast<std::int16_t>(50.0 * std::sin(phase) * 327.68));
}

TEST(BitClock, PhaseIsContinuousAcrossBits) {
    ModulatorState state = stateAt(8000, 50);
    std::vector<std::int16_t> samples;
    SampleSink capture{nullptr, &samples};
    toneBit(state, capture, 1300, ToneMode::write);  // samples 0..6
    toneBit(state, capture, 2100, ToneMode::write);  // samples 7..13, phase from 1300 Hz for 1/1200 s
    ASSERT_EQ(samples.size(), 14u);
    const double phaseAfterFirst = 1300.0 * kTwoPi / 1200.0 - kTwoPi;
    for (int n = 0; n < 14; ++n) {
        const double theta = n < 7 ? (n / 8000.0 - 0.0) * 1300.0 * kTwoPi
                                   : (n / 8000.0 - 1.0 / 1200.0) * 2100.0 * kTwoPi + phaseAfterFirst;
        EXPECT_EQ(samples[static_cast<std::size_t>(n)], static_cast<std::int16_t>(50.0 * std::sin(theta) * 327.68))
            << "sample " << n;
    }
}

TEST(BitClock, ByteFramingStartBitDataStopBits) {
    // 0xA5 on the line: start (space), 1 0 1 0 0 1 0 1 (least significant
    // first), five stop bits (mark).
    ModulatorState viaByte = stateAt(8000, 40);
    std::vector<std::int16_t> byteSamples;
    SampleSink byteSink{nullptr, &byteSamples};
    EXPECT_EQ(sendByte(viaByte, byteSink, 0xA5, ToneMode::write), 94);  // trunc(8000 * 14 / 1200) + 1

    ModulatorState viaBits = stateAt(8000, 40);
    std::vector<std::int16_t> bitSamples;
    SampleSink bitSink{nullptr, &bitSamples};
    for (const int bit : {0, 1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 1, 1, 1}) {
        toneBit(viaBits, bitSink, bit ? viaBits.markFrequency : viaBits.spaceFrequency, ToneMode::write);
    }
    EXPECT_EQ(byteSamples, bitSamples);
    EXPECT_EQ(viaByte.carrierPhase, viaBits.carrierPhase);
}

TEST(Samples, NoiseIsOneDrawPerToneSample) {
    ModulatorState state = stateAt(8000, 0, 10);
    std::vector<std::int16_t> samples;
    SampleSink capture{nullptr, &samples};
    sendByte(state, capture, 0x55, ToneMode::write);
    sigcore::NoiseState reference;
    ASSERT_EQ(samples.size(), 94u);
    for (const std::int16_t s : samples) {
        const int r = sigcore::noiseRandom(reference);
        const double noise = static_cast<double>(r - 16384) * 10.0 * 0.00006103515625;
        EXPECT_EQ(s, static_cast<std::int16_t>((noise + 0.0) * 327.68));
        EXPECT_LE(std::abs(static_cast<int>(s)), 3277);
    }
    EXPECT_EQ(state.noise.state, reference.state);
}

TEST(Samples, SaturateInsteadOfWrapping) {
    ModulatorState state = stateAt(48000, 100, 30);
    std::vector<std::int16_t> samples;
    SampleSink capture{nullptr, &samples};
    for (int i = 0; i < 40; ++i) toneBit(state, capture, 1300, ToneMode::write);
    // Re-create the values without saturation: each clipped sample keeps its sign.
    ModulatorState replay = stateAt(48000, 100, 30);
    int clipped = 0;
    std::size_t index = 0;
    SampleSink none;
    for (int i = 0; i < 40; ++i) {
        const double tStart = replay.bitEndTime;
        const std::int64_t first = replay.nextSample;
        const double phi = replay.carrierPhase;
        const std::int64_t count = toneBit(replay, none, 1300, ToneMode::count);
        for (std::int64_t n = first; n < first + count; ++n, ++index) {
            const double theta = (static_cast<double>(n) / 48000.0 - tStart) * 1300.0 * kTwoPi + phi;
            const int r = sigcore::noiseRandom(replay.noise);
            const double raw =
                (static_cast<double>(r - 16384) * 30.0 * 0.00006103515625 + 100.0 * std::sin(theta)) * 327.68;
            const auto truncated = static_cast<std::int64_t>(raw);
            ASSERT_LT(index, samples.size());
            if (truncated > 32767) {
                EXPECT_EQ(samples[index], 32767);
                ++clipped;
            } else if (truncated < -32768) {
                EXPECT_EQ(samples[index], -32768);
                ++clipped;
            } else {
                EXPECT_EQ(samples[index], truncated);
            }
        }
    }
    EXPECT_EQ(index, samples.size());
    EXPECT_GT(clipped, 100);
}

TEST(Samples, VeryLowSamplingFrequencyGivesEmptyBits) {
    ModulatorState state = stateAt(1, 50);
    std::vector<std::int16_t> samples;
    SampleSink capture{nullptr, &samples};
    std::int64_t total = 0;
    for (int i = 0; i < 2400; ++i) total += toneBit(state, capture, 1300, ToneMode::write);
    // Samples 0 and 1 (the end time reaches 1 s after 1200 bits), maybe 2.
    EXPECT_GE(total, 2);
    EXPECT_LE(total, 3);
    EXPECT_EQ(static_cast<std::size_t>(total), samples.size());
}

TEST(SignalPlan, SectionsFromDurations) {
    GeneratorSettings settings;
    ModulatorState state = stateAt(8000);
    settings.headerDuration = 83;
    settings.footerDuration = 100;
    settings.leaderDuration = 100;
    SignalPlan plan = planSignal(settings, state);
    EXPECT_EQ(plan.headerBits, 99);
    EXPECT_EQ(plan.footerBits, 120);
    EXPECT_EQ(plan.leaderSamples, 800);

    settings.headerDuration = -83;
    settings.footerDuration = 0;
    settings.leaderDuration = -100;
    plan = planSignal(settings, state);
    EXPECT_EQ(plan.headerBits, 0);
    EXPECT_EQ(plan.footerBits, 0);
    EXPECT_EQ(plan.leaderSamples, 0);

    // Products beyond 32 bits are formed in 64 bits.
    state.samplingFrequency = 48000;
    settings.leaderDuration = 100000;
    EXPECT_EQ(planSignal(settings, state).leaderSamples, 4800000);
}

namespace {

// The counting and writing passes as the program runs them: configure, plan,
// build the message, count, write.
GenerateResult countAndWrite(const GeneratorSettings& settings, const std::string& path) {
    ModulatorState state;
    configureModulator(settings, state);
    const SignalPlan plan = planSignal(settings, state);
    const std::vector<std::uint8_t> message = buildMessage(settings);
    const std::int64_t limit = maxWaveSamples(settings.quantizationBitLength);
    const std::int64_t total = countSignal(plan, message, state, limit);
    if (total > limit) return GenerateResult::signalTooLong;
    return writeSignal(settings, plan, message, total, state, path);
}

}  // namespace

TEST(WriteSignal, RefusesWhatTheHeaderCannotAnnounce) {
    EXPECT_EQ(maxWaveSamples(8), 2147483611);
    EXPECT_EQ(maxWaveSamples(16), 1073741805);

    testsupport::TempDir dir;
    GeneratorSettings settings;
    settings.samplingFrequency = 2000000000;
    settings.headerDuration = 2000;
    EXPECT_EQ(countAndWrite(settings, dir.file("big.wav")), GenerateResult::signalTooLong);
    EXPECT_FALSE(testsupport::fileExists(dir.file("big.wav")));

    settings.headerDuration = 0;
    settings.leaderDuration = 600;  // 2 x 1.2e9 samples of silence
    EXPECT_EQ(countAndWrite(settings, dir.file("big.wav")), GenerateResult::signalTooLong);
    EXPECT_FALSE(testsupport::fileExists(dir.file("big.wav")));

    // writeSignal itself refuses a count beyond the header's reach.
    ModulatorState state;
    configureModulator(settings, state);
    EXPECT_EQ(writeSignal(settings, SignalPlan{}, {}, maxWaveSamples(8) + 1, state, dir.file("big.wav")),
              GenerateResult::signalTooLong);
    EXPECT_FALSE(testsupport::fileExists(dir.file("big.wav")));
}

TEST(WriteSignal, FailedWritesAreReportedAndLeaveNoFile) {
    testsupport::TempDir dir;
    GeneratorSettings settings;
    settings.amplitude = 50;
    EXPECT_EQ(countAndWrite(settings, dir.file("no/such/folder.wav")), GenerateResult::cantCreate);
    EXPECT_EQ(countAndWrite(settings, "/dev/full"), GenerateResult::writeFailed);
    EXPECT_TRUE(testsupport::fileExists("/dev/full"));
}
