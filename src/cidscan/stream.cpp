#include "cidscan/stream.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

namespace cidscan {

namespace {

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8U |
           static_cast<std::uint32_t>(b[at + 2]) << 16U | static_cast<std::uint32_t>(b[at + 3]) << 24U;
}

void putLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8U * k));
}

bool isTag(std::span<const std::uint8_t> b, std::size_t at, const char* tag) {
    return b.size() >= at + 4 && std::memcmp(b.data() + at, tag, 4) == 0;
}

bool isRiffWave(std::span<const std::uint8_t> head) { return isTag(head, 0, "RIFF") && isTag(head, 8, "WAVE"); }

// The offset of the first chunk `tag` whose header lies in `head`.
std::optional<std::size_t> findChunk(std::span<const std::uint8_t> head, const char* tag) {
    if (!isRiffWave(head)) return std::nullopt;
    std::uint64_t at = 12;
    while (at + 8 <= head.size()) {
        if (isTag(head, at, tag)) return static_cast<std::size_t>(at);
        const std::uint32_t size = le32(head, at + 4);
        at += 8 + static_cast<std::uint64_t>(size) + (size & 1U);
    }
    return std::nullopt;
}

// Reads until `size` bytes or the end; the count read, or -1 on an error.
ssize_t readFull(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool writeFull(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Appends up to `size` more bytes of `fd` to `head`; false on a read error.
bool readMore(int fd, std::vector<std::uint8_t>& head, std::size_t size) {
    const std::size_t old = head.size();
    head.resize(old + size);
    const ssize_t n = readFull(fd, head.data() + old, size);
    head.resize(old + static_cast<std::size_t>(n > 0 ? n : 0));
    return n >= 0;
}

// The forwarding thread: the head, then the source to its end. A reader
// that has gone (EPIPE) ends it too; SIGPIPE is blocked in this thread only.
void forward(int source, int sink, std::vector<std::uint8_t> head, SourceError sourceError) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    std::array<std::uint8_t, 4096> buffer{};
    bool open = writeFull(sink, head.data(), head.size());
    while (open) {
        const ssize_t n = ::read(source, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) sourceError->store(errno);
        if (n <= 0) break;
        open = writeFull(sink, buffer.data(), static_cast<std::size_t>(n));
    }
    close(sink);
    close(source);
}

}  // namespace

std::optional<DataChunk> findDataChunk(std::span<const std::uint8_t> head) {
    const std::optional<std::size_t> at = findChunk(head, "data");
    if (!at) return std::nullopt;
    return DataChunk{*at + 4, le32(head, *at + 4), *at + 8};
}

std::optional<std::uint32_t> wavSampleRate(std::span<const std::uint8_t> head) {
    const std::optional<std::size_t> at = findChunk(head, "fmt ");
    if (!at || head.size() < *at + 16) return std::nullopt;
    return le32(head, *at + 12);
}

void setDataSize(std::vector<std::uint8_t>& head, const DataChunk& chunk, std::uint64_t size) {
    const std::uint64_t most = 0xFFFFFFFFU;
    putLe32(head, chunk.sizeOffset, static_cast<std::uint32_t>(std::min(size, most)));
    const std::uint64_t riff = std::min(most, chunk.start - 8 + size);
    if (le32(head, 4) < riff) putLe32(head, 4, static_cast<std::uint32_t>(riff));
}

StreamKind readStreamHead(int fd, std::vector<std::uint8_t>& head, std::string& error) {
    head.clear();
    if (!readMore(fd, head, 12)) {
        error = std::generic_category().message(errno);
        return StreamKind::Other;
    }
    if (!isTag(head, 0, "RIFF") && !isTag(head, 0, "RIFX") && !isTag(head, 0, "RF64")) return StreamKind::Other;
    // Chunk by chunk up to the data chunk's header.
    while (isRiffWave(head) && head.size() < kMostHeaderBytes && !findDataChunk(head)) {
        std::uint64_t at = 12;
        while (at + 8 <= head.size()) at += 8 + static_cast<std::uint64_t>(le32(head, at + 4)) + (le32(head, at + 4) & 1U);
        const std::uint64_t want = std::min<std::uint64_t>(at + 8, kMostHeaderBytes);
        if (want <= head.size()) break;
        const std::size_t before = head.size();
        if (!readMore(fd, head, static_cast<std::size_t>(want - head.size()))) {
            error = std::generic_category().message(errno);
            break;
        }
        if (head.size() == before) break;  // the stream ended
    }
    return StreamKind::Wav;
}

int forwardStream(int source, std::vector<std::uint8_t> head, SourceError& sourceError, std::string& error) {
    sourceError = std::make_shared<std::atomic<int>>(0);
    std::array<int, 2> ends{-1, -1};
    if (pipe(ends.data()) != 0) {
        error = std::generic_category().message(errno);
        close(source);
        return -1;
    }
    try {
        std::thread(forward, source, ends[1], std::move(head), sourceError).detach();
    } catch (const std::system_error& e) {
        error = e.what();
        close(ends[0]);
        close(ends[1]);
        close(source);
        return -1;
    }
    return ends[0];
}

std::FILE* spoolToTempFile(int fd, std::span<const std::uint8_t> head, std::string& error) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        error = "can't make a temporary file for a stream that is not WAV: " + std::generic_category().message(errno);
        return nullptr;
    }
    std::array<std::uint8_t, 65536> buffer{};
    bool ok = std::fwrite(head.data(), 1, head.size(), file) == head.size();
    while (ok) {
        const ssize_t n = readFull(fd, buffer.data(), buffer.size());
        if (n < 0) {
            error = std::generic_category().message(errno);
            std::fclose(file);
            return nullptr;
        }
        if (n == 0) break;
        ok = std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), file) == static_cast<std::size_t>(n);
    }
    if (!ok || std::fflush(file) != 0) {
        error = "can't write a temporary file for a stream that is not WAV";
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);
    return file;
}

}  // namespace cidscan
