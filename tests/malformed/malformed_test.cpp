// Hostile input for all five programs: broken and odd WAV files, unusable
// input and output paths, full devices and data files with long lines, NUL
// bytes, invalid Shift-JIS and out-of-range numbers. Each case states the
// message and exit status it must give; no program may report success after a
// write that failed.
#include "support/testsupport.hpp"
#include "support/wavbytes.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

using testsupport::Bytes;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::runTool;
using testsupport::TempDir;
using testsupport::writeBytes;
using testsupport::writeFile;

namespace {

const std::string kCantOpenWave = "can't open normal wave file\n";
const std::string kCantCreate = "can't open the file to write\n";
const std::vector<std::string> kDetectors{"cidprobe", "cidprobe-ntt"};

std::string malformedFile(const std::string& name) { return testsupport::sourcePath("tests/malformed/files/" + name); }

// The console lines a detector prints on standard error before its run.
std::string detectorHead(const std::string& input, const std::string& report, int sensitivity = 80) {
    return "input  filename=" + input + "\noutput filename=" + report + "\nSensitivity=" +
           std::to_string(sensitivity) + "\n";
}

bool runningAsRoot() { return ::geteuid() == 0; }

// 100 samples of a 16-bit 8000 Hz mono file: a 44-byte header and 200 bytes.
Bytes goodWave() {
    Bytes data;
    for (int i = 0; i < 200; ++i) data.push_back(static_cast<std::uint8_t>(i * 7));
    return testsupport::waveFile(testsupport::FmtFields{}, data);
}

// A caller-ID burst written by cidforge: "us" (SDMF) or "ntt", 8 or 16 bits.
Bytes burst(const TempDir& dir, const std::string& format, int bits) {
    const std::string data = dir.file("burst-" + format + ".txt");
    const std::string wave = dir.file("burst-" + format + ".wav");
    writeFile(data, "SamplingFrequency 8000\nQuantizationBitLength " + std::to_string(bits) +
                        "\nAmplitude 50\nLeaderDuration 100\nHeaderDuration 100\nFooterDuration 20\n"
                        "DirectoryNumber 0123456789\nDateTime 12251030\n");
    std::vector<std::string> args{data, wave};
    if (format == "us") args.push_back("-USA");
    const auto r = runTool("cidforge", args);
    EXPECT_EQ(r.status, 0) << r.out;
    return testsupport::readBytes(wave);
}

// The run of a detector on a recording it can't use: the message on standard
// output, status 1, no report, and after the console lines one line on
// standard error that tells why (`reason`).
void expectUnusableRecording(const std::string& detector, const std::string& input, const std::string& what,
                             const std::string& reason) {
    TempDir out;
    const std::string report = out.file("report.txt");
    const auto r = runTool(detector, {input, report});
    EXPECT_EQ(r.status, 1) << detector << ": " << what;
    EXPECT_EQ(r.out, kCantOpenWave) << detector << ": " << what;
    EXPECT_EQ(r.err, detectorHead(input, report) + reason) << detector << ": " << what;
    EXPECT_FALSE(fileExists(report)) << detector << ": " << what;
}

// wavpeek and both detectors refuse the file with the same one-line reason,
// which is returned.
std::string expectUnusableEverywhere(const std::string& input, const std::string& what) {
    const auto peek = runTool("wavpeek", {input});
    EXPECT_EQ(peek.status, 1) << "wavpeek: " << what;
    EXPECT_EQ(peek.out, kCantOpenWave) << "wavpeek: " << what;
    EXPECT_TRUE(peek.err.starts_with("reason: ") && peek.err.find('\n') == peek.err.size() - 1)
        << "wavpeek: " << what << ": " << peek.err;
    for (const auto& detector : kDetectors) expectUnusableRecording(detector, input, what, peek.err);
    return peek.err;
}

// wavpeek's line for one header field, as it prints it.
std::string peekLine(const std::string& label, long value) {
    char line[64];
    std::snprintf(line, sizeof line, "%-19s= %10ld\n", label.c_str(), value);
    return line;
}

}  // namespace

// ---- recordings that are no usable WAV file ------------------------------

TEST(MalformedWave, HeaderCutAtEveryOffset) {
    TempDir dir;
    const Bytes good = goodWave();
    for (std::size_t cut = 0; cut < 44; ++cut) {
        const std::string path = dir.file("cut" + std::to_string(cut) + ".wav");
        writeBytes(path, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
        expectUnusableEverywhere(path, "header cut after " + std::to_string(cut) + " bytes");
    }

    // The whole header and no sample: a usable file that holds nothing.
    const std::string path = dir.file("cut44.wav");
    writeBytes(path, Bytes(good.begin(), good.begin() + 44));
    const auto peek = runTool("wavpeek", {path});
    EXPECT_EQ(peek.status, 0);
    EXPECT_NE(peek.out.find("numberSamples(calc)=        100\nnumberSamples(real)=          0\n"), std::string::npos)
        << peek.out;
    for (const auto& detector : kDetectors) {
        const std::string report = dir.file(detector + ".txt");
        const auto r = runTool(detector, {path, report});
        EXPECT_EQ(r.status, 0) << detector;
        EXPECT_EQ(r.out, "") << detector;
        EXPECT_EQ(readFile(report), "") << detector;
    }
}

TEST(MalformedWave, UnusableHeadersAndFiles) {
    TempDir dir;
    Bytes data(200, 0x11);
    struct Case {
        std::string name;
        Bytes bytes;
        std::string reason;  // what the reason line must say
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, "the file ends inside its header"});
    cases.push_back({"one byte", {'R'}, "the file ends inside its header"});
    testsupport::FmtFields f;
    f.blocksize = 0;
    cases.push_back({"blocksize 0", testsupport::waveFile(f, data), "0 bytes per frame"});
    f = {};
    f.channels = 0;  // blocksize (16 / 8) * 0 = 0 as well
    cases.push_back({"0 channels, blocksize 0", testsupport::waveFile(f, data), "0 bytes per frame"});
    f = {};
    f.format = 3;
    cases.push_back({"format 3", testsupport::waveFile(f, data), "format code 3 (0x0003), only 1 (integer PCM) is read; convert it: sox in.wav -e signed-integer -b 16 out.wav"});
    f = {};
    f.bits = 8;
    cases.push_back({"data size below one frame", testsupport::waveFile(f, {}, 0), "data size 0 is less than one frame (a recorder that stopped before writing it?); convert it: sox --ignore-length in.wav out.wav"});
    {
        // A format block claiming 2 GiB: the skip runs past the end.
        Bytes b = testsupport::wavePrefix({});
        b[16] = 0xFF, b[17] = 0xFF, b[18] = 0xFF, b[19] = 0x7F;
        testsupport::appendChunk(b, "data", data);
        cases.push_back({"huge format block", b, "the file ends inside its header"});
    }
    {
        // A fact chunk of 2 GiB: "data" would lie beyond the end of the file.
        Bytes b = testsupport::wavePrefix({});
        testsupport::appendTag(b, "fact");
        testsupport::appendLe32(b, 0x7FFFFFF0u);
        testsupport::appendLe32(b, 1000);
        testsupport::appendChunk(b, "data", data);
        cases.push_back({"fact chunk past the end", b, "the file ends inside its header"});
    }
    {
        Bytes b = testsupport::wavePrefix({});
        testsupport::appendTag(b, "fact");
        testsupport::appendLe32(b, 4);
        testsupport::appendLe16(b, 0);
        cases.push_back({"fact chunk cut short", b, "the file ends inside its header"});
    }
    {
        Bytes b = testsupport::wavePrefix({});
        testsupport::appendChunk(b, "LIST", Bytes(8, 'x'));
        testsupport::appendChunk(b, "data", data);
        cases.push_back({"list chunk before the data", b, "a \"LIST\" chunk stands between the format chunk and the data; convert it: sox in.wav out.wav"});
    }
    {
        Bytes b = goodWave();
        b[8] = 'w';
        cases.push_back({"wave in lower case", b, "not a RIFF WAVE file"});
    }
    for (const Case& c : cases) {
        const std::string path = dir.file("case.wav");
        writeBytes(path, c.bytes);
        EXPECT_NE(expectUnusableEverywhere(path, c.name).find(c.reason), std::string::npos) << c.name;
    }

    EXPECT_EQ(expectUnusableEverywhere(dir.file("missing.wav"), "missing file"),
              "reason: the file can't be opened: No such file or directory\n");
    const std::string folder = dir.file("folder.wav");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(expectUnusableEverywhere(folder, "a directory"), "reason: the file can't be read: Is a directory\n");

    // A sampling rate the detectors can't filter for; wavpeek shows it.
    f = {};
    f.rate = 0;
    const std::string rate0 = dir.file("rate0.wav");
    writeBytes(rate0, testsupport::waveFile(f, data));
    for (const auto& detector : kDetectors) {
        expectUnusableRecording(detector, rate0, "sampling rate 0",
                                "reason: sampling frequency 0 Hz is outside 2000 to 384000 Hz; "
                                "convert it: sox in.wav -r 8000 out.wav\n");
    }
    EXPECT_EQ(runTool("wavpeek", {rate0}).status, 0);
}

TEST(MalformedWave, UnreadableFile) {
    if (runningAsRoot()) GTEST_SKIP() << "root reads files whatever their permissions";
    TempDir dir;
    const std::string path = dir.file("locked.wav");
    writeBytes(path, goodWave());
    std::filesystem::permissions(path, std::filesystem::perms::none);
    expectUnusableEverywhere(path, "unreadable file");
}

// ---- odd headers that are read all the same --------------------------------

TEST(MalformedWave, OddHeadersAreRead) {
    TempDir dir;
    const Bytes data(240, 0x40);
    struct Case {
        std::string name;
        testsupport::FmtFields fmt;
        std::uint32_t dataSize;
        std::vector<std::string> expectedLines;  // wavpeek lines that must appear
    };
    testsupport::FmtFields zeroChannels;
    zeroChannels.channels = 0;
    zeroChannels.blocksize = 2;
    testsupport::FmtFields bits24;
    bits24.bits = 24;
    testsupport::FmtFields bits32;
    bits32.bits = 32;
    testsupport::FmtFields stereo;
    stereo.channels = 2;
    const std::vector<Case> cases{
        {"0 channels, blocksize 2", zeroChannels, 240,
         {peekLine("number_of_channels", 0), peekLine("numberSamples(calc)", 120),
          peekLine("numberSamples(real)", 120)}},
        {"24-bit samples", bits24, 240,
         {peekLine("blocksize", 3), peekLine("num_bits_sample", 24), peekLine("numberSamples(calc)", 80),
          peekLine("numberSamples(real)", 120)}},
        {"32-bit samples", bits32, 240,
         {peekLine("blocksize", 4), peekLine("num_bits_sample", 32), peekLine("numberSamples(calc)", 60),
          peekLine("numberSamples(real)", 120)}},
        {"stereo", stereo, 240, {peekLine("numberSamples(calc)", 60), peekLine("numberSamples(real)", 120)}},
        {"data size 0xFFFFFFFF", {}, 0xFFFFFFFFu,
         {peekLine("binarydatasize", -1), peekLine("numberSamples(calc)", 2147483647),
          peekLine("numberSamples(real)", 120)}},
        {"data size 0x80000000", {}, 0x80000000u,
         {peekLine("binarydatasize", -2147483647L - 1), peekLine("numberSamples(calc)", 1073741824),
          peekLine("numberSamples(real)", 120)}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("odd.wav");
        writeBytes(path, testsupport::waveFile(c.fmt, data, c.dataSize));
        const auto peek = runTool("wavpeek", {path});
        EXPECT_EQ(peek.status, 0) << c.name;
        for (const auto& line : c.expectedLines) EXPECT_NE(peek.out.find(line), std::string::npos) << c.name << "\n" << line << peek.out;
        for (const auto& detector : kDetectors) {
            const std::string report = dir.file("report.txt");
            const auto r = runTool(detector, {path, report});
            EXPECT_EQ(r.status, 0) << detector << ": " << c.name;
            EXPECT_EQ(r.out, "") << detector << ": " << c.name;
            EXPECT_TRUE(fileExists(report)) << detector << ": " << c.name;
        }
    }

    // A RIFF size of 0xFFFFFFFF and a format block size that reads as
    // negative (no extension is skipped) change nothing.
    Bytes b = goodWave();
    b[4] = b[5] = b[6] = b[7] = 0xFF;
    const std::string riff = dir.file("riff.wav");
    writeBytes(riff, b);
    const auto peek = runTool("wavpeek", {riff});
    EXPECT_EQ(peek.status, 0);
    EXPECT_NE(peek.out.find(peekLine("filesize-8", -1)), std::string::npos) << peek.out;
    b[16] = b[17] = b[18] = b[19] = 0xFF;
    writeBytes(riff, b);
    EXPECT_EQ(runTool("wavpeek", {riff}).status, 0);
}

// A streaming recorder's placeholder size: the detector stops at the end of
// the real data at once and closes the burst that the end cut off.
TEST(MalformedWave, OpenDataSizeEndsAtTheRealData) {
    TempDir dir;
    for (const int bits : {8, 16}) {
        for (const auto& [detector, format] : {std::pair<std::string, std::string>{"cidprobe", "us"},
                                               std::pair<std::string, std::string>{"cidprobe-ntt", "ntt"}}) {
            Bytes b = burst(dir, format, bits);
            ASSERT_GT(b.size(), 44u);
            // Keep the header and the first 350 ms: leader, mark and part of the message.
            const std::size_t samples = 8000 * 350 / 1000;
            b.resize(44 + samples * static_cast<std::size_t>(bits / 8));
            b[40] = b[41] = b[42] = b[43] = 0xFF;
            const std::string path = dir.file("open.wav");
            const std::string report = dir.file("open.txt");
            writeBytes(path, b);

            const auto start = std::chrono::steady_clock::now();
            const auto r = runTool(detector, {path, report});
            const auto seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_EQ(r.status, 0) << detector << " " << bits;
            EXPECT_LT(seconds, 10.0) << detector << " spun past the end of the data";
            const std::string text = readFile(report);
            EXPECT_NE(text.find("Mark at least 55ms has found.\n"), std::string::npos) << text;
            const std::string last = "terminated [350 " + std::to_string(samples) + "]\n";
            ASSERT_GE(text.size(), last.size()) << text;
            EXPECT_EQ(text.substr(text.size() - last.size()), last) << detector << " " << bits << "\n" << text;
        }
    }
}

// ---- outputs and reports that can't be written ----------------------------

TEST(MalformedOutput, DetectorReports) {
    TempDir dir;
    const std::string us = dir.file("us.wav");
    const std::string ntt = dir.file("ntt.wav");
    writeBytes(us, burst(dir, "us", 8));
    writeBytes(ntt, burst(dir, "ntt", 8));
    const std::string folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    for (const auto& [detector, input] :
         {std::pair<std::string, std::string>{"cidprobe", us}, std::pair<std::string, std::string>{"cidprobe-ntt", ntt}}) {
        for (const std::string& report : {dir.file("missing/report.txt"), folder}) {
            const auto r = runTool(detector, {input, report});
            EXPECT_EQ(r.status, 1) << detector << " " << report;
            EXPECT_EQ(r.out, "") << detector;
            EXPECT_EQ(r.err, detectorHead(input, report) + "error .... can't open text file[" + report + "]\n");
        }
        // The report opens but no line reaches it.
        const auto full = runTool(detector, {input, "/dev/full"});
        EXPECT_EQ(full.status, 1) << detector;
        EXPECT_EQ(full.err, detectorHead(input, "/dev/full") + "error .... can't write text file[/dev/full]\n");

        // A settings file that can't be read leaves the default and the run goes on.
        const std::string missing = dir.file("missing.ini");
        const auto noSettings = runTool(detector, {input, dir.file("r.txt"), missing});
        EXPECT_EQ(noSettings.status, 0) << detector;
        EXPECT_EQ(noSettings.err, "input  filename=" + input + "\noutput filename=" + dir.file("r.txt") +
                                      "\nerror .... can't open text file[" + missing + "]\nSensitivity=80\n");
        const auto folderSettings = runTool(detector, {input, dir.file("r.txt"), folder});
        EXPECT_EQ(folderSettings.status, 0) << detector;
        EXPECT_EQ(folderSettings.err, detectorHead(input, dir.file("r.txt")));
    }
}

TEST(MalformedOutput, ReadOnlyDirectory) {
    if (runningAsRoot()) GTEST_SKIP() << "root writes into read-only directories";
    TempDir dir;
    const std::string input = dir.file("us.wav");
    writeBytes(input, burst(dir, "us", 8));
    const std::string locked = dir.file("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const std::string report = locked + "/report.txt";
    for (const auto& detector : kDetectors) {
        const auto r = runTool(detector, {input, report});
        EXPECT_EQ(r.status, 1) << detector;
        EXPECT_EQ(r.err, detectorHead(input, report) + "error .... can't open text file[" + report + "]\n");
    }
    const auto forge = runTool("cidforge", {testsupport::sourcePath("examples/fskusa.txt"), locked + "/a.wav", "-USA"});
    EXPECT_EQ(forge.status, 1);
    EXPECT_EQ(forge.out, "0123456789\n12251030\n" + kCantCreate);
    const auto pad = runTool("padtoner", {testsupport::sourcePath("examples/dtmf.txt"), locked + "/a.wav"});
    EXPECT_EQ(pad.status, 1);
    EXPECT_TRUE(pad.out.ends_with(kCantCreate)) << pad.out;
}

// An output that names one of the inputs, however spelt (the same name, a
// "./" path, a hard link, "-" with standard input on the file), is refused
// before anything is written: one line naming both, status 1, every file
// as it was.
TEST(MalformedOutput, OutputThatIsAnInput) {
    TempDir dir;
    const std::string wav = dir.file("rec.wav");
    const std::string ini = dir.file("settings.ini");
    const std::string data = dir.file("data.txt");
    const std::string dtmf = dir.file("dtmf.txt");
    writeBytes(wav, goodWave());
    writeFile(ini, "Sensitivity 50\n");
    writeFile(data, "SamplingFrequency 8000\nAmplitude 50\nLeaderDuration 10\nDirectoryNumber 012\n");
    writeFile(dtmf, readFile(testsupport::sourcePath("examples/dtmf.txt")));
    ASSERT_EQ(::link(wav.c_str(), dir.file("link.wav").c_str()), 0);
    const Bytes wavBefore = testsupport::readBytes(wav);

    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string input;   // the argument named as the input in the message
        std::string output;  // the argument named as the output
        std::string stdinFile = "";
    };
    const std::string dotWav = dir.path() + "/./rec.wav";
    std::vector<Case> cases;
    for (const auto& detector : kDetectors) {
        cases.push_back({detector, {wav, wav}, wav, wav});
        cases.push_back({detector, {wav, dotWav}, wav, dotWav});
        cases.push_back({detector, {wav, dir.file("link.wav")}, wav, dir.file("link.wav")});
        cases.push_back({detector, {wav, ini, ini}, ini, ini});
        cases.push_back({detector, {"-", wav}, "-", wav, wav});
    }
    cases.push_back({"cidforge", {data, data}, data, data});
    cases.push_back({"cidforge", {data, dir.path() + "/./data.txt", "-USA"}, data, dir.path() + "/./data.txt"});
    cases.push_back({"padtoner", {dtmf, dtmf}, dtmf, dtmf});
    for (const Case& c : cases) {
        const std::string what = c.program + " " + c.args[0] + " " + c.args[1];
        // "-" reads the file itself on standard input.
        const auto r = c.stdinFile.empty()
                           ? runTool(c.program, c.args)
                           : testsupport::run("/bin/sh", {"-c", "\"$0\" - \"$1\" < \"$1\"",
                                                          testsupport::programPath(c.program), c.stdinFile});
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.err, "error .... output file[" + c.output + "] is the input file[" + c.input + "]\n") << what;
        EXPECT_EQ(testsupport::readBytes(wav), wavBefore) << what;
        EXPECT_EQ(readFile(ini), "Sensitivity 50\n") << what;
        EXPECT_EQ(readFile(dtmf), readFile(testsupport::sourcePath("examples/dtmf.txt"))) << what;
        EXPECT_NE(readFile(data).find("DirectoryNumber 012"), std::string::npos) << what;
    }
}

TEST(MalformedOutput, GeneratorOutputs) {
    TempDir dir;
    const std::string usData = testsupport::sourcePath("examples/fskusa.txt");
    const std::string dtmfData = testsupport::sourcePath("examples/dtmf.txt");
    const std::string folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    for (const std::string& out : {dir.file("missing/a.wav"), folder}) {
        const auto forge = runTool("cidforge", {usData, out, "-USA"});
        EXPECT_EQ(forge.status, 1) << out;
        EXPECT_EQ(forge.out, "0123456789\n12251030\n" + kCantCreate);
        const auto pad = runTool("padtoner", {dtmfData, out});
        EXPECT_EQ(pad.status, 1) << out;
        EXPECT_TRUE(pad.out.ends_with("DTMFData=              0550123456\n" + kCantCreate)) << pad.out;
    }
    EXPECT_FALSE(fileExists(dir.file("missing")));

    // Created, but not one block can be written: a failure, and the device stays.
    const auto forge = runTool("cidforge", {usData, "/dev/full", "-USA"});
    EXPECT_EQ(forge.status, 1);
    EXPECT_EQ(forge.out, "0123456789\n12251030\nerror .... can't write the wave file\n");
    const auto pad = runTool("padtoner", {dtmfData, "/dev/full"});
    EXPECT_EQ(pad.status, 255);
    EXPECT_TRUE(pad.out.ends_with("can't write the file [/dev/full]\n")) << pad.out;
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));

    // Data files that can't be read.
    for (const std::string& data : {dir.file("missing.txt"), folder}) {
        const auto f = runTool("cidforge", {data, dir.file("a.wav")});
        EXPECT_EQ(f.status, 1);
        EXPECT_EQ(f.out, "can't open data text file\n");
        const auto p = runTool("padtoner", {data, dir.file("a.wav")});
        EXPECT_EQ(p.status, 1);
        EXPECT_TRUE(p.out.ends_with("can't open data text file [" + data + "]\n")) << p.out;
        EXPECT_FALSE(fileExists(dir.file("a.wav")));
    }
}

// ---- hostile data and settings files ---------------------------------------

TEST(MalformedData, CidforgeRefusals) {
    TempDir dir;
    const std::string longNumber = dir.file("long-number.txt");
    writeFile(longNumber, "DirectoryNumber " + std::string(10000, '7') + "\n");
    const std::string longName = dir.file("long-name.txt");
    writeFile(longName, "IDName \"" + std::string(10000, '\x88') + "\"\n");
    struct Case {
        std::string data;
        std::vector<std::string> options;
        std::string message;
    };
    const std::vector<Case> cases{
        {longNumber, {}, "error .... DirectoryNumber is longer than 63 bytes\n"},
        {longNumber, {"-USA"}, "error .... DirectoryNumber is longer than 63 bytes\n"},
        {longName, {}, "error .... IDName is longer than 63 bytes\n"},
        {malformedFile("cidforge-negative-rate.txt"), {}, "error .... SamplingFrequency must be above 0\n"},
        {malformedFile("cidforge-negative-bits.txt"), {}, "error .... QuantizationBitLength must be 8 or 16\n"},
        {malformedFile("cidforge-huge-rate.txt"), {}, "error .... SamplingFrequency is too high for 16-bit samples\n"},
        {malformedFile("cidforge-huge-duration.txt"), {"-USA"},
         "error .... the durations and SamplingFrequency give a signal too long for a WAV file\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{c.data, dir.file("a.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = runTool("cidforge", args);
        EXPECT_EQ(r.status, 1) << c.data;
        EXPECT_EQ(r.out, c.message) << c.data;
        EXPECT_FALSE(fileExists(dir.file("a.wav"))) << c.data;
    }
}

TEST(MalformedData, CidforgeOddValuesStillMakeADecodableBurst) {
    TempDir dir;
    const std::string sections = "Amplitude 50\nLeaderDuration 100\nHeaderDuration 100\nFooterDuration 20\n";
    struct Case {
        std::string file;
        std::string console;    // the number and name lines, bytes as read
        std::string reportHas;  // in cidprobe-ntt's report
    };
    const std::vector<Case> cases{
        // The line ends at its NUL byte, the quoted name as well.
        {"cidforge-nul.txt", "012\n\x88\x9f\n", "   012\n"},
        // Pairs that are no Shift-JIS character go out as they are.
        {"cidforge-bad-sjis.txt", "0123456789\n\xff\xfe\x81\x7f\xa0\xa1" "A\xfc\xfc\x80\n", "   0123456789\n"},
    };
    for (const Case& c : cases) {
        const std::string data = dir.file("data.txt");
        writeFile(data, readFile(malformedFile(c.file)) + sections);
        const std::string wave = dir.file("a.wav");
        const auto r = runTool("cidforge", {data, wave});
        EXPECT_EQ(r.status, 0) << c.file;
        EXPECT_EQ(r.out, c.console) << c.file;
        const std::string report = dir.file("a.txt");
        ASSERT_EQ(runTool("cidprobe-ntt", {wave, report}).status, 0) << c.file;
        const std::string text = readFile(report);
        EXPECT_NE(text.find(c.reportHas), std::string::npos) << c.file << "\n" << text;
        EXPECT_NE(text.find(" [CRC] "), std::string::npos) << c.file << "\n" << text;
        EXPECT_EQ(text.find("incorrect"), std::string::npos) << c.file << "\n" << text;
    }

    // Negative amplitudes and durations: an empty leader, header and footer.
    const auto r = runTool("cidforge", {malformedFile("cidforge-negative.txt"), dir.file("n.wav")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\n\n");
    EXPECT_TRUE(fileExists(dir.file("n.wav")));

    // A key in the second piece of an over-long line is taken; the pieces
    // of a long line without a key are ignored.
    const std::string pieces = dir.file("pieces.txt");
    writeFile(pieces, std::string(254, 'x') + "DirectoryNumber 42\n" + std::string(10000, 'y') + "\n");
    const auto p = runTool("cidforge", {pieces, dir.file("p.wav"), "-USA"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, "42\n\n");
}

TEST(MalformedData, PadtonerFiles) {
    TempDir dir;
    const std::string longSymbols = dir.file("long-symbols.txt");
    writeFile(longSymbols, "LeaderDuration 10\nToneDuration 10\nSilenceDuration 5\nDTMFData " +
                               std::string(10000, '1') + "\n");
    struct Case {
        std::string data;
        int status;
        std::vector<std::string> lines;  // on standard output
        bool fileWritten;
    };
    const std::vector<Case> cases{
        // The first 254 characters of the line: the key and 245 symbols.
        {longSymbols, 0, {"DTMFData=              " + std::string(245, '1') + "\n"}, true},
        // Each line ends at its NUL byte: the later DTMFData word "12" wins.
        {malformedFile("padtoner-nul.txt"), 0, {"NoiseAmplitude=        3\n", "DTMFData=              12\n"}, true},
        // Symbols outside the table are bursts of noise only.
        {malformedFile("padtoner-bad-sjis.txt"), 0, {"DTMFData=              \x88\x9f\xff\x81\n"}, true},
        {malformedFile("padtoner-negative-duration.txt"), 1, {"error .... LeaderDuration -5 must not be negative\n"},
         false},
        {malformedFile("padtoner-negative-rate.txt"), 1,
         {"error .... SamplingFrequency -2147483648 must be greater than 0\n"}, false},
        {malformedFile("padtoner-huge-duration.txt"), 1,
         {"error .... 17179885176 samples (17179885176 data bytes) are too many for a WAV file of at most "
          "2147483611 data bytes\n"},
         false},
        // Levels far beyond 100 percent saturate; a ramp longer than the tone is all rise.
        {malformedFile("padtoner-huge-levels.txt"), 0,
         {"Amplitude=             2147483647\n", "PNoiseAmplitude=       -2147483648\n",
          "RampDuration=          2147483647\n"},
         true},
    };
    for (const Case& c : cases) {
        const std::string wave = dir.file("a.wav");
        const auto r = runTool("padtoner", {c.data, wave});
        EXPECT_EQ(r.status, c.status) << c.data;
        for (const auto& line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << c.data << "\n" << r.out;
        EXPECT_EQ(fileExists(wave), c.fileWritten) << c.data;
        std::filesystem::remove(wave);
    }
}

TEST(MalformedData, DetectorSettings) {
    TempDir dir;
    const std::string us = dir.file("us.wav");
    const std::string ntt = dir.file("ntt.wav");
    writeBytes(us, burst(dir, "us", 16));
    writeBytes(ntt, burst(dir, "ntt", 16));
    const std::string longLine = dir.file("long.ini");
    writeFile(longLine, std::string(10000, 'S') + "\n");
    const std::string longKey = dir.file("long-key.ini");
    // The key opens the second 255-character piece of the line.
    writeFile(longKey, std::string(255, '-') + "Sensitivity 30\n");
    const std::string splitKey = dir.file("split-key.ini");
    // The key is cut in two by the end of the first piece: neither piece holds it.
    writeFile(splitKey, std::string(250, '-') + "Sensitivity 30\n");
    struct Case {
        std::string settings;
        int sensitivity;  // as printed
        bool inRange;
    };
    const std::vector<Case> cases{
        {malformedFile("settings-nul.ini"), 4, true},
        {malformedFile("settings-negative.ini"), -5, false},
        {malformedFile("settings-huge.ini"), 2147483647, false},
        {malformedFile("settings-huge-code.ini"), 60, true},
        {longLine, 80, true},
        {longKey, 30, true},
        {splitKey, 80, true},
    };
    for (const auto& [detector, input] :
         {std::pair<std::string, std::string>{"cidprobe", us}, std::pair<std::string, std::string>{"cidprobe-ntt", ntt}}) {
        for (const Case& c : cases) {
            const std::string report = dir.file("r.txt");
            std::filesystem::remove(report);
            const auto r = runTool(detector, {input, report, c.settings});
            EXPECT_EQ(r.status, c.inRange ? 0 : 1) << detector << " " << c.settings;
            std::string err = detectorHead(input, report, c.sensitivity);
            if (!c.inRange) err += "error .... sensitivity : out of range\n";
            EXPECT_EQ(r.err, err) << detector << " " << c.settings;
            EXPECT_EQ(fileExists(report), c.inRange) << detector << " " << c.settings;
        }
    }
}

// ---- inputs found by fuzzing -------------------------------------------------

// A tone and a gap of weeks but no symbol to send: the file holds only the
// leader and the trailer, and the sample buffer must not be sized for the
// tone (1.7e9 samples at 800 Hz) that is never written.
TEST(FuzzFindings, PadtonerLongToneWithoutSymbols) {
    TempDir dir;
    const std::string quiet = dir.file("quiet-gap.txt");
    writeFile(quiet, "SamplingFrequency 800\nLeaderDuration 1000\nSilenceDuration 2147483647\nDTMFData \"\"\n");
    struct Case {
        std::string data;
        std::string line;         // the echo line of the long section
        std::size_t fileSamples;  // leader and trailer
    };
    const std::vector<Case> cases{
        {malformedFile("padtoner-long-tone-no-symbols.txt"), "ToneDuration=          2147483647\n", 800 + 776},
        {quiet, "SilenceDuration=       2147483647\n", 800},
    };
    for (const Case& c : cases) {
        const std::string wave = dir.file("a.wav");
#if defined(__SANITIZE_ADDRESS__)
        const auto r = runTool("padtoner", {c.data, wave});
#else
        // 1 GB of address space: far less than the 3.4 GB such a buffer takes.
        const auto r = testsupport::run(
            "/bin/sh", {"-c", "ulimit -v 1000000; exec \"$0\" \"$@\"", testsupport::programPath("padtoner"), c.data, wave});
#endif
        EXPECT_EQ(r.status, 0) << c.data << "\n" << r.out;
        EXPECT_NE(r.out.find("SamplingFrequency=     800\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_TRUE(r.out.ends_with("DTMFData=              \n")) << r.out;
        EXPECT_EQ(testsupport::readBytes(wave).size(), 44 + c.fileSamples) << c.data;
    }
}
