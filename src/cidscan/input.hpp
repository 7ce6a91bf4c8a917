// Audio input through libsndfile: any file it reads (WAV in every layout it
// knows, AIFF, FLAC, ...), a stream on standard input or any other pipe or
// device (WAV as it arrives, other formats once read whole), or headerless
// samples; always read as interleaved 16-bit samples at the input's rate.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cidscan/options.hpp"
#include "cidscan/stream.hpp"

struct sf_private_tag;

namespace cidscan {

// A floating-point sample (full scale +-1.0) as a 16-bit one, rounded and
// clipped; NaN becomes 0.
[[nodiscard]] std::int16_t fullScaleToPcm16(float value);

class AudioInput {
public:
    // Opens `name` ("-" for standard input), as headerless samples when
    // `raw` is given. On failure ok() is false and error() says why.
    AudioInput(const std::string& name, const std::optional<RawInput>& raw);
    ~AudioInput();
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    [[nodiscard]] bool ok() const { return file_ != nullptr && error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }
    // Not empty: the input is read, but not as its header says (why).
    [[nodiscard]] const std::string& warning() const { return warning_; }
    [[nodiscard]] int rate() const { return rate_; }
    [[nodiscard]] int channels() const { return channels_; }
    // A file that is all there (not a pipe or a terminal).
    [[nodiscard]] bool seekable() const { return seekable_; }

    // Reads up to interleaved.size() / channels() frames; returns how many
    // were read, 0 at the end, -1 on a read error (error() says which).
    std::int64_t read(std::span<std::int16_t> interleaved);

private:
    void openFile(int fd, const char* path, std::int64_t size, const std::optional<RawInput>& raw);
    void openStream(int fd, const std::optional<RawInput>& raw);
    void startStream(int source, std::vector<std::uint8_t> head, const std::optional<RawInput>& raw);
    void openSndfile(int fd, const std::optional<RawInput>& raw, std::span<const std::uint8_t> head,
                     const char* path = nullptr);
    void takeInfo();

    sf_private_tag* file_ = nullptr;
    int ownFd_ = -1;               // a named input's descriptor
    int streamFd_ = -1;            // the read end of a forwarded stream
    SourceError sourceError_;      // how its copy ended
    std::FILE* spool_ = nullptr;   // a stream in another format, read whole
    std::string warning_;
    bool floatSamples_ = false;        // read as float and converted here
    std::vector<float> floatBuffer_;   // sized on the first read
    std::string error_;
    int rate_ = 0;
    int channels_ = 0;
    bool seekable_ = false;
};

}  // namespace cidscan
