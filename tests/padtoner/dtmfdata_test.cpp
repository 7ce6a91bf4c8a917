// The data file reader: keys, values, DTMFData words, line pieces, the echo.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "padtoner/dtmfdata.hpp"
#include "padtoner/helptext.hpp"
#include "support/testsupport.hpp"

namespace {

using padtoner::DtmfParameters;

// Reads `text` as a data file through a temporary stream.
DtmfParameters parse(const std::string& text) {
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return {};
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    const auto params = padtoner::parseDtmfParameters(f);
    std::fclose(f);
    EXPECT_TRUE(params.has_value());
    return params.value_or(DtmfParameters{});
}

void expectHelpExample(const DtmfParameters& p) {
    EXPECT_EQ(p.SamplingFrequency, 8000);
    EXPECT_EQ(p.QuantizationBitLength, 8);
    EXPECT_EQ(p.Amplitude, 30);
    EXPECT_EQ(p.NoiseAmplitude, 0);
    EXPECT_EQ(p.PNoiseAmplitude, 0);
    EXPECT_EQ(p.LeaderDuration, 1000);
    EXPECT_EQ(p.ToneDuration, 50);
    EXPECT_EQ(p.SilenceDuration, 30);
    EXPECT_EQ(p.RampDuration, 3);
}

TEST(DtmfData, HelpTextExampleLinesAsAFile) {
    std::string text;
    for (std::size_t i = 8; i < 18; ++i) text += std::string(padtoner::helpLines()[i].sjis) + "\n";
    const DtmfParameters p = parse(text);
    expectHelpExample(p);
    EXPECT_EQ(p.DTMFData, "0550123456");
    EXPECT_EQ(padtoner::formatDtmfEcho(p),
              "SamplingFrequency=     8000\n"
              "QuantizationBitLength= 8\n"
              "Amplitude=             30\n"
              "NoiseAmplitude=        0\n"
              "PNoiseAmplitude=       0\n"
              "LeaderDuration=        1000\n"
              "ToneDuration=          50\n"
              "SilenceDuration=       30\n"
              "RampDuration=          3\n"
              "DTMFData=              0550123456\n");
}

TEST(DtmfData, ExampleFileOfTheSourceTree) {
    const auto p = padtoner::readDtmfParameters(testsupport::sourcePath("examples/dtmf.txt"));
    ASSERT_TRUE(p.has_value());
    expectHelpExample(*p);
    EXPECT_EQ(p->DTMFData, "0550123456");
}

TEST(DtmfData, MissingKeysTakeTheHelpExampleValues) {
    const DtmfParameters p = parse("// nothing but a comment\nUnknownKey 5\n");
    expectHelpExample(p);
    EXPECT_EQ(p.DTMFData, "");
    const DtmfParameters q = parse("ToneDuration 70\n");
    EXPECT_EQ(q.ToneDuration, 70);
    EXPECT_EQ(q.SamplingFrequency, 8000);
}

TEST(DtmfData, KeysOnlyAtTheLineStartInExactCase) {
    const DtmfParameters p = parse(
        " Amplitude 40\n"
        "\tToneDuration 90\n"
        "amplitude 41\n"
        "SAMPLINGFREQUENCY 11025\n"
        "/Amplitude 42\n"
        "x SilenceDuration 60\n");
    EXPECT_EQ(p.Amplitude, 30);
    EXPECT_EQ(p.ToneDuration, 50);
    EXPECT_EQ(p.SamplingFrequency, 8000);
    EXPECT_EQ(p.SilenceDuration, 30);
}

TEST(DtmfData, NumberScanDirectlyAfterTheKey) {
    const DtmfParameters p = parse(
        "SamplingFrequency=11025\n"     // scan starts at '=' and fails
        "Amplitude33\n"                 // taken
        "NoiseAmplitude 12//comment\n"  // digits then anything
        "PNoiseAmplitude +7\n"
        "RampDuration -4\n"
        "LeaderDuration\n"              // no value: keeps the default
        "ToneDuration 60\n"
        "ToneDuration 80 // the later line wins\n"
        "SilenceDuration - 5\n");       // a sign without digits fails
    EXPECT_EQ(p.SamplingFrequency, 8000);
    EXPECT_EQ(p.Amplitude, 33);
    EXPECT_EQ(p.NoiseAmplitude, 12);
    EXPECT_EQ(p.PNoiseAmplitude, 7);
    EXPECT_EQ(p.RampDuration, -4);
    EXPECT_EQ(p.LeaderDuration, 1000);
    EXPECT_EQ(p.ToneDuration, 80);
    EXPECT_EQ(p.SilenceDuration, 30);
}

TEST(DtmfData, NumbersBeyondThirtyTwoBitsAreHeldAtTheEnds) {
    const DtmfParameters p = parse("SamplingFrequency 99999999999999999999\nLeaderDuration -99999999999\n");
    EXPECT_EQ(p.SamplingFrequency, INT32_MAX);
    EXPECT_EQ(p.LeaderDuration, INT32_MIN);
}

TEST(DtmfData, DataTokens) {
    const auto data = [](const std::string& value) { return parse("DTMFData " + value + "\n").DTMFData; };
    EXPECT_EQ(data("123"), "123");
    EXPECT_EQ(data("\"123\""), "123");
    EXPECT_EQ(data("\"\"12\"\""), "12");
    EXPECT_EQ(data("\"12 34\""), "12");
    EXPECT_EQ(data("1\"2"), "1");
    EXPECT_EQ(data("\"\""), "");
    EXPECT_EQ(data("\"12\"//x"), "12");
    EXPECT_EQ(data("12//x"), "12//x");
    EXPECT_EQ(data("abcd"), "abcd");
    EXPECT_EQ(data(""), "");
    EXPECT_EQ(padtoner::dtmfDataFromToken(""), "");
    EXPECT_EQ(padtoner::dtmfDataFromToken("\"\"\""), "");
}

TEST(DtmfData, LaterDataLineWithAWordReplacesTheToken) {
    EXPECT_EQ(parse("DTMFData 12\nDTMFData 34\n").DTMFData, "34");
    EXPECT_EQ(parse("DTMFData 12\nDTMFData   \n").DTMFData, "12");
}

TEST(DtmfData, LongLinesAreReadInPieces) {
    // 254 characters make one piece; the rest of the line is a line of its own.
    EXPECT_EQ(parse(std::string(254, 'x') + "Amplitude 77\n").Amplitude, 77);
    // One character less, and the piece boundary splits the key.
    EXPECT_EQ(parse(std::string(253, ' ') + "Amplitude 77\n").Amplitude, 30);
    // A line of exactly 254 characters plus its line feed: the line feed is a piece.
    EXPECT_EQ(parse("Amplitude 55" + std::string(242, ' ') + "\nToneDuration 66\n").ToneDuration, 66);
    // A DTMFData word longer than a piece is cut at the piece's end; the rest
    // of the line starts with no key and is ignored.
    const DtmfParameters p = parse("DTMFData " + std::string(600, '7') + "\n");
    EXPECT_EQ(p.DTMFData, std::string(254 - 9, '7'));
}

TEST(DtmfData, CarriageReturnLineFeed) {
    const DtmfParameters p = parse("SamplingFrequency 22050\r\nAmplitude 40\r\nDTMFData 0123\r\n");
    EXPECT_EQ(p.SamplingFrequency, 22050);
    EXPECT_EQ(p.Amplitude, 40);
    EXPECT_EQ(p.DTMFData, "0123");
    EXPECT_EQ(parse("DTMFData \"56\"\r\n").DTMFData, "56");
}

TEST(DtmfData, FilesThatCannotBeRead) {
    testsupport::TempDir dir;
    EXPECT_FALSE(padtoner::readDtmfParameters(dir.file("missing.txt")).has_value());
    EXPECT_FALSE(padtoner::readDtmfParameters(dir.path()).has_value());  // a folder
}

TEST(DtmfData, EmbeddedNulEndsTheLine) {
    const std::string text = std::string("Amplitude 4") + '\0' + "5\nToneDuration 61\n";
    const DtmfParameters p = parse(text);
    EXPECT_EQ(p.Amplitude, 4);
    EXPECT_EQ(p.ToneDuration, 61);
}

}  // namespace
