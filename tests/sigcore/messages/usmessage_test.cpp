// The US whole-message decoder: published example messages, every MDMF
// parameter, cut-off and damaged messages, and what it asks the
// demodulator to expect; then a synthesised burst through the receiver.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cidprobe/fsksynth.hpp"
#include "sigcore/receivers/receiver.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace sigcore {
// Readable fields in failure messages.
inline void PrintTo(const MessageField& field, std::ostream* os) { *os << field.key << "=" << field.value; }
}  // namespace sigcore

namespace {

using Bytes = std::vector<std::uint8_t>;
using Fields = std::vector<sigcore::MessageField>;

// Type, length, body and the checksum that makes the sum 0.
Bytes withChecksum(std::uint8_t type, const Bytes& body) {
    Bytes out{type, static_cast<std::uint8_t>(body.size())};
    for (const std::uint8_t b : body) out.push_back(b);
    unsigned sum = 0;
    for (const std::uint8_t b : out) sum += b;
    out.push_back(static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu));
    return out;
}

void addParam(Bytes& body, std::uint8_t type, const std::string& text) {
    body.push_back(type);
    body.push_back(static_cast<std::uint8_t>(text.size()));
    body.insert(body.end(), text.begin(), text.end());
}

TEST(UsMessage, PublishedSdmfAndMdmfExamplesDecode) {
    // Example messages as printed in public caller-ID format notes.
    const Bytes sdmf{0x04, 0x12, 0x30, 0x39, 0x33, 0x30, 0x31, 0x32, 0x32, 0x34, 0x36,
                     0x30, 0x39, 0x35, 0x35, 0x35, 0x31, 0x32, 0x31, 0x32, 0x51};
    sigcore::Message m = sigcore::decodeUsMessage(sdmf);
    EXPECT_TRUE(m.complete);
    EXPECT_TRUE(m.valid);
    EXPECT_EQ(m.type, 0x04);
    EXPECT_EQ(m.raw, sdmf);
    EXPECT_EQ(m.fields, (Fields{{"date", "09-30"}, {"time", "12:24"}, {"number", "6095551212"}}));

    // The same page's other two examples carry checksums that don't add up
    // (0x0e and 0x84 would): the fields decode, the verdict says so.
    const Bytes blocked{0x04, 0x09, 0x30, 0x39, 0x33, 0x30, 0x31, 0x32, 0x32, 0x34, 0x50, 0x12};
    m = sigcore::decodeUsMessage(blocked);
    EXPECT_TRUE(m.complete);
    EXPECT_FALSE(m.valid);
    EXPECT_EQ(m.checkComputed, 0x0e);
    EXPECT_EQ(m.fields, (Fields{{"date", "09-30"}, {"time", "12:24"}, {"number_absent", "private"}}));

    const Bytes mdmf{0x80, 0x20, 0x01, 0x08, 0x30, 0x33, 0x32, 0x34, 0x30, 0x39, 0x30, 0x32,
                     0x07, 0x08, 0x4A, 0x4F, 0x48, 0x4E, 0x20, 0x44, 0x4F, 0x45, 0x02, 0x0A,
                     0x38, 0x30, 0x30, 0x35, 0x35, 0x35, 0x31, 0x32, 0x31, 0x32, 0x7D};
    m = sigcore::decodeUsMessage(mdmf);
    EXPECT_FALSE(m.valid);
    EXPECT_EQ(m.checkReceived, 0x7D);
    EXPECT_EQ(m.checkComputed, 0x84);
    EXPECT_EQ(m.fields, (Fields{{"date", "03-24"}, {"time", "09:02"}, {"name", "JOHN DOE"}, {"number", "8005551212"}}));
}

TEST(UsMessage, EveryMdmfParameterAndUnknownOnesInHex) {
    Bytes body;
    addParam(body, 0x01, "12251030");
    addParam(body, 0x02, "2125551234");
    addParam(body, 0x03, "12125551234");
    addParam(body, 0x05, std::string(1, '\x01'));
    addParam(body, 0x06, "L");
    addParam(body, 0x07, "DOE JANE");
    addParam(body, 0x1a, "3135550000");
    addParam(body, 0x0b, std::string(1, '\xff'));
    addParam(body, 0x99, std::string("\xab\x00", 2));  // unknown: shown in hex, decoding carries on
    addParam(body, 0x04, "O");
    addParam(body, 0x08, "P");
    addParam(body, 0x07, "A\x01\\");  // a control byte and a backslash stay visible
    const sigcore::Message m = sigcore::decodeUsMessage(withChecksum(0x80, body));
    EXPECT_FALSE(m.valid);  // decoded in full, but a name with a control byte is not valid
    EXPECT_EQ(m.fields, (Fields{{"date", "12-25"},
                                {"time", "10:30"},
                                {"number", "2125551234"},
                                {"dialable_number", "12125551234"},
                                {"redirection", "busy"},
                                {"call_qualifier", "long distance"},
                                {"name", "DOE JANE"},
                                {"redirecting_number", "3135550000"},
                                {"message_waiting", "on"},
                                {"param_99", "ab00"},
                                {"number_absent", "unavailable"},
                                {"name_absent", "private"},
                                {"name", "A\x01\\"}}));  // the characters themselves
}

TEST(UsMessage, MessageWaitingBadChecksumAndCutOffMessages) {
    EXPECT_EQ(sigcore::decodeUsMessage(withChecksum(0x06, {0x42, 0x42, 0x42})).fields,
              (Fields{{"message_waiting", "on"}}));
    EXPECT_EQ(sigcore::decodeUsMessage(withChecksum(0x06, {0x6f, 0x6f, 0x6f})).fields,
              (Fields{{"message_waiting", "off"}}));
    EXPECT_EQ(sigcore::decodeUsMessage(withChecksum(0x82, {0x0b, 0x01, 0x00})).fields,
              (Fields{{"message_waiting", "off"}}));
    EXPECT_EQ(sigcore::decodeUsMessage(withChecksum(0x0b, {0x12, 0x34})).fields, (Fields{{"data", "1234"}}));

    Bytes damaged = withChecksum(0x04, {'0', '1', '0', '2', '0', '3', '0', '4', '5'});
    const std::uint8_t good = damaged.back();
    damaged.back() ^= 0x01;
    sigcore::Message m = sigcore::decodeUsMessage(damaged);
    EXPECT_TRUE(m.complete);
    EXPECT_FALSE(m.valid);
    EXPECT_EQ(m.checkComputed, good);
    EXPECT_EQ(m.checkReceived, damaged.back());

    // Every prefix decodes without harm; a prefix is never complete or valid,
    // and the fields that did arrive are there.
    Bytes body;
    addParam(body, 0x02, "5551234");
    addParam(body, 0x07, "SMITH");
    const Bytes whole = withChecksum(0x80, body);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        m = sigcore::decodeUsMessage(std::span<const std::uint8_t>(whole.data(), n));
        EXPECT_FALSE(m.complete);
        EXPECT_FALSE(m.valid);
        EXPECT_EQ(m.raw.size(), n);
    }
    m = sigcore::decodeUsMessage(std::span<const std::uint8_t>(whole.data(), 15));
    EXPECT_EQ(m.fields, (Fields{{"number", "5551234"}, {"name", "SM"}}));
}

// Drives the decoder as the demodulator does and keeps what it emits.
struct Drive {
    sigcore::UsMessageDecoder decoder;
    sigcore::EventLog log;
    std::vector<sigcore::NextByte> expected;

    void burst(const Bytes& bytes, bool end) {
        expected.push_back(decoder.startBurst(log));
        std::int64_t pos = 1000;
        for (const std::uint8_t b : bytes) {
            expected.push_back(decoder.decodeByte(b, pos, pos + 60, log));
            pos += 60;
        }
        if (end) decoder.endBurst(pos + 100, log);
    }
    std::vector<sigcore::Message> messages() const {
        std::vector<sigcore::Message> out;
        for (const auto& e : log.events) {
            if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) out.push_back(d->message);
        }
        return out;
    }
};

TEST(UsMessageDecoder, EmitsOnceAtTheChecksumOrAtTheBurstEnd) {
    using sigcore::NextByte;
    Bytes body;
    addParam(body, 0x0b, std::string(1, '\xff'));
    addParam(body, 0x07, "AB");
    const Bytes whole = withChecksum(0x82, body);
    Drive drive;
    // Trailing noise is ignored.
    Bytes sent = whole;
    sent.push_back(0x04);
    drive.burst(sent, true);
    const auto messages = drive.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].valid);
    EXPECT_EQ(messages[0].raw, whole);
    EXPECT_EQ(messages[0].startSample, 1000);
    EXPECT_EQ(messages[0].endSample, 1000 + 60 * static_cast<std::int64_t>(whole.size()));
    EXPECT_EQ(drive.expected,
              (std::vector<NextByte>{NextByte::MessageType,                          // start
                                     NextByte::AnyByte,                              // after the type: length
                                     NextByte::AnyByte, NextByte::AnyByte,           // parameter header
                                     NextByte::AnyByte,                              // binary indicator
                                     NextByte::AnyByte, NextByte::AnyByte,           // name header
                                     NextByte::SevenBitChar, NextByte::SevenBitChar,  // name characters
                                     NextByte::AnyByte,                              // checksum
                                     NextByte::AnyByte, NextByte::AnyByte}));         // after it
    for (const int t : {0x04, 0x06, 0x0b, 0x80, 0x81, 0x82}) EXPECT_TRUE(drive.decoder.isMessageType(static_cast<std::uint8_t>(t)));
    EXPECT_FALSE(drive.decoder.isMessageType(0x05));

    Drive cut;
    cut.burst(Bytes(whole.begin(), whole.begin() + 6), true);
    const auto cutMessages = cut.messages();
    ASSERT_EQ(cutMessages.size(), 1u);
    EXPECT_FALSE(cutMessages[0].complete);
    EXPECT_EQ(cutMessages[0].fields, (Fields{{"message_waiting", "on"}}));

    // Digits where only digits can come: SDMF date, time and number (one
    // letter when the number is absent), the MDMF date parameter.
    Drive sdmf;
    sdmf.burst(withChecksum(0x04, Bytes{'0', '1', '0', '2', '1', '2', '3', '0', '5', '5', '5'}), true);
    EXPECT_EQ(std::vector<NextByte>(sdmf.expected.begin() + 2, sdmf.expected.begin() + 13),
              std::vector<NextByte>(11, NextByte::DigitChar));
    Drive absent;
    absent.burst(withChecksum(0x04, Bytes{'0', '1', '0', '2', '1', '2', '3', '0', 'P'}), true);
    EXPECT_EQ(absent.expected[10], NextByte::SevenBitChar);
    Bytes dated;
    addParam(dated, 0x01, "01021230");
    Drive mdmf;
    mdmf.burst(withChecksum(0x80, dated), true);
    EXPECT_EQ(std::vector<NextByte>(mdmf.expected.begin() + 4, mdmf.expected.begin() + 12),
              std::vector<NextByte>(8, NextByte::DigitChar));

    // A burst whose first byte is no message type carries none, even if
    // one follows (an NTT frame's SOH with its parity bit reads as 0x81).
    Drive nothing;
    nothing.burst(Bytes{0x90, 0x81, 0x87, 0x90, 0x82}, true);
    EXPECT_TRUE(nothing.messages().empty());
}

TEST(UsMessageDecoder, SynthesisedMdmfBurstThroughTheReceiverAtSeveralRates) {
    Bytes body;
    addParam(body, 0x01, "07041200");
    addParam(body, 0x02, "8005550100");
    addParam(body, 0x07, "ACME CORP");
    const Bytes whole = withChecksum(0x80, body);
    for (const int rate : {8000, 11025, 48000}) {
        fsksynth::Modulator mod;
        mod.rate = rate;
        fsksynth::appendSilence(mod, rate / 5);
        fsksynth::appendBurst(mod, whole, 180, 10, 1);
        fsksynth::appendSilence(mod, rate / 5);
        sigcore::UsMessageDecoder decoder;
        sigcore::EventLog log;
        sigcore::FskReceiver receiver(sigcore::kBell202, decoder, rate, log);
        for (std::size_t i = 0; i < mod.samples.size(); i += 300) {
            const std::size_t n = std::min<std::size_t>(300, mod.samples.size() - i);
            receiver.push(std::span<const std::int16_t>(mod.samples.data() + i, n));
        }
        receiver.finish();
        std::vector<sigcore::Message> found;
        for (const auto& e : log.events) {
            if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) found.push_back(d->message);
        }
        ASSERT_EQ(found.size(), 1u) << rate;
        sigcore::Message expected = sigcore::decodeUsMessage(whole);
        expected.startSample = found[0].startSample;
        expected.endSample = found[0].endSample;
        EXPECT_EQ(found[0], expected) << rate;
        // The message starts after the lead-in silence and mark, and lasts 10 bits a byte.
        const double bitSamples = rate / 1200.0;
        EXPECT_NEAR(static_cast<double>(found[0].startSample), rate / 5 + 180 * bitSamples, 2 * bitSamples);
        EXPECT_NEAR(static_cast<double>(found[0].endSample - found[0].startSample),
                    static_cast<double>(whole.size()) * 10 * bitSamples, 3 * bitSamples);
    }
}

}  // namespace
