// Audio input through libsndfile: any file it reads (WAV in every layout it
// knows, AIFF, FLAC, ...), a WAV stream on standard input, or headerless
// samples; always read as interleaved 16-bit samples at the input's rate.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cidscan/options.hpp"

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
    [[nodiscard]] int rate() const { return rate_; }
    [[nodiscard]] int channels() const { return channels_; }
    // A file that is all there (not a pipe or a terminal).
    [[nodiscard]] bool seekable() const { return seekable_; }

    // Reads up to interleaved.size() / channels() frames; returns how many
    // were read, 0 at the end, -1 on a read error (error() says which).
    std::int64_t read(std::span<std::int16_t> interleaved);

private:
    sf_private_tag* file_ = nullptr;
    bool floatSamples_ = false;        // read as float and converted here
    std::vector<float> floatBuffer_;   // sized on the first read
    std::string error_;
    int rate_ = 0;
    int channels_ = 0;
    bool seekable_ = false;
};

}  // namespace cidscan
