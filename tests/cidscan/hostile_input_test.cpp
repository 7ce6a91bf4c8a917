// cidscan under hostile input: what reaches the terminal and the JSON from a
// line or a file name, inputs that are not what their header says or that
// arrive through a pipe, and messages that say what went wrong.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cidprobe/fsksynth.hpp"
#include "cidscan/escape.hpp"
#include "support/testsupport.hpp"
#include "support/wavbytes.hpp"

using testsupport::runTool;
using testsupport::TempDir;

namespace {

// A message of `type` with one parameter, checksum last (US MDMF and ETSI
// share the layout).
std::vector<std::uint8_t> oneParameter(std::uint8_t type, std::uint8_t param, const std::string& value) {
    std::vector<std::uint8_t> m{type, static_cast<std::uint8_t>(value.size() + 2), param,
                                static_cast<std::uint8_t>(value.size())};
    for (const char c : value) m.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (const std::uint8_t b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu));
    return m;
}

// A WAV file's bytes of one burst: Bell 202, or V.23 when `v23`.
testsupport::Bytes burstWav(const std::vector<std::uint8_t>& bytes, bool v23, std::uint32_t dataSize = 0xFFFFFFFFu) {
    fsksynth::Modulator mod;
    if (v23) mod.tones = fsksynth::Tones{1300.0, 2100.0, 1200.0};
    fsksynth::appendSilence(mod, 2000);
    fsksynth::appendBurst(mod, bytes, 180, 10, 1);
    fsksynth::appendSilence(mod, 2000);
    testsupport::Bytes pcm;
    for (const std::int16_t s : mod.samples) testsupport::appendLe16(pcm, static_cast<std::uint16_t>(s));
    const testsupport::FmtFields fmt;
    return dataSize == 0xFFFFFFFFu ? testsupport::waveFile(fmt, pcm) : testsupport::waveFile(fmt, pcm, dataSize);
}

std::string asString(const testsupport::Bytes& b) { return {b.begin(), b.end()}; }

// The value of `key` in cidscan's JSON line, as python3 reads it, in hex.
std::string jsonValueHex(const std::string& json, const std::string& path) {
    const std::string script = "import json,sys\no=json.loads(sys.stdin.readline())\nv=" + path +
                               "\nprint(v.encode('utf-8','surrogateescape').hex())";
    const testsupport::RunResult r = testsupport::run("/usr/bin/python3", {"-c", script}, json);
    EXPECT_EQ(r.status, 0) << r.err << json;
    return testsupport::splitLines(r.out).empty() ? "" : testsupport::splitLines(r.out)[0];
}

std::string hexOf(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const char c : s) {
        out += digits[static_cast<unsigned char>(c) >> 4U];
        out += digits[static_cast<unsigned char>(c) & 0x0FU];
    }
    return out;
}

}  // namespace

TEST(CidscanHostile, OneEscapingRuleForTerminalsAndJson) {
    using cidscan::terminalText;
    // Control characters as \xNN by their code, whether bytes or code points
    // (U+009B is C2 9B); stray bytes by their value; the rest as it is.
    EXPECT_EQ(terminalText(std::string("a\0b\x1b[2J\x7f\\", 9)), "a\\x00b\\x1b[2J\\x7f\\\\");
    EXPECT_EQ(terminalText("\xC2\x9B" "1m \xC3\xA9 \xE5\xB1\xB1"), "\\x9b1m \xC3\xA9 \xE5\xB1\xB1");
    EXPECT_EQ(terminalText("\x9B\xFF\xC3"), "\\x9b\\xff\\xc3");
    EXPECT_EQ(terminalText("\xC0\xAF \xED\xA0\x80"), "\\xc0\\xaf \\xed\\xa0\\x80");  // overlong, surrogate
    EXPECT_TRUE(cidscan::isUtf8("M\xC3\x9CLLER"));
    EXPECT_FALSE(cidscan::isUtf8("M\xDCLLER"));
    EXPECT_EQ(cidscan::escapeJsonControls("{\"a\":\"\x7f\xC2\x9B\xC2\xA0\"}"), "{\"a\":\"\\u007f\\u009b\xC2\xA0\"}");

    if (!testsupport::fileExists("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    const std::string name = std::string("A\x1b[2J\\B\x7f", 8) + std::string(1, '\0') + "C";
    const std::string shown = "A\\x1b[2J\\\\B\\x7f\\x00C";
    // The same characters in a US name and an ETSI name: the same text, and
    // JSON strings that hold the characters themselves.
    for (const bool etsi : {false, true}) {
        // A file name with a line end, an escape and a byte that is not UTF-8.
        const std::string file = dir.file(std::string(etsi ? "etsi" : "us") + "\n\x1b]0;x\x07\xff.wav");
        testsupport::writeBytes(file, burstWav(oneParameter(0x80, 0x07, name), etsi));
        testsupport::RunResult r = runTool("cidscan", {file});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> lines = testsupport::splitLines(r.out);
        ASSERT_GE(lines.size(), 2u) << r.out;
        EXPECT_EQ(lines[0].rfind(terminalText(file) + " channel 1: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find("\\x0a\\x1b]0;x\\x07\\xff.wav"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1], "  name: " + shown);
        EXPECT_TRUE(cidscan::isUtf8(r.out));
        r = runTool("cidscan", {"--json", file});
        EXPECT_EQ(jsonValueHex(r.out, "o['fields']['name']"), hexOf(name));
        EXPECT_EQ(jsonValueHex(r.out, "o['file_hex']"), hexOf(hexOf(file)));
        EXPECT_TRUE(cidscan::isUtf8(r.out));
        // On standard error too.
        r = runTool("cidscan", {file + "-missing"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("\\x0a\\x1b]0;x\\x07\\xff.wav-missing: can't read: No such file"), std::string::npos)
            << r.err;
    }
    // An argument quoted in a usage error.
    const testsupport::RunResult usage = runTool("cidscan", {"--x\x1b[2J"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("unknown option --x\\x1b[2J\n"), std::string::npos) << usage.err;
    // A name that is UTF-8 has no file_hex.
    const std::string plain = dir.file("plain.wav");
    testsupport::writeBytes(plain, burstWav(oneParameter(0x80, 0x07, "X"), false));
    EXPECT_EQ(runTool("cidscan", {"--json", plain}).out.find("file_hex"), std::string::npos);
}

TEST(CidscanHostile, InputsNotAsTheirHeaderSaysAndThroughPipes) {
    TempDir dir;
    const std::vector<std::uint8_t> message = oneParameter(0x80, 0x07, "CUT SHORT");
    // A recorder that died before writing the data size: decoded, with a warning.
    const testsupport::Bytes zero = burstWav(message, false, 0);
    const std::string zeroFile = dir.file("zero.wav");
    testsupport::writeBytes(zeroFile, zero);
    for (const bool viaStdin : {false, true}) {
        const testsupport::RunResult r =
            viaStdin ? runTool("cidscan", {"-"}, asString(zero)) : runTool("cidscan", {zeroFile});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("  name: CUT SHORT\n"), std::string::npos) << viaStdin << r.out;
        EXPECT_NE(r.err.find("gives no data size"), std::string::npos) << r.err;
    }
    // Formats other than WAV through a pipe, where sox can write them.
    const std::string wav = dir.file("burst.wav");
    testsupport::writeBytes(wav, burstWav(message, false));
    for (const char* ext : {"flac", "caf", "aiff"}) {
        if (!testsupport::fileExists("/usr/bin/sox")) break;
        const std::string other = dir.file(std::string("burst.") + ext);
        ASSERT_EQ(testsupport::run("/usr/bin/sox", {wav, other}).status, 0);
        const testsupport::RunResult r = runTool("cidscan", {"-"}, testsupport::readFile(other));
        EXPECT_EQ(r.status, 0) << ext << r.err;
        EXPECT_NE(r.out.find("  name: CUT SHORT\n"), std::string::npos) << ext << r.out;
    }
    // Nothing read is never a success.
    EXPECT_EQ(runTool("cidscan", {"-"}, "").status, 1);
    const testsupport::RunResult text = runTool("cidscan", {"-"}, "plain text, not audio\n");
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("not an audio file"), std::string::npos) << text.err;
    // Headerless samples from a named pipe, and from a device that never
    // ends: read, not taken as empty.
    const std::string cidscan = testsupport::programPath("cidscan");
    const testsupport::RunResult named = testsupport::run(
        "/bin/sh", {"-c", "tail -c +45 " + wav + " | " + cidscan + " --raw s16le --rate 8000 /dev/stdin"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_NE(named.out.find("  name: CUT SHORT\n"), std::string::npos) << named.out;
    const testsupport::RunResult endless = testsupport::run(
        "/bin/sh", {"-c", "timeout 1 " + cidscan + " --raw s16le --rate 8000 /dev/zero; echo $?"});
    EXPECT_EQ(endless.out, "124\n");
    // A file whose reads fail (and that gives its size as 0) is a failure, not an empty input.
    if (testsupport::fileExists("/proc/self/mem")) {
        const testsupport::RunResult failing = runTool("cidscan", {"--raw", "s16le", "--rate", "8000", "/proc/self/mem"});
        EXPECT_EQ(failing.status, 1);
        EXPECT_NE(failing.err.find("/proc/self/mem: read error: "), std::string::npos) << failing.err;
    }
}

TEST(CidscanHostile, FailuresNameTheirOwnReason) {
    TempDir dir;
    const std::string good = dir.file("good.wav");
    testsupport::writeBytes(good, burstWav(oneParameter(0x80, 0x07, "OK"), false));
    const std::string text = dir.file("text.wav");
    testsupport::writeFile(text, "no audio here\n");
    testsupport::FmtFields fmt;
    fmt.rate = 0;
    const std::string rate0 = dir.file("rate0.wav");
    testsupport::writeBytes(rate0, testsupport::waveFile(fmt, testsupport::Bytes(100, 0)));
    const std::string missing = dir.file("missing.wav");
    // Side by side, each failure with its own reason, whatever the order.
    for (int round = 0; round < 3; ++round) {
        const testsupport::RunResult r = runTool("cidscan", {"-j", "4", missing, good, dir.path(), text, rate0, good});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(testsupport::splitLines(r.out).size(), 10u) << r.out;
        EXPECT_NE(r.err.find("missing.wav: can't read: No such file or directory\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(": can't read: is a directory"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("text.wav: can't read: not an audio file"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("rate0.wav: can't read: the WAV header gives a sampling rate of 0 Hz"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("No Error"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("good.wav"), std::string::npos) << r.err;
    }
    // Output that can't be written fails, --help and --version included.
    for (const char* args : {"--help", "--version", ""}) {
        const std::string command = testsupport::programPath("cidscan") + " " + args + " " + good + " >/dev/full";
        const testsupport::RunResult r = testsupport::run("/bin/sh", {"-c", command});
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("can't write to standard output"), std::string::npos) << args << r.err;
    }
    // A terminal on standard input: a usage error that says so.
    if (testsupport::fileExists("/usr/bin/python3")) {
        const char* script =
            "import os,pty,subprocess,sys\nm,s=pty.openpty()\n"
            "r=subprocess.run([sys.argv[1]],stdin=s,capture_output=True)\n"
            "sys.stdout.write('%d\\n' % r.returncode + r.stderr.decode())";
        const testsupport::RunResult r =
            testsupport::run("/usr/bin/python3", {"-c", script, testsupport::programPath("cidscan")});
        EXPECT_EQ(r.out.rfind("2\ncidscan: standard input is a terminal", 0), 0u) << r.out << r.err;
    }
    // The detectors read standard input once: not as recording and settings both.
    for (const char* tool : {"cidprobe", "cidprobe-ntt"}) {
        const testsupport::RunResult r = runTool(tool, {"-", "-", "-"}, asString(testsupport::readBytes(good)));
        EXPECT_EQ(r.status, 1) << tool;
        EXPECT_EQ(r.err, std::string(tool) + ": the recording and the settings file can't both be standard input ('-')\n");
        EXPECT_EQ(r.out, "");
    }
}
