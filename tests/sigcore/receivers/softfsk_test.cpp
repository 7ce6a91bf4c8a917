// The line receiver's parts that could break without a report changing:
// bit timing recovered at every sub-sample offset and off-nominal bit rate,
// timing that an echo does not pull off, and the repair of one uncertain
// bit, which must refuse a two-bit error.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sigcore/receivers/softfsk.hpp"

namespace {

// US framing: type, length, body, checksum; one message per burst.
class FrameDecoder final : public sigcore::MessageDecoder {
public:
    sigcore::NextByte startBurst(sigcore::EventSink&) override {
        bytes_.clear();
        return sigcore::NextByte::MessageType;
    }
    sigcore::NextByte decodeByte(std::uint8_t byte, std::int64_t, std::int64_t, sigcore::EventSink& sink) override {
        if (bytes_.empty() && byte != 0x04) return sigcore::NextByte::MessageType;
        bytes_.push_back(byte);
        if (bytes_.size() >= 2 && bytes_.size() == std::size_t{bytes_[1]} + 3) {
            unsigned sum = 0;
            for (const auto b : bytes_) sum += b;
            sigcore::Message m;
            m.complete = true;
            m.valid = (sum & 0xFFu) == 0;
            m.raw = bytes_;
            sink.onEvent(sigcore::MessageDecoded{m});
        }
        return sigcore::NextByte::AnyByte;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

struct Messages final : sigcore::EventSink {
    std::vector<sigcore::Message> list;
    void onEvent(const sigcore::Event& e) override {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) list.push_back(d->message);
    }
};

const std::vector<std::uint8_t> kMessage = [] {
    std::vector<std::uint8_t> m{0x04, 0x06, '1', '2', '2', '5', '0', '9'};
    unsigned sum = 0;
    for (const auto b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>(-sum & 0xFFu));
    return m;
}();

// Continuous-phase FSK of the message after 80 ms of mark. `blend` gives,
// per bit index of the whole stream, the share of the wrong tone's level
// (0 clean, 1 the wrong tone alone).
std::vector<std::int16_t> burst(int rate, double baud, double timing, double phase,
                                const std::vector<std::pair<std::size_t, double>>& blend = {}) {
    std::vector<int> bits(static_cast<std::size_t>(0.08 * baud), 1);
    for (const auto b : kMessage) {
        bits.push_back(0);
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k) & 1);
        bits.push_back(1);
    }
    bits.insert(bits.end(), 20, 1);
    std::vector<std::int16_t> x(static_cast<std::size_t>(rate / 10), 0);
    // One phase for the intended tone (continuous-phase FSK), another for
    // the wrong tone mixed in.
    double carrier = phase;
    double other = 0.0;
    double t = timing;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        double wrong = 0.0;
        for (const auto& [index, share] : blend) {
            if (index == i) wrong = share;
        }
        t += rate / baud;
        while (t >= 1.0) {
            carrier += 2 * M_PI * (bits[i] ? 1200 : 2200) / rate;
            other += 2 * M_PI * (bits[i] ? 2200 : 1200) / rate;
            x.push_back(static_cast<std::int16_t>(std::lround(8000 * ((1 - wrong) * std::sin(carrier) + wrong * std::sin(other)))));
            t -= 1.0;
        }
    }
    x.resize(x.size() + static_cast<std::size_t>(rate / 10), 0);
    return x;
}

std::vector<sigcore::Message> receive(const std::vector<std::int16_t>& samples, int rate,
                                      const sigcore::TonePlan& plan = sigcore::kBell202) {
    FrameDecoder decoder;
    Messages messages;
    sigcore::SoftFskReceiver receiver(plan, decoder, rate, messages);
    // Blocks of odd sizes, as a live stream delivers them.
    for (std::size_t at = 0; at < samples.size(); at += 333) {
        receiver.push(std::span<const std::int16_t>(samples).subspan(at, std::min<std::size_t>(333, samples.size() - at)));
    }
    receiver.finish();
    return messages.list;
}

TEST(SoftFsk, TimingRecoveredAtEverySubSampleOffsetAndOffNominalRate) {
    for (const int rate : {8000, 11025, 16000}) {
        for (const double baudError : {-0.04, -0.02, 0.0, 0.02, 0.04}) {
            for (int step = 0; step < 8; ++step) {
                const double timing = step / 8.0;
                const auto messages = receive(burst(rate, 1200 * (1 + baudError), timing, step * 0.7), rate);
                ASSERT_EQ(messages.size(), 1u) << rate << " " << baudError << " " << timing;
                EXPECT_TRUE(messages[0].valid && !messages[0].repaired) << rate << " " << baudError << " " << timing;
                EXPECT_EQ(messages[0].raw, kMessage);
            }
        }
    }
}

// A message of bytes whose long runs of 0 bits end in a 1 next to the stop
// bit, over V.23 after 150 ms of mark, with an echo 2 ms late at -10 dB and
// a white-noise floor 25 dB under the tones.
std::vector<std::int16_t> echoedV23Burst(const std::vector<std::uint8_t>& message, int rate, double timing,
                                         double phase, std::mt19937& random) {
    std::vector<int> bits(180, 1);
    for (const auto b : message) {
        bits.push_back(0);
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k) & 1);
        bits.push_back(1);
    }
    bits.insert(bits.end(), 20, 1);
    std::vector<double> x(static_cast<std::size_t>(rate / 10), 0.0);
    double carrier = phase;
    double t = timing;
    for (const int bit : bits) {
        t += rate / 1200.0;
        while (t >= 1.0) {
            carrier += 2 * M_PI * (bit ? 1300 : 2100) / rate;
            x.push_back(8000 * std::sin(carrier));
            t -= 1.0;
        }
    }
    x.resize(x.size() + static_cast<std::size_t>(rate / 10), 0.0);
    const auto delay = static_cast<std::size_t>(std::lround(0.002 * rate));
    for (std::size_t i = x.size(); i-- > delay;) x[i] += std::pow(10.0, -10.0 / 20) * x[i - delay];
    std::normal_distribution<double> noise(0.0, 8000 / std::sqrt(2.0) / std::pow(10.0, 25.0 / 20));
    std::vector<std::int16_t> pcm;
    for (const double v : x) pcm.push_back(static_cast<std::int16_t>(std::lround(v + noise(random))));
    return pcm;
}

TEST(SoftFsk, EchoDoesNotPullTheBitTiming) {
    // The echo slows the line's rise after a run of space; a bit timing
    // fitted freely to each byte shortens the bit there and reads the 1
    // before the stop bit as 0, byte after byte.
    std::vector<std::uint8_t> message{0x04, 0x10, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x0C, 0x82, 0x0A,
                                      0xC0, 0x81, 0xA0, 0x90, 0x83, 0xC0, 0x87, 0x81};
    unsigned sum = 0;
    for (const auto b : message) sum += b;
    message.push_back(static_cast<std::uint8_t>(-sum & 0xFFu));
    std::mt19937 random(15);
    for (const int rate : {8000, 11025, 16000}) {
        int missed = 0;
        for (int step = 0; step < 24; ++step) {
            const auto samples = echoedV23Burst(message, rate, step / 24.0, step * 0.9, random);
            const auto messages = receive(samples, rate, sigcore::kV23);
            const bool right = messages.size() == 1 && messages[0].valid && messages[0].raw == message;
            missed += right ? 0 : 1;
        }
        EXPECT_EQ(missed, 0) << rate;
    }
}

// The stream index of data bit `bit` of message byte `byte`.
std::size_t bitIndex(std::size_t byte, std::size_t bit) { return 96 + byte * 10 + 1 + bit; }

TEST(SoftFsk, RepairsOneUncertainBitAndRefusesTwo) {
    // One data bit sent mostly as the wrong tone, but not entirely: it is
    // read wrong, and it is the least certain bit of the message.
    const auto one = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(4, 2), 0.56}}), 8000);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one[0].valid);
    EXPECT_TRUE(one[0].repaired);
    EXPECT_EQ(one[0].raw, kMessage);

    // Two such bits: flipping the least certain one does not make the
    // checksum pass, so the message stands as received, invalid.
    const auto two = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(4, 2), 0.56}, {bitIndex(6, 5), 0.58}}), 8000);
    ASSERT_EQ(two.size(), 1u);
    EXPECT_FALSE(two[0].valid);
    EXPECT_FALSE(two[0].repaired);
    EXPECT_NE(two[0].raw, kMessage);

    // Two clean wrong bits whose changes cancel in the sum (+4 and -4 on
    // the same bit position of two bytes) pass the checksum as received:
    // nothing to repair, and it is not reported as repaired.
    const auto cancel = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(3, 2), 1.0}, {bitIndex(5, 2), 1.0}}), 8000);
    ASSERT_EQ(cancel.size(), 1u);
    EXPECT_FALSE(cancel[0].repaired);
}

}  // namespace
