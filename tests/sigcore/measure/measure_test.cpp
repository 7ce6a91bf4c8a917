// The measurement layer against signals made here with set parameters: an
// FSK burst with a channel seizure, twist, an off-nominal bit rate and
// uneven stop bits (clean and noisy, 8000 and 48000 Hz, tones far apart),
// DTMF digits with set tones, levels and lengths, and the sample ring across its wrap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "sigcore/measure/dtmfmeasure.hpp"
#include "sigcore/measure/fskmeasure.hpp"
#include "sigcore/measure/samplering.hpp"
#include "sigcore/measure/tonefit.hpp"

namespace {

constexpr double kFullScale = 32768.0;

double amplitudeOf(double dbfs) { return kFullScale * std::pow(10.0, dbfs / 20.0); }

// What the burst was made with; positions in samples.
struct FskTruth {
    double markHz = 1203.5;
    double spaceHz = 2194.2;
    double markDbfs = -12.0;
    double spaceDbfs = -15.5;
    double baud = 1206.0;
    int seizureBits = 96;
    int markBits = 150;
    double seizureStart = 0;
    double markStart = 0;
    double messageStart = 0;
    double end = 0;
    std::int64_t messageEndSample = 0;
    std::vector<std::uint8_t> message;  // sent with one stop bit each instead of the bytes below
};

// A continuous-phase burst: silence, seizure (space first), mark, the
// bytes with 1 to 3 stop bits, two mark bits, silence.
std::vector<float> fskBurst(int rate, FskTruth& t, double snrDb) {
    std::vector<int> bits;
    for (int k = 0; k < t.seizureBits; ++k) bits.push_back(k % 2);
    bits.insert(bits.end(), static_cast<std::size_t>(t.markBits), 1);
    const std::vector<int> stops{1, 3, 2, 1, 2, 1};
    const std::vector<std::uint8_t> bytes =
        t.message.empty() ? std::vector<std::uint8_t>{0x04, 0x12, 0x31, 0x32, 0x35, 0x30, 0x33} : t.message;
    std::size_t messageBits = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bits.push_back(0);
        for (int b = 0; b < 8; ++b) bits.push_back((bytes[i] >> b) & 1);
        const int stop = i + 1 < bytes.size() && t.message.empty() ? stops[i] : 1;
        bits.insert(bits.end(), static_cast<std::size_t>(stop), 1);
        messageBits += static_cast<std::size_t>(9 + stop);
    }
    bits.insert(bits.end(), 2, 1);
    const int lead = rate / 5;
    const double perBit = rate / t.baud;
    std::vector<float> x(static_cast<std::size_t>(lead), 0.0f);
    const auto n = static_cast<std::size_t>(std::ceil(static_cast<double>(bits.size()) * perBit));
    double phase = 0.3;
    for (std::size_t i = 0; i < n; ++i) {
        const auto k = std::min(bits.size() - 1, static_cast<std::size_t>(static_cast<double>(i) / perBit));
        const bool mark = bits[k] == 1;
        x.push_back(static_cast<float>(amplitudeOf(mark ? t.markDbfs : t.spaceDbfs) * std::cos(phase)));
        phase += 2 * std::numbers::pi * (mark ? t.markHz : t.spaceHz) / rate;
    }
    x.resize(x.size() + static_cast<std::size_t>(rate / 4), 0.0f);
    if (snrDb < 100) {
        const double power = (std::pow(amplitudeOf(t.markDbfs), 2) + std::pow(amplitudeOf(t.spaceDbfs), 2)) / 4;
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, std::sqrt(power / std::pow(10.0, snrDb / 10)));
        for (float& v : x) v += static_cast<float>(noise(random));
    }
    t.seizureStart = lead;
    t.markStart = lead + t.seizureBits * perBit;
    t.messageStart = t.markStart + t.markBits * perBit;
    t.messageEndSample = static_cast<std::int64_t>(std::ceil(t.messageStart + static_cast<double>(messageBits) * perBit));
    t.end = lead + static_cast<double>(n);
    return x;
}

TEST(Measure, FskBurstOfKnownTonesLevelsBitRateAndLengths) {
    for (const int rate : {8000, 48000}) {
        for (const double snr : {200.0, 20.0}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, SNR " << snr);
            FskTruth t;
            const std::vector<float> x = fskBurst(rate, t, snr);
            // Given to the measurement from a stream position other than 0,
            // as the decoder would give it.
            const std::int64_t first = 1000000;
            const sigcore::FskMeasurement m = sigcore::measureFsk(
                x, first, rate, {1200, 2200, 1200}, first + std::llround(t.messageStart), first + t.messageEndSample);
            ASSERT_TRUE(m.measured);
            EXPECT_NEAR(m.markHz, t.markHz, 1.0);
            EXPECT_NEAR(m.spaceHz, t.spaceHz, 1.0);
            EXPECT_NEAR(m.markDbfs, t.markDbfs, 0.2);
            EXPECT_NEAR(m.spaceDbfs, t.spaceDbfs, 0.2);
            EXPECT_NEAR(m.twistDb, t.markDbfs - t.spaceDbfs, 0.3);
            EXPECT_NEAR(m.bitRate, t.baud, t.baud * 0.001);
            EXPECT_EQ(m.seizureBits, t.seizureBits);
            EXPECT_EQ(m.markBits, t.markBits);
            EXPECT_EQ(m.stopBitsMin, 1);
            EXPECT_EQ(m.stopBitsMax, 3);
            const double ms = rate / 1000.0;
            ASSERT_TRUE(m.seizureStart.has_value());
            EXPECT_NEAR(*m.seizureStart - first, t.seizureStart, ms);
            EXPECT_NEAR(m.markStart - first, t.markStart, ms);
            EXPECT_NEAR(m.messageStart - first, t.messageStart, ms);
            EXPECT_NEAR(m.end - first, t.end, ms);
            if (snr < 100) {
                EXPECT_NEAR(m.snrDb, snr + 10 * std::log10(rate / 2.0 / (2194.2 - 1203.5 + 1200)), 1.5);
            }
        }
    }
    // V.23 tones, the space 6 dB over the mark: a burst that opens with its
    // loud tone must not seem to begin a bit early.
    FskTruth loud;
    loud.markHz = 1306.4;
    loud.spaceHz = 2099.7;
    loud.markDbfs = -23.7;
    loud.spaceDbfs = -17.7;
    loud.baud = 1203.9;
    loud.seizureBits = 220;
    loud.markBits = 141;
    const std::vector<float> y = fskBurst(8000, loud, 200.0);
    const sigcore::FskMeasurement v = sigcore::measureFsk(y, 0, 8000, {1300, 2100, 1200}, std::llround(loud.messageStart),
                                                          loud.messageEndSample);
    ASSERT_TRUE(v.measured);
    EXPECT_EQ(v.seizureBits, 220);
    EXPECT_EQ(v.markBits, 141);
    EXPECT_NEAR(v.twistDb, -6.0, 0.3);
    EXPECT_NEAR(v.markStart, loud.markStart, 8.0);

    // No seizure; and the samples before the decoder's start bit cut off.
    FskTruth t;
    t.seizureBits = 0;
    const std::vector<float> x = fskBurst(8000, t, 200.0);
    const sigcore::FskMeasurement m =
        sigcore::measureFsk(x, 0, 8000, {1200, 2200, 1200}, std::llround(t.messageStart), t.messageEndSample);
    ASSERT_TRUE(m.measured);
    EXPECT_EQ(m.seizureBits, 0);
    EXPECT_FALSE(m.seizureStart.has_value());
    EXPECT_EQ(m.markBits, t.markBits);
    const std::vector<float> cut(x.begin() + static_cast<std::ptrdiff_t>(t.messageStart) + 100, x.end());
    EXPECT_FALSE(sigcore::measureFsk(cut, 0, 8000, {1200, 2200, 1200}, 0, 2000).measured);
}

// A sender that keeps its phase from bit to bit: the tones fitted as one
// phase through the burst are good to a small part of a hertz at 20 dB SNR
// and 8000 Hz, where runs of a space bit or two fitted each on its own give
// no better than a hertz or two.
TEST(Measure, FskTonesOfABurstThatKeepsItsPhase) {
    for (const int seed : {0x31, 0x5a, 0x7e, 0xc3, 0x96}) {
        SCOPED_TRACE(seed);
        FskTruth t;
        t.markHz = 1296.3;
        t.spaceHz = 2104.8;
        t.seizureBits = 0;
        t.markBits = 80;
        for (int k = 0; k < 24; ++k) t.message.push_back(static_cast<std::uint8_t>((seed * (k + 1) + k * k) & 0xff));
        const std::vector<float> x = fskBurst(8000, t, 20.0);
        const sigcore::FskMeasurement m = sigcore::measureFsk(x, 0, 8000, {1300, 2100, 1200},
                                                              std::llround(t.messageStart), t.messageEndSample);
        ASSERT_TRUE(m.measured);
        EXPECT_NEAR(m.markHz, t.markHz, 0.1);
        EXPECT_NEAR(m.spaceHz, t.spaceHz, 0.2);
    }
}

// The carrier's end does not move with the tones' frequencies or where in
// its cycle the last tone stops: within half a sample of the first silent
// sample (a window's power, by which it was found before, ripples with both
// and missed by up to two samples).
TEST(Measure, FskCarrierEndWhateverTheLastTonesFrequencyAndPhase) {
    for (const double offset : {-16.0, 0.0, 16.0}) {
        for (const double baud : {1188.0, 1200.0, 1212.0}) {
            SCOPED_TRACE(testing::Message() << "tones " << offset << " Hz off, " << baud << " bit/s");
            FskTruth t;
            t.markHz = 1300 + offset;
            t.spaceHz = 2100 + offset;
            t.baud = baud;
            t.seizureBits = 0;
            t.markBits = 80;
            const std::vector<float> x = fskBurst(8000, t, 200.0);
            const sigcore::FskMeasurement m = sigcore::measureFsk(x, 0, 8000, {1300, 2100, 1200},
                                                                  std::llround(t.messageStart), t.messageEndSample);
            ASSERT_TRUE(m.measured);
            EXPECT_NEAR(m.end, t.end - 0.5, 0.5);
        }
    }
}

// Tones 14 dB apart, either way round: the loud tone's leak into the quiet
// one's correlator must not take the bits, the seizure or the carrier's end
// with it. A carrier still on at the last sample held has no end to
// measure: not measured, rather than an end at the last sample.
TEST(Measure, FskBurstOfTonesFarApartOrCarrierRunningOn) {
    struct Case {
        int rate;
        double twist;
    };
    for (const Case c : {Case{48000, 14.0}, Case{48000, -14.0}, Case{8000, 0.0}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, twist " << c.twist);
        FskTruth t;
        t.markHz = 1200;
        t.spaceHz = 2200;
        t.baud = 1200;
        t.seizureBits = 300;
        t.markBits = 180;
        t.markDbfs = -9.6 - (c.twist < 0 ? 14 : 0);
        t.spaceDbfs = t.markDbfs - c.twist;
        const std::vector<float> x = fskBurst(c.rate, t, 200.0);
        const sigcore::FskMeasurement m = sigcore::measureFsk(x, 0, c.rate, {1200, 2200, 1200},
                                                              std::llround(t.messageStart), t.messageEndSample);
        ASSERT_TRUE(m.measured);
        EXPECT_NEAR(m.spaceHz, 2200, 1.0);
        EXPECT_NEAR(m.twistDb, c.twist, 0.3);
        EXPECT_GT(m.snrDb, 40);
        EXPECT_EQ(m.seizureBits, 300);
        EXPECT_EQ(m.markBits, 180);
        EXPECT_EQ(m.stopBitsMin, 1);
        EXPECT_EQ(m.stopBitsMax, 3);
        EXPECT_NEAR(m.end, t.end, c.rate / 1000.0);
        // Cut inside the two mark bits after the last stop bit.
        const std::vector<float> cut(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(t.end - c.rate / 1200.0));
        EXPECT_FALSE(sigcore::measureFsk(cut, 0, c.rate, {1200, 2200, 1200}, std::llround(t.messageStart),
                                         t.messageEndSample)
                         .measured);
    }
}

// A burst 4.5 to 6 % slow, with a date, time and number: numbered with the
// nominal period its edges drift off their bits within a couple of bytes. Noise in its place keeps no bit clock: not measured.
// V.23 tones (800 Hz apart: the correlators' window is a bit and a half)
// 14 dB apart either way, with a channel seizure and without, at 8000 and
// 48000 Hz: every figure within the clean accuracy man/cidscan.1 states.
TEST(Measure, FskBurstOfV23TonesFarApart) {
    for (const int rate : {8000, 48000}) {
        for (const double twist : {14.0, -14.0}) {
            for (const int seizure : {300, 0}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz, twist " << twist << ", seizure " << seizure);
                FskTruth t;
                t.markHz = 1306.4;
                t.spaceHz = 2093.7;
                t.baud = 1203.9;
                // A message as long as a caller's number, date and name make.
                for (int k = 0; k < 30; ++k) t.message.push_back(static_cast<std::uint8_t>(0x30 + k * 7 % 64));
                t.seizureBits = seizure;
                t.markBits = seizure > 0 ? 180 : 240;
                t.markDbfs = -9.6 - (twist < 0 ? 14 : 0);
                t.spaceDbfs = t.markDbfs - twist;
                const std::vector<float> x = fskBurst(rate, t, 200.0);
                const sigcore::FskMeasurement m = sigcore::measureFsk(x, 0, rate, {1300, 2100, 1200},
                                                                      std::llround(t.messageStart), t.messageEndSample);
                ASSERT_TRUE(m.measured);
                EXPECT_NEAR(m.markHz, t.markHz, 0.34);
                EXPECT_NEAR(m.spaceHz, t.spaceHz, 0.34);
                EXPECT_NEAR(m.markDbfs, t.markDbfs, 0.03);
                EXPECT_NEAR(m.spaceDbfs, t.spaceDbfs, 0.03);
                EXPECT_NEAR(m.twistDb, twist, 0.04);
                EXPECT_NEAR(m.bitRate, t.baud, t.baud * 0.0001);
                EXPECT_EQ(m.seizureBits, seizure);
                EXPECT_EQ(m.markBits, t.markBits);
                EXPECT_EQ(m.stopBitsMin, 1);
                EXPECT_EQ(m.stopBitsMax, 1);
                const double ms015 = 0.15 * rate / 1000.0;
                if (seizure > 0) {
                    ASSERT_TRUE(m.seizureStart.has_value());
                    EXPECT_NEAR(*m.seizureStart, t.seizureStart, ms015);
                }
                EXPECT_NEAR(m.markStart, t.markStart, ms015);
                EXPECT_NEAR(m.messageStart, t.messageStart, ms015);
                EXPECT_NEAR(m.end, t.end, ms015);
            }
        }
    }
}

TEST(Measure, FskBurstFarOffItsBitRateOrNoBurstAtAll) {
    for (const double error : {-6.0, -5.0, -4.5}) {
        SCOPED_TRACE(testing::Message() << "bit rate " << error << " %");
        FskTruth t;
        t.markHz = 1200;
        t.spaceHz = 2200;
        t.markDbfs = t.spaceDbfs = -16.6;
        t.baud = 1200 * (1 + error / 100);
        t.message = {0x80, 0x16, 0x01, 0x08, 0x30, 0x31, 0x30, 0x31, 0x30, 0x30, 0x30, 0x30, 0x02,
                     0x0a, 0x32, 0x31, 0x32, 0x35, 0x35, 0x35, 0x31, 0x32, 0x33, 0x34, 0xd5};
        const std::vector<float> x = fskBurst(8000, t, 200.0);
        const sigcore::FskMeasurement m = sigcore::measureFsk(x, 0, 8000, {1200, 2200, 1200},
                                                              std::llround(t.messageStart), t.messageEndSample);
        ASSERT_TRUE(m.measured);
        EXPECT_NEAR(m.bitRate, t.baud, t.baud * 0.001);
        EXPECT_NEAR(m.spaceHz, 2200, 1.0);
        EXPECT_GT(m.snrDb, 60);
        EXPECT_EQ(m.seizureBits, t.seizureBits);
        EXPECT_EQ(m.markBits, t.markBits);
        EXPECT_EQ(m.stopBitsMin, 1);
        EXPECT_EQ(m.stopBitsMax, 1);
    }
    std::vector<float> noise(16000);
    std::mt19937 random(3);
    std::normal_distribution<double> sample(0.0, 3000.0);
    for (float& v : noise) v = static_cast<float>(sample(random));
    EXPECT_FALSE(sigcore::measureFsk(noise, 0, 8000, {1200, 2200, 1200}, 6000, 8000).measured);
}

// Rounds every sample to a multiple of `step`, as a file of fewer bits
// holds it (no dither).
void quantise(std::vector<float>& x, double step) {
    for (float& v : x) v = static_cast<float>(std::round(v / step) * step);
}

TEST(Measure, QuietTonesInEightBitSamplesKeepTheirLevels) {
    // A sine a few 8-bit steps high, rounded without dither: its fitted
    // fundamental is off by up to a few per cent, and the correction
    // takes it back to the sine's own amplitude.
    constexpr double kStep = 256;
    for (const double steps : {1.7, 2.6, 3.2, 4.5, 7.9, 40.0}) {
        SCOPED_TRACE(steps);
        std::vector<float> x(4000);
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<float>(steps * kStep * std::cos(2 * std::numbers::pi * 0.1531 * static_cast<double>(i) + 0.4));
        }
        quantise(x, kStep);
        EXPECT_EQ(sigcore::sampleStep(x), kStep);
        const sigcore::Stretch all{0, x.size()};
        const double freq[1] = {0.1531};
        const double fitted = sigcore::meanAmplitude(sigcore::fitTones(x, {&all, 1}, freq, 1), 0);
        EXPECT_NEAR(sigcore::roundedAmplitude(steps * kStep, kStep, 0), fitted, 0.002 * fitted);
        EXPECT_NEAR(20 * std::log10(sigcore::unroundedAmplitude(fitted, kStep, 0) / (steps * kStep)), 0.0, 0.02);
    }
    // Noise of half a step dithers the rounding: almost nothing to undo;
    // noise far over a step, or none to be had, leaves the amplitude as
    // it is (and at once).
    EXPECT_NEAR(sigcore::roundedAmplitude(3.2 * kStep, kStep, 0.5 * kStep) / (3.2 * kStep), 1.0, 0.002);
    EXPECT_DOUBLE_EQ(sigcore::unroundedAmplitude(3.2 * kStep, kStep, 1e12), 3.2 * kStep);
    EXPECT_DOUBLE_EQ(sigcore::unroundedAmplitude(3.2 * kStep, kStep, std::numeric_limits<double>::infinity()), 3.2 * kStep);
    EXPECT_DOUBLE_EQ(sigcore::unroundedAmplitude(3.2 * kStep, kStep, std::numeric_limits<double>::quiet_NaN()), 3.2 * kStep);
    // 16-bit samples, and samples that are no whole numbers, have no step
    // to undo.
    const std::vector<float> fine{1, -3, 250, 7};
    EXPECT_EQ(sigcore::sampleStep(fine), 1);
    EXPECT_EQ(sigcore::sampleStep(std::vector<float>{512, 0.5f}), 1);
    EXPECT_EQ(sigcore::unroundedAmplitude(1000.0, 1, 0), 1000.0);

    // Whole bursts at -28 to -33 dBFS in 8-bit samples, clean: the levels
    // as sent, and the bits counted as before (the lengths are found from
    // the levels the samples hold, not the corrected ones).
    for (const int rate : {8000, 22050}) {
        for (const double mark : {-30.0, -28.1}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, mark " << mark);
            FskTruth t;
            t.markHz = 1206.32;
            t.spaceHz = 2203.74;
            t.baud = 1205.9;
            t.markDbfs = mark;
            t.spaceDbfs = mark - 3.7;
            t.seizureBits = 78;
            t.markBits = 131;
            std::vector<float> x = fskBurst(rate, t, 200.0);
            quantise(x, kStep);
            const sigcore::FskMeasurement m = sigcore::measureFsk(x, 0, rate, {1200, 2200, 1200},
                                                                  std::llround(t.messageStart), t.messageEndSample);
            ASSERT_TRUE(m.measured);
            EXPECT_NEAR(m.markDbfs, t.markDbfs, 0.1);
            EXPECT_NEAR(m.spaceDbfs, t.spaceDbfs, 0.1);
            EXPECT_NEAR(m.twistDb, 3.7, 0.1);
            EXPECT_EQ(m.seizureBits, 78);
            EXPECT_EQ(m.markBits, 131);
            EXPECT_NEAR(m.markStart, t.markStart, rate / 1000.0);
        }
    }
}

TEST(Measure, FrequencySearchFindsToneAnywhereInItsSpan) {
    // One long stretch (the coarse grid over part of it, then the fine
    // grid), and many short ones (the grid over all of them): the tone is
    // found near either end of the span and in the middle, at 8000 and
    // 48000 Hz, to far better than noise would allow.
    for (const int rate : {8000, 48000}) {
        for (const double offsetHz : {-95.0, -31.7, 0.4, 57.3, 96.0}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << offsetHz);
            const double f = (1200.0 + offsetHz) / rate;
            std::vector<float> x(static_cast<std::size_t>(rate / 4));
            for (std::size_t i = 0; i < x.size(); ++i) {
                x[i] = static_cast<float>(8000 * std::cos(2 * std::numbers::pi * f * static_cast<double>(i) + 1.1));
            }
            const std::vector<sigcore::Stretch> one{{10, x.size() - 10}};
            std::vector<sigcore::Stretch> shorts;
            const std::size_t bit = static_cast<std::size_t>(rate / 1200);
            for (std::size_t b = 0; b + 2 * bit < x.size(); b += 3 * bit) shorts.push_back({b, b + bit});
            for (const std::vector<sigcore::Stretch>* stretches : {&one, static_cast<const std::vector<sigcore::Stretch>*>(&shorts)}) {
                double freq[1] = {1200.0 / rate};
                sigcore::bestFrequency(x, *stretches, freq, 1, 0, 100.0 / rate);
                EXPECT_NEAR(freq[0] * rate, 1200.0 + offsetHz, 0.01);
            }
        }
    }
}

TEST(Measure, OneMeterMeasuresBurstAfterBurstAsAFreshOneWould) {
    // The meter keeps its tables and arrays: a burst measured after others
    // (of another length, another rate) comes out exactly as with a new
    // meter.
    FskTruth a;
    const std::vector<float> x = fskBurst(8000, a, 20.0);
    FskTruth b;
    b.seizureBits = 0;
    b.markBits = 80;
    const std::vector<float> y = fskBurst(16000, b, 30.0);
    const auto measureA = [&](sigcore::FskMeter& meter) {
        return meter.measure(x, 0, 8000, {1200, 2200, 1200}, std::llround(a.messageStart), a.messageEndSample);
    };
    sigcore::FskMeter fresh;
    const sigcore::FskMeasurement first = measureA(fresh);
    sigcore::FskMeter reused;
    (void)measureA(reused);
    const sigcore::FskMeasurement other =
        reused.measure(y, 0, 16000, {1200, 2200, 1200}, std::llround(b.messageStart), b.messageEndSample);
    EXPECT_TRUE(other.measured);
    EXPECT_FALSE(reused.measure({}, 0, 8000, {1200, 2200, 1200}, 0, 100).measured);
    const sigcore::FskMeasurement again = measureA(reused);
    ASSERT_TRUE(first.measured);
    ASSERT_TRUE(again.measured);
    EXPECT_EQ(again.markHz, first.markHz);
    EXPECT_EQ(again.spaceHz, first.spaceHz);
    EXPECT_EQ(again.markDbfs, first.markDbfs);
    EXPECT_EQ(again.bitRate, first.bitRate);
    EXPECT_EQ(again.seizureBits, first.seizureBits);
    EXPECT_EQ(again.markStart, first.markStart);
    EXPECT_EQ(again.end, first.end);
}

TEST(Measure, DigitsOfKnownTonesLevelsAndLengths) {
    for (const int rate : {8000, 44100}) {
        SCOPED_TRACE(rate);
        const double low = 852 * 1.012;
        const double high = 1477 * 0.99;
        const int start = rate / 10;
        const int length = rate * 63 / 1000;
        std::vector<float> x(static_cast<std::size_t>(start + length + rate / 10), 0.0f);
        for (int i = 0; i < length; ++i) {
            const double t = static_cast<double>(i) / rate;
            x[static_cast<std::size_t>(start + i)] =
                static_cast<float>(amplitudeOf(-14.0) * std::sin(2 * std::numbers::pi * low * t + 1.0) +
                                   amplitudeOf(-11.5) * std::sin(2 * std::numbers::pi * high * t));
        }
        // The receiver's positions are coarse: a few milliseconds off.
        const sigcore::DigitMeasurement d =
            sigcore::measureDigit(x, 0, rate, '9', start + rate / 300, start + length - rate / 250);
        ASSERT_TRUE(d.measured);
        EXPECT_NEAR(d.lowHz, low, 1.0);
        EXPECT_NEAR(d.highHz, high, 1.0);
        EXPECT_NEAR(d.lowDbfs, -14.0, 0.2);
        EXPECT_NEAR(d.highDbfs, -11.5, 0.2);
        EXPECT_NEAR(d.twistDb, 2.5, 0.3);
        EXPECT_NEAR(d.start, start, rate / 1000.0);
        EXPECT_NEAR(d.end - d.start, length, rate / 1000.0);
    }
    // A character that is no digit, and a digit no longer held.
    const std::vector<float> x(8000, 0.0f);
    EXPECT_FALSE(sigcore::measureDigit(x, 0, 8000, 'x', 100, 600).measured);
    EXPECT_FALSE(sigcore::measureDigit(x, 5000, 8000, '1', 100, 600).measured);
}

TEST(Measure, SampleRingKeepsTheLatestSamplesAcrossItsWrap) {
    sigcore::SampleRing ring(10);
    std::vector<std::int16_t> block{1, 2, 3, 4, 5, 6, 7};
    ring.push(block);
    ring.push(block);
    EXPECT_EQ(ring.end(), 14);
    EXPECT_EQ(ring.begin(), 4);
    std::vector<float> out;
    // Asked from before what is held: clamped to it.
    EXPECT_EQ(ring.copy(0, 100, out), 4);
    EXPECT_EQ(out, (std::vector<float>{5, 6, 7, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(ring.copy(8, 10, out), 8);
    EXPECT_EQ(out, (std::vector<float>{2, 3}));
    // A block longer than the ring leaves its last samples.
    std::vector<std::int16_t> longBlock(25);
    for (std::size_t i = 0; i < longBlock.size(); ++i) longBlock[i] = static_cast<std::int16_t>(i);
    ring.push(longBlock);
    EXPECT_EQ(ring.end(), 39);
    EXPECT_EQ(ring.copy(0, 39, out), 29);
    EXPECT_EQ(out.front(), 15);
    EXPECT_EQ(out.back(), 24);
    EXPECT_EQ(ring.copy(50, 60, out), 39);
    EXPECT_TRUE(out.empty());
}

TEST(Measure, SampleRingAgreesWithAPlainRecordOverManyBlockSizes) {
    // Blocks that end exactly at the ring's end, cross it, fill it whole
    // and overfill it; every stretch copied back against the whole record.
    constexpr std::size_t kSize = 16;
    sigcore::SampleRing ring(kSize);
    std::vector<std::int16_t> record;
    std::vector<float> out;
    std::int16_t next = 0;
    for (const std::size_t length : std::vector<std::size_t>{3, 13, 16, 1, 15, 17, 0, 32, 5, 11, 16, 40, 2}) {
        std::vector<std::int16_t> block(length);
        for (std::int16_t& v : block) v = next++;
        ring.push(block);
        record.insert(record.end(), block.begin(), block.end());
        ASSERT_EQ(ring.end(), static_cast<std::int64_t>(record.size()));
        const std::int64_t held = ring.begin();
        for (std::int64_t from = held; from <= ring.end(); from += 3) {
            for (std::int64_t to = from; to <= ring.end(); to += 5) {
                ASSERT_EQ(ring.copy(from, to, out), from);
                ASSERT_EQ(out.size(), static_cast<std::size_t>(to - from));
                for (std::size_t i = 0; i < out.size(); ++i) {
                    ASSERT_EQ(out[i], record[static_cast<std::size_t>(from) + i]) << from << ".." << to;
                }
            }
        }
    }
}

}  // namespace
