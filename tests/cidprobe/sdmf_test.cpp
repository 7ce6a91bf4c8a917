#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cidprobe/sdmf.hpp"
#include "sigcore/report/reportsink.hpp"
#include "fsksynth.hpp"
#include "support/testsupport.hpp"

namespace {

struct Decoded {
    std::string text;
    std::vector<int> states;
};

// The decoder's answer as a stage number: 0 a message type is expected, 1
// any byte (the checksum), 2 a character.
int stageOf(sigcore::NextByte next) {
    switch (next) {
    case sigcore::NextByte::MessageType: return 0;
    case sigcore::NextByte::AnyByte: return 1;
    case sigcore::NextByte::SevenBitChar: return 2;
    default: return -1;
    }
}

// Feeds the bytes after a reset; the report text and every returned state.
Decoded decode(const std::vector<std::vector<std::uint8_t>>& bursts) {
    testsupport::TempDir dir;
    sigcore::Report report;
    EXPECT_EQ(sigcore::reportOpen(report, dir.file("r.txt")), 0);
    sigcore::ReportTextSink sink(report, 8000);
    cidprobe::SdmfDecoder decoder;
    Decoded result;
    for (const auto& bytes : bursts) {
        EXPECT_EQ(stageOf(cidprobe::decodeMessageByte(decoder, sink, -1)), 0);
        for (const auto b : bytes) result.states.push_back(stageOf(cidprobe::decodeMessageByte(decoder, sink, b)));
    }
    EXPECT_EQ(sigcore::reportClose(report), 0);
    result.text = testsupport::readFile(dir.file("r.txt"));
    return result;
}

const std::vector<std::uint8_t> kExample = fsksynth::sdmfMessage("12251030", "0123456789");

TEST(Sdmf, WorkedExampleGivesSixLines) {
    ASSERT_EQ(kExample.back(), 0x4f);
    const Decoded d = decode({kExample});
    EXPECT_EQ(d.text,
              "04 [SDMF header]\n"
              "12 [SDMF packet length=18]\n"
              "   [Date] 12.25\n"
              "   [Time] 10:30\n"
              "   [Number] 0123456789\n"
              "4f [SDMF packet checksum] 00 correct\n");
    EXPECT_EQ(d.states[0], 2);
    EXPECT_EQ(d.states[18], 2);
    EXPECT_EQ(d.states[19], 1);  // after the last data byte only the checksum is left
    EXPECT_EQ(d.states[20], 1);
}

TEST(Sdmf, ChangedByteMakesTheChecksumIncorrect) {
    auto message = kExample;
    message[12] = '7';
    const auto lines = testsupport::splitLines(decode({message}).text);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5], "4f [SDMF packet checksum] 05 incorrect");
}

TEST(Sdmf, ShortMessages) {
    // N = 8: date and time only, then an empty line before the checksum.
    const auto dateOnly = fsksynth::sdmfMessage("01011200", "");
    const std::string checksum8 = [&] {
        char line[64];
        std::snprintf(line, sizeof line, "%02x [SDMF packet checksum] 00 correct\n", dateOnly.back());
        return std::string(line);
    }();
    EXPECT_EQ(decode({dateOnly}).text,
              "04 [SDMF header]\n08 [SDMF packet length=8]\n   [Date] 01.01\n   [Time] 12:00\n\n" + checksum8);
    // N = 0: the length line, an empty line, the checksum at index 2.
    EXPECT_EQ(decode({{0x04, 0x00, 0xfc}}).text,
              "04 [SDMF header]\n00 [SDMF packet length=0]\n\nfc [SDMF packet checksum] 00 correct\n");
    // Bytes after the checksum write nothing but the newline of positions 5 and 9.
    EXPECT_EQ(decode({{0x04, 0x00, 0xfc, 0x31, 0x32, 0x33}}).text,
              "04 [SDMF header]\n00 [SDMF packet length=0]\n\nfc [SDMF packet checksum] 00 correct\n\n");
}

TEST(Sdmf, OtherTypesAndUnknownFirstBytes) {
    const Decoded mdmf = decode({{0x80, 0x10, 0x01, 0x08}});
    EXPECT_EQ(mdmf.text, "80 [MDMF packet header]\n");
    EXPECT_EQ(mdmf.states, (std::vector<int>{2, 2, 2, 2}));
    EXPECT_EQ(decode({{0x06}}).text, "06 [SDMF Message waiting indicator]\n");
    EXPECT_EQ(decode({{0x0b}}).text, "0b [SDMF (for Message Desk Information)]\n");
    EXPECT_EQ(decode({{0x81}}).text, "81 [MDMF test sequence packet header]\n");
    EXPECT_EQ(decode({{0x82}}).text, "82 [Message waiting notification]\n");
    const Decoded unknown = decode({{0x05, 0x04, 0x12}});
    EXPECT_EQ(unknown.text, "");
    EXPECT_EQ(unknown.states, (std::vector<int>{0, 0, 0}));
}

TEST(Sdmf, ZeroByteInTheNumberWritesNothing) {
    auto message = fsksynth::sdmfMessage("01011200", "12X4");
    message[12] = 0;
    message.back() = static_cast<std::uint8_t>(message.back() + 'X');
    EXPECT_EQ(testsupport::splitLines(decode({message}).text)[4], "   [Number] 124");
}

TEST(Sdmf, ResetStartsTheNextBurstAfresh) {
    const auto second = fsksynth::sdmfMessage("01011200", "0123456789");
    const std::string text = decode({kExample, second}).text;
    EXPECT_EQ(text, fsksynth::sdmfReportLines(kExample) + fsksynth::sdmfReportLines(second));
}

}  // namespace
