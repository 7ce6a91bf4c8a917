// DTMF synthesis: sample counts, the noise and mains terms, ramps, symbols,
// saturation, and the files written.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "padtoner/dtmfwave.hpp"
#include "support/testsupport.hpp"

namespace {

using padtoner::DtmfParameters;
using padtoner::DtmfWriteStatus;

DtmfParameters helpExample() {
    DtmfParameters p;
    p.DTMFData = "0550123456";
    return p;
}

// A 16-bit file's header data size and its samples.
struct WaveFile {
    std::int64_t dataSize = -1;
    std::vector<std::int16_t> samples;
    std::size_t bytes = 0;
};

WaveFile readWave(const std::string& path) {
    const std::vector<std::uint8_t> b = testsupport::readBytes(path);
    WaveFile w;
    w.bytes = b.size();
    if (b.size() < 44) return w;
    w.dataSize = b[40] | (b[41] << 8) | (b[42] << 16) | (static_cast<std::int64_t>(b[43]) << 24);
    for (std::size_t i = 44; i + 1 < b.size(); i += 2) {
        w.samples.push_back(static_cast<std::int16_t>(b[i] | (b[i + 1] << 8)));
    }
    return w;
}

// Writes `p` with a fresh noise state and returns the file's samples (16-bit).
WaveFile synth(DtmfParameters p, const testsupport::TempDir& dir, const std::string& name = "out.wav") {
    p.QuantizationBitLength = 16;
    sigcore::NoiseState noise;
    const auto result = padtoner::writeDtmfWave(p, dir.file(name), noise);
    EXPECT_EQ(result.status, DtmfWriteStatus::written);
    EXPECT_EQ(result.closeResult, 0);
    return readWave(dir.file(name));
}

TEST(DtmfWave, DurationsInSamples) {
    using padtoner::durationToSamples;
    EXPECT_EQ(durationToSamples(50, 8000), 400);
    EXPECT_EQ(durationToSamples(50, 11025), 551);
    EXPECT_EQ(durationToSamples(50, 22050), 1102);
    EXPECT_EQ(durationToSamples(50, 44100), 2205);
    EXPECT_EQ(durationToSamples(3, 8000), 24);
    EXPECT_EQ(durationToSamples(3, 11025), 33);
    EXPECT_EQ(durationToSamples(3, 22050), 66);
    EXPECT_EQ(durationToSamples(3, 44100), 132);
    EXPECT_EQ(durationToSamples(30, 11025), 330);
    EXPECT_EQ(durationToSamples(1000, 44100), 44100);
    EXPECT_EQ(durationToSamples(0, 44100), 0);
    EXPECT_EQ(durationToSamples(-1, 11025), -11);  // toward zero
    // Products beyond 32 bits neither overflow nor wrap.
    EXPECT_EQ(durationToSamples(2000000, 44100), 88200000);
    EXPECT_EQ(durationToSamples(INT32_MAX, 44100), INT32_MAX);
    EXPECT_EQ(durationToSamples(INT32_MIN, 44100), INT32_MIN);
    EXPECT_EQ(padtoner::durationToSamples64(INT32_MAX, 44100), 94704028832);
}

TEST(DtmfWave, CountsOfTheHelpExample) {
    const padtoner::DtmfCounts c = padtoner::dtmfCounts(helpExample());
    EXPECT_EQ(c.leader, 8000);
    EXPECT_EQ(c.tone, 400);
    EXPECT_EQ(c.gap, 240);
    EXPECT_EQ(c.ramp, 24);
    EXPECT_EQ(c.symbols, 10);
    EXPECT_EQ(c.trailer, 7760);
    EXPECT_EQ(c.total, 22160);

    DtmfParameters empty = helpExample();
    empty.DTMFData.clear();
    EXPECT_EQ(padtoner::dtmfCounts(empty).total, 2 * 8000 - 240);

    DtmfParameters shortLeader = helpExample();
    shortLeader.LeaderDuration = 10;
    const padtoner::DtmfCounts s = padtoner::dtmfCounts(shortLeader);
    EXPECT_EQ(s.trailer, 0);
    EXPECT_EQ(s.total, 80 + 10 * (400 + 240));
}

TEST(DtmfWave, FilesHoldExactlyTheHeaderCount) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    sigcore::NoiseState noise;
    ASSERT_EQ(padtoner::writeDtmfWave(p, dir.file("a.wav"), noise).status, DtmfWriteStatus::written);
    EXPECT_EQ(testsupport::readBytes(dir.file("a.wav")).size(), 44u + 22160u);  // 8 bits

    for (const int leader : {1000, 10, 0}) {
        for (const std::string data : {"0550123456", ""}) {
            p.LeaderDuration = leader;
            p.DTMFData = data;
            const WaveFile w = synth(p, dir);
            EXPECT_EQ(w.dataSize, static_cast<std::int64_t>(w.samples.size()) * 2) << leader << " " << data;
            EXPECT_EQ(static_cast<std::int64_t>(w.samples.size()), padtoner::dtmfCounts(p).total);
        }
    }
}

TEST(DtmfWave, WhiteNoiseDrawsStartFromTheSeed) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.Amplitude = 0;
    p.NoiseAmplitude = 50;
    const WaveFile w = synth(p, dir);
    ASSERT_GE(w.samples.size(), 4u);
    EXPECT_EQ(w.samples[0], -16343);
    EXPECT_EQ(w.samples[1], 2083);
    EXPECT_EQ(w.samples[2], -10050);
    EXPECT_EQ(w.samples[3], 10116);
}

TEST(DtmfWave, MainsHumAndItsThirdHarmonic) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.Amplitude = 0;
    p.PNoiseAmplitude = 100;
    p.DTMFData.clear();
    const WaveFile w = synth(p, dir);
    ASSERT_GT(w.samples.size(), 160u);
    EXPECT_EQ(w.samples[0], 0);
    EXPECT_EQ(w.samples[40], 16383);  // 5 ms, a quarter period of 50 Hz
    EXPECT_EQ(*std::max_element(w.samples.begin(), w.samples.end()), 23169);
    EXPECT_EQ(*std::min_element(w.samples.begin(), w.samples.end()), -23169);
}

TEST(DtmfWave, RampGain) {
    using padtoner::rampGain;
    EXPECT_EQ(rampGain(0, 400, 24), 0.0);
    EXPECT_EQ(rampGain(12, 400, 24), 0.5);
    EXPECT_EQ(rampGain(24, 400, 24), 1.0);
    EXPECT_EQ(rampGain(376, 400, 24), 1.0);
    EXPECT_EQ(rampGain(377, 400, 24), 23.0 / 24);
    EXPECT_EQ(rampGain(399, 400, 24), 1.0 / 24);
    // Rise and fall overlap: the rise wins.
    EXPECT_EQ(rampGain(5, 10, 8), 5.0 / 8);
    EXPECT_EQ(rampGain(9, 10, 8), 1.0 / 8);
    // No ramp: full level throughout.
    EXPECT_EQ(rampGain(0, 10, 0), 1.0);
    EXPECT_EQ(rampGain(9, 10, 0), 1.0);
}

TEST(DtmfWave, EveryBurstStartsAtZeroWithARamp) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.NoiseAmplitude = 80;
    p.PNoiseAmplitude = 60;
    const WaveFile w = synth(p, dir);
    for (std::size_t s = 0; s < p.DTMFData.size(); ++s) {
        const std::size_t first = 8000 + s * (400 + 240);
        ASSERT_LT(first + 1, w.samples.size());
        EXPECT_EQ(w.samples[first], 0) << "burst " << s;
        EXPECT_NE(w.samples[first - 1], 0);  // the noise runs right up to it
    }
}

TEST(DtmfWave, SymbolFrequencies) {
    EXPECT_EQ(padtoner::dtmfFrequencies('1'), (std::pair<double, double>{697, 1209}));
    EXPECT_EQ(padtoner::dtmfFrequencies('0'), (std::pair<double, double>{941, 1336}));
    EXPECT_EQ(padtoner::dtmfFrequencies('#'), (std::pair<double, double>{941, 1477}));
    EXPECT_EQ(padtoner::dtmfFrequencies('a'), (std::pair<double, double>{697, 1633}));
    EXPECT_EQ(padtoner::dtmfFrequencies('d'), padtoner::dtmfFrequencies('D'));
    for (const char c : {'x', 'E', '/', ' ', '\0', static_cast<char>(0xE0)}) {
        EXPECT_EQ(padtoner::dtmfFrequencies(c), (std::pair<double, double>{0, 0})) << int(c);
    }
}

TEST(DtmfWave, LowerCaseLettersGiveTheSameFile) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.NoiseAmplitude = 20;
    p.DTMFData = "ABCD";
    const WaveFile upper = synth(p, dir, "upper.wav");
    p.DTMFData = "abcd";
    const WaveFile lower = synth(p, dir, "lower.wav");
    EXPECT_EQ(upper.samples, lower.samples);
}

TEST(DtmfWave, CharacterOutsideTheSymbolSetIsAToneFreeBurst) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.DTMFData = "x";
    const WaveFile w = synth(p, dir);
    EXPECT_EQ(w.samples.size(), static_cast<std::size_t>(8000 + 400 + 240 + 7760));
    EXPECT_TRUE(std::all_of(w.samples.begin(), w.samples.end(), [](std::int16_t s) { return s == 0; }));
    p.DTMFData = "5";
    const WaveFile five = synth(p, dir);
    EXPECT_NE(*std::max_element(five.samples.begin() + 8000, five.samples.begin() + 8400), 0);
}

TEST(DtmfWave, SamplesSaturateInsteadOfWrapping) {
    // A tone burst near its peak plus strongly positive noise must clip to
    // 32767, never turn negative (and the same on the negative side).
    DtmfParameters p = helpExample();
    const std::int32_t count = 4000;
    std::vector<std::int16_t> quiet(count), noisy(count);
    padtoner::SectionParams sp{8000, count, 100, 0, 0, 0, 0};
    sigcore::NoiseState n1;
    padtoner::synthToneSection(quiet, 941, 1633, sp, n1);
    sp.noiseAmplitude = 100;
    sigcore::NoiseState n2;
    padtoner::synthToneSection(noisy, 941, 1633, sp, n2);

    sigcore::NoiseState replay;
    int clippedHigh = 0, clippedLow = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const double w = (sigcore::noiseRandom(replay) - 16384) * 100 * 0.02;
        const auto k = static_cast<std::size_t>(i);
        if (quiet[k] > 30000 && w > 3000) {
            EXPECT_EQ(noisy[k], 32767) << i;
            ++clippedHigh;
        }
        if (quiet[k] < -30000 && w < -3000) {
            EXPECT_EQ(noisy[k], -32768) << i;
            ++clippedLow;
        }
    }
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
}

TEST(DtmfWave, OneNoiseDrawPerSampleOfEverySection) {
    // Quiet and tone sections draw alike: a tone-free file has the noise of
    // draw p + 1 at sample p, and so has a file with bursts outside them.
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.Amplitude = 0;
    p.RampDuration = 0;
    p.NoiseAmplitude = 50;
    const WaveFile w = synth(p, dir);
    sigcore::NoiseState replay;
    for (std::size_t i = 0; i < w.samples.size(); ++i) {
        const double expected = (sigcore::noiseRandom(replay) - 16384) * 50 * 0.02;
        ASSERT_EQ(w.samples[i], static_cast<std::int16_t>(static_cast<int>(expected))) << i;
    }
}

TEST(DtmfWave, EightBitFilesCarryTheHighBytes) {
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.NoiseAmplitude = 10;
    p.PNoiseAmplitude = 10;
    const WaveFile wide = synth(p, dir, "wide.wav");
    p.QuantizationBitLength = 8;
    sigcore::NoiseState noise;
    ASSERT_EQ(padtoner::writeDtmfWave(p, dir.file("narrow.wav"), noise).status, DtmfWriteStatus::written);
    const std::vector<std::uint8_t> narrow = testsupport::readBytes(dir.file("narrow.wav"));
    ASSERT_EQ(narrow.size(), 44 + wide.samples.size());
    for (std::size_t i = 0; i < wide.samples.size(); ++i) {
        ASSERT_EQ(narrow[44 + i], static_cast<std::uint8_t>(((wide.samples[i] >> 8) & 0xFF) ^ 0x80)) << i;
    }
}

TEST(DtmfWave, RefusedParameters) {
    const auto error = [](auto change) {
        DtmfParameters p = helpExample();
        change(p);
        return padtoner::dtmfParameterError(p);
    };
    // Each refusal's text is checked end to end; here the limits.
    EXPECT_EQ(error([](DtmfParameters&) {}), "");
    EXPECT_NE(error([](DtmfParameters& p) { p.SamplingFrequency = 0; }), "");
    EXPECT_EQ(error([](DtmfParameters& p) { p.SamplingFrequency = 1; }), "");
    EXPECT_NE(error([](DtmfParameters& p) { p.RampDuration = -1; }), "");
    EXPECT_EQ(error([](DtmfParameters& p) { p.LeaderDuration = 0; }), "");
    // The largest data size that fits the header (2 x leader - gap samples at
    // 1000 Hz, one byte each), and one byte more.
    const auto longSignal = [&](std::int32_t leader, std::int32_t gap, std::int32_t bits) {
        return error([&](DtmfParameters& p) {
            p.SamplingFrequency = 1000;
            p.QuantizationBitLength = bits;
            p.DTMFData.clear();
            p.LeaderDuration = leader;
            p.SilenceDuration = gap;
        });
    };
    EXPECT_EQ(longSignal(1073741823, 35, 8), "");
    EXPECT_EQ(longSignal(1073741823, 34, 8),
              "error .... 2147483612 samples (2147483612 data bytes) are too many for a WAV file "
              "of at most 2147483611 data bytes");
    // Half as many samples fit at 16 bits.
    EXPECT_EQ(longSignal(600000000, 126258195, 16), "");
    EXPECT_EQ(longSignal(600000000, 126258194, 16),
              "error .... 1073741806 samples (2147483612 data bytes) are too many for a WAV file "
              "of at most 2147483611 data bytes");
    EXPECT_NE(error([](DtmfParameters& p) { p.SamplingFrequency = INT32_MAX; }), "");
    // A symbol string far longer than a data file line holds can't overflow the count.
    EXPECT_NE(error([](DtmfParameters& p) {
                  p.SamplingFrequency = INT32_MAX;
                  p.ToneDuration = INT32_MAX;
                  p.DTMFData.assign(100000, '1');
              }),
              "");

    // writeDtmfWave refuses them too, and creates nothing.
    testsupport::TempDir dir;
    DtmfParameters p = helpExample();
    p.ToneDuration = -5;
    sigcore::NoiseState noise;
    EXPECT_EQ(padtoner::writeDtmfWave(p, dir.file("x.wav"), noise).status, DtmfWriteStatus::refused);
    EXPECT_FALSE(testsupport::fileExists(dir.file("x.wav")));
}

TEST(DtmfWave, OutputThatCannotBeCreatedOrWritten) {
    testsupport::TempDir dir;
    sigcore::NoiseState noise;
    EXPECT_EQ(padtoner::writeDtmfWave(helpExample(), dir.file("no/such/folder.wav"), noise).status,
              DtmfWriteStatus::cannotCreate);

    const auto full = padtoner::writeDtmfWave(helpExample(), "/dev/full", noise);
    EXPECT_EQ(full.status, DtmfWriteStatus::writeFailed);
    EXPECT_EQ(full.closeResult, -1);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

}  // namespace
