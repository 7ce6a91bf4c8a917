// wavpeek end to end: the built program on hand-made and writer-made files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sigcore/io/wave.hpp"
#include "support/testsupport.hpp"
#include "support/wavbytes.hpp"
#include "wavpeek/wavpeek.hpp"

using testsupport::appendChunk;
using testsupport::Bytes;
using testsupport::FmtFields;
using testsupport::runTool;
using testsupport::TempDir;
using testsupport::waveFile;

namespace {

// The two count lines, as the program prints them.
std::string counts(long calc, long real) {
    return wavpeek::formatSampleCounts(static_cast<std::int32_t>(calc), real);
}

std::string lineWith(const std::string& out, const std::string& label) {
    for (const auto& l : testsupport::splitLines(out)) {
        if (l.rfind(label, 0) == 0) return l;
    }
    return {};
}

// Writes `n` samples of a ramp with the suite's writer.
void writeWithWriter(const std::string& path, std::uint16_t bits, std::int32_t n, std::int32_t rate = 8000) {
    sigcore::WaveWriter writer;
    ASSERT_EQ(sigcore::waveCreate(writer, path, sigcore::WaveInfo{rate, bits, n, 1}), 1);
    for (std::int32_t i = 0; i < n; ++i) sigcore::waveWriteSample(writer, static_cast<std::int16_t>(i * 7));
    ASSERT_EQ(sigcore::waveCloseWrite(writer), 0);
}

bool waitExited(pid_t pid, int& status, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void stop(pid_t pid) {
    int status = 0;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

}  // namespace

TEST(Wavpeek, SixteenLinesOfAWriterFile) {
    TempDir dir;
    const std::string path = dir.file("tone16.wav");
    writeWithWriter(path, 16, 8000);
    const auto r = runTool("wavpeek", {path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "filename           = " + path + "\n" +
                         "keyword1           =     [RIFF]\n"
                         "filesize-8         =      16036\n"
                         "keyword2           =     [WAVE]\n"
                         "keyword3           =     [fmt ]\n"
                         "info_block_size    =         16\n"
                         "wave_format        =          1\n"
                         "number_of_channels =          1\n"
                         "sampling_frequency =       8000\n"
                         "rate               =      16000\n"
                         "blocksize          =          2\n"
                         "num_bits_sample    =         16\n"
                         "keyword4           =     [data]\n"
                         "binarydatasize     =      16000\n"
                         "numberSamples(calc)=       8000\n"
                         "numberSamples(real)=       8000\n");
    // Every "=" in column 20, every value ending in column 31.
    const auto lines = testsupport::splitLines(r.out);
    ASSERT_EQ(lines.size(), 16u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find('='), 19u) << lines[i];
        EXPECT_EQ(lines[i].size(), 31u) << lines[i];
    }
}

TEST(Wavpeek, CountsWhatTheFileReallyHolds) {
    TempDir dir;
    struct Case {
        const char* name;
        Bytes bytes;
        std::string expectedCounts;
    };
    Bytes trailing = waveFile({.bits = 16}, Bytes(200, 0));
    appendChunk(trailing, "LIST", Bytes(22, 'x'));  // 30 bytes after the data: 15 more words
    const Bytes full = waveFile({.bits = 16}, Bytes(2000, 0));
    const Bytes truncated(full.begin(), full.end() - 501);  // 1499 bytes of data left

    const std::vector<Case> cases{
        {"8-bit", waveFile({.bits = 8}, Bytes(12345, 0x80)), counts(12345, 12345)},
        {"16-bit stereo", waveFile({.channels = 2, .bits = 16}, Bytes(4000, 0)), counts(1000, 2000)},
        {"trailing chunk", trailing, counts(100, 115)},
        {"truncated", truncated, counts(1000, 749)},
        {"huge data size", waveFile({.bits = 8}, Bytes(10, 0x80), 0xFFFFFFFFu), counts(2147483647, 10)},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("case.wav");
        testsupport::writeBytes(path, c.bytes);
        const auto r = runTool("wavpeek", {path});
        EXPECT_EQ(r.status, 0) << c.name;
        const auto lines = testsupport::splitLines(r.out);
        ASSERT_EQ(lines.size(), 16u) << c.name;
        EXPECT_EQ(lines[14] + "\n" + lines[15] + "\n", c.expectedCounts) << c.name;
    }

    // The stereo header fields and an 18-byte format block.
    testsupport::writeBytes(dir.file("st.wav"),
                            waveFile({.channels = 2, .rate = 44100, .bits = 16, .fmtSize = 18}, Bytes(400, 0)));
    const auto r = runTool("wavpeek", {dir.file("st.wav")});
    EXPECT_EQ(lineWith(r.out, "info_block_size"), "info_block_size    =         16");
    EXPECT_EQ(lineWith(r.out, "number_of_channels"), "number_of_channels =          2");
    EXPECT_EQ(lineWith(r.out, "rate "), "rate               =     176400");
    EXPECT_EQ(lineWith(r.out, "blocksize"), "blocksize          =          4");
    EXPECT_EQ(lineWith(r.out, "filesize-8"), "filesize-8         =        438");
}

TEST(Wavpeek, UsageAndUnreadableFiles) {
    TempDir dir;
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.wav", "b.wav"}}) {
        const auto r = runTool("wavpeek", args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, ">wavpeek src.wav\n");
        EXPECT_EQ(r.err, "");
    }

    Bytes list;
    appendChunk(list, "LIST", Bytes(4, 'x'));
    Bytes listBeforeData = testsupport::wavePrefix({});
    listBeforeData.insert(listBeforeData.end(), list.begin(), list.end());
    const Bytes rest = waveFile({}, Bytes(10, 0));
    listBeforeData.insert(listBeforeData.end(), rest.end() - 18, rest.end());  // "data", size, samples

    const std::vector<Bytes> bad{Bytes{}, waveFile({}, Bytes{}), waveFile({.format = 3, .bits = 32}, Bytes(8, 0)),
                                 listBeforeData, waveFile({.blocksize = 0}, Bytes(8, 0))};
    for (const Bytes& bytes : bad) {
        testsupport::writeBytes(dir.file("bad.wav"), bytes);
        const auto r = runTool("wavpeek", {dir.file("bad.wav")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "can't open normal wave file\n");
    }
    const auto missing = runTool("wavpeek", {dir.file("missing.wav")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "can't open normal wave file\n");
}

TEST(Wavpeek, FailedOutputIsAFailedRun) {
    TempDir dir;
    writeWithWriter(dir.file("a.wav"), 8, 100);
    const auto r = testsupport::run("/bin/sh", {"-c", "\"$0\" \"$1\" >/dev/full </dev/null",
                                                testsupport::programPath("wavpeek"), dir.file("a.wav")});
    EXPECT_EQ(r.status, 1);
}

// After its report the program waits for one key when standard input is a
// terminal; from a pipe (a script's list of names) it reads nothing, so the
// next command still gets every byte. The usage line is printed without waiting.
TEST(Wavpeek, WaitsForAKeyOnlyOnATerminal) {
    TempDir dir;
    writeWithWriter(dir.file("a.wav"), 16, 10);
    const std::string outPath = dir.file("out.txt");
    const std::string program = testsupport::programPath("wavpeek");

    // Standard input on a pseudo-terminal whose master end the test holds.
    const auto start = [&](std::vector<std::string> args, int& master) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        const std::string slave = ::ptsname(master);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int in = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::close(master);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    };

    int master = -1;
    int status = 0;
    pid_t pid = start({dir.file("a.wav")}, master);
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(waitExited(pid, status, std::chrono::milliseconds(400))) << "ended without a key";
    // The report is already out while it waits.
    EXPECT_EQ(testsupport::splitLines(testsupport::readFile(outPath)).size(), 16u);
    ASSERT_EQ(::write(master, "\n", 1), 1);
    const bool ended = waitExited(pid, status, std::chrono::seconds(10));
    if (!ended) stop(pid);
    ::close(master);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    pid = start({}, master);
    ASSERT_GT(pid, 0);
    const bool usageEnded = waitExited(pid, status, std::chrono::seconds(10));
    if (!usageEnded) stop(pid);
    ::close(master);
    EXPECT_TRUE(usageEnded) << "the usage line must not wait for input";
    EXPECT_EQ(testsupport::readFile(outPath), ">wavpeek src.wav\n");

    // In a loop over a list of names every name reaches the loop.
    testsupport::writeFile(dir.file("list"), dir.file("a.wav") + "\n" + dir.file("a.wav") + "\n");
    const auto loop = testsupport::run(
        "/bin/sh", {"-c", "while read -r f; do \"$0\" \"$f\" | head -n 1; done < \"$1\"", program, dir.file("list")});
    EXPECT_EQ(loop.status, 0);
    EXPECT_EQ(loop.out, "filename           = " + dir.file("a.wav") + "\nfilename           = " + dir.file("a.wav") + "\n");
}

// An independent reader agrees on what the writer produced.
TEST(Wavpeek, WriterFilesOpenInSox) {
    if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not on the PATH";
    TempDir dir;
    struct Case {
        std::uint16_t bits;
        std::int32_t rate;
        std::int32_t samples;
    };
    for (const Case c : {Case{16, 8000, 8000}, Case{8, 11025, 12345}}) {
        const std::string path = dir.file(c.bits == 8 ? "w8.wav" : "w16.wav");
        writeWithWriter(path, c.bits, c.samples, c.rate);
        const auto info = [&](const char* opt) {
            const auto r = testsupport::run("/bin/sh", {"-c", "sox --i \"$0\" \"$1\"", opt, path});
            EXPECT_EQ(r.status, 0) << r.err;
            const auto lines = testsupport::splitLines(r.out);
            return lines.empty() ? std::string{} : lines[0];
        };
        EXPECT_EQ(info("-r"), std::to_string(c.rate));
        EXPECT_EQ(info("-b"), std::to_string(c.bits));
        EXPECT_EQ(info("-c"), "1");
        EXPECT_EQ(info("-s"), std::to_string(c.samples));
        EXPECT_EQ(info("-e"), c.bits == 8 ? "Unsigned Integer PCM" : "Signed Integer PCM");
    }
}

// "-" reads the file from standard input (without waiting for a key
// afterwards); --help and --version exit 0.
TEST(Wavpeek, StandardInputHelpAndVersion) {
    TempDir dir;
    writeWithWriter(dir.file("a.wav"), 16, 100);
    const auto file = runTool("wavpeek", {dir.file("a.wav")});
    const auto piped = runTool("wavpeek", {"-"}, testsupport::readFile(dir.file("a.wav")));
    EXPECT_EQ(piped.status, 0);
    const std::string head = "filename           = " + dir.file("a.wav") + "\n";
    ASSERT_EQ(file.out.rfind(head, 0), 0u);
    EXPECT_EQ(piped.out, "filename           = -\n" + file.out.substr(head.size()));

    const auto help = runTool("wavpeek", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: wavpeek ", 0), 0u);
    const auto version = runTool("wavpeek", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "wavpeek (sigtools) " SIGTOOLS_TEST_VERSION "\n");
}
