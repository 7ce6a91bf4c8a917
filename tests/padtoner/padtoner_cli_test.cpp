// The padtoner program end to end: command line, messages, exit statuses and
// the files it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "padtoner/helptext.hpp"
#include "support/testsupport.hpp"

namespace {

using testsupport::runTool;

const std::string kBanner = "padtoner - DTMF tone sequence generator\n";

std::string exampleEcho(const std::string& data = "0550123456") {
    return "SamplingFrequency=     8000\n"
           "QuantizationBitLength= 8\n"
           "Amplitude=             30\n"
           "NoiseAmplitude=        0\n"
           "PNoiseAmplitude=       0\n"
           "LeaderDuration=        1000\n"
           "ToneDuration=          50\n"
           "SilenceDuration=       30\n"
           "RampDuration=          3\n"
           "DTMFData=              " + data + "\n";
}

// The example data file with `line` added at its end (a later line wins).
std::string exampleWith(const std::string& line) {
    return testsupport::readFile(testsupport::sourcePath("examples/dtmf.txt")) + line + "\n";
}

TEST(PadtonerCli, WrongArgumentCountPrintsTheHelpText) {
    const std::string expected = kBanner + padtoner::helpText();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"data.txt"}, {"data.txt", "wave.wav", "extra"}}) {
        testsupport::TempDir dir;
        const auto r = testsupport::run(testsupport::programPath("padtoner"), args, "", dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
    // The help text's "%" characters appear as they stand.
    EXPECT_NE(runTool("padtoner", {}).out.find("//[%] 0..100\n"), std::string::npos);
}

TEST(PadtonerCli, ExampleRunEchoesAndWrites) {
    testsupport::TempDir dir;
    const auto r = runTool("padtoner", {testsupport::sourcePath("examples/dtmf.txt"), dir.file("a.wav")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + exampleEcho());
    EXPECT_EQ(r.err, "");
    const std::vector<std::uint8_t> bytes = testsupport::readBytes(dir.file("a.wav"));
    ASSERT_EQ(bytes.size(), 44u + 22160u);
    // 8000 Hz, 8 bits, mono, 22160 data bytes; the leader is silence.
    EXPECT_EQ(bytes[24] | bytes[25] << 8, 8000);
    EXPECT_EQ(bytes[34], 8);
    EXPECT_EQ(bytes[40] | bytes[41] << 8 | bytes[42] << 16, 22160);
    EXPECT_TRUE(std::all_of(bytes.begin() + 44, bytes.begin() + 44 + 8000, [](std::uint8_t b) { return b == 0x80; }));
}

TEST(PadtonerCli, TwoRunsGiveTheSameBytes) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("d.txt"), exampleWith("NoiseAmplitude 40\nPNoiseAmplitude 20\nQuantizationBitLength 16"));
    ASSERT_EQ(runTool("padtoner", {dir.file("d.txt"), dir.file("1.wav")}).status, 0);
    ASSERT_EQ(runTool("padtoner", {dir.file("d.txt"), dir.file("2.wav")}).status, 0);
    const auto first = testsupport::readBytes(dir.file("1.wav"));
    EXPECT_EQ(first.size(), 44u + 2u * 22160u);
    EXPECT_EQ(first, testsupport::readBytes(dir.file("2.wav")));
}

TEST(PadtonerCli, MissingDataFile) {
    testsupport::TempDir dir;
    const auto r = runTool("padtoner", {"no/such/data.txt", dir.file("a.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + "can't open data text file [no/such/data.txt]\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("a.wav")));
}

TEST(PadtonerCli, OutputThatCannotBeCreated) {
    testsupport::TempDir dir;
    const auto r = runTool("padtoner", {testsupport::sourcePath("examples/dtmf.txt"), dir.file("no/a.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + exampleEcho() + "can't open the file to write\n");
}

TEST(PadtonerCli, RefusedValuesLeaveNoFile) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"SamplingFrequency 0", "error .... SamplingFrequency 0 must be greater than 0\n"},
        {"SamplingFrequency -8000", "error .... SamplingFrequency -8000 must be greater than 0\n"},
        {"QuantizationBitLength 24", "error .... QuantizationBitLength 24 must be 8 or 16\n"},
        {"LeaderDuration -1", "error .... LeaderDuration -1 must not be negative\n"},
        {"ToneDuration -50", "error .... ToneDuration -50 must not be negative\n"},
        {"SilenceDuration -30", "error .... SilenceDuration -30 must not be negative\n"},
        {"RampDuration -3", "error .... RampDuration -3 must not be negative\n"},
        {"LeaderDuration 2000000000",
         "error .... 32000006160 samples (32000006160 data bytes) are too many for a WAV file of at most "
         "2147483611 data bytes\n"},
    };
    for (const auto& [line, message] : cases) {
        testsupport::TempDir dir;
        testsupport::writeFile(dir.file("d.txt"), exampleWith(line));
        const auto r = runTool("padtoner", {dir.file("d.txt"), dir.file("a.wav")});
        EXPECT_EQ(r.status, 1) << line;
        const auto lines = testsupport::splitLines(r.out);
        ASSERT_EQ(lines.size(), 12u) << r.out;
        EXPECT_EQ(lines.back() + "\n", message);
        EXPECT_FALSE(testsupport::fileExists(dir.file("a.wav"))) << line;
    }
}

TEST(PadtonerCli, FullDeviceFailsAndStaysInPlace) {
    const auto r = runTool("padtoner", {testsupport::sourcePath("examples/dtmf.txt"), "/dev/full"});
    EXPECT_EQ(r.status, 255);  // the close's -1
    EXPECT_EQ(r.out, kBanner + exampleEcho() + "can't write the file [/dev/full]\n");
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

// Runs padtoner under /bin/sh after `setup` (resource limits).
testsupport::RunResult runLimited(const std::string& setup, const std::vector<std::string>& args) {
    std::vector<std::string> shellArgs{"-c", setup + "; exec \"$0\" \"$@\"", testsupport::programPath("padtoner")};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    return testsupport::run("/bin/sh", shellArgs);
}

TEST(PadtonerCli, FailedWriteRemovesTheIncompleteFile) {
    // A file size limit of 10 KB (with the signal that it raises ignored)
    // makes a write of the 22 KB file fail midway.
    testsupport::TempDir dir;
    const auto r = runLimited("trap '' XFSZ; ulimit -f 20",
                              {testsupport::sourcePath("examples/dtmf.txt"), dir.file("a.wav")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, kBanner + exampleEcho() + "can't write the file [" + dir.file("a.wav") + "]\n");
    EXPECT_FALSE(testsupport::fileExists(dir.file("a.wav")));
}

TEST(PadtonerCli, SampleBufferBeyondMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address space limit does not work with the address sanitizer";
#else
    // A 20000 s leader needs a 320 MB buffer; the address space is held at 200 MB.
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("d.txt"), exampleWith("LeaderDuration 20000000"));
    const auto r = runLimited("ulimit -v 200000", {dir.file("d.txt"), dir.file("a.wav")});
    EXPECT_EQ(r.status, 1);
    const auto lines = testsupport::splitLines(r.out);
    ASSERT_EQ(lines.size(), 12u) << r.out;
    EXPECT_EQ(lines.back(), "memory not available");
    EXPECT_FALSE(testsupport::fileExists(dir.file("a.wav")));
#endif
}

TEST(PadtonerCli, LoudSignalsSaturate) {
    // Full-level tones plus full mains hum reach well beyond 16 bits: the
    // samples clip at the ends of the range and never jump to the other sign.
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("d.txt"),
                           exampleWith("SamplingFrequency 44100\nQuantizationBitLength 16\nAmplitude 100\n"
                                       "PNoiseAmplitude 100\nDTMFData D#*"));
    ASSERT_EQ(runTool("padtoner", {dir.file("d.txt"), dir.file("a.wav")}).status, 0);
    const auto bytes = testsupport::readBytes(dir.file("a.wav"));
    std::vector<int> samples;
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 32767);
    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), -32768);
    int largestStep = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) largestStep = std::max(largestStep, std::abs(samples[i] - samples[i - 1]));
    EXPECT_LT(largestStep, 20000);
}

}  // namespace

// "-" reads the data file from standard input and writes the WAV file to
// standard output; while the WAV goes there, the console lines go to standard
// error so the stream stays a clean WAV file. --help and --version exit 0.
TEST(PadtonerCli, StandardStreamsHelpAndVersion) {
    testsupport::TempDir dir;
    const std::string example = testsupport::sourcePath("examples/dtmf.txt");
    const auto file = runTool("padtoner", {example, dir.file("a.wav")});
    ASSERT_EQ(file.status, 0);
    const std::string wav = testsupport::readFile(dir.file("a.wav"));

    const auto toStdout = runTool("padtoner", {example, "-"});
    EXPECT_EQ(toStdout.status, 0);
    EXPECT_EQ(toStdout.out, wav);
    EXPECT_EQ(toStdout.err, file.out);

    const auto fromStdin = runTool("padtoner", {"-", dir.file("b.wav")}, testsupport::readFile(example));
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.out, file.out);
    EXPECT_EQ(testsupport::readFile(dir.file("b.wav")), wav);

    if (std::system("command -v sox >/dev/null 2>&1") == 0) {
        const auto piped = testsupport::run(
            "/bin/sh", {"-c", "\"$0\" \"$1\" - 2>/dev/null | sox -t wav - -t raw - | wc -c",
                        testsupport::programPath("padtoner"), example});
        EXPECT_EQ(piped.out, "22160\n") << piped.err;
    }

    const auto help = runTool("padtoner", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, kBanner + padtoner::helpText());
    const auto version = runTool("padtoner", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "padtoner (sigtools) " SIGTOOLS_TEST_VERSION "\n");
}
