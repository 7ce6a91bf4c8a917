// The line receiver's parts that could break without a report changing:
// bit timing recovered at every sub-sample offset and off-nominal bit rate,
// timing that an echo does not pull off, the repair of one uncertain bit,
// which must refuse a two-bit error, bytes reported as the line sent them,
// messages neither lost nor made up where a carrier starts and ends, and
// events that do not depend on how the stream is cut or which plans run
// beside.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/messages/usmessage.hpp"
#include "sigcore/receivers/softfsk.hpp"

namespace {

// US framing: type, length, body, checksum; one message per burst.
class FrameDecoder final : public sigcore::MessageDecoder {
public:
    // Frames over V.23 stand for ETSI messages, over Bell 202 for US ones.
    explicit FrameDecoder(sigcore::Standard standard) : standard_(standard) {}
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
            m.standard = standard_;
            m.complete = true;
            m.valid = (sum & 0xFFu) == 0;
            m.raw = bytes_;
            sink.onEvent(sigcore::MessageDecoded{m});
        }
        return sigcore::NextByte::AnyByte;
    }

private:
    sigcore::Standard standard_;
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
// (0 clean, 1 the wrong tone alone); `gain`, the level of a bit's tones
// against the others'.
std::vector<std::int16_t> burst(int rate, double baud, double timing, double phase,
                                const std::vector<std::pair<std::size_t, double>>& blend = {},
                                const std::vector<std::pair<std::size_t, double>>& gain = {}) {
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
        double level = 8000;
        for (const auto& [index, g] : gain) {
            if (index == i) level *= g;
        }
        t += rate / baud;
        while (t >= 1.0) {
            carrier += 2 * M_PI * (bits[i] ? 1200 : 2200) / rate;
            other += 2 * M_PI * (bits[i] ? 2200 : 1200) / rate;
            x.push_back(static_cast<std::int16_t>(std::lround(level * ((1 - wrong) * std::sin(carrier) + wrong * std::sin(other)))));
            t -= 1.0;
        }
    }
    x.resize(x.size() + static_cast<std::size_t>(rate / 10), 0);
    return x;
}

std::vector<sigcore::Message> receive(const std::vector<std::int16_t>& samples, int rate,
                                      const sigcore::TonePlan& plan = sigcore::kBell202) {
    FrameDecoder decoder(plan.markHz == sigcore::kV23.markHz ? sigcore::Standard::V23Etsi : sigcore::Standard::Bell202);
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
    // One data bit sent nearly half as the wrong tone: it is read wrong, and
    // it is far less certain than the message's other bits.
    const auto one = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(4, 2), 0.51}}), 8000);
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

TEST(SoftFsk, RepairRefusedWhereAnotherBitWasNearlyAsLikelyTheMisreadOne) {
    // Bit 2 of byte 4 sent nearly half as the wrong tone is read wrong; bit 2
    // of byte 5, read as 1 like it, is sent with a share of the wrong tone
    // too. The sum shows one bit of weight 4 misread as 1. Flipping the
    // weaker bit makes it pass, but where the other was nearly as likely the
    // misread one, the message made is too likely not the one sent.
    for (const double share : {0.44, 0.45}) {
        const auto got = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(4, 2), 0.51}, {bitIndex(5, 2), share}}), 8000);
        ASSERT_EQ(got.size(), 1u) << share;
        EXPECT_FALSE(got[0].valid) << share;
    }
    // Less of the wrong tone in the other bit: the flipped one stays far the
    // likelier, and the repair stands.
    for (const double share : {0.3, 0.35}) {
        const auto got = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(4, 2), 0.51}, {bitIndex(5, 2), share}}), 8000);
        ASSERT_EQ(got.size(), 1u) << share;
        EXPECT_TRUE(got[0].valid && got[0].repaired) << share;
        EXPECT_EQ(got[0].raw, kMessage) << share;
    }
}

TEST(SoftFsk, UsMessageRefusedWhereTwoWeakBitsCouldCancel) {
    // Bits of weight 4 of bytes 3 ('2', read 0) and 5 ('5', read 1) sent
    // with a share of the wrong tone: both are read right, but each was read
    // weakly enough that misreading both, which the sum would not show, is
    // too likely for a message of nine bytes. One such bit alone cancels
    // with nothing: the message stands.
    for (const double share : {0.43, 0.44}) {
        const auto pair = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(3, 2), share}, {bitIndex(5, 2), share}}), 8000);
        ASSERT_EQ(pair.size(), 1u) << share;
        EXPECT_EQ(pair[0].raw, kMessage) << share;
        EXPECT_FALSE(pair[0].valid) << share;
        const auto one = receive(burst(8000, 1200, 0.3, 0.0, {{bitIndex(3, 2), share}}), 8000);
        ASSERT_EQ(one.size(), 1u) << share;
        EXPECT_TRUE(one[0].valid) << share;
    }
    // Less of the wrong tone in both: the message stands, unless one of the
    // two was sent at a quarter of the level. Its soft value, a share of the
    // tones' energy, is as clear as ever, but so little energy is no proof.
    for (const double level : {1.0, 0.25}) {
        const auto got = receive(
            burst(8000, 1200, 0.3, 0.0, {{bitIndex(3, 2), 0.4}, {bitIndex(5, 2), 0.4}}, {{bitIndex(5, 2), level}}), 8000);
        ASSERT_EQ(got.size(), 1u) << level;
        EXPECT_EQ(got[0].raw, kMessage) << level;
        EXPECT_EQ(got[0].valid, level == 1.0) << level;
    }
}

// Continuous-phase FSK written piece by piece: mark, bytes, silence, noise.
struct Line {
    explicit Line(int samplingRate) : rate(samplingRate) {}
    int rate;
    double markHz = 1200, spaceHz = 2200, baud = 1200;
    double timing = 0.0;
    std::vector<std::int16_t> pcm;
    double phase = 0.0;

    void bits(const std::vector<int>& list) {
        for (const int b : list) {
            timing += rate / baud;
            for (; timing >= 1.0; timing -= 1.0) {
                phase += 2 * M_PI * (b ? markHz : spaceHz) / rate;
                pcm.push_back(static_cast<std::int16_t>(std::lround(8000 * std::sin(phase))));
            }
        }
    }
    void mark(double seconds) { bits(std::vector<int>(static_cast<std::size_t>(std::lround(seconds * baud)), 1)); }
    void bytes(const std::vector<std::uint8_t>& list) {
        for (const auto b : list) {
            std::vector<int> frame{0};
            for (int k = 0; k < 8; ++k) frame.push_back((b >> k) & 1);
            frame.push_back(1);
            bits(frame);
        }
    }
    void silence(double seconds) { pcm.resize(pcm.size() + static_cast<std::size_t>(seconds * rate), 0); }
    void noise(double seconds, double deviation, std::mt19937& random) {
        std::normal_distribution<double> n(0.0, deviation);
        for (int i = 0; i < static_cast<int>(seconds * rate); ++i) pcm.push_back(static_cast<std::int16_t>(std::lround(n(random))));
    }
};

std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> m) {
    unsigned sum = 0;
    for (const auto b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>(-sum & 0xFFu));
    return m;
}

// Through the US message decoder, whose expectations (characters, digits)
// the receiver takes into account.
std::vector<sigcore::Message> receiveUs(const Line& line) {
    sigcore::UsMessageDecoder decoder;
    Messages messages;
    sigcore::SoftFskReceiver receiver(sigcore::kBell202, decoder, line.rate, messages);
    receiver.push(line.pcm);
    receiver.finish();
    return messages.list;
}

std::string fieldOf(const sigcore::Message& m, const std::string& key) {
    for (const auto& f : m.fields) {
        if (f.key == key) return f.value;
    }
    return {};
}

TEST(SoftFsk, ExpectationNeverOverwritesAClearBit) {
    // Latin-1 names where characters are expected (two of them would cancel
    // in the sum if bit 7 were cleared), and escape bytes where digits are.
    const std::vector<std::uint8_t> latin{'M', 0xDC, 'L', 'L', 'E', 'R', ' ', 'F', 'R', 'A', 'N', 0xC7, 'O', 'I', 'S'};
    std::vector<std::uint8_t> mdmf{0x80, static_cast<std::uint8_t>(latin.size() + 2), 0x07,
                                   static_cast<std::uint8_t>(latin.size())};
    mdmf.insert(mdmf.end(), latin.begin(), latin.end());
    const std::vector<std::vector<std::uint8_t>> sent{
        withChecksum(mdmf),
        withChecksum({0x80, 0x06, 0x07, 0x04, 'J', 'O', 'S', 0xC9}),
        withChecksum({0x04, 0x0C, '1', '2', '2', '5', '1', '0', '3', '0', 0x1B, 0x5B, 0x31, 0x6D}),
    };
    for (const int rate : {8000, 11025, 16000}) {
        for (std::size_t i = 0; i < sent.size(); ++i) {
            for (int step = 0; step < 8; ++step) {
                Line line{rate};
                line.timing = step / 8.0;
                line.phase = step * 0.7;
                line.silence(0.05);
                line.mark(0.08);
                line.bytes(sent[i]);
                line.mark(0.02);
                line.silence(0.05);
                const auto got = receiveUs(line);
                ASSERT_EQ(got.size(), 1u) << rate << " " << i;
                // Escape bytes where the number's digits belong arrive as sent,
                // and the message's structure then says it is not valid.
                EXPECT_EQ(got[0].valid && !got[0].repaired, i != 2) << rate << " " << i;
                EXPECT_EQ(got[0].raw, sent[i]) << rate << " " << i << " " << step;
            }
        }
    }
    // The name as Latin-1 in UTF-8.
    EXPECT_EQ(fieldOf(sigcore::decodeUsMessage(sent[0]), "name"), "M\xC3\x9CLLER FRAN\xC3\x87OIS");
}

TEST(SoftFsk, MessageCutOffBeforeItsEndIsIncomplete) {
    // The checksum that never came would be 0xFF: the mark after the last
    // byte, or the noise after the carrier, must not stand in for it.
    std::vector<std::uint8_t> m{0x80, 0x03, 0x07, 0x01, 0x00};
    m[4] = static_cast<std::uint8_t>(0x100 - 0x80 - 0x03 - 0x07 - 0x01 - 0xFF);
    ASSERT_EQ(withChecksum(m).back(), 0xFF);
    std::mt19937 random(3);
    for (const int rate : {8000, 11025, 16000}) {
        for (const double deviation : {0.0, 200.0, 800.0}) {
            for (int step = 0; step < 4; ++step) {
                Line line{rate};
                line.timing = step / 4.0;
                line.silence(0.05);
                line.mark(0.08);
                line.bytes(m);
                line.mark(deviation > 0.0 ? 0.0 : 0.2);
                line.noise(0.3, deviation, random);
                const auto got = receiveUs(line);
                ASSERT_EQ(got.size(), 1u) << rate << " " << deviation;
                EXPECT_FALSE(got[0].complete) << rate << " " << deviation;
                EXPECT_FALSE(got[0].valid) << rate << " " << deviation;
                EXPECT_EQ(got[0].raw, m) << rate << " " << deviation;
            }
        }
    }
}

TEST(SoftFsk, EveryMessageOfOneCarrierAndNoneAfterIt) {
    // Message waiting followed at once by caller ID, then the carrier ends
    // after mark of some length into noise: two messages, no third.
    const auto waiting = withChecksum({0x06, 0x03, 0x42, 0x42, 0x42});
    const auto caller = withChecksum({0x04, 0x0C, '1', '2', '2', '5', '1', '0', '3', '0', '5', '5', '5', '1'});
    std::mt19937 random(11);
    for (const int rate : {8000, 11025}) {
        for (const double tail : {0.0, 0.02, 0.05, 0.1, 0.2, 0.3}) {
            for (const double deviation : {300.0, 1200.0, 3000.0}) {
                Line line{rate};
                line.noise(0.2, deviation, random);
                line.mark(0.08);
                line.bytes(waiting);
                line.bytes(caller);
                line.mark(tail);
                line.noise(1.0, deviation, random);
                const auto got = receiveUs(line);
                ASSERT_EQ(got.size(), 2u) << rate << " " << tail << " " << deviation;
                EXPECT_EQ(got[0].raw, waiting);
                EXPECT_EQ(got[1].raw, caller);
                EXPECT_TRUE(got[0].valid && got[1].valid);
            }
        }
    }
}

}  // namespace

namespace {

// Burst ends as well as messages.
struct Bursts final : sigcore::EventSink {
    std::vector<sigcore::Message> messages;
    std::vector<std::int64_t> ends;
    void onEvent(const sigcore::Event& e) override {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) messages.push_back(d->message);
        if (const auto* b = std::get_if<sigcore::BurstEnded>(&e)) ends.push_back(b->position);
    }
};

TEST(SoftFsk, BurstLifeBoundedAtBothEnds) {
    // A stream that ends with the last stop bit, or even inside it, loses
    // no byte: the stop bit is missing, not wrong.
    const auto caller = withChecksum({0x04, 0x0C, '1', '2', '2', '5', '1', '0', '3', '0', '5', '5', '5', '1'});
    for (const int rate : {8000, 11025, 16000, 48000}) {
        for (int step = 0; step < 4; ++step) {
            for (const double cut : {0.0, 0.5}) {
                Line line{rate};
                line.timing = step / 4.0;
                line.silence(0.05);
                line.mark(0.08);
                line.bytes(caller);
                line.pcm.resize(line.pcm.size() - static_cast<std::size_t>(cut * rate / line.baud));
                const auto got = receiveUs(line);
                ASSERT_EQ(got.size(), 1u) << rate << " " << step << " " << cut;
                EXPECT_TRUE(got[0].complete && got[0].valid) << rate << " " << step << " " << cut;
                EXPECT_EQ(got[0].raw, caller) << rate << " " << step << " " << cut;
            }
        }
    }
    // A carrier that sends bytes without end (a stuck or hostile line)
    // holds no burst beyond the longest message, and the receiver hears the
    // next burst after it.
    std::mt19937 random(5);
    std::uniform_int_distribution<int> anyByte(0, 255);
    const int rate = 8000;
    Line line{rate};
    line.mark(0.08);
    line.bytes({0x04, 0xFF});
    std::vector<std::uint8_t> endless(3000);
    for (auto& b : endless) b = static_cast<std::uint8_t>(anyByte(random));
    line.bytes(endless);
    line.silence(0.2);
    line.mark(0.08);
    line.bytes(caller);
    line.mark(0.05);
    sigcore::UsMessageDecoder decoder;
    Bursts bursts;
    sigcore::SoftFskReceiver receiver(sigcore::kBell202, decoder, rate, bursts);
    receiver.push(line.pcm);
    receiver.finish();
    ASSERT_GE(bursts.ends.size(), 2u);
    const double byteSamples = 10.0 * rate / line.baud;
    EXPECT_LT(static_cast<double>(bursts.ends.front()), (0.08 * rate) + 520 * byteSamples);
    ASSERT_FALSE(bursts.messages.empty());
    EXPECT_EQ(bursts.messages.back().raw, caller);
    EXPECT_TRUE(bursts.messages.back().valid);
}

// Bursts through a Bell 202 and a V.23 plan at once: the messages that each
// plan's sink received.
std::pair<std::vector<sigcore::Message>, std::vector<sigcore::Message>> receiveBoth(const Line& line) {
    sigcore::UsMessageDecoder us;
    sigcore::EtsiMessageDecoder etsi;
    Messages usMessages;
    Messages etsiMessages;
    const std::vector<sigcore::ReceiverPlan> plans{{sigcore::kBell202, us, usMessages},
                                                   {sigcore::kV23, etsi, etsiMessages}};
    sigcore::SoftFskReceiver receiver(plans, line.rate);
    for (std::size_t at = 0; at < line.pcm.size(); at += 500) {
        receiver.push(std::span<const std::int16_t>(line.pcm).subspan(at, std::min<std::size_t>(500, line.pcm.size() - at)));
    }
    receiver.finish();
    return {usMessages.list, etsiMessages.list};
}

TEST(SoftFsk, OneBurstOneMessageUnderTheStandardOfItsMark) {
    // A message both plans read (type 0x80 is a US and an ETSI type) comes
    // out once, from the plan whose tones lie nearer the line's (the mark's
    // offset and the space's added); a second burst later is another message.
    const auto message = withChecksum({0x80, 0x0A, 0x02, 0x08, '0', '3', '1', '2', '3', '4', '5', '6'});
    struct Case {
        double mark, space;
        bool us;
    };
    for (const int rate : {8000, 16000}) {
        for (const Case c : {Case{1200, 2200, true}, Case{1240, 2200, true}, Case{1230, 2150, true},
                             Case{1270, 2200, true}, Case{1265, 2150, false}, Case{1300, 2100, false},
                             Case{1240, 2100, false}}) {
            Line line{rate};
            line.markHz = c.mark;
            line.spaceHz = c.space;
            for (int burst = 0; burst < 2; ++burst) {
                line.silence(0.3);
                line.mark(0.1);
                line.bytes(message);
                line.mark(0.01);
            }
            line.silence(0.2);
            const auto [us, etsi] = receiveBoth(line);
            const auto& chosen = c.us ? us : etsi;
            EXPECT_EQ((c.us ? etsi : us).size(), 0u) << rate << " " << c.mark;
            ASSERT_EQ(chosen.size(), 2u) << rate << " " << c.mark;
            for (const auto& m : chosen) EXPECT_TRUE(m.valid && m.raw == message) << rate << " " << c.mark;
        }
    }
}

// Every event a plan's sink receives.
struct Recorded final : sigcore::EventSink {
    std::vector<sigcore::Event> events;
    void onEvent(const sigcore::Event& e) override { events.push_back(e); }
};

// The events of each of `tonePlans` (a US decoder each) in one receiver,
// over `pcm` pushed `step` samples at a time.
std::vector<std::vector<sigcore::Event>> recordPlans(const std::vector<const sigcore::TonePlan*>& tonePlans,
                                                     const std::vector<std::int16_t>& pcm, int rate, std::size_t step,
                                                     const sigcore::SoftFskOptions& options) {
    std::vector<std::unique_ptr<sigcore::UsMessageDecoder>> decoders;
    std::vector<Recorded> sinks(tonePlans.size());
    std::vector<sigcore::ReceiverPlan> plans;
    for (std::size_t i = 0; i < tonePlans.size(); ++i) {
        decoders.push_back(std::make_unique<sigcore::UsMessageDecoder>());
        plans.push_back({*tonePlans[i], *decoders.back(), sinks[i]});
    }
    sigcore::SoftFskReceiver receiver(plans, rate, options);
    for (std::size_t at = 0; at < pcm.size(); at += step) {
        receiver.push(std::span<const std::int16_t>(pcm).subspan(at, std::min(step, pcm.size() - at)));
    }
    receiver.finish();
    std::vector<std::vector<sigcore::Event>> events;
    for (const Recorded& r : sinks) events.push_back(r.events);
    return events;
}

// The events other than messages, or the messages alone: with several
// plans, which plan's message goes out is for the rivalry between plans to
// decide, and it goes out when no other plan's can come any more, which
// depends on where the stream was cut.
std::vector<sigcore::Event> withoutMessages(std::vector<sigcore::Event> events, bool messages = false) {
    std::erase_if(events, [messages](const sigcore::Event& e) {
        return std::holds_alternative<sigcore::MessageDecoded>(e) != messages;
    });
    return events;
}

TEST(SoftFsk, EventsIndependentOfHowTheStreamIsCutAndOfThePlansBeside) {
    // The tone filters run a block at a time, in the line filter's loop for
    // the first two plans and over its kept output for further ones, and an
    // idle block in which no mark run can complete is passed in one step:
    // none of it may show in a plan's events. Mark runs too short to open a
    // burst, and a required run longer than a block, straddle block ends.
    const auto caller = withChecksum({0x04, 0x0C, '1', '2', '2', '5', '1', '0', '3', '0', '5', '5', '5', '1'});
    for (const int rate : {8000, 11025}) {
        std::mt19937 random(11);
        Line line{rate};
        line.noise(0.3, 300.0, random);
        for (const double seconds : {0.005, 0.012, 0.02, 0.04}) {
            line.mark(seconds);
            line.noise(0.05, 300.0, random);
        }
        line.mark(0.08);
        line.bytes(caller);
        line.mark(0.01);
        line.noise(0.2, 300.0, random);
        line.markHz = 1300;  // a V.23 burst, for the other plans
        line.spaceHz = 2100;
        line.mark(0.1);
        line.bytes(caller);
        line.mark(0.01);
        line.noise(0.2, 300.0, random);
        sigcore::SoftFskOptions longMark;
        longMark.markSeconds = 0.05;
        for (const sigcore::SoftFskOptions& options : {sigcore::SoftFskOptions{}, longMark}) {
            const auto* bell = &sigcore::kBell202;
            const auto* v23 = &sigcore::kV23;
            const auto alone = recordPlans({bell}, line.pcm, rate, 4096, options)[0];
            const auto decoded = std::count_if(alone.begin(), alone.end(), [&](const sigcore::Event& e) {
                const auto* d = std::get_if<sigcore::MessageDecoded>(&e);
                return d != nullptr && d->message.valid && d->message.raw == caller;
            });
            EXPECT_GE(decoded, 1) << rate << " " << options.markSeconds;
            const auto pair = recordPlans({bell, v23}, line.pcm, rate, 4096, options);
            for (const std::size_t step : {1u, 100u, 256u, 999u}) {
                EXPECT_EQ(recordPlans({bell}, line.pcm, rate, step, options)[0], alone) << rate << " " << step;
                const auto cut = recordPlans({bell, v23}, line.pcm, rate, step, options);
                for (std::size_t p = 0; p < pair.size(); ++p) {
                    EXPECT_EQ(withoutMessages(cut[p]), withoutMessages(pair[p])) << rate << " " << step;
                    EXPECT_EQ(withoutMessages(cut[p], true), withoutMessages(pair[p], true)) << rate << " " << step;
                }
            }
            const auto third = recordPlans({v23, v23, bell}, line.pcm, rate, 333, options)[2];
            const auto thirdOfFour = recordPlans({v23, v23, bell, v23}, line.pcm, rate, 333, options)[2];
            EXPECT_EQ(withoutMessages(pair[0]), withoutMessages(alone)) << rate;
            EXPECT_EQ(withoutMessages(third), withoutMessages(alone)) << rate;
            EXPECT_EQ(withoutMessages(thirdOfFour), withoutMessages(alone)) << rate;
        }
    }
}

}  // namespace
