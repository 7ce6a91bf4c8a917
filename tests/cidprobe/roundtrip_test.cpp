// Bursts written by cidforge -USA and read back by cidprobe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fsksynth.hpp"
#include "support/testsupport.hpp"

namespace {

using testsupport::splitLines;

const std::vector<std::uint8_t> kMessage = fsksynth::sdmfMessage("01011200", "0123456789");

std::vector<std::string> roundTrip(int rate, int bits, int noise, int footer = 50) {
    testsupport::TempDir dir;
    const std::string data = "SamplingFrequency " + std::to_string(rate) + "\nQuantizationBitLength " +
                             std::to_string(bits) + "\nAmplitude 50\nNoiseAmplitude " + std::to_string(noise) +
                             "\nLeaderDuration 100\nHeaderDuration 200\nFooterDuration " + std::to_string(footer) +
                             "\nDateTime 01011200\nDirectoryNumber 0123456789\n";
    testsupport::writeFile(dir.file("data.txt"), data);
    const auto made = testsupport::runTool("cidforge", {dir.file("data.txt"), dir.file("burst.wav"), "-USA"});
    EXPECT_EQ(made.status, 0) << made.out;
    const auto probed = testsupport::runTool("cidprobe", {dir.file("burst.wav"), dir.file("report.txt")});
    EXPECT_EQ(probed.status, 0) << probed.err;
    return splitLines(testsupport::readFile(dir.file("report.txt")));
}

void expectDecoded(const std::vector<std::string>& lines, const std::string& where) {
    ASSERT_GE(lines.size(), 9u) << where;
    EXPECT_EQ(lines[0].rfind("detected [", 0), 0u) << where;
    EXPECT_EQ(lines[1], "Mark at least 55ms has found.") << where;
    const auto expected = splitLines(fsksynth::sdmfReportLines(kMessage));
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[2 + i], expected[i]) << where;
    EXPECT_EQ(lines[8].rfind("terminated [", 0), 0u) << where;
    // After the burst only the footer's own mark can still be taken for one:
    // at some rates its remainder and the filter's tail last 55 ms. Such a
    // block decodes nothing.
    for (std::size_t i = 9; i < lines.size(); ++i) {
        const bool burstLine = lines[i].rfind("detected [", 0) == 0 || lines[i] == "Mark at least 55ms has found." ||
                               lines[i].rfind("terminated [", 0) == 0;
        EXPECT_TRUE(burstLine) << where << ": " << lines[i];
    }
}

TEST(RoundTrip, EveryRateAndDepthWithAndWithoutNoise) {
    if (!testsupport::fileExists(testsupport::programPath("cidforge"))) GTEST_SKIP() << "cidforge not built";
    for (const int rate : {8000, 11025, 16000, 22050, 44100, 48000, 96000}) {
        for (const int bits : {8, 16}) {
            for (const int noise : {0, 20}) {
                expectDecoded(roundTrip(rate, bits, noise),
                              std::to_string(rate) + " Hz, " + std::to_string(bits) + " bits, noise " +
                                  std::to_string(noise));
            }
        }
    }
}

TEST(RoundTrip, ShortFooterLeavesOneBlock) {
    if (!testsupport::fileExists(testsupport::programPath("cidforge"))) GTEST_SKIP() << "cidforge not built";
    for (const int rate : {22050, 44100}) EXPECT_EQ(roundTrip(rate, 16, 0, 20).size(), 9u) << rate;
}

TEST(RoundTrip, NoiseUpToThirtyPercentAtHalfScale) {
    if (!testsupport::fileExists(testsupport::programPath("cidforge"))) GTEST_SKIP() << "cidforge not built";
    // At 8000 Hz, the hardest rate, the burst still decodes with noise at 30 %
    // of full scale against a tone at 50 %; at 35 % the noise breaks every
    // 55 ms mark run and nothing is detected.
    expectDecoded(roundTrip(8000, 16, 30), "8000 Hz, noise 30");
    EXPECT_TRUE(roundTrip(8000, 16, 35).empty());
}

}  // namespace
