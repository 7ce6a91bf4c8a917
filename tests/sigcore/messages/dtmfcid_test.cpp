#include "sigcore/messages/dtmfcid.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fields = std::vector<sigcore::MessageField>;

TEST(DtmfCallerId, FramingsInUse) {
    struct Case {
        const char* digits;
        bool valid;
        Fields fields;
    };
    const std::vector<Case> cases{
        {"A0123456789C", true, {{"number", "0123456789"}}},
        {"A0123456789#", true, {{"number", "0123456789"}}},
        {"A0123456789B", true, {{"number", "0123456789"}}},
        {"D0201234567C", true, {{"number", "0201234567"}}},
        {"D0201234567#", true, {{"number", "0201234567"}}},
        {"A0123D4567C", true, {{"number", "0123"}, {"redirecting_number", "4567"}}},
        // A redirected call whose calling number is absent: D carries the
        // redirecting number, B the reason.
        {"D0198765432B10C", true, {{"redirecting_number", "0198765432"}, {"number_absent", "private"}}},
        {"D0198765432B00C", true, {{"redirecting_number", "0198765432"}, {"number_absent", "unavailable"}}},
        {"A0123D4567B00C", true,
         {{"number", "0123"}, {"redirecting_number", "4567"}, {"number_absent", "unavailable"}}},
        {"B00C", true, {{"number_absent", "unavailable"}}},
        {"B10C", true, {{"number_absent", "private"}}},
        {"B20C", true, {{"number_absent", "20"}}},
        {"D1#", true, {{"number_absent", "private"}}},
        {"D2#", true, {{"number_absent", "unavailable"}}},
        {"D3#", true, {{"number_absent", "unavailable"}}},
        {"A0123", false, {{"number", "0123"}}},  // cut off
        {"AC", true, {}},
    };
    for (const Case& c : cases) {
        const sigcore::Message m = sigcore::parseDtmfCallerId(c.digits);
        const std::string digits = c.digits;
        EXPECT_EQ(m.standard, sigcore::Standard::DtmfCallerId) << digits;
        EXPECT_EQ(m.type, static_cast<std::uint8_t>(digits[0])) << digits;
        EXPECT_EQ(m.valid, c.valid) << digits;
        EXPECT_EQ(m.complete, c.valid) << digits;
        EXPECT_EQ(m.fields, c.fields) << digits;
        EXPECT_EQ(std::string(m.raw.begin(), m.raw.end()), digits);
    }
    // B after a number ends the message when no code digit follows it.
    const sigcore::Message ended = sigcore::parseDtmfCallerId("A0123BA4567C");
    EXPECT_TRUE(ended.valid);
    EXPECT_EQ(std::string(ended.raw.begin(), ended.raw.end()), "A0123B");
    EXPECT_EQ(ended.fields, (Fields{{"number", "0123"}}));
    // Not a message: no start digit.
    EXPECT_FALSE(sigcore::parseDtmfCallerId("0123C").valid);
    EXPECT_TRUE(sigcore::parseDtmfCallerId("0123C").fields.empty());
    EXPECT_FALSE(sigcore::parseDtmfCallerId("").valid);
}

struct Collect final : sigcore::EventSink {
    std::vector<sigcore::Message> messages;
    void onEvent(const sigcore::Event& e) override {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) messages.push_back(d->message);
    }
};

// Feeds digits 100 ms apart (50 ms tones) from sample `at`, at 8000 Hz.
std::int64_t feed(sigcore::DtmfCallerIdDecoder& decoder, const std::string& digits, std::int64_t at) {
    for (const char d : digits) {
        decoder.onEvent(sigcore::DtmfTone{d, at, at + 400});
        at += 800;
    }
    return at;
}

TEST(DtmfCallerIdDecoder, EndDigitSilenceAndStrayDigits) {
    Collect out;
    sigcore::DtmfCallerIdDecoder decoder(8000, out);
    // Stray digits before a start digit are ignored; the message ends at C.
    std::int64_t at = feed(decoder, "55A0123456789C", 1000);
    ASSERT_EQ(out.messages.size(), 1U);
    EXPECT_TRUE(out.messages[0].valid);
    EXPECT_EQ(out.messages[0].startSample, 1000 + 2 * 800);
    EXPECT_EQ(out.messages[0].endSample, at - 800 + 400);
    EXPECT_EQ(out.messages[0].fields, (Fields{{"number", "0123456789"}}));

    // A second of silence ends a message without its end digit: invalid.
    at = feed(decoder, "A0123", at + 8000);
    decoder.advanceTo(at + 4000);
    EXPECT_EQ(out.messages.size(), 1U);
    decoder.advanceTo(at + 9000);
    ASSERT_EQ(out.messages.size(), 2U);
    EXPECT_FALSE(out.messages[1].valid);
    EXPECT_EQ(out.messages[1].fields, (Fields{{"number", "0123"}}));

    // Without advanceTo, the next digit after the silence ends it first.
    at = feed(decoder, "A99", at + 20000);
    at = feed(decoder, "B10C", at + 20000);
    ASSERT_EQ(out.messages.size(), 4U);
    EXPECT_EQ(std::string(out.messages[2].raw.begin(), out.messages[2].raw.end()), "A99");
    EXPECT_EQ(out.messages[3].fields, (Fields{{"number_absent", "private"}}));

    // An endless message is cut at kMaxDigits; finish() emits what is left.
    at = feed(decoder, "A" + std::string(100, '7'), at + 20000);
    feed(decoder, "A12", at);
    decoder.finish();
    ASSERT_EQ(out.messages.size(), 6U);
    EXPECT_EQ(out.messages[4].raw.size(), sigcore::DtmfCallerIdDecoder::kMaxDigits);
    EXPECT_FALSE(out.messages[4].valid);
    EXPECT_EQ(std::string(out.messages[5].raw.begin(), out.messages[5].raw.end()), "A12");
    // Other events pass without effect.
    decoder.onEvent(sigcore::BurstDetected{5});
    decoder.finish();
    EXPECT_EQ(out.messages.size(), 6U);
}

// A B after a number is held: it ends the message at the next digit that is
// not a code digit, or after the second of silence, and opens the reason
// for absence when code digits follow.
TEST(DtmfCallerIdDecoder, BAfterNumberWaitsForWhatFollows) {
    Collect out;
    sigcore::DtmfCallerIdDecoder decoder(8000, out);
    std::int64_t at = feed(decoder, "A0123456789B", 1000);
    EXPECT_TRUE(out.messages.empty());
    decoder.advanceTo(at + 9000);
    ASSERT_EQ(out.messages.size(), 1U);
    EXPECT_TRUE(out.messages[0].valid);
    EXPECT_EQ(out.messages[0].endSample, at - 800 + 400);
    EXPECT_EQ(out.messages[0].fields, (Fields{{"number", "0123456789"}}));

    at = feed(decoder, "D0198765432B10C", at + 20000);
    ASSERT_EQ(out.messages.size(), 2U);
    EXPECT_TRUE(out.messages[1].valid);
    EXPECT_EQ(out.messages[1].fields, (Fields{{"redirecting_number", "0198765432"}, {"number_absent", "private"}}));

    // The next message straight after a B-ended one is a message of its own.
    const std::int64_t second = feed(decoder, "A0123B", at + 20000);
    feed(decoder, "A4567C", second);
    ASSERT_EQ(out.messages.size(), 4U);
    EXPECT_EQ(std::string(out.messages[2].raw.begin(), out.messages[2].raw.end()), "A0123B");
    EXPECT_TRUE(out.messages[2].valid);
    EXPECT_EQ(out.messages[2].endSample, second - 800 + 400);
    EXPECT_EQ(out.messages[3].startSample, second);
    EXPECT_EQ(out.messages[3].fields, (Fields{{"number", "4567"}}));
}

// A number with no start digit and # at its end is a message; a run of
// digits that could be anything else (too short or long, no #, another end,
// keypad pace, the tail of a longer run) gives none.
TEST(DtmfCallerIdDecoder, NumberEndedByHashWithoutStartDigit) {
    const sigcore::Message m = sigcore::parseDtmfCallerId("0123456789#");
    EXPECT_TRUE(m.valid);
    EXPECT_TRUE(m.complete);
    EXPECT_EQ(m.type, 0);
    EXPECT_EQ(m.fields, (Fields{{"number", "0123456789"}}));
    for (const char* notOne : {"12#", "012345678901234567890#", "0123456789C", "01234*6789#", "0123456789"}) {
        EXPECT_FALSE(sigcore::parseDtmfCallerId(notOne).valid) << notOne;
    }

    Collect out;
    sigcore::DtmfCallerIdDecoder decoder(8000, out);
    std::int64_t at = feed(decoder, "0123456789#", 1000);
    ASSERT_EQ(out.messages.size(), 1U);
    EXPECT_EQ(out.messages[0].startSample, 1000);
    EXPECT_EQ(out.messages[0].fields, (Fields{{"number", "0123456789"}}));
    // Runs that are no such message: nothing, whatever follows.
    for (const std::string& run : std::vector<std::string>{"12#", std::string(21, '5') + "#", "0123456789C", "0123456789", "12345*678#",
                                  std::string(30, '4') + "123#"}) {
        at = feed(decoder, run, at + 20000);
        decoder.advanceTo(at + 9000);
        EXPECT_EQ(out.messages.size(), 1U) << run;
    }
    // Keyed in by hand, 0.4 s apart: plain digits.
    at += 20000;
    for (const char d : std::string("0123456#")) {
        decoder.onEvent(sigcore::DtmfTone{d, at, at + 800});
        at += 4000;
    }
    decoder.finish();
    EXPECT_EQ(out.messages.size(), 1U);
    // Stray digits before a start digit still leave its message whole.
    feed(decoder, "55A0123C", at + 20000);
    ASSERT_EQ(out.messages.size(), 2U);
    EXPECT_EQ(out.messages[1].fields, (Fields{{"number", "0123"}}));
}

}  // namespace
