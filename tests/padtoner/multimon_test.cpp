// An independent DTMF decoder (multimon-ng, fed through sox) must hear every
// symbol of padtoner's output, in order, at each sampling rate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "support/testsupport.hpp"

namespace {

// Full path of a program found on PATH, or "" when there is none.
std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(dir.empty() ? "." : dir) / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
    }
    return "";
}

class PadtonerMultimon : public ::testing::TestWithParam<int> {};

TEST_P(PadtonerMultimon, DecodesEverySymbolInOrder) {
    const std::string sox = findProgram("sox");
    const std::string multimon = findProgram("multimon-ng");
    if (sox.empty() || multimon.empty()) GTEST_SKIP() << "sox or multimon-ng is not installed";

    const int rate = GetParam();
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("d.txt"),
                           testsupport::readFile(testsupport::sourcePath("examples/dtmf.txt")) +
                               "SamplingFrequency " + std::to_string(rate) +
                               "\nDTMFData \"0123456789*#ABCD\"\n");
    ASSERT_EQ(testsupport::runTool("padtoner", {dir.file("d.txt"), dir.file("a.wav")}).status, 0);

    const auto converted = testsupport::run(
        sox, {dir.file("a.wav"), "-t", "raw", "-r", "22050", "-e", "signed", "-b", "16", "-c", "1", dir.file("a.raw")});
    ASSERT_EQ(converted.status, 0) << converted.err;
    const auto decoded = testsupport::run(multimon, {"-t", "raw", "-a", "DTMF", dir.file("a.raw")});
    ASSERT_EQ(decoded.status, 0) << decoded.err;

    std::string symbols;
    for (const std::string& line : testsupport::splitLines(decoded.out)) {
        if (line.rfind("DTMF: ", 0) == 0 && line.size() > 6) symbols += line.substr(6);
    }
    EXPECT_EQ(symbols, "0123456789*#ABCD") << decoded.out;
}

INSTANTIATE_TEST_SUITE_P(Rates, PadtonerMultimon, ::testing::Values(8000, 11025, 22050, 44100));

}  // namespace
