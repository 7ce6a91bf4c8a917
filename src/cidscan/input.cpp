#include "cidscan/input.hpp"

#include <sndfile.h>
#include <unistd.h>

#include "sigcore/receiver.hpp"

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
    // Floating-point files are scaled to the full 16-bit range, clipped.
    sf_command(file_, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
}

AudioInput::~AudioInput() {
    if (file_ != nullptr) sf_close(file_);
}

std::int64_t AudioInput::read(std::span<std::int16_t> interleaved) {
    if (!ok()) return -1;
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels_));
    const sf_count_t got = sf_readf_short(file_, interleaved.data(), frames);
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
        error_ = sf_strerror(file_);
        return -1;
    }
    return got;
}

}  // namespace cidscan
