// cidprobe run as a program over synthesised recordings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fsksynth.hpp"
#include "support/testsupport.hpp"
#include "support/wavbytes.hpp"

namespace {

using testsupport::RunResult;
using testsupport::runTool;
using testsupport::splitLines;

const std::vector<std::uint8_t> kMessage = fsksynth::sdmfMessage("01011200", "0123456789");

// Silence, one burst of the message, silence. Returns the burst's first sample.
int burstRecording(fsksynth::Modulator& m) {
    fsksynth::appendSilence(m, m.rate / 2);
    const int start = static_cast<int>(m.samples.size());
    fsksynth::appendBurst(m, kMessage);
    fsksynth::appendSilence(m, m.rate / 2);
    return start;
}

long fieldOf(const std::string& line, int which) {
    long ms = -1;
    long index = -1;
    const auto open = line.find('[');
    if (open == std::string::npos || std::sscanf(line.c_str() + open, "[%ld %ld]", &ms, &index) != 2) return -1;
    return which == 0 ? ms : index;
}

// The lines of one decoded burst, with the positions checked loosely.
void expectBurst(const std::vector<std::string>& lines, std::size_t at, const std::vector<std::uint8_t>& message,
                 const std::string& where) {
    ASSERT_GE(lines.size(), at + 9) << where;
    EXPECT_EQ(lines[at].rfind("detected [", 0), 0u) << where;
    EXPECT_EQ(lines[at + 1], "Mark at least 55ms has found.") << where;
    const auto expected = splitLines(fsksynth::sdmfReportLines(message));
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[at + 2 + i], expected[i]) << where;
    EXPECT_EQ(lines[at + 8].rfind("terminated [", 0), 0u) << where;
}

struct ProbeRun {
    testsupport::TempDir dir;
    RunResult result;
    std::string report;
    bool reportExists = false;

    void go(const std::vector<std::string>& args) {
        result = runTool("cidprobe", args);
        reportExists = testsupport::fileExists(dir.file("out.txt"));
        report = testsupport::readFile(dir.file("out.txt"));
    }
    void recordAndGo(const fsksynth::Modulator& m, int bits = 16, std::vector<std::string> extra = {}) {
        ASSERT_TRUE(fsksynth::writeWav(dir.file("in.wav"), m.rate, bits, m.samples));
        std::vector<std::string> args{dir.file("in.wav"), dir.file("out.txt")};
        args.insert(args.end(), extra.begin(), extra.end());
        go(args);
    }
};

TEST(EndToEnd, DecodesAtEveryRateDepthAndLevel) {
    for (const int rate : {8000, 11025, 16000, 22050, 44100, 48000, 96000}) {
        for (const int bits : {8, 16}) {
            for (const double amplitude : {1500.0, 8000.0, 30000.0}) {
                fsksynth::Modulator m;
                m.rate = rate;
                m.amplitude = amplitude;
                const int start = burstRecording(m);
                ProbeRun run;
                run.recordAndGo(m, bits);
                const std::string where = std::to_string(rate) + " Hz, " + std::to_string(bits) + " bits, amplitude " +
                                          std::to_string(amplitude);
                ASSERT_EQ(run.result.status, 0) << where << run.result.err;
                const auto lines = splitLines(run.report);
                EXPECT_EQ(lines.size(), 9u) << where << "\n" << run.report;
                expectBurst(lines, 0, kMessage, where);
                const long detected = fieldOf(lines[0], 1);
                // The block filter spreads a strong tone's onset a little ahead of it.
                EXPECT_GE(detected, start - rate / 20) << where;
                EXPECT_LE(detected, start + rate / 50) << where;
                EXPECT_EQ(fieldOf(lines[0], 0), static_cast<long>(static_cast<double>(detected) * 1000.0 / rate)) << where;
                EXPECT_EQ(run.result.err, "input  filename=" + run.dir.file("in.wav") + "\noutput filename=" +
                                              run.dir.file("out.txt") + "\nSensitivity=80\n");
                EXPECT_EQ(run.result.out, "");
            }
        }
    }
}

TEST(EndToEnd, TwoBurstsGiveTwoBlocks) {
    fsksynth::Modulator m;
    burstRecording(m);
    const auto second = fsksynth::sdmfMessage("12251030", "5551234");
    fsksynth::appendBurst(m, second);
    fsksynth::appendSilence(m, 4000);
    ProbeRun run;
    run.recordAndGo(m);
    const auto lines = splitLines(run.report);
    ASSERT_EQ(lines.size(), 18u) << run.report;
    expectBurst(lines, 0, kMessage, "first");
    expectBurst(lines, 9, second, "second");
}

TEST(EndToEnd, BurstCutOffByTheEndOfTheFile) {
    fsksynth::Modulator m;
    fsksynth::appendSilence(m, 4000);
    fsksynth::appendBits(m, 1, 180);
    for (int i = 0; i < 10; ++i) fsksynth::appendByte(m, kMessage[static_cast<std::size_t>(i)]);
    ProbeRun run;
    run.recordAndGo(m);
    const auto lines = splitLines(run.report);
    ASSERT_GE(lines.size(), 3u);
    const long n = static_cast<long>(m.samples.size());
    EXPECT_EQ(lines.back(), "terminated [" + std::to_string(n * 1000 / 8000) + " " + std::to_string(n) + "]");
    EXPECT_EQ(lines[2], "04 [SDMF header]");
}

TEST(EndToEnd, PlaceholderDataSizeStopsAtTheRealEnd) {
    fsksynth::Modulator m;
    fsksynth::appendSilence(m, 4000);
    fsksynth::appendBits(m, 1, 180);
    for (int i = 0; i < 10; ++i) fsksynth::appendByte(m, kMessage[static_cast<std::size_t>(i)]);
    ProbeRun run;
    ASSERT_TRUE(fsksynth::writeWav(run.dir.file("in.wav"), m.rate, 16, m.samples));
    auto bytes = testsupport::readBytes(run.dir.file("in.wav"));
    for (std::size_t i = 40; i < 44; ++i) bytes[i] = 0xFF;  // a streaming recorder's size
    testsupport::writeBytes(run.dir.file("in.wav"), bytes);
    run.go({run.dir.file("in.wav"), run.dir.file("out.txt")});
    ASSERT_EQ(run.result.status, 0);
    const long n = static_cast<long>(m.samples.size());
    EXPECT_EQ(splitLines(run.report).back(),
              "terminated [" + std::to_string(n * 1000 / 8000) + " " + std::to_string(n) + "]");
}

// A stereo or 24/32-bit recording is analysed as the mix of its channels at
// 16 bits, over every frame, with frame positions: the same channel twice, or
// extra low-order bits, give the mono 16-bit report byte for byte; a burst on
// one channel only is found at half level. wavpeek's counts stay raw.
TEST(EndToEnd, StereoAndDeepRecordingsGiveTheMonoReport) {
    fsksynth::Modulator m;
    burstRecording(m);
    fsksynth::appendBurst(m, kMessage);
    fsksynth::appendSilence(m, 4000);
    ProbeRun mono;
    mono.recordAndGo(m);
    ASSERT_EQ(mono.result.status, 0);
    ASSERT_EQ(splitLines(mono.report).size(), 18u) << mono.report;

    // Each frame: for every channel, `low` filler bytes below the sample's
    // 16 bits (the second channel silent when `rightSilent`).
    const auto frames = [&m](std::uint32_t channels, std::uint32_t bits, bool rightSilent) {
        testsupport::Bytes data;
        for (const std::int16_t v : m.samples) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                const auto u = static_cast<std::uint16_t>(rightSilent && c == 1 ? 0 : v);
                for (std::uint32_t k = 16; k < bits; k += 8) data.push_back(0xA5);
                data.push_back(static_cast<std::uint8_t>(u & 0xFF));
                data.push_back(static_cast<std::uint8_t>(u >> 8));
            }
        }
        return testsupport::waveFile({.channels = channels, .bits = bits}, data);
    };
    struct Case {
        const char* name;
        std::uint32_t channels;
        std::uint32_t bits;
    };
    for (const Case c : {Case{"stereo 16", 2, 16}, Case{"mono 24", 1, 24}, Case{"stereo 32", 2, 32},
                         Case{"three channels 24", 3, 24}}) {
        ProbeRun run;
        testsupport::writeBytes(run.dir.file("in.wav"), frames(c.channels, c.bits, false));
        run.go({run.dir.file("in.wav"), run.dir.file("out.txt")});
        EXPECT_EQ(run.result.status, 0) << c.name;
        EXPECT_EQ(run.report, mono.report) << c.name;

        // wavpeek counts 16-bit words of the whole data, as it always has.
        const auto peek = runTool("wavpeek", {run.dir.file("in.wav")});
        const long words = static_cast<long>(m.samples.size() * c.channels * c.bits / 16);
        EXPECT_NE(peek.out.find("numberSamples(real)= " + std::string(10 - std::to_string(words).size(), ' ') +
                                std::to_string(words) + "\n"),
                  std::string::npos)
            << c.name << "\n" << peek.out;
    }
    // Burst on the left channel, the right one silent (sox remix 1 0).
    ProbeRun left;
    testsupport::writeBytes(left.dir.file("in.wav"), frames(2, 16, true));
    left.go({left.dir.file("in.wav"), left.dir.file("out.txt")});
    EXPECT_EQ(left.result.status, 0);
    const auto lines = splitLines(left.report);
    ASSERT_EQ(lines.size(), 18u) << left.report;
    expectBurst(lines, 0, kMessage, "left channel, first");
    expectBurst(lines, 9, kMessage, "left channel, second");
}

TEST(EndToEnd, IdleMarkBetweenBytesUpToTenBits) {
    // The stop bit and then 10 or 11 idle mark bits before the next start bit.
    for (const int markBits : {11, 12}) {
        fsksynth::Modulator m;
        fsksynth::appendSilence(m, 4000);
        fsksynth::appendBurst(m, kMessage, 180, 10, markBits);
        fsksynth::appendSilence(m, 4000);
        ProbeRun run;
        run.recordAndGo(m);
        const auto lines = splitLines(run.report);
        if (markBits == 11) {
            expectBurst(lines, 0, kMessage, "10 idle bits");
        } else {
            ASSERT_EQ(lines.size(), 4u) << run.report;
            EXPECT_EQ(lines[2], "04 [SDMF header]");
            EXPECT_EQ(lines[3].rfind("terminated [", 0), 0u);
        }
    }
}

TEST(EndToEnd, SettingsFile) {
    struct Case {
        std::string settings;
        int shown;
    };
    for (const Case& c : {Case{"Sensitivity 65\n", 65}, Case{"Sensitivity=65\n", 80}, Case{"/Sensitivity 65\n", 80},
                          Case{" Sensitivity 65\n", 80}, Case{"Sensitivity 40\nSensitivity 70\n", 70}}) {
        fsksynth::Modulator m;
        burstRecording(m);
        ProbeRun run;
        testsupport::writeFile(run.dir.file("fsk.ini"), c.settings);
        run.recordAndGo(m, 16, {run.dir.file("fsk.ini")});
        EXPECT_EQ(run.result.status, 0) << c.settings;
        EXPECT_EQ(splitLines(run.result.err).back(), "Sensitivity=" + std::to_string(c.shown)) << c.settings;
        EXPECT_EQ(splitLines(run.report).size(), 9u) << c.settings;
    }
}

TEST(EndToEnd, SensitivityOutOfRange) {
    fsksynth::Modulator m;
    burstRecording(m);
    ProbeRun run;
    testsupport::writeFile(run.dir.file("fsk.ini"), "Sensitivity 120\n");
    run.recordAndGo(m, 16, {run.dir.file("fsk.ini")});
    EXPECT_EQ(run.result.status, 1);
    const auto err = splitLines(run.result.err);
    ASSERT_EQ(err.size(), 4u);
    EXPECT_EQ(err[2], "Sensitivity=120");
    EXPECT_EQ(err[3], "error .... sensitivity : out of range");
    EXPECT_FALSE(run.reportExists);
}

TEST(EndToEnd, MissingSettingsFileAndExtraNames) {
    fsksynth::Modulator m;
    burstRecording(m);
    ProbeRun missing;
    missing.recordAndGo(m, 16, {missing.dir.file("none.ini")});
    EXPECT_EQ(missing.result.status, 0);
    EXPECT_EQ(splitLines(missing.result.err)[2], "error .... can't open text file[" + missing.dir.file("none.ini") + "]");
    EXPECT_EQ(splitLines(missing.result.err)[3], "Sensitivity=80");

    ProbeRun four;
    testsupport::writeFile(four.dir.file("fsk.ini"), "Sensitivity 120\n");
    four.recordAndGo(m, 16, {four.dir.file("fsk.ini"), "extra"});
    EXPECT_EQ(four.result.status, 0);
    EXPECT_EQ(splitLines(four.result.err).back(), "Sensitivity=80");
    EXPECT_EQ(splitLines(four.report).size(), 9u);
}

TEST(EndToEnd, UsageWithFewerThanTwoNames) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"in.wav"}}) {
        const RunResult r = runTool("cidprobe", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, ">cidprobe fsk.wav fsk.txt fsk.ini\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(EndToEnd, UnusableRecordingLeavesNoReport) {
    ProbeRun missing;
    missing.go({missing.dir.file("none.wav"), missing.dir.file("out.txt")});
    EXPECT_EQ(missing.result.status, 1);
    EXPECT_EQ(missing.result.out, "can't open normal wave file\n");
    EXPECT_FALSE(missing.reportExists);

    ProbeRun garbage;
    testsupport::writeFile(garbage.dir.file("in.wav"), "RIFF....WAVEjunk");
    garbage.go({garbage.dir.file("in.wav"), garbage.dir.file("out.txt")});
    EXPECT_EQ(garbage.result.status, 1);
    EXPECT_EQ(garbage.result.out, "can't open normal wave file\n");
    EXPECT_FALSE(garbage.reportExists);
}

TEST(EndToEnd, RatesOutsideTheSupportedRangeAreRefused) {
    for (const int rate : {0, 1999, 384001, 2000000}) {
        ProbeRun run;
        fsksynth::Modulator m;
        m.rate = 8000;
        fsksynth::appendSilence(m, 3000);
        ASSERT_TRUE(fsksynth::writeWav(run.dir.file("in.wav"), rate, 16, m.samples));
        run.go({run.dir.file("in.wav"), run.dir.file("out.txt")});
        EXPECT_EQ(run.result.status, 1) << rate;
        EXPECT_EQ(run.result.out, "can't open normal wave file\n") << rate;
        EXPECT_FALSE(run.reportExists) << rate;
    }
    for (const int rate : {2000, 384000}) {
        fsksynth::Modulator m;
        m.rate = rate;
        m.amplitude = 8000;
        burstRecording(m);
        ProbeRun run;
        run.recordAndGo(m);
        EXPECT_EQ(run.result.status, 0) << rate;
        EXPECT_TRUE(run.reportExists) << rate;
        if (rate == 384000) {
            EXPECT_EQ(splitLines(run.report).size(), 9u) << run.report;
        }
    }
}

TEST(EndToEnd, ReportThatCannotBeWritten) {
    fsksynth::Modulator m;
    burstRecording(m);
    testsupport::TempDir dir;
    ASSERT_TRUE(fsksynth::writeWav(dir.file("in.wav"), m.rate, 16, m.samples));
    const RunResult full = runTool("cidprobe", {dir.file("in.wav"), "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(splitLines(full.err).back(), "error .... can't write text file[/dev/full]");
    const RunResult noDir = runTool("cidprobe", {dir.file("in.wav"), dir.file("no/such.txt")});
    EXPECT_EQ(noDir.status, 1);
    EXPECT_EQ(splitLines(noDir.err).back(), "error .... can't open text file[" + dir.file("no/such.txt") + "]");
}

}  // namespace

// "-" reads the recording or the settings from standard input and writes
// the report to standard output, for both detectors. --help and --version
// exit 0.
TEST(EndToEnd, StandardStreamsHelpAndVersion) {
    fsksynth::Modulator m;
    burstRecording(m);
    for (const std::string detector : {"cidprobe", "cidprobe-ntt"}) {
        ProbeRun file;
        file.recordAndGo(m);
        const auto fromFile = runTool(detector, {file.dir.file("in.wav"), file.dir.file("out.txt")});
        ASSERT_EQ(fromFile.status, 0);
        const std::string report = testsupport::readFile(file.dir.file("out.txt"));
        const std::string wav = testsupport::readFile(file.dir.file("in.wav"));

        const auto piped = runTool(detector, {"-", "-"}, wav);
        EXPECT_EQ(piped.status, 0) << detector;
        EXPECT_EQ(piped.out, report) << detector;
        EXPECT_EQ(piped.err, "input  filename=-\noutput filename=-\nSensitivity=80\n") << detector;

        const auto settings = runTool(detector, {file.dir.file("in.wav"), "-", "-"}, "Sensitivity 0\n");
        EXPECT_EQ(settings.status, 0) << detector;
        EXPECT_NE(settings.err.find("Sensitivity=0\n"), std::string::npos) << detector << settings.err;

        const auto help = runTool(detector, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("usage: " + detector + " ", 0), 0u);
        const auto version = runTool(detector, {"--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, detector + " (sigtools) " SIGTOOLS_TEST_VERSION "\n");
    }
}
