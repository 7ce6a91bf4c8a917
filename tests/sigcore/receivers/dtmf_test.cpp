#include "sigcore/receivers/dtmf.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "sigcore/io/wave.hpp"
#include "support/testsupport.hpp"

namespace {

constexpr std::array<double, 4> kRows{697.0, 770.0, 852.0, 941.0};
constexpr std::array<double, 4> kColumns{1209.0, 1336.0, 1477.0, 1633.0};
const std::string kAllDigits = "0123456789*#ABCD";

void digitFrequencies(char digit, double& row, double& column) {
    static const std::string layout = "123A456B789C*0#D";
    const auto i = layout.find(digit);
    row = kRows[i / 4];
    column = kColumns[i % 4];
}

// One tone of a synthetic sequence and the silence after it.
struct Tone {
    char digit = '1';
    double ms = 50.0;
    double gapMs = 50.0;
    double rowFactor = 1.0;     // frequency multipliers
    double columnFactor = 1.0;
    double twistDb = 0.0;       // high group over low group
};

struct Signal {
    std::vector<std::int16_t> samples;
    std::vector<std::int64_t> starts;  // first sample of each tone
    std::vector<std::int64_t> ends;    // sample after each tone
};

Signal synth(int rate, const std::vector<Tone>& tones, double leadMs, double noise, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    std::vector<double> x(static_cast<std::size_t>(leadMs * rate / 1000.0), 0.0);
    Signal s;
    for (const Tone& t : tones) {
        double row = 0;
        double column = 0;
        digitFrequencies(t.digit, row, column);
        row *= t.rowFactor;
        column *= t.columnFactor;
        const double low = 5000.0;
        const double high = low * std::pow(10.0, t.twistDb / 20.0);
        const double p1 = phase(gen);
        const double p2 = phase(gen);
        const auto n = static_cast<std::size_t>(std::lround(t.ms * rate / 1000.0));
        s.starts.push_back(static_cast<std::int64_t>(x.size()));
        for (std::size_t i = 0; i < n; ++i) {
            const double ti = static_cast<double>(i) / rate;
            x.push_back(low * std::sin(2 * std::numbers::pi * row * ti + p1) +
                        high * std::sin(2 * std::numbers::pi * column * ti + p2));
        }
        s.ends.push_back(static_cast<std::int64_t>(x.size()));
        x.resize(x.size() + static_cast<std::size_t>(std::lround(t.gapMs * rate / 1000.0)), 0.0);
    }
    x.resize(x.size() + static_cast<std::size_t>(rate / 10), 0.0);
    for (const double v : x) {
        s.samples.push_back(static_cast<std::int16_t>(std::clamp(std::lround(v + noise * gauss(gen)), -32768L, 32767L)));
    }
    return s;
}

std::vector<sigcore::DtmfTone> receive(int rate, std::span<const std::int16_t> samples, std::size_t block = 4096) {
    sigcore::EventLog log;
    sigcore::DtmfReceiver receiver(rate, log);
    while (!samples.empty()) {
        const std::size_t n = std::min(block, samples.size());
        receiver.push(samples.first(n));
        samples = samples.subspan(n);
    }
    receiver.finish();
    std::vector<sigcore::DtmfTone> tones;
    for (const auto& e : log.events) {
        if (const auto* t = std::get_if<sigcore::DtmfTone>(&e)) tones.push_back(*t);
    }
    return tones;
}

std::string digitsOf(const std::vector<sigcore::DtmfTone>& tones) {
    std::string d;
    for (const auto& t : tones) d += t.digit;
    return d;
}

std::string receiveDigits(int rate, const std::vector<Tone>& tones, double leadMs = 100.0, double noise = 300.0,
                          unsigned seed = 1) {
    const Signal s = synth(rate, tones, leadMs, noise, seed);
    return digitsOf(receive(rate, s.samples));
}

std::vector<Tone> sequence(const std::string& digits, double ms = 50.0, double gapMs = 50.0) {
    std::vector<Tone> tones;
    for (const char d : digits) tones.push_back(Tone{d, ms, gapMs});
    return tones;
}

TEST(DtmfReceiver, EveryDigitAtEveryRateWithPositionsAndAnyBlockSize) {
    for (const int rate : {8000, 11025, 16000, 22050, 44100, 48000}) {
        const Signal s = synth(rate, sequence(kAllDigits), 123.0, 500.0, static_cast<unsigned>(rate));
        const auto tones = receive(rate, s.samples);
        ASSERT_EQ(digitsOf(tones), kAllDigits) << rate;
        for (std::size_t i = 0; i < tones.size(); ++i) {
            // Start and end within 7 ms of the truth.
            EXPECT_NEAR(static_cast<double>(tones[i].start), static_cast<double>(s.starts[i]), 0.007 * rate) << rate;
            EXPECT_NEAR(static_cast<double>(tones[i].end), static_cast<double>(s.ends[i]), 0.007 * rate) << rate;
        }
        // Pushing one sample at a time, or in odd blocks, changes nothing.
        EXPECT_EQ(receive(rate, s.samples, 1), tones) << rate;
        EXPECT_EQ(receive(rate, s.samples, 333), tones) << rate;
    }
}

TEST(DtmfReceiver, FrequencyWithinOnePointFivePercentAcceptedBeyondThreePointFiveRejected) {
    for (const int rate : {8000, 11025, 48000}) {
        for (const char d : kAllDigits) {
            for (const double r : {-1.0, 1.0}) {
                for (const double c : {-1.0, 1.0}) {
                    Tone ok{d};
                    ok.rowFactor = 1.0 + 0.015 * r;
                    ok.columnFactor = 1.0 + 0.015 * c;
                    EXPECT_EQ(receiveDigits(rate, {ok}), std::string(1, d)) << rate << ' ' << d << ' ' << r << c;
                }
                Tone rowOff{d};
                rowOff.rowFactor = 1.0 + 0.035 * r;
                EXPECT_EQ(receiveDigits(rate, {rowOff}), "") << rate << ' ' << d << " row " << r;
                Tone columnOff{d};
                columnOff.columnFactor = 1.0 + 0.035 * r;
                EXPECT_EQ(receiveDigits(rate, {columnOff}), "") << rate << ' ' << d << " column " << r;
            }
        }
    }
}

// Twist is the high group over the low group: the low group may be up to
// 8 dB the stronger (a line loses more of the high group), the high group 4.
TEST(DtmfReceiver, LowGroupEightStrongerHighGroupFourStrongerAcceptedBeyondRejected) {
    for (const int rate : {8000, 16000}) {
        for (const char d : kAllDigits) {
            const auto with = [&](double twist, double offset) {
                Tone t{d};
                t.twistDb = twist;
                t.rowFactor = 1.0 + offset;
                t.columnFactor = 1.0 - offset;
                return receiveDigits(rate, {t});
            };
            const std::string one(1, d);
            EXPECT_EQ(with(-8.0, 0.0), one) << d;
            EXPECT_EQ(with(4.0, 0.0), one) << d;
            // The worst accepted case: full twist and full frequency offset.
            EXPECT_EQ(with(-8.0, -0.015), one) << d;
            EXPECT_EQ(with(4.0, 0.015), one) << d;
            EXPECT_EQ(with(-9.5, 0.0), "") << d;
            EXPECT_EQ(with(5.5, 0.0), "") << d;
        }
    }
}

TEST(DtmfReceiver, FortyMillisecondsAcceptedShorterRejected) {
    for (const int rate : {8000, 11025, 48000}) {
        for (int shift = 0; shift < 8; ++shift) {
            // Different alignments of the tones against the analysis blocks.
            const double lead = 100.0 + 0.8 * shift;
            const auto seed = static_cast<unsigned>(shift + 1);
            EXPECT_EQ(receiveDigits(rate, sequence(kAllDigits, 40.0, 40.0), lead, 300.0, seed), kAllDigits)
                << rate << ' ' << shift;
            EXPECT_EQ(receiveDigits(rate, sequence(kAllDigits, 25.0, 40.0), lead, 300.0, seed), "") << rate << ' ' << shift;
            EXPECT_EQ(receiveDigits(rate, sequence(kAllDigits, 20.0, 40.0), lead, 300.0, seed), "") << rate << ' ' << shift;
        }
    }
}

TEST(DtmfReceiver, RepeatedDigitNeedsAGap) {
    for (const int rate : {8000, 44100}) {
        // 25 ms of silence or more separate two equal digits ...
        for (const double gap : {25.0, 40.0}) {
            EXPECT_EQ(receiveDigits(rate, {Tone{'5', 60, gap}, Tone{'5', 60, gap}, Tone{'5', 60, 40}}), "555")
                << rate << ' ' << gap;
        }
        // ... and a drop-out of up to 10 ms inside a tone does not.
        for (const double drop : {3.0, 6.0, 10.0}) {
            EXPECT_EQ(receiveDigits(rate, {Tone{'9', 60, drop}, Tone{'9', 60, 50}}), "9") << rate << ' ' << drop;
        }
        // Different digits need no gap.
        EXPECT_EQ(receiveDigits(rate, {Tone{'1', 60, 0}, Tone{'2', 60, 0}, Tone{'3', 60, 50}}), "123") << rate;
    }
}

TEST(DtmfReceiver, NoDigitFromTenMinutesOfNoise) {
    for (const double level : {300.0, 3000.0, 12000.0}) {
        constexpr int kRate = 8000;
        std::mt19937 gen(static_cast<unsigned>(level));
        std::normal_distribution<double> gauss(0.0, level);
        std::vector<std::int16_t> samples(static_cast<std::size_t>(kRate) * 200);
        sigcore::EventLog log;
        sigcore::DtmfReceiver receiver(kRate, log);
        for (int part = 0; part < 3; ++part) {  // 3 x 200 s
            for (auto& v : samples) v = static_cast<std::int16_t>(std::clamp(std::lround(gauss(gen)), -32768L, 32767L));
            receiver.push(samples);
        }
        receiver.finish();
        EXPECT_TRUE(log.events.empty()) << level;
    }
}

// Three or four tones at a time, none within 5% of a DTMF frequency,
// changing every 100 to 300 ms: chords of music without its digits.
TEST(DtmfReceiver, NoDigitFromTenMinutesOfChords) {
    constexpr int kRate = 8000;
    std::mt19937 gen(2024);
    std::uniform_real_distribution<double> frequency(300.0, 3400.0);
    std::uniform_real_distribution<double> level(0.3, 1.0);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
    std::uniform_int_distribution<int> length(800, 2400);
    std::uniform_int_distribution<int> count(3, 4);
    const auto nearDtmf = [](double f) {
        for (const double d : kRows) {
            if (std::abs(f / d - 1.0) < 0.05) return true;
        }
        for (const double d : kColumns) {
            if (std::abs(f / d - 1.0) < 0.05) return true;
        }
        return false;
    };
    sigcore::EventLog log;
    sigcore::DtmfReceiver receiver(kRate, log);
    std::vector<std::int16_t> chord;
    std::int64_t total = 0;
    int chords = 0;
    while (total < static_cast<std::int64_t>(kRate) * 600) {
        const int tones = count(gen);
        std::vector<double> f;
        std::vector<double> a;
        std::vector<double> p;
        while (static_cast<int>(f.size()) < tones) {
            const double candidate = frequency(gen);
            if (nearDtmf(candidate)) continue;
            f.push_back(candidate);
            a.push_back(level(gen) * 20000.0 / tones);
            p.push_back(phase(gen));
        }
        chord.assign(static_cast<std::size_t>(length(gen)), 0);
        for (std::size_t i = 0; i < chord.size(); ++i) {
            double v = 0;
            for (std::size_t k = 0; k < f.size(); ++k) {
                v += a[k] * std::sin(2 * std::numbers::pi * f[k] * static_cast<double>(i) / kRate + p[k]);
            }
            chord[i] = static_cast<std::int16_t>(std::lround(v));
        }
        receiver.push(chord);
        total += static_cast<std::int64_t>(chord.size());
        ++chords;
    }
    receiver.finish();
    EXPECT_GT(chords, 2500);
    EXPECT_TRUE(log.events.empty()) << log.events.size() << " digits";
}

// Partials as music and voiced speech put them: a pair on a row and a
// column is a digit only when nothing else of note sounds with it.
TEST(DtmfReceiver, PairWithOtherPartialsBesideItIsNoDigit) {
    // (frequency, amplitude) partials held for 80 ms, then silence.
    const auto heard = [](int rate, const std::vector<std::pair<double, double>>& partials) {
        std::vector<std::int16_t> x(static_cast<std::size_t>(rate / 10), 0);
        for (int i = 0; i < rate * 8 / 100; ++i) {
            double v = 0.0;
            for (const auto& [f, a] : partials) v += a * std::sin(2 * std::numbers::pi * f * i / rate + f);
            x.push_back(static_cast<std::int16_t>(std::lround(v)));
        }
        x.resize(x.size() + static_cast<std::size_t>(rate / 5), 0);
        return digitsOf(receive(rate, x));
    };
    for (const int rate : {8000, 11025, 48000}) {
        // Notes F5 and F#6 on their own are the digit 3 (0.2% off)...
        EXPECT_EQ(heard(rate, {{698.46, 6000}, {1479.98, 6000}}), "3") << rate;
        // ...and stay it with a partial 20 dB down, or hum.
        EXPECT_EQ(heard(rate, {{698.46, 6000}, {1479.98, 6000}, {932.3, 600}}), "3") << rate;
        EXPECT_EQ(heard(rate, {{698.46, 6000}, {1479.98, 6000}, {50.0, 6000}}), "3") << rate;
        // A third note 10 dB down, a bass note, or the other harmonics of a
        // voice (174.5 Hz) whose 4th and 7th sit on 697 and 1209 Hz (0.9%
        // off): no digit.
        EXPECT_EQ(heard(rate, {{698.46, 6000}, {1479.98, 6000}, {932.3, 1900}}), "") << rate;
        EXPECT_EQ(heard(rate, {{698.46, 6000}, {1479.98, 6000}, {110.0, 3000}}), "") << rate;
        EXPECT_EQ(heard(rate, {{174.5, 1500}, {349.0, 1500}, {523.5, 1500}, {698.0, 6000}, {872.5, 1200},
                               {1047.0, 1000}, {1221.5, 6000}, {1396.0, 800}}),
                  "")
            << rate;
        // A digit keyed while someone talks: a voice whose pitch falls from
        // 125 to 120 Hz and swells over the tone, its strongest partial 11 dB
        // below each tone over the tone (8 dB at its loudest), stays the digit.
        std::vector<std::int16_t> x(static_cast<std::size_t>(rate / 10), 0);
        double phase = 0.0;
        const int n = rate * 8 / 100;
        for (int i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / n;
            phase += 2 * std::numbers::pi * (125.0 - 5.0 * t) / rate;
            const double voice = (0.4 + 0.6 * t) * (2400 * std::sin(4 * phase) + 950 * std::sin(3 * phase) +
                                                    950 * std::sin(5 * phase) + 950 * std::sin(11 * phase));
            const double pair = 6000 * (std::sin(2 * std::numbers::pi * 697.0 * i / rate) +
                                        std::sin(2 * std::numbers::pi * 1209.0 * i / rate));
            x.push_back(static_cast<std::int16_t>(std::lround(pair + voice)));
        }
        x.resize(x.size() + static_cast<std::size_t>(rate / 5), 0);
        EXPECT_EQ(digitsOf(receive(rate, x)), "1") << rate;
    }
}

// padtoner's sequences decode exactly, at every rate and both depths.
TEST(DtmfReceiver, PadtonerSequencesDecodeExactly) {
    testsupport::TempDir dir;
    for (const int rate : {8000, 11025, 16000, 48000}) {
        for (const int bits : {8, 16}) {
            const std::string data = dir.file("dtmf.txt");
            const std::string wav = dir.file("dtmf.wav");
            testsupport::writeFile(data, "SamplingFrequency " + std::to_string(rate) +
                                             "\nQuantizationBitLength " + std::to_string(bits) +
                                             "\nAmplitude 30\nNoiseAmplitude 3\nPNoiseAmplitude 2\nLeaderDuration 300\n"
                                             "ToneDuration 50\nSilenceDuration 30\nRampDuration 3\n"
                                             "DTMFData \"0123456789*#ABCD\"\n");
            const auto result = testsupport::runTool("padtoner", {data, wav});
            ASSERT_EQ(result.status, 0) << result.err;
            sigcore::WaveReader reader;
            const sigcore::WaveInfo info = sigcore::waveOpen(reader, wav);
            ASSERT_EQ(info.sampling_frequency, rate);
            ASSERT_GT(info.numberSamples, 0);
            std::vector<std::int16_t> samples(static_cast<std::size_t>(info.numberSamples));
            sigcore::waveReadSamples(reader, samples);
            sigcore::waveClose(reader);
            EXPECT_EQ(digitsOf(receive(rate, samples)), kAllDigits) << rate << ' ' << bits;
        }
    }
}

TEST(DtmfReceiver, RefusesRatesOutsideItsRange) {
    sigcore::EventLog log;
    EXPECT_THROW(sigcore::DtmfReceiver(7999, log), std::invalid_argument);
    EXPECT_THROW(sigcore::DtmfReceiver(0, log), std::invalid_argument);
    EXPECT_NO_THROW(sigcore::DtmfReceiver(8000, log));
    EXPECT_NO_THROW(sigcore::DtmfReceiver(96000, log));
}

}  // namespace
