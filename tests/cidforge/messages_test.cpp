#include "cidforge/messages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace cidforge;

namespace {

std::vector<std::uint8_t> bytesOf(std::span<const std::uint8_t> s) { return {s.begin(), s.end()}; }

std::string sjisOf(std::initializer_list<unsigned> bytes) {
    std::string s;
    for (const unsigned b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

NttFrame nttFrame(const std::string& number, const std::string& jisName) {
    GeneratorSettings settings;
    settings.directoryNumber = number;
    settings.idName = jisName;
    NttFrame frame;
    EXPECT_EQ(buildNttMessage(settings, frame), frame.length);
    return frame;
}

}  // namespace

TEST(NameToJis, ShiftJisAndEucJpGiveTheSameJisCodes) {
    std::string sjis = sjisOf({0x88, 0x9F, 0x8E, 0x52});
    nameToJis(sjis, true);
    EXPECT_EQ(sjis, sjisOf({0x30, 0x21, 0x3B, 0x33}));

    std::string euc = sjisOf({0xB0, 0xA1, 0xBB, 0xB3});
    nameToJis(euc, false);
    EXPECT_EQ(euc, sjisOf({0x30, 0x21, 0x3B, 0x33}));

    CharPair space{0x81, 0x40};  // full-width space
    sjisPairToJis(space);
    EXPECT_EQ(space, (CharPair{0x21, 0x21}));
    CharPair upper{0xE0, 0x9F};  // second lead-byte range
    sjisPairToJis(upper);
    EXPECT_EQ(upper, (CharPair{0x60, 0x21}));
    CharPair highCell{0x88, 0x80};  // cell byte above 0x7F, below 0x9F
    sjisPairToJis(highCell);
    EXPECT_EQ(highCell, (CharPair{0x2F, 0x60}));
}

TEST(NameToJis, NonLeadPairsAndOddBytes) {
    // Pairs whose first byte is no lead byte stay unchanged.
    std::string ascii = sjisOf({'A', 'B', 0x88, 0x9F});
    nameToJis(ascii, true);
    EXPECT_EQ(ascii, sjisOf({'A', 'B', 0x30, 0x21}));
    // A leading ASCII letter shifts the pairing: (A, 88) stays, (9F, 8E) happens
    // to start with a lead byte and is converted, the odd 52 stays.
    std::string wrong = sjisOf({'A', 0x88, 0x9F, 0x8E, 0x52});
    nameToJis(wrong, true);
    EXPECT_EQ(wrong, sjisOf({'A', 0x88, 0x5D, 0x6E, 0x52}));

    std::string oddSjis = sjisOf({0x88, 0x9F, 0xC1});
    nameToJis(oddSjis, true);
    EXPECT_EQ(oddSjis, sjisOf({0x30, 0x21, 0xC1}));
    std::string oddEuc = sjisOf({0xB0, 0xA1, 0xC1});
    nameToJis(oddEuc, false);
    EXPECT_EQ(oddEuc, sjisOf({0x30, 0x21, 0x41}));

    std::string empty;
    nameToJis(empty, true);
    EXPECT_TRUE(empty.empty());
}

TEST(StuffDle, DoublesOnlyDleAndStaysInTheBuffer) {
    std::array<std::uint8_t, 3> buffer{0x10, 0x55, 0x0F};
    EXPECT_EQ(stuffDle(buffer, 0), 1);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 3>{0x10, 0x10, 0x0F}));
    EXPECT_EQ(stuffDle(buffer, 2), 0);
    buffer[2] = 0x10;
    EXPECT_EQ(stuffDle(buffer, 2), 0);  // no room behind the last slot
}

TEST(NttFrame, NumberWithoutName) {
    const NttFrame frame = nttFrame("0123456789", "");
    EXPECT_EQ(bytesOf(frame.view()),
              (std::vector<std::uint8_t>{0x90, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x0C, 0x82, 0x0A, 0x30, 0xB1, 0xB2,
                                         0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39, 0x90, 0x03, 0x00, 0xB1}));
}

TEST(NttFrame, ContentLengthOfSixteenIsDoubled) {
    EXPECT_EQ(nttContentLength("0123456789", sjisOf({0x30, 0x21})), 0x10);
    const NttFrame frame = nttFrame("0123456789", sjisOf({0x30, 0x21}));
    EXPECT_EQ(bytesOf(frame.view()),
              (std::vector<std::uint8_t>{0x90, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x90, 0x90, 0x82, 0x0A,
                                         0x30, 0xB1, 0xB2, 0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39,
                                         0x87, 0x82, 0x30, 0x21, 0x90, 0x03, 0x8F, 0xDA}));
}

TEST(NttFrame, SixteenDigitNumberDoublesItsLengthByte) {
    const std::string number = "0123456789012345";
    EXPECT_EQ(nttContentLength(number, ""), 19);
    const NttFrame frame = nttFrame(number, "");
    ASSERT_EQ(frame.length, 19u + 11u);
    EXPECT_EQ(frame.bytes[6], 0x93);  // 19 with its parity bit
    EXPECT_EQ(frame.bytes[7], 0x82);
    EXPECT_EQ(frame.bytes[8], 0x90);
    EXPECT_EQ(frame.bytes[9], 0x90);
    EXPECT_EQ(frame.bytes[10], 0x30);
    // Digits 0x30.. are not examined for DLE; the frame still closes with DLE ETX.
    EXPECT_EQ(frame.bytes[26], 0x90);
    EXPECT_EQ(frame.bytes[27], 0x03);
}

TEST(NttFrame, EmptyNumberIsStillSent) {
    EXPECT_EQ(nttContentLength("", ""), 2);
    const NttFrame frame = nttFrame("", "");
    ASSERT_EQ(frame.length, 13u);
    EXPECT_EQ(bytesOf(frame.view().first(11)),
              (std::vector<std::uint8_t>{0x90, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x82, 0x82, 0x00, 0x90, 0x03}));
}

TEST(NttFrame, LongestFramesFitAndLongerOnesAreRefused) {
    // 63 number bytes and a 62-byte name: M = 65 + 64 = 129.
    const std::string number(63, '7');
    const std::string name(62, '\x21');
    EXPECT_EQ(nttContentLength(number, name), 129);
    GeneratorSettings settings;
    settings.directoryNumber = number;
    settings.idName = name;
    NttFrame frame;
    EXPECT_EQ(buildNttMessage(settings, frame), 0u);
    EXPECT_EQ(frame.length, 0u);

    // M = 127 exactly (63-byte number, 60-byte name): 138 bytes.
    settings.idName = std::string(60, '\x21');
    EXPECT_EQ(nttContentLength(number, settings.idName), 127);
    EXPECT_EQ(buildNttMessage(settings, frame), kNttFrameCapacity);
    EXPECT_EQ(frame.bytes[6], 0xFF);  // 127 with its parity bit
    EXPECT_EQ(frame.bytes[134], 0x90);
    EXPECT_EQ(frame.bytes[135], 0x03);
}

TEST(NttFrame, NameEndsAtANulByteAndFieldsAtSixtyThreeBytes) {
    EXPECT_EQ(nttContentLength("1", sjisOf({0x30, 0x21, 0x00, 0x21})), 3 + 4);
    EXPECT_EQ(nttContentLength(std::string(80, '1'), ""), 65);
    EXPECT_EQ(nttContentLength("", std::string(1, '\0')), 2);  // no name parameter
}

TEST(SdmfMessage, DateTimeThenNumberThenChecksum) {
    GeneratorSettings settings;
    settings.dateTime = "01011200";
    settings.directoryNumber = "0123456789";
    SdmfMessage message;
    EXPECT_EQ(buildSdmfMessage(settings, message), 21u);
    EXPECT_EQ(bytesOf(message.view()),
              (std::vector<std::uint8_t>{0x04, 0x12, 0x30, 0x31, 0x30, 0x31, 0x31, 0x32, 0x30, 0x30, 0x30, 0x31,
                                         0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x58}));
    EXPECT_EQ(byteSum(message.view()), 0);

    settings.dateTime = "12251030";
    buildSdmfMessage(settings, message);
    EXPECT_EQ(message.bytes[20], 0x4F);
}

TEST(SdmfMessage, ZeroChecksumIsStillSent) {
    // 0x04 + 0x02 + 'z' (0x7A) + 0x80 = 0x100.
    GeneratorSettings settings;
    settings.dateTime = sjisOf({0x7A});
    settings.directoryNumber = sjisOf({0x80});
    SdmfMessage message;
    EXPECT_EQ(buildSdmfMessage(settings, message), 5u);
    EXPECT_EQ(bytesOf(message.view()), (std::vector<std::uint8_t>{0x04, 0x02, 0x7A, 0x80, 0x00}));

    settings.dateTime.clear();
    settings.directoryNumber.clear();
    EXPECT_EQ(buildSdmfMessage(settings, message), 3u);
    EXPECT_EQ(bytesOf(message.view()), (std::vector<std::uint8_t>{0x04, 0x00, 0xFC}));
}
