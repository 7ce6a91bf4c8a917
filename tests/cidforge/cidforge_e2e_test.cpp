// The built cidforge program: command line, console lines, refusals and the
// WAV files it writes.
#include "cidforge/datafile.hpp"
#include "cidforge/messages.hpp"
#include "cidforge/modulator.hpp"
#include "support/testsupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using testsupport::fileExists;
using testsupport::readBytes;
using testsupport::runTool;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::uint32_t dword(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

struct Wave {
    std::uint32_t samplingFrequency = 0;
    unsigned bits = 0;
    std::vector<std::int16_t> samples;
};

// Parses a file as the 44-byte header this program writes and checks that the
// header announces exactly the bytes that follow it.
Wave readWave(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readBytes(path);
    Wave wave;
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) return wave;
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(dword(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(dword(bytes, 40), bytes.size() - 44);
    wave.samplingFrequency = dword(bytes, 24);
    wave.bits = bytes[34];
    if (wave.bits == 8) {
        for (std::size_t i = 44; i < bytes.size(); ++i) wave.samples.push_back(static_cast<std::int16_t>((bytes[i] - 128) * 256));
    } else {
        for (std::size_t i = 44; i + 1 < bytes.size(); i += 2) {
            wave.samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
        }
    }
    return wave;
}

const std::string kUsage =
    ">cidforge fskntt.txt fskntt.wav -NTT -SJIS\n"
    ">cidforge fskntt.txt fskntt.wav -NTT -EUC\n"
    ">cidforge fskusa.txt fskusa.wav -USA\n"
    ">default: -NTT -SJIS\n";

const std::string kBurst =
    "SamplingFrequency 8000\nQuantizationBitLength 16\nAmplitude 50\nNoiseAmplitude 5\n"
    "LeaderDuration 100\nHeaderDuration 100\nFooterDuration 50\nDirectoryNumber 0123456789\n"
    "DateTime 12251030\nIDName \"\x88\x9f\x8e\x52\"\n";

// Samples of a burst of whole bytes with no sections at 8000 Hz: the bit end
// time accumulates by addition, the last bit ends at sample trunc(8000 * t).
std::size_t messageSamples(std::size_t bytes) {
    double t = 0.0;
    for (std::size_t bit = 0; bit < bytes * 14; ++bit) t = 1.0 / 1200 + t;
    return static_cast<std::size_t>(8000 * t) + 1;
}

// The samples of a data file as the modulator's own pieces make them, into a
// vector: the name converted as the program converts it, the counting pass
// (whose carrier phase the writing pass starts from), then the writing pass.
std::vector<std::int16_t> synthesise(const std::string& dataPath, bool usaFormat, bool sjisName) {
    cidforge::GeneratorSettings settings;
    settings.usaFormat = usaFormat;
    settings.sjisName = sjisName;
    EXPECT_TRUE(cidforge::readDataFile(dataPath, settings));
    if (!usaFormat) cidforge::nameToJis(settings.idName, sjisName);
    cidforge::ModulatorState state;
    cidforge::configureModulator(settings, state);
    const cidforge::SignalPlan plan = cidforge::planSignal(settings, state);
    const std::vector<std::uint8_t> message = cidforge::buildMessage(settings);
    const std::int64_t total =
        cidforge::countSignal(plan, message, state, cidforge::maxWaveSamples(settings.quantizationBitLength));
    std::vector<std::int16_t> samples;
    cidforge::SampleSink sink{nullptr, &samples};
    cidforge::emitSignal(plan, message, state, sink);
    EXPECT_EQ(static_cast<std::int64_t>(samples.size()), total);
    return samples;
}

}  // namespace

// The unit tests inspect the modulator through a vector sink; the program
// writes through the WAV writer. Both must be the one generator: the file's
// samples are the vector's, for both formats, both depths, several rates,
// noise and clipping included.
TEST(CidforgeRun, WritesWhatTheModulatorSynthesises) {
    TempDir dir;
    struct Case {
        std::string data;
        std::vector<std::string> options;
    };
    const std::string burst = "Amplitude 60\nNoiseAmplitude 7\nLeaderDuration 20\nHeaderDuration 83\n"
                              "FooterDuration 30\nDirectoryNumber 0123456789\nDateTime 12251030\n"
                              "IDName \"\x88\x9f\x8e\x52\"\n";
    std::vector<Case> cases;
    for (const char* rate : {"8000", "11025", "48000"}) {
        for (const char* bits : {"8", "16"}) {
            const std::string head = std::string("SamplingFrequency ") + rate + "\nQuantizationBitLength " + bits + "\n";
            cases.push_back({head + burst, {}});
            cases.push_back({head + burst, {"-USA"}});
        }
    }
    cases.push_back({"Amplitude 100\nNoiseAmplitude 30\nQuantizationBitLength 16\nIDName \"\xb0\xa1\xbb\xb3\"\n",
                     {"-EUC"}});
    int index = 0;
    for (const Case& c : cases) {
        const std::string number = std::to_string(index);
        const std::string data = dir.file(number + ".txt");
        const std::string out = dir.file(number + ".wav");
        ++index;
        writeFile(data, c.data);
        std::vector<std::string> args{data, out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(runTool("cidforge", args).status, 0) << c.data;
        const bool usa = !c.options.empty() && c.options[0] == "-USA";
        const bool sjis = c.options.empty() || c.options[0] != "-EUC";
        const Wave wave = readWave(out);
        std::vector<std::int16_t> expected = synthesise(data, usa, sjis);
        if (wave.bits == 8) {
            for (auto& v : expected) v = static_cast<std::int16_t>((v >> 8) * 256);
        }
        ASSERT_EQ(wave.samples.size(), expected.size()) << c.data;
        EXPECT_EQ(wave.samples, expected) << c.data;
    }
}

TEST(CidforgeRun, UsageLinesAndMissingDataFile) {
    TempDir dir;
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{dir.file("a.txt")}}) {
        const auto r = runTool("cidforge", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
    const auto r = runTool("cidforge", {dir.file("absent.txt"), dir.file("out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "can't open data text file\n");
    EXPECT_FALSE(fileExists(dir.file("out.wav")));
}

TEST(CidforgeRun, ConsoleLinesAndIdenticalRuns) {
    TempDir dir;
    writeFile(dir.file("d.txt"), kBurst);
    const auto ntt = runTool("cidforge", {dir.file("d.txt"), dir.file("a.wav")});
    EXPECT_EQ(ntt.status, 0);
    EXPECT_EQ(ntt.out, "0123456789\n\x88\x9f\x8e\x52\n");  // the name as read, before conversion
    const auto again = runTool("cidforge", {dir.file("d.txt"), dir.file("b.wav"), "-NTT", "-SJIS"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(readBytes(dir.file("a.wav")), readBytes(dir.file("b.wav")));

    const Wave wave = readWave(dir.file("a.wav"));
    EXPECT_EQ(wave.samplingFrequency, 8000u);
    EXPECT_EQ(wave.bits, 16u);

    const auto us = runTool("cidforge", {dir.file("d.txt"), dir.file("c.wav"), "-USA"});
    EXPECT_EQ(us.status, 0);
    EXPECT_EQ(us.out, "0123456789\n12251030\n");
    EXPECT_NE(readBytes(dir.file("a.wav")), readBytes(dir.file("c.wav")));
}

TEST(CidforgeRun, OptionScan) {
    TempDir dir;
    writeFile(dir.file("d.txt"), "Amplitude 50\nDirectoryNumber 0123456789\nDateTime 01011200\n");
    const std::size_t nttSize = 44 + messageSamples(23);  // 23-byte frame, 8 bits
    const std::size_t usSize = 44 + messageSamples(21);   // 21-byte SDMF message

    const auto plain = runTool("cidforge", {dir.file("d.txt"), dir.file("n.wav"), "-usa", "-Usa"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(readBytes(dir.file("n.wav")).size(), nttSize);
    EXPECT_EQ(readBytes(dir.file("n.wav")).size(), 44u + 2147u);

    const auto inside = runTool("cidforge", {dir.file("d.txt"), dir.file("u.wav"), "x", "--x-USAy"});
    EXPECT_EQ(inside.status, 0);
    EXPECT_EQ(inside.out, "0123456789\n01011200\n");
    EXPECT_EQ(readBytes(dir.file("u.wav")).size(), usSize);

    const auto both = runTool("cidforge", {dir.file("d.txt"), dir.file("b.wav"), "-EUC", "-USA", "-USA"});
    EXPECT_EQ(both.status, 0);
    EXPECT_EQ(readBytes(dir.file("b.wav")), readBytes(dir.file("u.wav")));
}

TEST(CidforgeRun, EucNameGivesTheSameBurstAsShiftJis) {
    TempDir dir;
    writeFile(dir.file("s.txt"), "Amplitude 50\nDirectoryNumber 0123456789\nIDName \x88\x9f\x8e\x52\n");
    writeFile(dir.file("e.txt"), "Amplitude 50\nDirectoryNumber 0123456789\nIDName \xb0\xa1\xbb\xb3\n");
    EXPECT_EQ(runTool("cidforge", {dir.file("s.txt"), dir.file("s.wav")}).status, 0);
    EXPECT_EQ(runTool("cidforge", {dir.file("e.txt"), dir.file("e.wav"), "-EUC"}).status, 0);
    EXPECT_EQ(readBytes(dir.file("s.wav")), readBytes(dir.file("e.wav")));
    // Without -EUC the EUC bytes are not converted and the burst differs.
    EXPECT_EQ(runTool("cidforge", {dir.file("e.txt"), dir.file("x.wav")}).status, 0);
    EXPECT_NE(readBytes(dir.file("s.wav")), readBytes(dir.file("x.wav")));
}

TEST(CidforgeRun, SectionsAndSilence) {
    TempDir dir;
    // No keys at all: empty number, no name, amplitude 0, only the 13-byte frame.
    writeFile(dir.file("empty.txt"), "/ nothing here\n");
    const auto empty = runTool("cidforge", {dir.file("empty.txt"), dir.file("e.wav")});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n\n");
    const auto e = readBytes(dir.file("e.wav"));
    ASSERT_EQ(e.size(), 44 + messageSamples(13));
    for (std::size_t i = 44; i < e.size(); ++i) ASSERT_EQ(e[i], 0x80) << "byte " << i;

    // Amplitude 0 with noise: noise from header to footer, exact zeros in the leader and trailer.
    writeFile(dir.file("noise.txt"),
              "QuantizationBitLength 16\nNoiseAmplitude 10\nLeaderDuration 100\nHeaderDuration 83\n"
              "FooterDuration 100\nDirectoryNumber 0123456789\n");
    ASSERT_EQ(runTool("cidforge", {dir.file("noise.txt"), dir.file("n.wav")}).status, 0);
    const Wave noise = readWave(dir.file("n.wav"));
    // 99 + 322 + 120 = 541 bits.
    ASSERT_EQ(noise.samples.size(), 2 * 800 + 3607u);
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < noise.samples.size(); ++i) {
        if (i < 800 || i >= noise.samples.size() - 800) {
            ASSERT_EQ(noise.samples[i], 0) << "sample " << i;
        } else {
            EXPECT_LE(std::abs(noise.samples[i]), 3277);
            if (noise.samples[i] != 0) ++nonZero;
        }
    }
    EXPECT_GT(nonZero, (noise.samples.size() - 1600) * 9 / 10);

    // Amplitude 0, no noise: all zero samples, full length.
    writeFile(dir.file("zero.txt"), "QuantizationBitLength 16\nLeaderDuration 100\nHeaderDuration 83\n"
                                    "FooterDuration 100\nDirectoryNumber 0123456789\n");
    ASSERT_EQ(runTool("cidforge", {dir.file("zero.txt"), dir.file("z.wav")}).status, 0);
    const Wave zero = readWave(dir.file("z.wav"));
    EXPECT_EQ(zero.samples.size(), noise.samples.size());
    for (const auto s : zero.samples) ASSERT_EQ(s, 0);

    // Negative durations are empty sections: only the message is written.
    writeFile(dir.file("neg.txt"), "Amplitude 30\nLeaderDuration -100\nHeaderDuration -83\nFooterDuration -5\n"
                                   "DirectoryNumber 0123456789\n");
    ASSERT_EQ(runTool("cidforge", {dir.file("neg.txt"), dir.file("g.wav")}).status, 0);
    EXPECT_EQ(readWave(dir.file("g.wav")).samples.size(), messageSamples(23));
}

TEST(CidforgeRun, FullAmplitudeSaturates) {
    TempDir dir;
    writeFile(dir.file("d.txt"), "SamplingFrequency 48000\nQuantizationBitLength 16\nAmplitude 100\n"
                                 "NoiseAmplitude 20\nHeaderDuration 100\nDirectoryNumber 0123456789\n");
    ASSERT_EQ(runTool("cidforge", {dir.file("d.txt"), dir.file("a.wav")}).status, 0);
    const Wave wave = readWave(dir.file("a.wav"));
    // Clipped peaks stay at the rail of their own sign: a jump from one rail
    // to the other between neighbours would be a wrapped value.
    std::size_t atTop = 0;
    for (std::size_t i = 1; i < wave.samples.size(); ++i) {
        const int step = std::abs(wave.samples[i] - wave.samples[i - 1]);
        ASSERT_LT(step, 40000) << "sample " << i;
        if (wave.samples[i] == 32767) ++atTop;
    }
    EXPECT_GT(atTop, 10u);
}

TEST(CidforgeRun, RefusalsCreateNoFile) {
    TempDir dir;
    const std::string out = dir.file("out.wav");
    const std::string longField(64, '1');
    const struct {
        std::string data;
        std::vector<std::string> options;
        std::string word;  // the value the message must name
    } cases[] = {
        {"SamplingFrequency 0\n", {}, "SamplingFrequency"},
        {"SamplingFrequency -8000\n", {}, "SamplingFrequency"},
        {"SamplingFrequency 1200000000\nQuantizationBitLength 16\n", {}, "SamplingFrequency"},
        {"QuantizationBitLength 12\n", {}, "QuantizationBitLength"},
        {"QuantizationBitLength 65544\n", {}, "QuantizationBitLength"},
        {"DirectoryNumber " + longField + "\n", {}, "DirectoryNumber"},
        {"IDName " + longField + "\n", {}, "IDName"},
        {"DateTime " + longField + "\n", {"-USA"}, "DateTime"},
        {"DirectoryNumber " + std::string(63, '2') + "\nIDName " + std::string(62, '!') + "\n", {}, "129"},
        {"SamplingFrequency 2000000000\nLeaderDuration 600\n", {}, "too long"},
        {"SamplingFrequency 1000000000\nQuantizationBitLength 16\nHeaderDuration 1000000\n", {"-USA"}, "too long"},
    };
    for (const auto& c : cases) {
        writeFile(dir.file("d.txt"), c.data);
        std::vector<std::string> args{dir.file("d.txt"), out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = runTool("cidforge", args);
        EXPECT_EQ(r.status, 1) << c.data;
        EXPECT_EQ(r.out.rfind("error .... ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find(c.word), std::string::npos) << r.out;
        EXPECT_EQ(testsupport::splitLines(r.out).size(), 1u) << r.out;
        EXPECT_FALSE(fileExists(out)) << c.data;
    }
    // The longest accepted fields and M = 127 still make a file.
    writeFile(dir.file("d.txt"), "DirectoryNumber " + std::string(63, '2') + "\nIDName " + std::string(60, '!') +
                                     "\nDateTime " + std::string(63, '3') + "\n");
    EXPECT_EQ(runTool("cidforge", {dir.file("d.txt"), out}).status, 0);
    EXPECT_EQ(readWave(out).samples.size(), messageSamples(138));
}

TEST(CidforgeRun, UnwritableOutput) {
    TempDir dir;
    writeFile(dir.file("d.txt"), kBurst);
    const auto noFolder = runTool("cidforge", {dir.file("d.txt"), dir.file("missing/out.wav")});
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_EQ(noFolder.out, "0123456789\n\x88\x9f\x8e\x52\ncan't open the file to write\n");

    const auto full = runTool("cidforge", {dir.file("d.txt"), "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "0123456789\n\x88\x9f\x8e\x52\nerror .... can't write the wave file\n");
    EXPECT_TRUE(fileExists("/dev/full"));
}

TEST(CidforgeRun, VeryLowSamplingFrequency) {
    TempDir dir;
    writeFile(dir.file("d.txt"), "SamplingFrequency 1\nAmplitude 50\nLeaderDuration 3000\nHeaderDuration 2000\n"
                                 "FooterDuration 2000\nDirectoryNumber 0123456789\n");
    ASSERT_EQ(runTool("cidforge", {dir.file("d.txt"), dir.file("a.wav")}).status, 0);
    // 3 + 3 leader samples and the samples of about 5.27 s of bits.
    const std::size_t n = readWave(dir.file("a.wav")).samples.size();
    EXPECT_GE(n, 6u + 5u);
    EXPECT_LE(n, 6u + 7u);
}

TEST(CidforgeRun, ExampleDataFiles) {
    TempDir dir;
    const auto ntt = runTool("cidforge", {testsupport::sourcePath("examples/fskntt.txt"), dir.file("n.wav"), "-NTT", "-SJIS"});
    EXPECT_EQ(ntt.status, 0);
    EXPECT_EQ(ntt.out, "0123456789\n" + testsupport::utf8ToSjis("山田太郎") + "\n");
    const Wave nttWave = readWave(dir.file("n.wav"));
    EXPECT_EQ(nttWave.bits, 16u);
    EXPECT_EQ(nttWave.samples.size(), 8281u);

    const auto us = runTool("cidforge", {testsupport::sourcePath("examples/fskusa.txt"), dir.file("u.wav"), "-USA"});
    EXPECT_EQ(us.status, 0);
    EXPECT_EQ(us.out, "0123456789\n12251030\n");
    EXPECT_EQ(readWave(dir.file("u.wav")).samples.size(), 7161u);
}

// "-" reads the data file from standard input and writes the WAV file to
// standard output, the console lines then on standard error. --help and
// --version exit 0.
TEST(CidforgeRun, StandardStreamsHelpAndVersion) {
    TempDir dir;
    writeFile(dir.file("d.txt"), kBurst);
    const auto file = runTool("cidforge", {dir.file("d.txt"), dir.file("a.wav")});
    ASSERT_EQ(file.status, 0);
    const auto toStdout = runTool("cidforge", {dir.file("d.txt"), "-"});
    EXPECT_EQ(toStdout.status, 0);
    EXPECT_EQ(toStdout.out, testsupport::readFile(dir.file("a.wav")));
    EXPECT_EQ(toStdout.err, file.out);
    const auto fromStdin = runTool("cidforge", {"-", dir.file("b.wav"), "-USA"}, kBurst);
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.out, "0123456789\n12251030\n");
    ASSERT_EQ(runTool("cidforge", {dir.file("d.txt"), dir.file("c.wav"), "-USA"}).status, 0);
    EXPECT_EQ(readBytes(dir.file("b.wav")), readBytes(dir.file("c.wav")));

    const auto help = runTool("cidforge", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: cidforge ", 0), 0u);
    const auto version = runTool("cidforge", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "cidforge (sigtools) " SIGTOOLS_TEST_VERSION "\n");
}

// A caller name that is not double-byte text in the chosen code gets a
// warning on standard error; the burst is the same as without it.
TEST(CidforgeRun, IdNameWarning) {
    TempDir dir;
    struct Case {
        std::string name;
        std::vector<std::string> options;
        bool warned;
    };
    const std::vector<Case> cases{
        {"\x88\x9f\x8e\x52", {}, false},                       // Shift-JIS
        {"\xbb\xb3\xc5\xc4", {"-EUC"}, false},                 // EUC-JP
        {"\x88\x9f\x8e\x52", {"-EUC"}, true},                  // Shift-JIS read as EUC-JP
        {"TARO", {}, true},                                     // ASCII letters
        {"\xe5\xb1\xb1\xe7\x94\xb0", {}, true},                // UTF-8
        {"\x88\x9f\x8e", {}, true},                             // half a character
        {"TARO", {"-USA"}, false},                              // the US format sends no name
    };
    for (const Case& c : cases) {
        writeFile(dir.file("d.txt"), "Amplitude 50\nDirectoryNumber 0123\nIDName \"" + c.name + "\"\n");
        std::vector<std::string> args{dir.file("d.txt"), dir.file("a.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = runTool("cidforge", args);
        EXPECT_EQ(r.status, 0) << c.name;
        const bool warned = r.err.rfind("warning .... IDName is not ", 0) == 0 &&
                            r.err.find('\n') == r.err.size() - 1;
        EXPECT_EQ(warned, c.warned) << c.name << ": " << r.err;
        if (!c.warned) {
            EXPECT_EQ(r.err, "") << c.name;
        }
    }
}
