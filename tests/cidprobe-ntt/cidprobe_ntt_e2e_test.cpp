// The built cidprobe-ntt program: command line, console lines, settings
// file, and round trips of the bursts that cidforge writes.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "nttframe.hpp"
#include "support/testsupport.hpp"

using nttframe::sjis;
using testsupport::fileExists;
using testsupport::runTool;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kUsage = ">cidprobe fsk.wav fsk.txt (fsk.ini)\n";

std::string utf8ToEuc(const std::string& utf8) {
    iconv_t cd = iconv_open("EUC-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    std::string in = utf8;
    std::string out(in.size() * 2 + 8, '\0');
    char* inp = in.data();
    char* outp = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv failed");
    out.resize(out.size() - outLeft);
    return out;
}

// The name as the report writes it in each JapaneseCode: Shift-JIS, EUC-JP, JIS.
std::string nameInCode(const std::string& utf8, int code) {
    if (code == 0) return sjis(utf8);
    std::string euc = utf8ToEuc(utf8);
    if (code == 2) {
        for (char& c : euc) c = static_cast<char>(c & 0x7F);
    }
    return euc;
}

struct Burst {
    std::string number;
    std::string name;  // UTF-8; empty for none
    bool euc = false;  // the data file holds the name in EUC-JP (cidforge -EUC)
    int rate = 8000;
    int bits = 16;
    int amplitude = 50;
};

// Writes the burst with cidforge and returns the WAV file's path.
std::string makeBurst(const TempDir& dir, const Burst& burst, const std::string& stem = "burst") {
    std::string data = "SamplingFrequency " + std::to_string(burst.rate) + "\nQuantizationBitLength " +
                       std::to_string(burst.bits) + "\nAmplitude " + std::to_string(burst.amplitude) +
                       "\nNoiseAmplitude 3\nLeaderDuration 20\nHeaderDuration 100\nFooterDuration 20\n"
                       "DirectoryNumber " + burst.number + "\n";
    if (!burst.name.empty()) data += "IDName \"" + (burst.euc ? utf8ToEuc(burst.name) : sjis(burst.name)) + "\"\n";
    writeFile(dir.file(stem + ".txt"), data);
    std::vector<std::string> args{dir.file(stem + ".txt"), dir.file(stem + ".wav")};
    if (burst.euc) args.push_back("-EUC");
    const auto r = runTool("cidforge", args);
    EXPECT_EQ(r.status, 0) << r.out;
    return dir.file(stem + ".wav");
}

// The decoder's lines for the burst, in the report's bytes.
std::string decoderLines(const Burst& burst, int code) {
    const std::string jis = burst.name.empty() ? "" : nameInCode(burst.name, 2);
    std::vector<std::uint8_t> params = nttframe::param(0x02, burst.number);
    if (!jis.empty()) {
        const auto name = nttframe::param(0x07, jis);
        params.insert(params.end(), name.begin(), name.end());
    }
    const auto lengthLine = [](const char* label, std::size_t n) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(n));
        return sjis(std::string(hex) + " [" + label + "=" + std::to_string(n) + "]\n");
    };
    std::string text = sjis("10 [DLE]\n01 [SOH]\n07 [ヘッダ]\n10 [DLE]\n02 [STX]\n40 [通信前情報通知サービス]\n") +
                       lengthLine("メッセージ内容長", params.size()) + sjis("02 [パラメータ種別　発信電話番号]\n") +
                       lengthLine("情報内容長", burst.number.size()) + "   " + burst.number + "\n";
    if (!jis.empty()) {
        text += sjis("07 [パラメータ種別　発信企業名（氏名）情報]\n") + lengthLine("情報内容長", jis.size()) + "   " +
                nameInCode(burst.name, code) + "\n";
    }
    char crc[48];
    const unsigned value = nttframe::crcShown(nttframe::build(params));
    std::snprintf(crc, sizeof crc, "%04x [CRC] %04x correct\n", value, value);
    return text + "10 [DLE]\n03 [ETX]\n" + crc;
}

// A report of exactly one burst: detection line, 55 ms line, the decoder's
// lines, termination line.
void expectOneBurst(const std::string& report, const std::string& decoded) {
    const std::regex detected(R"(detected \[\d+ \d+\]\n)");
    const std::regex terminated(R"(terminated \[\d+ \d+\]\n)");
    const std::string mark = "Mark at least 55ms has found.\n";
    const std::size_t markAt = report.find(mark);
    ASSERT_NE(markAt, std::string::npos) << report;
    EXPECT_TRUE(std::regex_match(report.substr(0, markAt), detected)) << report;
    const std::string rest = report.substr(markAt + mark.size());
    ASSERT_GE(rest.size(), decoded.size()) << report;
    EXPECT_EQ(rest.substr(0, decoded.size()), decoded);
    EXPECT_TRUE(std::regex_match(rest.substr(decoded.size()), terminated)) << report;
}

struct Message {
    const char* label;
    Burst burst;
};

const std::vector<Message> kMessages{
    {"number", {"0123456789", "", false}},
    {"sjis-name", {"0312345678", "山田太郎", false}},
    {"euc-name", {"0612345678", "鈴木一郎", true}},
    {"16-digits", {"0123456789012345", "", false}},
    {"doubled-length", {"0123456789", "亜", false}},
};

}  // namespace

TEST(CidprobeNttRun, UsageWithFewerThanTwoFileNames) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.wav"}}) {
        const auto r = runTool("cidprobe-ntt", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, kUsage);
        EXPECT_EQ(r.out, "");
    }
}

TEST(CidprobeNttRun, ConsoleLinesAndUnreadableRecording) {
    TempDir dir;
    const auto r = runTool("cidprobe-ntt", {dir.file("missing.wav"), dir.file("r.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "input  filename=" + dir.file("missing.wav") + "\noutput filename=" + dir.file("r.txt") +
                         "\nSensitivity=80\nreason: the file can't be opened: No such file or directory\n");
    EXPECT_EQ(r.out, "can't open normal wave file\n");
    EXPECT_FALSE(fileExists(dir.file("r.txt")));
}

TEST(CidprobeNttRun, SettingsFile) {
    TempDir dir;
    const Burst burst{"0312345678", "山田太郎", false};
    const std::string wav = makeBurst(dir, burst);
    struct Case {
        const char* settings;
        int sensitivity;
        int code;
    };
    const std::vector<Case> cases{
        {"JapaneseCode 1\n", 80, 1},
        {"JapaneseCode 2\n", 80, 2},
        {"JapaneseCode=1\n", 80, 0},  // offset 12 holds the '=': nothing read
        {"/JapaneseCode 1\n", 80, 0},
        {"Sensitivity 70\nJapaneseCode 1\n", 70, 1},
        {"JapaneseCode 2\nSensitivity 70\nJapaneseCode 1\n", 70, 1},  // the last line wins
        {"Sensitivity 70 JapaneseCode 1\n", 70, 0},  // a line with both keys sets the sensitivity only
        {"JapaneseCode 1 Sensitivity 70\n", 80, 0},  // ... read at offset 11, inside the other key
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        writeFile(dir.file("s.ini"), c.settings);
        const auto r = runTool("cidprobe-ntt", {wav, dir.file("r.txt"), dir.file("s.ini")});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "input  filename=" + wav + "\noutput filename=" + dir.file("r.txt") +
                             "\nSensitivity=" + std::to_string(c.sensitivity) + "\n");
        expectOneBurst(testsupport::readFile(dir.file("r.txt")), decoderLines(burst, c.code));
    }

    // No settings file, or four file names: Shift-JIS. A missing file is reported and the run goes on.
    for (const auto& extra : {std::vector<std::string>{}, std::vector<std::string>{dir.file("s.ini"), "x"},
                              std::vector<std::string>{dir.file("none.ini")}}) {
        std::vector<std::string> args{wav, dir.file("r.txt")};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = runTool("cidprobe-ntt", args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err.find("error .... can't open text file[" + dir.file("none.ini") + "]\n") != std::string::npos,
                  extra.size() == 1);
        expectOneBurst(testsupport::readFile(dir.file("r.txt")), decoderLines(burst, 0));
    }

    writeFile(dir.file("s.ini"), "Sensitivity 120\n");
    const auto r = runTool("cidprobe-ntt", {wav, dir.file("out.txt"), dir.file("s.ini")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Sensitivity=120\nerror .... sensitivity : out of range\n"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.file("out.txt")));
}

// Every message at one rate and bit depth, decoded in each JapaneseCode.
class CidprobeNttRoundTrip : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(CidprobeNttRoundTrip, DecodesCidforgeBursts) {
    const auto [rate, bits] = GetParam();
    TempDir dir;
    for (const Message& message : kMessages) {
        SCOPED_TRACE(message.label);
        Burst burst = message.burst;
        burst.rate = rate;
        burst.bits = bits;
        const std::string wav = makeBurst(dir, burst);
        for (int code = 0; code < 3; ++code) {
            SCOPED_TRACE(code);
            writeFile(dir.file("s.ini"), "JapaneseCode " + std::to_string(code) + "\n");
            const auto r = runTool("cidprobe-ntt", {wav, dir.file("r.txt"), dir.file("s.ini")});
            EXPECT_EQ(r.status, 0) << r.err;
            expectOneBurst(testsupport::readFile(dir.file("r.txt")), decoderLines(burst, code));
            if (burst.name.empty()) break;  // the code only matters for names
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, CidprobeNttRoundTrip,
                         testing::Combine(testing::Values(8000, 11025, 16000, 22050, 44100, 48000, 96000),
                                          testing::Values(8, 16)));

TEST(CidprobeNttRun, HighRatesAndFullScale) {
    TempDir dir;
    for (const int rate : {192000, 384000}) {
        SCOPED_TRACE(rate);
        Burst burst{"0312345678", "亜", false, rate};
        const auto r = runTool("cidprobe-ntt", {makeBurst(dir, burst), dir.file("r.txt")});
        EXPECT_EQ(r.status, 0);
        expectOneBurst(testsupport::readFile(dir.file("r.txt")), decoderLines(burst, 0));
    }
    // A burst at full scale: the limiter's level lies beyond the sample range.
    for (const int rate : {8000, 48000}) {
        SCOPED_TRACE(rate);
        Burst burst{"0123456789", "山田", false, rate, 16, 100};
        const auto r = runTool("cidprobe-ntt", {makeBurst(dir, burst), dir.file("r.txt")});
        EXPECT_EQ(r.status, 0);
        expectOneBurst(testsupport::readFile(dir.file("r.txt")), decoderLines(burst, 0));
    }
}

TEST(CidprobeNttRun, ReportWriteFailureIsAnError) {
    TempDir dir;
    const auto r = runTool("cidprobe-ntt", {makeBurst(dir, Burst{"0123456789", "", false}), "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error .... can't write text file[/dev/full]\n"), std::string::npos) << r.err;
}

TEST(CidprobeNttRun, RecordingCutShortEndsAtItsRealEnd) {
    TempDir dir;
    const std::string wav = makeBurst(dir, Burst{"0123456789", "", false});
    std::vector<std::uint8_t> bytes = testsupport::readBytes(wav);
    // The header still announces every sample; 1500 of them remain, cut
    // inside the message.
    bytes.resize(44 + 2 * 1500);
    testsupport::writeBytes(dir.file("cut.wav"), bytes);
    const auto r = runTool("cidprobe-ntt", {dir.file("cut.wav"), dir.file("r.txt")});
    EXPECT_EQ(r.status, 0);
    const auto lines = testsupport::splitLines(testsupport::readFile(dir.file("r.txt")));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Mark at least 55ms has found.");
    EXPECT_EQ(lines.back(), "terminated [187 1500]");
}
