#include "cidforge/datafile.hpp"

#include "support/testsupport.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace cidforge;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

GeneratorSettings applied(std::initializer_list<std::string_view> lines) {
    GeneratorSettings settings;
    for (const auto line : lines) applyDataLine(line, settings);
    return settings;
}

}  // namespace

TEST(UnquoteValue, QuotedUnquotedAndEmptyTokens) {
    EXPECT_EQ(unquoteValue("0123"), "0123");
    EXPECT_EQ(unquoteValue("\"0123\""), "0123");
    EXPECT_EQ(unquoteValue("\"\""), "");
    EXPECT_EQ(unquoteValue("\"abc"), "abc");        // no closing quote: to the end
    EXPECT_EQ(unquoteValue("\"ab\"cd"), "ab");      // up to the next quote
    EXPECT_EQ(unquoteValue("ab\"cd\""), "ab\"cd\"");  // quote not first: as it is
    EXPECT_EQ(unquoteValue(""), "");
    EXPECT_EQ(unquoteValue("\""), "");
}

TEST(DataLine, KeysValuesAndDefaults) {
    const GeneratorSettings defaults;
    EXPECT_EQ(defaults.samplingFrequency, 8000);
    EXPECT_EQ(defaults.quantizationBitLength, 8);
    EXPECT_TRUE(defaults.sjisName);
    EXPECT_FALSE(defaults.usaFormat);

    const GeneratorSettings s = applied({"SamplingFrequency 48000", "QuantizationBitLength 16", "Amplitude 50",
                                         "NoiseAmplitude 5", "LeaderDuration 200", "HeaderDuration -3",
                                         "FooterDuration 50", "DirectoryNumber 0123456789",
                                         "IDName \"\x88\x9f\"", "DateTime 12251030 trailing words"});
    EXPECT_EQ(s.samplingFrequency, 48000);
    EXPECT_EQ(s.quantizationBitLength, 16);
    EXPECT_EQ(s.amplitude, 50);
    EXPECT_EQ(s.noiseAmplitude, 5);
    EXPECT_EQ(s.leaderDuration, 200);
    EXPECT_EQ(s.headerDuration, -3);
    EXPECT_EQ(s.footerDuration, 50);
    EXPECT_EQ(s.directoryNumber, "0123456789");
    EXPECT_EQ(s.idName, "\x88\x9f");
    EXPECT_EQ(s.dateTime, "12251030");
}

TEST(DataLine, ScanStartsAtTheKeyLengthWhereverTheKeyStands) {
    // A comment line is skipped even when a key follows.
    EXPECT_EQ(applied({"/SamplingFrequency 16000"}).samplingFrequency, 8000);
    EXPECT_EQ(applied({"// Amplitude 50"}).amplitude, 0);
    // One leading blank: the scan starts on the key's last letter and finds no number.
    EXPECT_EQ(applied({" SamplingFrequency 16000"}).samplingFrequency, 8000);
    // A key standing later is recognised; the value is read from the fixed offset.
    EXPECT_EQ(applied({"Amplitude:50 Amplitude"}).amplitude, 0);
    EXPECT_EQ(applied({"12345678 40 Amplitude"}).amplitude, 40);
    // An equals sign stops the scan.
    EXPECT_EQ(applied({"Amplitude=50"}).amplitude, 0);
    EXPECT_EQ(applied({"Amplitude = 50"}).amplitude, 0);
    // NoiseAmplitude is tried before Amplitude.
    const GeneratorSettings noise = applied({"Amplitude 30", "NoiseAmplitude 7"});
    EXPECT_EQ(noise.amplitude, 30);
    EXPECT_EQ(noise.noiseAmplitude, 7);
    // Keys are case-sensitive.
    EXPECT_EQ(applied({"amplitude 30"}).amplitude, 0);
    // A later line for the same key wins; a line without a number keeps the value.
    EXPECT_EQ(applied({"Amplitude 30", "Amplitude 60"}).amplitude, 60);
    EXPECT_EQ(applied({"Amplitude 30", "Amplitude x"}).amplitude, 30);
}

TEST(DataLine, StringValues) {
    EXPECT_EQ(applied({"IDName \"\""}).idName, "");
    EXPECT_EQ(applied({"IDName x", "IDName"}).idName, "");  // no token: empty
    EXPECT_EQ(applied({"DirectoryNumber \"01 23\""}).directoryNumber, "01");  // white space ends the token
    EXPECT_EQ(applied({"DirectoryNumber    0120\r\n"}).directoryNumber, "0120");
    // A value containing an earlier key makes it a line of that key.
    const GeneratorSettings s = applied({"IDName Amplitude"});
    EXPECT_EQ(s.idName, "");
    EXPECT_EQ(s.amplitude, 0);
    // ... and its value is scanned from that key's length (9): here " 42".
    const GeneratorSettings t = applied({"IDName   42 Amplitude"});
    EXPECT_EQ(t.idName, "");
    EXPECT_EQ(t.amplitude, 42);
    // A line ends at a NUL byte.
    EXPECT_EQ(applied({std::string_view("DateTime 1225\0 9999", 19)}).dateTime, "1225");
}

TEST(DataFile, MissingFileChangesNothing) {
    TempDir dir;
    GeneratorSettings settings;
    settings.amplitude = 12;
    EXPECT_FALSE(readDataFile(dir.file("absent.txt"), settings));
    EXPECT_EQ(settings.amplitude, 12);
    EXPECT_FALSE(readDataFile(dir.path(), settings));  // a folder can't be read as text
}

TEST(DataFile, CrLfLinesAndLastLineWithoutEnd) {
    TempDir dir;
    writeFile(dir.file("d.txt"),
              "/ comment\r\nSamplingFrequency 11025\r\nQuantizationBitLength 16\r\n\r\n"
              "DirectoryNumber 0312345678\r\nIDName \"\"\r\nAmplitude 40");
    GeneratorSettings settings;
    settings.idName = "old";
    ASSERT_TRUE(readDataFile(dir.file("d.txt"), settings));
    EXPECT_EQ(settings.samplingFrequency, 11025);
    EXPECT_EQ(settings.quantizationBitLength, 16);
    EXPECT_EQ(settings.directoryNumber, "0312345678");
    EXPECT_EQ(settings.idName, "");
    EXPECT_EQ(settings.amplitude, 40);
}

TEST(DataFile, OverlongLinesAreReadInPieces) {
    TempDir dir;
    // 254 characters of a comment, then a key that lands at the start of the next piece.
    const std::string comment = "/" + std::string(253, 'x');
    // A 300-byte token: the first piece gives a 240-byte value, the rest is a line of its own.
    const std::string longToken = std::string(300, '7');
    writeFile(dir.file("d.txt"), comment + "Amplitude 33\n" + "DateTime " + longToken + "\n" +
                                     std::string(2000, ' ') + "\nLeaderDuration 5\n");
    GeneratorSettings settings;
    ASSERT_TRUE(readDataFile(dir.file("d.txt"), settings));
    EXPECT_EQ(settings.amplitude, 33);
    EXPECT_EQ(settings.dateTime, std::string(254 - 9, '7'));
    EXPECT_EQ(settings.leaderDuration, 5);
}
