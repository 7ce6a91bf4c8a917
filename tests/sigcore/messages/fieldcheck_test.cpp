// A checksum that passes is not enough: messages whose structure cannot
// have been sent (parameters that do not fill the body, impossible dates and
// times, non-digits in a number, bad absence codes, control bytes in a name)
// are not valid, in every standard checked by a sum; NTT frames whose
// opening arrived damaged get it back as sent, flagged as repaired.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cidprobe-ntt/nttframe.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/messages/fieldcheck.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes param(std::uint8_t type, const Bytes& value) {
    Bytes p;
    p.push_back(type);
    p.push_back(static_cast<std::uint8_t>(value.size()));
    for (const std::uint8_t b : value) p.push_back(b);
    return p;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        for (const std::uint8_t b : p) out.push_back(b);
    }
    return out;
}

// Type, length, body and the checksum that makes the sum 0.
Bytes withChecksum(std::uint8_t type, const Bytes& body) {
    Bytes out;
    out.push_back(type);
    out.push_back(static_cast<std::uint8_t>(body.size()));
    for (const std::uint8_t b : body) out.push_back(b);
    unsigned sum = 0;
    for (const std::uint8_t b : out) sum += b;
    out.push_back(static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu));
    return out;
}

TEST(StructureChecks, FieldTests) {
    EXPECT_TRUE(sigcore::isDateTime(text("12312359")));
    EXPECT_TRUE(sigcore::isDateTime(text("01010000")));
    for (const char* bad : {"00101200", "13101200", "12001200", "12322359", "12312459", "12312360", "1231235", "12a12359"}) {
        EXPECT_FALSE(sigcore::isDateTime(text(bad))) << bad;
    }
    EXPECT_TRUE(sigcore::isDialString(text("+81*0123#")));
    EXPECT_FALSE(sigcore::isDialString(text("")));
    EXPECT_FALSE(sigcore::isDialString(text("555-1212")));
    EXPECT_FALSE(sigcore::isDialString(Bytes{0x1b, 0x5b, 0x31, 0x6d}));
    EXPECT_TRUE(sigcore::isAbsenceCode(text("O")));
    EXPECT_TRUE(sigcore::isAbsenceCode(text("S")));
    EXPECT_FALSE(sigcore::isAbsenceCode(text("OP")));
    EXPECT_FALSE(sigcore::isAbsenceCode(text("X")));
    EXPECT_TRUE(sigcore::isDisplayText(Bytes{'M', 0xDC, 'L', 'L', 'E', 'R', ' ', 0xC3, 0xA9}));
    EXPECT_FALSE(sigcore::isDisplayText(Bytes{'A', 0x1b, 'B'}));
    EXPECT_FALSE(sigcore::isDisplayText(Bytes{'A', 0x7f}));
    EXPECT_TRUE(sigcore::parametersFillBody(concat({param(1, text("12251030")), param(7, Bytes{})})));
    EXPECT_FALSE(sigcore::parametersFillBody(Bytes{0x02, 0x03, '1', '2'}));       // runs past the end
    EXPECT_FALSE(sigcore::parametersFillBody(Bytes{0x02, 0x01, '1', 0x07}));      // a type without length
}

TEST(StructureChecks, UsMessagesWithAPassingSumButNoPossibleContentAreNotValid) {
    const Bytes dateTime = text("12251030");
    // Valid as sent.
    EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x04, concat({dateTime, text("2125551234")}))).valid);
    EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x04, concat({dateTime, text("P")}))).valid);
    EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x06, text("BBB"))).valid);
    const Bytes mdmf = concat({param(0x01, dateTime), param(0x02, text("2125551234")), param(0x07, text("DOE JANE"))});
    EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x80, mdmf)).valid);
    EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x80, concat({param(0x04, text("O")), param(0x08, text("P"))}))).valid);
    // Each with a sum that passes, and not valid.
    const std::vector<Bytes> impossible{
        withChecksum(0x04, concat({text("13251030"), text("2125551234")})),   // month 13
        withChecksum(0x04, concat({text("12251060"), text("2125551234")})),   // minute 60
        withChecksum(0x04, concat({dateTime, Bytes{0x1b, 0x5b, 0x31, 0x6d}})),  // not digits
        withChecksum(0x04, dateTime),                                        // no number
        withChecksum(0x06, text("BBo")),                                     // mixed indicator
        withChecksum(0x80, Bytes(mdmf.begin(), mdmf.end() - 3)),            // the body ends inside a parameter
        withChecksum(0x80, concat({mdmf, Bytes{0x07}})),                     // a stray byte at the end
        withChecksum(0x80, concat({param(0x01, text("1225103")), param(0x02, text("1"))})),  // short date
        withChecksum(0x80, concat({param(0x01, dateTime), param(0x02, text("21255512x4"))})),
        withChecksum(0x80, concat({param(0x04, text("OP"))})),               // absence is one letter
        withChecksum(0x80, concat({param(0x07, text("DOE\x07JANE"))})),      // a control byte in a name
        withChecksum(0x82, concat({param(0x0b, Bytes{0x42})})),              // indicator neither on nor off
    };
    for (std::size_t i = 0; i < impossible.size(); ++i) {
        const sigcore::Message m = sigcore::decodeUsMessage(impossible[i]);
        EXPECT_TRUE(m.complete) << i;
        EXPECT_EQ(m.checkReceived, m.checkComputed) << i;
        EXPECT_FALSE(m.valid) << i;
    }
}

TEST(StructureChecks, EtsiMessagesWithAPassingSumButNoPossibleContentAreNotValid) {
    const Bytes setup = concat({param(0x01, text("01311200")), param(0x02, text("0123456789")), param(0x07, text("ACME"))});
    EXPECT_TRUE(sigcore::parseEtsiMessage(withChecksum(0x80, setup)).valid);
    EXPECT_TRUE(sigcore::parseEtsiMessage(withChecksum(0x82, param(0x0b, Bytes{0xFF}))).valid);
    const std::vector<Bytes> impossible{
        withChecksum(0x80, concat({param(0x01, text("02301299")), param(0x02, text("1"))})),  // minute 99
        withChecksum(0x80, concat({param(0x02, text("0123 456"))})),
        withChecksum(0x80, concat({param(0x04, text("Q"))})),
        withChecksum(0x80, concat({param(0x07, Bytes{'A', 0x00})})),
        withChecksum(0x80, Bytes(setup.begin(), setup.end() - 1)),
        withChecksum(0x82, param(0x0b, Bytes{0x01})),
    };
    for (std::size_t i = 0; i < impossible.size(); ++i) EXPECT_FALSE(sigcore::parseEtsiMessage(impossible[i]).valid) << i;
}

TEST(StructureChecks, UnknownTypeOneBitFromAKnownOneWhoseContentItHoldsIsNotValid) {
    const Bytes dateTime = text("12251030");
    const Bytes number = param(0x02, text("2125551234"));
    // Misread type bits hidden by a bit of the same weight misread the other
    // way: a date's 0x01 read as 0x81 with a digit's top bit set too (0x31 as
    // 0xB1), as 0x09 with a digit's 8 lost (0x38 as 0x30), a name's 0x07 as
    // 0x87 with a letter's top bit set, an absence code's 0x04 as 0x05 in
    // ETSI, where 0x05 is not a type.
    const std::vector<Bytes> misread{
        concat({param(0x81, Bytes{'1', '2', '2', '5', 0xB1, '0', '3', '0'}), number}),
        concat({param(0x09, text("12250030")), number}),
        concat({param(0x01, dateTime), number, param(0x87, Bytes{0xC4, 'O', 'E'})}),
    };
    for (std::size_t i = 0; i < misread.size(); ++i) {
        EXPECT_FALSE(sigcore::decodeUsMessage(withChecksum(0x80, misread[i])).valid) << i;
        EXPECT_FALSE(sigcore::parseEtsiMessage(withChecksum(0x80, misread[i])).valid) << i;
    }
    EXPECT_FALSE(sigcore::parseEtsiMessage(withChecksum(0x80, concat({param(0x05, text("P")), number}))).valid);
    // Types of a line's own stay valid: binary content, text no known type
    // one bit away would hold, 8-bit text, and the known types beside them.
    const std::vector<Bytes> own{
        concat({param(0x01, dateTime), param(0x09, Bytes{0x00, 0x12, 0xFF})}),
        concat({param(0x01, dateTime), param(0x0D, text("12250030"))}),
        concat({param(0x01, dateTime), param(0x87, Bytes{0xC4, 0xD6, 0xC5})}),
        concat({param(0x01, dateTime), param(0x47, Bytes{})}),
    };
    for (std::size_t i = 0; i < own.size(); ++i) {
        EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x80, own[i])).valid) << i;
        EXPECT_TRUE(sigcore::parseEtsiMessage(withChecksum(0x80, own[i])).valid) << i;
    }
    EXPECT_TRUE(sigcore::decodeUsMessage(withChecksum(0x80, concat({param(0x06, text("L")), number}))).valid);
}

TEST(StructureChecks, NttOpeningIsRestoredAsSentAndFlagged) {
    const Bytes frame = nttframe::build(nttframe::param(0x02, "0120444444"));
    auto decode = [](const Bytes& bytes) {
        sigcore::NttMessageDecoder decoder;
        struct Keep final : sigcore::EventSink {
            std::vector<sigcore::Message> messages;
            void onEvent(const sigcore::Event& e) override {
                if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) messages.push_back(d->message);
            }
        } keep;
        decoder.startBurst(keep);
        for (const std::uint8_t b : bytes) decoder.decodeByte(b, 0, 0, keep);
        decoder.endBurst(0, keep);
        return keep.messages;
    };
    auto clean = decode(frame);
    ASSERT_EQ(clean.size(), 1u);
    EXPECT_TRUE(clean[0].valid);
    EXPECT_FALSE(clean[0].repaired);
    // A wrong parity bit on the first DLE, a wrong SOH (neither under the
    // CRC), a wrong header character (under it): the frame as sent, repaired.
    for (const auto& [at, flip] : std::vector<std::pair<std::size_t, std::uint8_t>>{{0, 0x80}, {1, 0x02}, {2, 0x01}}) {
        Bytes damaged = frame;
        damaged[at] ^= flip;
        auto m = decode(damaged);
        ASSERT_EQ(m.size(), 1u) << at;
        EXPECT_TRUE(m[0].valid) << at;
        EXPECT_TRUE(m[0].repaired) << at;
        EXPECT_EQ(m[0].raw, frame) << at;
    }
}

}  // namespace
