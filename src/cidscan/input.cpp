#include "cidscan/input.hpp"

#include <sndfile.h>
#include <unistd.h>

#include <cmath>

#include "sigcore/receivers/receiver.hpp"

namespace cidscan {

namespace {

int rawSubtype(RawFormat format) {
    switch (format) {
    case RawFormat::S16le: return SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    case RawFormat::Mulaw: return SF_FORMAT_ULAW;
    case RawFormat::Alaw: return SF_FORMAT_ALAW;
    }
    return SF_FORMAT_PCM_16;
}

}  // namespace

std::int16_t fullScaleToPcm16(float value) {
    if (!(value == value)) return 0;  // NaN
    const float scaled = value * 32768.0f;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

AudioInput::AudioInput(const std::string& name, const std::optional<RawInput>& raw) {
    SF_INFO info{};
    if (raw) {
        info.format = SF_FORMAT_RAW | rawSubtype(raw->format);
        info.samplerate = raw->rate;
        info.channels = raw->channels;
    }
    if (name == "-") {
        // Standard input stays open: it is not ours to close.
        file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
    } else {
        file_ = sf_open(name.c_str(), SFM_READ, &info);
    }
    if (file_ == nullptr) {
        error_ = sf_strerror(nullptr);
        return;
    }
    if (info.channels < 1) {
        error_ = "the input has no channels";
        return;
    }
    if (!sigcore::receiverAcceptsRate(info.samplerate)) {
        error_ = "sampling rate " + std::to_string(info.samplerate) + " Hz is outside " +
                 std::to_string(sigcore::kLowestRate) + ".." + std::to_string(sigcore::kHighestRate) + " Hz";
        return;
    }
    rate_ = info.samplerate;
    channels_ = info.channels;
    seekable_ = info.seekable != 0;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    floatSamples_ = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

AudioInput::~AudioInput() {
    if (file_ != nullptr) sf_close(file_);
}

std::int64_t AudioInput::read(std::span<std::int16_t> interleaved) {
    if (!ok()) return -1;
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels_));
    sf_count_t got = 0;
    if (floatSamples_) {
        // Full scale (+-1.0) becomes +-32768, clipped; libsndfile's own
        // conversion to short would scale by the file's peak instead.
        if (floatBuffer_.size() < interleaved.size()) floatBuffer_.resize(interleaved.size());
        got = sf_readf_float(file_, floatBuffer_.data(), frames);
        const auto values = static_cast<std::size_t>(got > 0 ? got : 0) * static_cast<std::size_t>(channels_);
        for (std::size_t i = 0; i < values; ++i) interleaved[i] = fullScaleToPcm16(floatBuffer_[i]);
    } else {
        got = sf_readf_short(file_, interleaved.data(), frames);
    }
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
        error_ = sf_strerror(file_);
        return -1;
    }
    return got;
}

}  // namespace cidscan
