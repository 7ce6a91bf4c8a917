// The built cidscan program end to end: cidforge's bursts (US and NTT, 8
// and 16 bits, several rates) decoded field by field with the JSON read back
// by an independent parser (python3), standard input as a WAV stream and as
// headerless samples, several channels, several files at once, --once, the
// text block, and the exit statuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cidprobe-ntt/nttframe.hpp"
#include "cidprobe/fsksynth.hpp"
#include "support/testsupport.hpp"
#include "support/wavbytes.hpp"

using testsupport::runTool;
using testsupport::TempDir;

namespace {

// Reads JSON Lines on standard input, checks that every object has the keys
// and types that scripts rely on, and prints one summary line per object:
// file|channel|standard|type|valid|complete|sorted fields as key=value.
const char* const kJsonCheck = R"(
import json, sys
required = {"file": str, "channel": int, "standard": str, "type": int, "start_sample": int,
            "end_sample": int, "start_s": (int, float), "end_s": (int, float), "valid": bool,
            "raw": str, "fields": dict}
for line in sys.stdin:
    o = json.loads(line)
    for key, kind in required.items():
        assert isinstance(o[key], kind), (key, o)
    assert all(isinstance(v, str) for v in o["fields"].values()), o
    assert o["raw"] == o["raw"].lower() and len(o["raw"]) % 2 == 0, o
    bytes.fromhex(o["raw"])
    assert o["start_sample"] <= o["end_sample"], o
    fields = ",".join("%s=%s" % kv for kv in sorted(o["fields"].items()))
    print("%s|%d|%s|%02x|%s|%s|%s" % (o["file"], o["channel"], o["standard"], o["type"],
          str(o["valid"]).lower(), str(o.get("complete")).lower(), fields))
)";

// The summary lines of cidscan's JSON output, or a failure when it doesn't parse.
std::vector<std::string> summarise(const std::string& json) {
    if (!testsupport::fileExists("/usr/bin/python3")) return {"python3 missing"};
    const testsupport::RunResult r = testsupport::run("/usr/bin/python3", {"-c", kJsonCheck}, json);
    EXPECT_EQ(r.status, 0) << r.err << json;
    return testsupport::splitLines(r.out);
}

bool havePython() { return testsupport::fileExists("/usr/bin/python3"); }

// A cidforge burst: US when `us`, else NTT with a Shift-JIS name.
std::string forge(const TempDir& dir, const std::string& name, bool us, int rate, int bits) {
    std::string data = "SamplingFrequency " + std::to_string(rate) + "\nQuantizationBitLength " +
                       std::to_string(bits) +
                       "\nAmplitude 50\nNoiseAmplitude 5\nLeaderDuration 200\nHeaderDuration 200\n"
                       "FooterDuration 50\n";
    if (us) {
        data += "DateTime 03141530\nDirectoryNumber 2125551234\n";
    } else {
        data += "DirectoryNumber 0312345678\nIDName \"" + testsupport::utf8ToSjis("山田太郎") + "\"\n";
    }
    const std::string dataPath = dir.file(name + ".txt");
    const std::string wavPath = dir.file(name + ".wav");
    testsupport::writeFile(dataPath, data);
    std::vector<std::string> args{dataPath, wavPath};
    if (us) args.emplace_back("-USA");
    const testsupport::RunResult r = runTool("cidforge", args);
    EXPECT_EQ(r.status, 0) << r.err;
    return wavPath;
}

const std::string kUsFields = "date=03-14,number=2125551234,time=15:30";
const std::string kNttFields = "name=山田太郎,number=0312345678";

// 16-bit little-endian bytes of samples.
testsupport::Bytes pcm16(const std::vector<std::int16_t>& samples) {
    testsupport::Bytes out;
    for (const std::int16_t s : samples) testsupport::appendLe16(out, static_cast<std::uint16_t>(s));
    return out;
}

std::string asString(const testsupport::Bytes& b) { return {b.begin(), b.end()}; }

// An MDMF message with the checksum that makes it valid.
std::vector<std::uint8_t> mdmf(const std::string& number, const std::string& name) {
    std::vector<std::uint8_t> m{0x80, static_cast<std::uint8_t>(4 + number.size() + name.size()), 0x02,
                                static_cast<std::uint8_t>(number.size())};
    for (const char c : number) m.push_back(static_cast<std::uint8_t>(c));
    m.push_back(0x07);
    m.push_back(static_cast<std::uint8_t>(name.size()));
    for (const char c : name) m.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (const std::uint8_t b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu));
    return m;
}

std::vector<std::int16_t> burstSamples(const std::vector<std::uint8_t>& bytes, bool ntt, int rate) {
    fsksynth::Modulator mod;
    mod.rate = rate;
    if (ntt) mod.tones = fsksynth::Tones{1300.0, 2100.0, 1200.0};
    fsksynth::appendSilence(mod, rate / 4);
    fsksynth::appendBurst(mod, bytes, 180, 10, ntt ? 4 : 1);
    fsksynth::appendSilence(mod, rate / 4);
    return mod.samples;
}

TEST(CidscanEndToEnd, CidforgeBurstsAtEveryWidthAndRateDecodeFieldByField) {
    if (!havePython()) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    struct Case {
        bool us;
        int rate;
        int bits;
    };
    const std::vector<Case> cases{{true, 8000, 16},  {true, 8000, 8},  {true, 11025, 16}, {true, 48000, 16},
                                  {false, 8000, 16}, {false, 8000, 8}, {false, 22050, 16}, {false, 44100, 8}};
    std::vector<std::string> args{"--json"};
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        const std::string name = std::string(c.us ? "us" : "ntt") + "-" + std::to_string(c.rate) + "-" +
                                 std::to_string(c.bits);
        args.push_back(forge(dir, name, c.us, c.rate, c.bits));
        expected.push_back(args.back() + "|1|" + (c.us ? "bell202|04|" : "v23-ntt|40|") + "true|true|" +
                           (c.us ? kUsFields : kNttFields));
    }
    const testsupport::RunResult r = runTool("cidscan", args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(summarise(r.out), expected);

    // Each standard alone finds only its own; -j decodes the files side by
    // side, every line whole, one line per file.
    args[0] = "--standard=us";
    args.insert(args.begin(), "--json");
    const testsupport::RunResult usOnly = runTool("cidscan", args);
    EXPECT_EQ(summarise(usOnly.out).size(), 4u);
    args[1] = "--standard=ntt";
    args.insert(args.begin(), {"-j", "3"});
    const testsupport::RunResult nttOnly = runTool("cidscan", args);
    const std::vector<std::string> lines = summarise(nttOnly.out);
    ASSERT_EQ(lines.size(), 4u);
    for (const std::string& line : lines) EXPECT_NE(line.find("|v23-ntt|40|true|true|" + kNttFields), std::string::npos);
}

TEST(CidscanEndToEnd, StandardInputAsWavStreamAndAsHeaderlessSamples) {
    if (!havePython()) GTEST_SKIP() << "python3 is not installed";
    const std::vector<std::uint8_t> message = mdmf("8005550100", "ACME CORP");
    const std::string fields = "name=ACME CORP,number=8005550100";
    const testsupport::Bytes samples = pcm16(burstSamples(message, false, 8000));

    // A WAV stream whose sizes are placeholders, as recorders write to a pipe.
    testsupport::FmtFields fmt;
    const std::string stream = asString(testsupport::waveFile(fmt, samples, 0x7FFFFFFFu));
    testsupport::RunResult r = runTool("cidscan", {"--json"}, stream);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summarise(r.out), std::vector<std::string>{"-|1|bell202|80|true|true|" + fields});

    // Headerless 16-bit samples at 16 kHz.
    const testsupport::Bytes fast = pcm16(burstSamples(message, false, 16000));
    r = runTool("cidscan", {"--json", "--raw", "s16le", "--rate", "16000", "-"}, asString(fast));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summarise(r.out), std::vector<std::string>{"-|1|bell202|80|true|true|" + fields});

    // Two channels: US on the first, NTT on the second; --channel picks one.
    const std::vector<std::uint8_t> frame =
        nttframe::build(nttframe::param(0x02, "0120444444"));
    const std::vector<std::int16_t> left = burstSamples(message, false, 8000);
    std::vector<std::int16_t> right = burstSamples(frame, true, 8000);
    right.resize(left.size() > right.size() ? left.size() : right.size(), 0);
    std::vector<std::int16_t> both;
    for (std::size_t i = 0; i < right.size(); ++i) {
        both.push_back(i < left.size() ? left[i] : 0);
        both.push_back(right[i]);
    }
    fmt.channels = 2;
    TempDir dir;
    const std::string stereo = dir.file("stereo.wav");
    testsupport::writeBytes(stereo, testsupport::waveFile(fmt, pcm16(both)));
    r = runTool("cidscan", {"--json", stereo});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string nttLine = stereo + "|2|v23-ntt|40|true|true|number=0120444444";
    EXPECT_EQ(summarise(r.out), (std::vector<std::string>{stereo + "|1|bell202|80|true|true|" + fields, nttLine}));
    r = runTool("cidscan", {"--json", "--channel", "2", stereo});
    EXPECT_EQ(summarise(r.out), std::vector<std::string>{nttLine});
    // Headerless stereo on standard input gives the same.
    r = runTool("cidscan", {"--json", "--raw=s16le", "--rate=8000", "--channels=2"}, asString(pcm16(both)));
    EXPECT_EQ(summarise(r.out).size(), 2u);
}

TEST(CidscanEndToEnd, TextBlockOnceAndExitStatuses) {
    TempDir dir;
    const std::string us = forge(dir, "us", true, 8000, 16);
    const std::string ntt = forge(dir, "ntt", false, 8000, 16);

    testsupport::RunResult r = runTool("cidscan", {us});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> lines = testsupport::splitLines(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    EXPECT_EQ(lines[0].rfind(us + " channel 1: bell202 message 04 (SDMF caller ID), 0.", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "  date: 03-14");
    EXPECT_EQ(lines[2], "  time: 15:30");
    EXPECT_EQ(lines[3], "  number: 2125551234");
    EXPECT_EQ(lines[4].rfind("  checksum ", 0), 0u);
    EXPECT_NE(lines[4].find(" correct"), std::string::npos);
    EXPECT_EQ(lines[5].rfind("  raw: 0412303331343135333032313235353531323334", 0), 0u);
    EXPECT_EQ(lines[6], "");

    r = runTool("cidscan", {ntt});
    EXPECT_NE(r.out.find("  name: 山田太郎\n"), std::string::npos) << r.out;

    // --once: the first message only, however many inputs.
    r = runTool("cidscan", {"--once", "--json", us, ntt, us});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(testsupport::splitLines(r.out).size(), 1u);

    // An input that can't be read is named; the others are still decoded.
    const std::string notWav = dir.file("not.wav");
    testsupport::writeFile(notWav, "this is no audio file at all, just text\n");
    r = runTool("cidscan", {"--json", dir.file("missing.wav"), us, notWav});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(testsupport::splitLines(r.out).size(), 1u);
    EXPECT_NE(r.err.find("missing.wav: can't read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not.wav: can't read"), std::string::npos) << r.err;

    // Rates the receiver can't take, and an absent channel, fail that input.
    r = runTool("cidscan", {"--raw", "s16le", "--rate", "1000"}, std::string(100, '\0'));
    EXPECT_EQ(r.status, 2);
    r = runTool("cidscan", {"--channel", "2", us});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("has 1 channel, not 2"), std::string::npos) << r.err;

    // Usage errors.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, {"--standard", "eu"}, {"--sensitivity", "101"}, {"--raw", "s16le"},
          {"--rate", "8000"}, {"-j", "0"}, {"-", "-"}, {"--channel", "x"}}) {
        r = runTool("cidscan", args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("cidscan: "), std::string::npos);
    }
    r = runTool("cidscan", {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: cidscan"), std::string::npos);
    r = runTool("cidscan", {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("cidscan ", 0), 0u);
}

TEST(CidscanEndToEnd, OneMessageForEachBurstSentAndNoneMadeUp) {
    if (!havePython()) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    testsupport::FmtFields fmt;
    const std::vector<std::uint8_t> message = mdmf("8005550100", "ACME CORP");
    const std::string fields = "name=ACME CORP,number=8005550100";
    auto write = [&](const std::string& name, const std::vector<std::int16_t>& samples) {
        testsupport::writeBytes(dir.file(name), testsupport::waveFile(fmt, pcm16(samples)));
        return dir.file(name);
    };
    std::vector<std::string> files;
    std::vector<std::string> want;
    // A Bell 202 burst whose mark lies 40 Hz high, within reach of V.23's
    // mark too: one message, a US one.
    fsksynth::Modulator high;
    high.tones = fsksynth::Tones{1240.0, 2200.0, 1200.0};
    fsksynth::appendSilence(high, 2000);
    fsksynth::appendBurst(high, message, 180, 10, 1);
    fsksynth::appendSilence(high, 2000);
    files.push_back(write("high.wav", high.samples));
    want.push_back(files.back() + "|1|bell202|80|true|true|" + fields);
    // The input ends with the last stop bit: the checksum is still read.
    fsksynth::Modulator cut;
    fsksynth::appendSilence(cut, 2000);
    fsksynth::appendBurst(cut, message, 180, 0, 1);
    files.push_back(write("cut.wav", cut.samples));
    want.push_back(files.back() + "|1|bell202|80|true|true|" + fields);
    // An NTT burst that stops dead into faint noise (as a recorder's
    // dither leaves it): its frame and nothing after it.
    const std::vector<std::uint8_t> frame = nttframe::build(nttframe::param(0x02, "0312345678"));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> faint(-10, 10);
    for (int seed = 0; seed < 30; ++seed) {
        fsksynth::Modulator ntt;
        ntt.tones = fsksynth::Tones{1300.0, 2100.0, 1200.0};
        for (int i = 0; i < 1600; ++i) ntt.samples.push_back(static_cast<std::int16_t>(faint(random)));
        fsksynth::appendBurst(ntt, frame, 180, 0, 4);
        for (int i = 0; i < 1600; ++i) ntt.samples.push_back(static_cast<std::int16_t>(faint(random)));
        files.push_back(write("ntt" + std::to_string(seed) + ".wav", ntt.samples));
        want.push_back(files.back() + "|1|v23-ntt|40|true|true|number=0312345678");
    }
    std::vector<std::string> args{"--json"};
    args.insert(args.end(), files.begin(), files.end());
    const testsupport::RunResult r = runTool("cidscan", args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(summarise(r.out), want);
}

}  // namespace
