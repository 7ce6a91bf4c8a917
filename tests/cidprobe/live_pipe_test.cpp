// cidprobe on a live recording: a writer that sends a WAV header with a
// placeholder length, then silence in real time with bursts between, into
// `cidprobe /dev/stdin /dev/stdout`; every burst's block must come out while
// the recording goes on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>

#include "fsksynth.hpp"
#include "support/testsupport.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct TimedLine {
    Clock::time_point when;
    std::string text;
};

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

TEST(LivePipe, EachBurstIsReportedWithinHalfASecondOfItsEnd) {
    constexpr int kRate = 8000;
    constexpr int kBursts = 3;
    fsksynth::Modulator m;
    m.rate = kRate;
    fsksynth::appendBurst(m, fsksynth::sdmfMessage("01011200", "0123456789"));
    const std::vector<std::int16_t> burst = m.samples;

    ::signal(SIGPIPE, SIG_IGN);
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const std::string program = testsupport::programPath("cidprobe");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, 2);
        for (const int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1], devNull}) ::close(fd);
        ::execl(program.c_str(), program.c_str(), "/dev/stdin", "/dev/stdout", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);

    // Every report line with the moment it arrived.
    std::vector<TimedLine> lines;
    std::thread reader([&lines, fd = fromChild[0]] {
        std::string pending;
        char chunk[512];
        ssize_t n = 0;
        while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
            const auto now = Clock::now();
            pending.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
                lines.push_back({now, pending.substr(0, end)});
                pending.erase(0, end + 1);
            }
        }
    });

    // A recorder's header: the sizes are placeholders it never fixes.
    const testsupport::TempDir dir;
    ASSERT_TRUE(fsksynth::writeWav(dir.file("empty.wav"), kRate, 16, {}));
    std::vector<std::uint8_t> header = testsupport::readBytes(dir.file("empty.wav"));
    ASSERT_EQ(header.size(), 44u);
    for (const std::size_t at : {4u, 5u, 6u, 7u, 40u, 41u, 42u, 43u}) header[at] = 0xFF;
    bool written = writeAll(toChild[1], header.data(), header.size());
    // Silence as a recorder delivers it: 20 ms every 20 ms.
    const std::vector<std::int16_t> silence(kRate / 50, 0);
    const auto recordSilence = [&](int chunks) {
        const auto start = Clock::now();
        for (int i = 0; i < chunks && written; ++i) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * i));
            written = writeAll(toChild[1], silence.data(), silence.size() * 2);
        }
    };
    std::vector<Clock::time_point> burstEnds;
    recordSilence(15);
    for (int b = 0; b < kBursts && written; ++b) {
        written = writeAll(toChild[1], burst.data(), burst.size() * 2);
        burstEnds.push_back(Clock::now());
        recordSilence(60);
    }
    ::close(toChild[1]);
    reader.join();
    ::close(fromChild[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);

    ASSERT_TRUE(written) << "cidprobe stopped reading";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<Clock::time_point> blockEnds;
    for (const TimedLine& line : lines) {
        if (line.text.rfind("terminated [", 0) == 0) blockEnds.push_back(line.when);
    }
    ASSERT_EQ(blockEnds.size(), static_cast<std::size_t>(kBursts));
    for (int b = 0; b < kBursts; ++b) {
        const auto delay = std::chrono::duration<double>(blockEnds[static_cast<std::size_t>(b)] -
                                                         burstEnds[static_cast<std::size_t>(b)]).count();
        EXPECT_LT(delay, 0.5) << "burst " << b;
        EXPECT_GT(delay, 0.0) << "burst " << b;
        std::printf("burst %d: block complete %.3f s after the burst's end\n", b, delay);
    }
}
