#include "sigcore/senders/fsk.hpp"

#include <cmath>
#include <numbers>

namespace sigcore {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

}  // namespace

FskWriter::FskWriter(const FskSettings& settings, std::span<const std::uint8_t> bytes, int rate)
    : settings_(settings), bytes_(bytes.begin(), bytes.end()), rate_(static_cast<double>(rate)) {
    bitRate_ = settings_.tones.baud * (1.0 + settings_.rateErrorPercent / 100.0);
    // The burst lasts totalBits / bitRate; its samples are those whose time
    // falls inside it.
    const double seconds = static_cast<double>(totalBits()) / bitRate_;
    total_ = static_cast<std::int64_t>(std::ceil(seconds * rate_ - 1e-9));
}

std::int64_t FskWriter::totalBits() const {
    const std::int64_t perByte = 9 + settings_.stopBits;
    return std::int64_t{settings_.seizureBits} + settings_.markBits +
           static_cast<std::int64_t>(bytes_.size()) * perByte + settings_.trailingMarkBits;
}

bool FskWriter::bitAt(std::int64_t bit) const {
    if (bit < settings_.seizureBits) return bit % 2 != 0;
    bit -= settings_.seizureBits;
    if (bit < settings_.markBits) return true;
    bit -= settings_.markBits;
    const std::int64_t perByte = 9 + settings_.stopBits;
    const std::int64_t byte = bit / perByte;
    if (byte >= static_cast<std::int64_t>(bytes_.size())) return true;  // trailing mark
    const std::int64_t pos = bit % perByte;
    if (pos == 0) return false;  // start bit
    if (pos > 8) return true;    // stop bits
    return ((bytes_[static_cast<std::size_t>(byte)] >> (pos - 1)) & 1u) != 0;
}

std::size_t FskWriter::write(std::span<double> out) {
    const double markStep = kTwoPi * (settings_.tones.markHz + settings_.markOffsetHz) / rate_;
    const double spaceStep = kTwoPi * (settings_.tones.spaceHz + settings_.spaceOffsetHz) / rate_;
    const double bitsPerSample = bitRate_ / rate_;
    std::size_t written = 0;
    for (; written < out.size() && next_ < total_; ++written, ++next_) {
        const auto bit = static_cast<std::int64_t>(std::floor(static_cast<double>(next_) * bitsPerSample + 1e-9));
        const bool mark = bitAt(bit);
        out[written] = (mark ? settings_.markPeak : settings_.spacePeak) * std::sin(phase_);
        phase_ += mark ? markStep : spaceStep;
        if (phase_ >= kTwoPi) phase_ -= kTwoPi;
    }
    return written;
}

}  // namespace sigcore
