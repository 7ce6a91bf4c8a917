// cidscan's input and scanning path on any bytes: the first byte chooses how
// they arrive (a file of any container libsndfile reads, the same bytes as
// a stream on standard input through a pipe, or headerless s16le, mu-law or
// A-law samples through a pipe at a rate and channel count from the second
// byte), both tone plans run over every channel, and every message found is
// formatted as text and JSON.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "cidscan/input.hpp"
#include "cidscan/output.hpp"
#include "cidscan/scanner.hpp"
#include "fuzzsupport.hpp"
#include "messagecheck.hpp"
#include "scancheck.hpp"

namespace {

using fuzzsupport::require;

// Puts `bytes` into a pipe (they fit in its buffer) and makes its reading
// end the process's standard input until the object goes away.
class PipedStdin {
public:
    PipedStdin(const std::uint8_t* bytes, std::size_t size) {
        int fds[2];
        require(pipe(fds) == 0, "a pipe");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fds[1], bytes + done, size - done);
            require(n > 0, "the bytes fit in the pipe");
            done += static_cast<std::size_t>(n);
        }
        close(fds[1]);
        saved_ = dup(STDIN_FILENO);
        require(dup2(fds[0], STDIN_FILENO) == STDIN_FILENO, "the pipe is standard input");
        close(fds[0]);
    }
    ~PipedStdin() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    PipedStdin(const PipedStdin&) = delete;
    PipedStdin& operator=(const PipedStdin&) = delete;

private:
    int saved_ = -1;
};

constexpr int kRates[4] = {8000, 11025, 16000, 48000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > fuzzsupport::kMaxScanInput) return 0;
    const int mode = data[0] % 5;
    const std::uint8_t shape = data[1];
    const std::uint8_t* body = data + 2;
    const std::size_t bodySize = size - 2;

    cidscan::Options options;
    std::optional<cidscan::RawInput> raw;
    if (mode >= 2) {
        const cidscan::RawFormat formats[3] = {cidscan::RawFormat::S16le, cidscan::RawFormat::Mulaw,
                                               cidscan::RawFormat::Alaw};
        raw = cidscan::RawInput{formats[mode - 2], kRates[shape % 4], 1 + (shape >> 2) % 3};
    }
    options.raw = raw;
    std::string name = "-";
    std::optional<PipedStdin> piped;
    if (mode == 0) {
        name = fuzzsupport::writeScratch("input.bin", body, bodySize);
    } else {
        piped.emplace(body, bodySize);
    }
    cidscan::AudioInput input(name, raw);
    if (!input.ok()) {
        require(!input.error().empty(), "a refused input says why");
        return 0;
    }
    if (raw) require(input.rate() == raw->rate && input.channels() == raw->channels, "raw input as described");
    std::size_t messages = 0;
    const cidscan::MessageHandler handler = [&](const cidscan::FoundMessage& found) {
        fuzzsupport::checkMessage(found.message);
        require(found.channel >= 1 && found.channel <= input.channels(), "channels count from 1");
        const std::string json = cidscan::formatJson(found);
        require(fuzzsupport::isValidUtf8(json) && json.back() == '\n', "a JSON line");
        const std::string text = cidscan::formatText(found);
        require(!text.empty(), "a text block");
        // Nothing from the line reaches a terminal raw: valid UTF-8, and no
        // control character but the line ends.
        require(fuzzsupport::isValidUtf8(text), "a text block in UTF-8");
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto b = static_cast<std::uint8_t>(text[i]);
            const bool c1 = b == 0xC2 && i + 1 < text.size() && static_cast<std::uint8_t>(text[i + 1]) < 0xA0;
            require((b >= 0x20 && b != 0x7F && !c1) || b == '\n', "no control character in a text block");
        }
        ++messages;
        return true;
    };
    const cidscan::ScanResult result = cidscan::scanInput(input, name, options, handler);
    require(result.ok || !result.error.empty(), "a failed scan says why");
    return 0;
}
