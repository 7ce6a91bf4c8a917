// Every built message decodes back, with the decoders of this library, to
// the fields it was built from, with a correct check; a spoiled check is
// caught; builders refuse what their message can't carry.
#include "sigcore/messages/messagebuild.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/dtmfcid.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace sigcore {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields fieldsOf(const Message& m) {
    Fields out;
    for (const MessageField& f : m.fields) out.emplace_back(f.key, f.value);
    return out;
}

// The NTT frame through the streaming decoder, byte by byte, as a receiver
// would hand it over.
Message decodeNtt(const std::vector<std::uint8_t>& frame) {
    NttMessageDecoder decoder;
    EventLog log;
    decoder.startBurst(log);
    std::int64_t at = 0;
    for (const std::uint8_t b : frame) {
        decoder.decodeByte(b, at, at + 10, log);
        at += 10;
    }
    decoder.endBurst(at, log);
    for (const Event& e : log.events) {
        if (const auto* m = std::get_if<MessageDecoded>(&e)) return m->message;
    }
    return {};
}

std::string digitsOf(const BuildResult& r) { return std::string(r.bytes.begin(), r.bytes.end()); }

CallerIdFields sample() {
    CallerIdFields f;
    f.date = "1225";
    f.time = "1030";
    f.number = "0123456789";
    f.name = "SMITH JOHN";
    return f;
}

TEST(MessageBuild, EveryStandardDecodesBackToItsFields) {
    CallerIdFields f = sample();
    {
        const BuildResult r = buildUsSdmf(f);
        ASSERT_TRUE(r.error.empty());
        const Message m = decodeUsMessage(r.bytes);
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(m.type, 0x04);
        EXPECT_EQ(fieldsOf(m), (Fields{{"date", "12-25"}, {"time", "10:30"}, {"number", "0123456789"}}));
    }
    f.redirecting = "5550001";
    f.callType = static_cast<std::uint8_t>('L');
    f.extra.push_back(ExtraParameter{0x42, {0xde, 0xad}});
    {
        const BuildResult r = buildUsMdmf(f);
        ASSERT_TRUE(r.error.empty());
        const Message m = decodeUsMessage(r.bytes);
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(m.type, 0x80);
        EXPECT_EQ(fieldsOf(m), (Fields{{"date", "12-25"},
                                       {"time", "10:30"},
                                       {"number", "0123456789"},
                                       {"redirecting_number", "5550001"},
                                       {"call_qualifier", "long distance"},
                                       {"name", "SMITH JOHN"},
                                       {"param_42", "dead"}}));
    }
    f.callType = 0x01;
    {
        const BuildResult r = buildEtsiCallSetup(f);
        ASSERT_TRUE(r.error.empty());
        const Message m = parseEtsiMessage(r.bytes);
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(fieldsOf(m), (Fields{{"date", "12-25"},
                                       {"time", "10:30"},
                                       {"number", "0123456789"},
                                       {"redirecting_number", "5550001"},
                                       {"call_type", "voice"},
                                       {"name", "SMITH JOHN"},
                                       {"param_42", "dead"}}));
    }
    {
        CallerIdFields n;
        n.number = "0312345678";
        n.name = "\xe5\xb1\xb1\xe7\x94\xb0";  // two kanji
        const BuildResult r = buildNttFrame(n);
        ASSERT_TRUE(r.error.empty()) << r.error;
        const Message m = decodeNtt(r.bytes);
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(m.type, 0x40);
        EXPECT_EQ(fieldsOf(m), (Fields{{"number", "0312345678"}, {"name", n.name}}));
    }
    {
        const BuildResult r = buildDtmfCallerId(f);
        ASSERT_TRUE(r.error.empty());
        EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "A0123456789D5550001C");
        const Message m = parseDtmfCallerId(std::string(r.bytes.begin(), r.bytes.end()));
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(fieldsOf(m), (Fields{{"number", "0123456789"}, {"redirecting_number", "5550001"}}));
    }
}

TEST(MessageBuild, AbsenceAndMessageWaitingDecodeBack) {
    CallerIdFields f = sample();
    f.numberAbsent = 'P';
    f.nameAbsent = 'O';
    const Fields absent{{"date", "12-25"}, {"time", "10:30"}, {"number_absent", "private"}, {"name_absent", "unavailable"}};
    EXPECT_EQ(fieldsOf(decodeUsMessage(buildUsMdmf(f).bytes)), absent);
    EXPECT_EQ(fieldsOf(parseEtsiMessage(buildEtsiCallSetup(f).bytes)), absent);
    EXPECT_EQ(fieldsOf(decodeUsMessage(buildUsSdmf(f).bytes)),
              (Fields{{"date", "12-25"}, {"time", "10:30"}, {"number_absent", "private"}}));
    const Message ntt = decodeNtt(buildNttFrame(f).bytes);
    EXPECT_TRUE(ntt.valid);
    EXPECT_EQ(fieldsOf(ntt), (Fields{{"number_absent", "private"}, {"name_absent", "unavailable"}}));
    EXPECT_EQ(fieldsOf(parseDtmfCallerId("B10C")), (Fields{{"number_absent", "private"}}));
    EXPECT_EQ(digitsOf(buildDtmfCallerId(f)), "B10C");
    f.numberAbsent = 'O';
    EXPECT_EQ(digitsOf(buildDtmfCallerId(f)), "B00C");

    for (const bool on : {true, false}) {
        const std::string state = on ? "on" : "off";
        const Message sdmf = decodeUsMessage(buildUsSdmfMessageWaiting(on).bytes);
        EXPECT_TRUE(sdmf.valid);
        EXPECT_EQ(fieldsOf(sdmf), (Fields{{"message_waiting", state}}));
        const Message mdmf = decodeUsMessage(buildUsMdmfMessageWaiting(on, sample()).bytes);
        EXPECT_TRUE(mdmf.valid);
        EXPECT_EQ(mdmf.type, 0x82);
        EXPECT_EQ(fieldsOf(mdmf), (Fields{{"date", "12-25"}, {"time", "10:30"}, {"message_waiting", state}}));
        const Message etsi = parseEtsiMessage(buildEtsiMessageWaiting(on, sample()).bytes);
        EXPECT_TRUE(etsi.valid);
        EXPECT_EQ(etsi.type, kEtsiMessageWaiting);
        EXPECT_EQ(fieldsOf(etsi), (Fields{{"date", "12-25"}, {"time", "10:30"}, {"message_waiting", state}, {"number", "0123456789"}}));
    }
}

TEST(MessageBuild, SpoiledChecksAreCaughtAndDleIsDoubled) {
    std::vector<std::uint8_t> us = buildUsMdmf(sample()).bytes;
    spoilCheck(us);
    EXPECT_FALSE(decodeUsMessage(us).valid);
    std::vector<std::uint8_t> etsi = buildEtsiCallSetup(sample()).bytes;
    spoilCheck(etsi);
    EXPECT_FALSE(parseEtsiMessage(etsi).valid);
    std::vector<std::uint8_t> ntt = buildNttFrame(sample()).bytes;  // ASCII name: refused
    EXPECT_TRUE(ntt.empty());
    CallerIdFields n;
    n.number = "0123456789012345";  // 16 digits: the parameter length is DLE
    ntt = buildNttFrame(n).bytes;
    ASSERT_FALSE(ntt.empty());
    const Message good = decodeNtt(ntt);
    EXPECT_TRUE(good.valid);
    EXPECT_EQ(fieldsOf(good), (Fields{{"number", n.number}}));
    spoilCheck(ntt);
    EXPECT_FALSE(decodeNtt(ntt).valid);
    // Checksum: the sum of every byte is 0 modulo 256.
    const std::vector<std::uint8_t> bytes{0x80, 0x03, 0xff};
    EXPECT_EQ((0x80 + 0x03 + 0xff + checksumFor(bytes)) % 256, 0);
}

TEST(MessageBuild, RefusesWhatTheMessageCannotCarry) {
    CallerIdFields f;
    f.date = "1225";  // no time
    EXPECT_FALSE(buildUsMdmf(f).error.empty());
    EXPECT_FALSE(buildUsSdmf(CallerIdFields{}).error.empty());
    f = sample();
    f.name = std::string(300, 'x');
    EXPECT_FALSE(buildUsMdmf(f).error.empty());
    f = sample();
    f.number = "12A4";
    EXPECT_FALSE(buildDtmfCallerId(f).error.empty());
    EXPECT_FALSE(buildDtmfCallerId(CallerIdFields{}).error.empty());
    f = sample();
    f.name.clear();
    f.extra.push_back(ExtraParameter{0x30, {0x80}});
    EXPECT_FALSE(buildNttFrame(f).error.empty());
    f.extra.assign(1, ExtraParameter{0x30, std::vector<std::uint8_t>(130, '1')});
    EXPECT_FALSE(buildNttFrame(f).error.empty());
    EXPECT_FALSE(utf8ToJis("\xff").error.empty());
    EXPECT_EQ(utf8ToLatin1("M\xc3\xbcller \xc2\xa9").bytes, (std::vector<std::uint8_t>{'M', 0xfc, 'l', 'l', 'e', 'r', ' ', 0xa9}));
    EXPECT_FALSE(utf8ToLatin1("\xe2\x82\xac").error.empty());  // the euro sign
    EXPECT_FALSE(utf8ToLatin1("\xc3").error.empty());            // cut off
    f = sample();
    f.name = "M\xc3\xbcller";
    const Message latin = parseEtsiMessage(buildEtsiCallSetup(f).bytes);
    EXPECT_TRUE(latin.valid);
    EXPECT_EQ(latin.fields.back().value, f.name);
    f.name = "\xe2\x82\xac";
    EXPECT_FALSE(buildEtsiCallSetup(f).error.empty());

    EXPECT_EQ(parseHex("0aFf"), (std::vector<std::uint8_t>{0x0a, 0xff}));
    EXPECT_FALSE(parseHex("0a1"));
    EXPECT_FALSE(parseHex("zz"));
    EXPECT_EQ(parseHex(""), std::vector<std::uint8_t>{});
}

}  // namespace
}  // namespace sigcore
