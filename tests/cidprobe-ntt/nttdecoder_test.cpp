// The NTT frame decoder fed byte by byte: the report text and the result of
// every call.
#include "sigcore/messages/nttdecoder.hpp"
#include "sigcore/report/nttlabels.hpp"
#include "sigcore/report/reportsink.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "nttframe.hpp"
#include "sigcore/messages/nttbits.hpp"
#include "support/testsupport.hpp"

using sigcore::decodeNttByte;
using sigcore::NttDecoder;
using nttframe::sjis;

namespace {

struct Decoded {
    std::string text;
    std::vector<int> results;
};

// 1 while characters with parity are expected, 0 for plain bytes.
int modeOf(sigcore::NextByte next) { return next == sigcore::NextByte::EvenParityChar ? 1 : 0; }

// Resets the decoder, feeds it the bytes and returns what the report got.
Decoded decode(NttDecoder& decoder, const std::vector<std::uint8_t>& bytes, int japaneseCode = 0) {
    testsupport::TempDir dir;
    sigcore::Report report;
    EXPECT_EQ(sigcore::reportOpen(report, dir.file("report.txt")), 0);
    sigcore::ReportTextSink sink(report, 8000, japaneseCode);
    Decoded decoded;
    EXPECT_EQ(modeOf(decodeNttByte(decoder, sink, -1)), 1);
    for (std::uint8_t b : bytes) decoded.results.push_back(modeOf(decodeNttByte(decoder, sink, b)));
    EXPECT_EQ(sigcore::reportClose(report), 0);
    decoded.text = testsupport::readFile(dir.file("report.txt"));
    return decoded;
}

Decoded decode(const std::vector<std::uint8_t>& bytes, int japaneseCode = 0) {
    NttDecoder decoder;
    return decode(decoder, bytes, japaneseCode);
}

const std::vector<std::uint8_t> kTenDigits{0x90, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x0C, 0x82, 0x0A, 0x30, 0xB1, 0xB2,
                                           0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39, 0x90, 0x03, 0x00, 0xB1};
const std::vector<std::uint8_t> kDoubledLength{0x90, 0x81, 0x87, 0x90, 0x82, 0xC0, 0x90, 0x90, 0x82, 0x0A,
                                               0x30, 0xB1, 0xB2, 0x33, 0xB4, 0x35, 0x36, 0xB7, 0xB8, 0x39,
                                               0x87, 0x82, 0x30, 0x21, 0x90, 0x03, 0x8F, 0xDA};

std::string opening() { return sjis("10 [DLE]\n01 [SOH]\n07 [ヘッダ]\n10 [DLE]\n02 [STX]\n"); }

// Opening, message type 40 and the message length line.
std::string start(int length) {
    char line[16];
    std::snprintf(line, sizeof line, "%02x", length);
    return opening() + sjis("40 [通信前情報通知サービス]\n" + std::string(line) + " [メッセージ内容長=" +
                            std::to_string(length) + "]\n");
}

std::string closing(unsigned crc) {
    char line[64];
    std::snprintf(line, sizeof line, "%04x [CRC] %04x correct\n", crc, crc);
    return "10 [DLE]\n03 [ETX]\n" + std::string(line);
}

const std::string kTenDigitsText = start(12) + sjis("02 [パラメータ種別　発信電話番号]\n0a [情報内容長=10]\n") +
                                   "   0123456789\n" + closing(0x008d);

}  // namespace

TEST(NttDecoder, TwentyThreeByteFrameWritesThirteenLines) {
    EXPECT_EQ(nttframe::build(nttframe::param(0x02, "0123456789")), kTenDigits);  // the test's own builder agrees
    const Decoded d = decode(kTenDigits);
    EXPECT_EQ(d.text, kTenDigitsText);
    EXPECT_EQ(testsupport::splitLines(d.text).size(), 13u);
    std::vector<int> expected(kTenDigits.size(), 1);
    expected[20] = expected[21] = expected[22] = 0;  // from ETX on: plain CRC bytes
    EXPECT_EQ(d.results, expected);
}

TEST(NttDecoder, DoubledMessageLengthAndNameInEveryCode) {
    const std::array<std::string, 3> names{"\x88\x9f", "\xb0\xa1", "\x30\x21"};
    for (int code = 0; code < 3; ++code) {
        SCOPED_TRACE(code);
        const Decoded d = decode(kDoubledLength, code);
        EXPECT_EQ(d.text, start(16) + sjis("02 [パラメータ種別　発信電話番号]\n0a [情報内容長=10]\n") +
                              "   0123456789\n" + sjis("07 [パラメータ種別　発信企業名（氏名）情報]\n02 [情報内容長=2]\n") +
                              "   " + names[static_cast<std::size_t>(code)] + "\n" + closing(0xf15b));
    }
    // Any other code writes the JIS bytes as received.
    EXPECT_NE(decode(kDoubledLength, 7).text.find("   \x30\x21\n"), std::string::npos);
}

TEST(NttDecoder, ChangedDigitChangesOnlyTheCrcVerdict) {
    std::vector<std::uint8_t> frame = kTenDigits;
    frame[14] = 0xB4;  // '5' becomes '4', parity kept even
    const auto good = testsupport::splitLines(kTenDigitsText);
    const auto got = testsupport::splitLines(decode(frame).text);
    ASSERT_EQ(got.size(), good.size());
    for (std::size_t i = 0; i + 1 < good.size(); ++i) {
        if (i == 9) {
            EXPECT_EQ(got[i], "   0123446789");
        } else {
            EXPECT_EQ(got[i], good[i]);
        }
    }
    EXPECT_EQ(got.back().substr(0, 11), "008d [CRC] ");
    EXPECT_NE(got.back().substr(11, 4), "008d");
    EXPECT_EQ(got.back().substr(15), " incorrect");
}

TEST(NttDecoder, OneWrongOpeningCharacterIsTolerated) {
    // A wrong header, DLE or STX is taken for the right one in the CRC; a
    // wrong DLE or SOH ahead of the header is not covered by it anyway.
    const std::vector<std::pair<std::size_t, std::uint8_t>> changes{{2, 0x06}, {3, 0x11}, {4, 0x03}, {0, 0x00}, {1, 0x82}};
    for (const auto& [at, value] : changes) {
        SCOPED_TRACE(at);
        std::vector<std::uint8_t> frame = kTenDigits;
        frame[at] = value;
        EXPECT_EQ(decode(frame).text, kTenDigitsText);
    }
}

TEST(NttDecoder, TwoWrongOpeningCharactersRestartOnTheNextFive) {
    std::vector<std::uint8_t> bytes{0x90, 0x82, 0x87, 0x90, 0x81};  // SOH and STX swapped
    const std::vector<std::uint8_t> frame = nttframe::build(nttframe::param(0x02, "0312345678"));
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    const Decoded d = decode(bytes);
    EXPECT_EQ(d.text, start(12) + sjis("02 [パラメータ種別　発信電話番号]\n0a [情報内容長=10]\n") + "   0312345678\n" +
                          closing(nttframe::crcShown(frame)));
    EXPECT_EQ(std::vector<int>(d.results.begin(), d.results.begin() + 5), std::vector<int>(5, 1));
}

TEST(NttDecoder, ReasonLetters) {
    const auto withReason = [](const std::string& letter) {
        const auto frame = nttframe::build(nttframe::param(0x04, letter));
        return std::make_pair(decode(frame).text, nttframe::crcShown(frame));
    };
    const std::string head = start(3) + sjis("04 [パラメータ種別　発信電話番号非通知理由]\n01 [情報内容長=1]\n");
    const auto [p, pCrc] = withReason("P");
    EXPECT_EQ(p, head + "P" + sjis(" [ユーザ拒否]\n") + closing(pCrc));
    const auto [c, cCrc] = withReason("C");
    EXPECT_EQ(c, head + "C" + sjis(" [公衆電話発信]\n") + closing(cCrc));
    // A letter outside the table: no label and no line end.
    const auto [x, xCrc] = withReason("X");
    EXPECT_EQ(x, head + "X" + closing(xCrc));
}

TEST(NttDecoder, ExtendedNumberInformation) {
    const std::string head = start(5) + sjis("21 [パラメータ種別　発信電話番号拡張情報]\n03 [情報内容長=3]\n");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"101", "101 [番号種別：国際番号],[番号計画識別子：ISDN番号計画]\n"},
        {"511", "511 [番号種別：不明] [番号計画識別子：不明]\n"},
        {"408", "408 [番号種別：市内番号],[番号計画識別子：国内番号計画]\n"},
        {"602", "602 [番号種別：短縮番号],[番号計画識別子：不明]\n"},
    };
    for (const auto& [data, text] : cases) {
        SCOPED_TRACE(data);
        const auto frame = nttframe::build(nttframe::param(0x21, data));
        EXPECT_EQ(decode(frame).text, head + sjis(text) + closing(nttframe::crcShown(frame)));
    }
}

TEST(NttDecoder, OtherMessageAndParameterTypes) {
    std::vector<std::uint8_t> params = nttframe::param(0x05, "AB");
    const auto number = nttframe::param(0x02, "123");
    params.insert(params.end(), number.begin(), number.end());
    const auto frame = nttframe::build(params, 0x41);
    // An unknown parameter: its length line and its characters, nothing else.
    EXPECT_EQ(decode(frame).text,
              opening() + sjis("41 [通信中情報通知サービス]\n09 [メッセージ内容長=9]\n02 [情報内容長=2]\nAB") +
                  sjis("02 [パラメータ種別　発信電話番号]\n03 [情報内容長=3]\n") + "   123\n" +
                  closing(nttframe::crcShown(frame)));
}

TEST(NttDecoder, OddLengthNameLeavesItsLastByteUnwritten) {
    const auto frame = nttframe::build(nttframe::param(0x07, "\x30\x21\x3B"));
    EXPECT_EQ(decode(frame).text, start(5) + sjis("07 [パラメータ種別　発信企業名（氏名）情報]\n03 [情報内容長=3]\n") +
                                      "   \x88\x9f\n" + closing(nttframe::crcShown(frame)));
}

TEST(NttDecoder, BytesAfterTheCrcLineAreIgnored) {
    std::vector<std::uint8_t> bytes = kTenDigits;
    bytes.insert(bytes.end(), kTenDigits.begin(), kTenDigits.end());
    const Decoded d = decode(bytes);
    EXPECT_EQ(d.text, kTenDigitsText);
    EXPECT_EQ(std::vector<int>(d.results.begin() + 20, d.results.end()), std::vector<int>(bytes.size() - 20, 0));
}

TEST(NttDecoder, ResetStartsTheNextBurstAfresh) {
    NttDecoder decoder;
    const std::vector<std::uint8_t> half(kTenDigits.begin(), kTenDigits.begin() + 12);
    decode(decoder, half);
    EXPECT_EQ(decode(decoder, kTenDigits).text, kTenDigitsText);
}

TEST(NttDecoder, CrcBufferOverflowIsBoundedAndIncorrect) {
    // A body whose type and length both arrive as DLE: the length is skipped
    // as a doubled DLE, so the body has no end and fills the CRC buffer.
    std::vector<std::uint8_t> bytes{0x90, 0x81, 0x87, 0x90, 0x82, 0x90, 0x90};
    bytes.insert(bytes.end(), 400, 0x30);
    NttDecoder decoder;
    const Decoded d = decode(decoder, bytes);
    EXPECT_EQ(d.results, std::vector<int>(bytes.size(), 1));
    EXPECT_EQ(decoder.crcCount, sigcore::kCrcCapacity);
    EXPECT_TRUE(decoder.crcOverflow);

    // No 7-bit length makes a body that long; close this one by hand and
    // finish the frame with the very CRC of the bytes that were kept.
    const auto finish = [](NttDecoder state, unsigned crc) {
        testsupport::TempDir dir;
        sigcore::Report report;
        EXPECT_EQ(sigcore::reportOpen(report, dir.file("tail.txt")), 0);
        sigcore::ReportTextSink sink(report, 8000);
        state.messageEnd = state.messagePos + 1;
        for (int b : {0x30, 0x90, 0x03}) decodeNttByte(state, sink, b);
        decodeNttByte(state, sink, sigcore::reverseBits(static_cast<std::uint8_t>(crc >> 8)));
        decodeNttByte(state, sink, sigcore::reverseBits(static_cast<std::uint8_t>(crc & 0xFF)));
        EXPECT_EQ(sigcore::reportClose(report), 0);
        // What the closing body byte writes depends on where the fill left off.
        const std::string text = testsupport::readFile(dir.file("tail.txt"));
        const std::size_t at = text.find("10 [DLE]\n03 [ETX]\n");
        return at == std::string::npos ? text : text.substr(at);
    };
    const std::string first = finish(decoder, 0);
    ASSERT_EQ(first.size(), std::string("10 [DLE]\n03 [ETX]\n0000 [CRC] xxxx incorrect\n").size());
    const unsigned kept = static_cast<unsigned>(std::stoul(first.substr(29, 4), nullptr, 16));
    EXPECT_EQ(kept, sigcore::crc16(decoder.crcBuffer));
    char line[64];
    std::snprintf(line, sizeof line, "10 [DLE]\n03 [ETX]\n%04x [CRC] %04x incorrect\n", kept, kept);
    EXPECT_EQ(finish(decoder, kept), line);
}

TEST(NttLabels, EveryLabelIsItsTextInShiftJis) {
    const auto labels = sigcore::allLabels();
    EXPECT_EQ(labels.size(), 27u);
    for (const sigcore::Label& label : labels) {
        EXPECT_EQ(std::string(label.sjis), testsupport::utf8ToSjis(std::string(label.text))) << label.text;
    }
    // The parameter labels hold a full-width space between their two words.
    EXPECT_NE(sigcore::kNumberParamLine.sjis.find("\x81\x40"), std::string_view::npos);
}

TEST(NttNames, JisToShiftJisAndEuc) {
    std::array<std::uint8_t, 2> pair{0x30, 0x21};
    sigcore::jisToSjis(pair);
    EXPECT_EQ(pair, (std::array<std::uint8_t, 2>{0x88, 0x9F}));
    pair = {0x21, 0x21};
    sigcore::jisToSjis(pair);
    EXPECT_EQ(pair, (std::array<std::uint8_t, 2>{0x81, 0x40}));
    pair = {0x30, 0x21};
    sigcore::jisToEuc(pair);
    EXPECT_EQ(pair, (std::array<std::uint8_t, 2>{0xB0, 0xA1}));

    // Every character that the C library converts from EUC-JP to Shift-JIS
    // converts the same way from JIS here.
    iconv_t cd = iconv_open("SHIFT_JIS", "EUC-JP");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int compared = 0;
    for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) {
            std::array<char, 2> in{static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
            std::array<char, 8> out{};
            char* inp = in.data();
            char* outp = out.data();
            std::size_t inLeft = in.size();
            std::size_t outLeft = out.size();
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) || outLeft != 6) continue;
            pair = {static_cast<std::uint8_t>(j1), static_cast<std::uint8_t>(j2)};
            sigcore::jisToSjis(pair);
            EXPECT_EQ(pair[0], static_cast<std::uint8_t>(out[0])) << std::hex << j1 << ' ' << j2;
            EXPECT_EQ(pair[1], static_cast<std::uint8_t>(out[1])) << std::hex << j1 << ' ' << j2;
            ++compared;
        }
    }
    iconv_close(cd);
    EXPECT_GT(compared, 6000);
}
