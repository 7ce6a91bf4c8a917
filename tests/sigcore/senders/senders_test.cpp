// The signal writers: FSK bursts that the library's receivers decode back
// to the bytes sent (Bell 202 and V.23, with seizure, offsets, bit-rate
// error), tone frequencies and levels as asked, burst lengths to the sample,
// no phase step at bit changes; DTMF digits as asked; the segment list and
// the noise.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "sigcore/messages/dtmfcid.hpp"
#include "sigcore/messages/messagebuild.hpp"
#include "sigcore/messages/usmessage.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/receivers/dtmf.hpp"
#include "sigcore/receivers/softfsk.hpp"
#include "sigcore/senders/impair.hpp"
#include "sigcore/senders/levels.hpp"
#include "sigcore/senders/segments.hpp"

namespace sigcore {
namespace {

template <typename Writer>
std::vector<double> render(Writer& writer) {
    std::vector<double> out;
    std::array<double, 333> block{};  // an odd size, so blocks end mid-bit
    while (const std::size_t n = writer.write(block)) out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

std::vector<std::int16_t> toPcm(const std::vector<double>& samples, std::size_t padding) {
    std::vector<std::int16_t> pcm(padding, 0);
    for (const double s : samples) pcm.push_back(static_cast<std::int16_t>(std::lround(s * 32767.0)));
    pcm.insert(pcm.end(), padding, 0);
    return pcm;
}

std::vector<Message> receive(const TonePlan& plan, MessageDecoder& decoder, const std::vector<double>& samples, int rate) {
    EventLog log;
    SoftFskReceiver receiver(plan, decoder, rate, log);
    receiver.push(toPcm(samples, static_cast<std::size_t>(rate / 5)));
    receiver.finish();
    std::vector<Message> messages;
    for (const Event& e : log.events) {
        if (const auto* m = std::get_if<MessageDecoded>(&e)) messages.push_back(m->message);
    }
    return messages;
}

// Frequency from the zero crossings of `samples` (a single steady tone).
double crossingFrequency(std::span<const double> samples, int rate) {
    std::vector<double> at;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0.0 && samples[i] >= 0.0) {
            at.push_back(static_cast<double>(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]));
        }
    }
    if (at.size() < 2) return 0.0;
    return static_cast<double>(at.size() - 1) * rate / (at.back() - at.front());
}

double rms(std::span<const double> samples) {
    double sum = 0.0;
    for (const double s : samples) sum += s * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

CallerIdFields sample() {
    CallerIdFields f;
    f.date = "0314";
    f.time = "1526";
    f.number = "6175550123";
    f.name = "DOE JANE";
    return f;
}

TEST(FskWriter, ReceiversDecodeTheBytesSentUnderEveryAdjustment) {
    struct Case {
        bool v23;
        int rate;
        double markOffset, spaceOffset, rateError, twistDb;
        int stopBits;
    };
    for (const Case c : {Case{false, 8000, 0, 0, 0, 0, 1}, Case{true, 8000, 0, 0, 0, 0, 1},
                         Case{false, 48000, 10, -10, 1.0, 6, 2}, Case{true, 11025, -8, 8, -1.0, -6, 1},
                         Case{false, 16000, 0, 0, 0, 0, 4}}) {
        SCOPED_TRACE(testing::Message() << "v23 " << c.v23 << " rate " << c.rate << " stop " << c.stopBits);
        FskSettings s;
        s.tones = c.v23 ? kV23Tones : kBell202Tones;
        s.seizureBits = 300;
        s.markBits = 180;
        s.stopBits = c.stopBits;
        s.markOffsetHz = c.markOffset;
        s.spaceOffsetHz = c.spaceOffset;
        s.rateErrorPercent = c.rateError;
        s.markPeak = sinePeakFromDbm0(-13.5 + c.twistDb / 2);
        s.spacePeak = sinePeakFromDbm0(-13.5 - c.twistDb / 2);
        const BuildResult built = c.v23 ? buildEtsiCallSetup(sample()) : buildUsMdmf(sample());
        FskWriter writer(s, built.bytes, c.rate);
        const std::vector<double> samples = render(writer);
        ASSERT_EQ(static_cast<std::int64_t>(samples.size()), writer.totalSamples());
        UsMessageDecoder us;
        EtsiMessageDecoder etsi;
        MessageDecoder& decoder = c.v23 ? static_cast<MessageDecoder&>(etsi) : us;
        const auto messages = receive(c.v23 ? kV23 : kBell202, decoder, samples, c.rate);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].valid);
        EXPECT_EQ(messages[0].raw, built.bytes);
    }
}

TEST(FskWriter, FrequencyLevelLengthAndPhaseAreAsAsked) {
    FskSettings s;
    s.tones = kV23Tones;
    s.markBits = 1200;  // one second of mark
    s.markOffsetHz = 3.5;
    s.markPeak = sinePeakFromDbm0(-13.5);
    FskWriter mark(s, {}, 8000);
    const std::vector<double> tone = render(mark);
    EXPECT_EQ(tone.size(), 8000u);
    EXPECT_NEAR(crossingFrequency(tone, 8000), 1303.5, 0.01);
    // -13.5 dBm0 is 16.64 dB below a full-scale sine.
    EXPECT_NEAR(20.0 * std::log10(rms(tone) * std::sqrt(2.0)), -16.64, 0.01);

    // Seizure alone: 300 alternating bits at 1 % above the bit rate.
    FskSettings seize;
    seize.seizureBits = 300;
    seize.rateErrorPercent = 1.0;
    FskWriter fast(seize, {}, 8000);
    EXPECT_EQ(fast.totalSamples(), static_cast<std::int64_t>(std::ceil(300.0 / 1212.0 * 8000.0)));

    // Bytes: 1 + 8 + stop bits each; no step bigger than one sample's phase
    // advance of the higher tone anywhere (the phase runs on across bits).
    FskSettings bytes;
    bytes.stopBits = 2;
    bytes.markPeak = bytes.spacePeak = 0.5;
    const std::array<std::uint8_t, 4> data{0x00, 0xff, 0x55, 0xaa};
    FskWriter burst(bytes, data, 9600);
    EXPECT_EQ(burst.totalBits(), 44);
    EXPECT_EQ(burst.totalSamples(), 44 * 8);
    const std::vector<double> wave = render(burst);
    double biggest = 0.0;
    for (std::size_t i = 1; i < wave.size(); ++i) biggest = std::max(biggest, std::abs(wave[i] - wave[i - 1]));
    EXPECT_LE(biggest, 0.5 * 2.0 * std::numbers::pi * 2200.0 / 9600.0 + 1e-9);
}

TEST(DtmfWriter, DigitsDecodeBackWithTheirLengths) {
    DtmfSettings s;
    s.toneMs = 60;
    s.gapMs = 50;
    s.lowPeak = sinePeakFromDbm0(-10);
    s.highPeak = sinePeakFromDbm0(-8);
    const std::string digits = "A0123456789*#BDC";
    DtmfWriter writer(s, digits, 8000);
    EXPECT_EQ(writer.toneSamples(), 480);
    EXPECT_EQ(writer.gapSamples(), 400);
    const std::vector<double> samples = render(writer);
    ASSERT_EQ(samples.size(), 16u * 480 + 15u * 400);
    EventLog log;
    DtmfReceiver receiver(8000, log);
    receiver.push(toPcm(samples, 800));
    receiver.finish();
    std::string heard;
    for (const Event& e : log.events) {
        if (const auto* t = std::get_if<DtmfTone>(&e)) heard += t->digit;
    }
    EXPECT_EQ(heard, digits);
    // The first digit's power is the sum of its two tones' powers.
    const double expected = sinePower(s.lowPeak) + sinePower(s.highPeak);
    const double measured = std::pow(rms(std::span(samples).first(480)), 2);
    EXPECT_NEAR(10 * std::log10(measured / expected), 0.0, 0.05);
    EXPECT_FALSE(dtmfFrequencies('E'));
    EXPECT_FALSE(dtmfFrequencies('\0'));
    EXPECT_EQ(dtmfFrequencies('5'), (std::pair<double, double>{770.0, 1336.0}));
}

TEST(SegmentPlayer, PlaysSegmentsInOrderAndNoiseIsReproducible) {
    FskSettings s;
    s.markBits = 12;
    std::vector<Segment> list;
    list.emplace_back(Silence{100});
    list.emplace_back(FskWriter(s, {}, 8000));
    list.emplace_back(Silence{0});
    list.emplace_back(DtmfWriter(DtmfSettings{}, "1", 8000));
    list.emplace_back(Silence{7});
    SegmentPlayer player(std::move(list));
    EXPECT_EQ(player.totalSamples(), 100 + 80 + 560 + 7);
    const std::vector<double> out = render(player);
    ASSERT_EQ(out.size(), 747u);
    EXPECT_EQ(rms(std::span(out).first(100)), 0.0);
    EXPECT_GT(rms(std::span(out).subspan(100, 80)), 0.05);
    EXPECT_GT(rms(std::span(out).subspan(180, 560)), 0.1);
    EXPECT_EQ(rms(std::span(out).last(7)), 0.0);

    std::vector<double> a(200000, 0.0);
    std::vector<double> b(200000, 0.0);
    WhiteNoise(7, 0.1).addTo(a);
    WhiteNoise first(7, 0.1);
    first.addTo(std::span(b).first(999));  // in blocks: the same sequence
    first.addTo(std::span(b).subspan(999));
    EXPECT_EQ(a, b);
    EXPECT_NEAR(rms(a), 0.1, 0.001);
    std::vector<double> c(1000, 0.0);
    WhiteNoise(8, 0.1).addTo(c);
    EXPECT_NE(std::vector<double>(a.begin(), a.begin() + 1000), c);
}


TEST(LineImpairer, EchoHumOffsetAndClippingActWhereAndAsAsked) {
    Impairments line;
    line.echo = Echo{1.0, -6.0206};  // 8 samples at 8000 Hz, half the amplitude
    LineImpairer echo(line, 8000);
    std::vector<double> impulse(30, 0.0);
    impulse[2] = 1.0;
    // In two blocks that split the delay line's turn.
    echo.applySignal(std::span(impulse).first(5));
    echo.applySignal(std::span(impulse).subspan(5));
    for (std::size_t i = 0; i < impulse.size(); ++i) {
        const double want = i == 2 ? 1.0 : i == 10 ? 0.5 : 0.0;
        EXPECT_NEAR(impulse[i], want, 1e-4) << i;
    }

    Impairments hum;
    hum.hum = Hum{50.0, 0.25};
    LineImpairer humming(hum, 8000);
    std::vector<double> quiet(8000, 0.0);
    for (std::size_t at = 0; at < quiet.size(); at += 1000) humming.applySignal(std::span(quiet).subspan(at, 1000));
    EXPECT_NEAR(crossingFrequency(quiet, 8000), 50.0, 0.01);
    EXPECT_NEAR(rms(quiet), 0.25 / std::sqrt(2.0), 1e-6);

    Impairments out;
    out.dcOffset = 0.1;
    out.clipLevel = 0.5;
    const LineImpairer converter(out, 8000);
    std::vector<double> values{0.0, 0.3, 0.45, -0.7, 0.9};
    EXPECT_EQ(converter.applyOutput(values), 3u);
    EXPECT_EQ(values, (std::vector<double>{0.1, 0.4, 0.5, -0.5, 0.5}));
}

}  // namespace
}  // namespace sigcore
