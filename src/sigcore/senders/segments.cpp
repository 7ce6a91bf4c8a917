#include "sigcore/senders/segments.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigcore {

std::size_t Silence::write(std::span<double> out) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(out.size()), samples - next));
    std::fill_n(out.begin(), n, 0.0);
    next += static_cast<std::int64_t>(n);
    return n;
}

std::size_t Tones::write(std::span<double> out) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(out.size()), samples - next));
    const double first = 2.0 * std::numbers::pi * firstHz / rate;
    const double second = 2.0 * std::numbers::pi * secondHz / rate;
    for (std::size_t i = 0; i < n; ++i) {
        // From the sample index, so the phase never drifts over a long ring.
        const auto k = static_cast<double>(next + static_cast<std::int64_t>(i));
        out[i] = firstPeak * std::sin(first * k) + secondPeak * std::sin(second * k);
    }
    next += static_cast<std::int64_t>(n);
    return n;
}

std::size_t LineStep::write(std::span<double> out) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(out.size()), samples - next));
    const double perSample = decayMs > 0.0 ? 1000.0 / (decayMs * rate) : 1e9;
    for (std::size_t i = 0; i < n; ++i) {
        const auto k = static_cast<double>(next + static_cast<std::int64_t>(i));
        out[i] = peak * std::exp(-k * perSample);
    }
    next += static_cast<std::int64_t>(n);
    return n;
}

std::int64_t segmentSamples(const Segment& segment) {
    return std::visit([](const auto& s) { return s.totalSamples(); }, segment);
}

SegmentPlayer::SegmentPlayer(std::vector<Segment> segments) : segments_(std::move(segments)) {
    for (const Segment& s : segments_) total_ += segmentSamples(s);
}

std::size_t SegmentPlayer::write(std::span<double> out) {
    std::size_t written = 0;
    while (written < out.size() && current_ < segments_.size()) {
        const std::size_t n =
            std::visit([&](auto& s) { return s.write(out.subspan(written)); }, segments_[current_]);
        written += n;
        if (written < out.size()) ++current_;  // that segment is over
    }
    return written;
}

WhiteNoise::WhiteNoise(std::uint64_t seed, double rms) : state_(seed), rms_(rms) {}

double WhiteNoise::uniform() {
    // splitmix64: a fixed, portable sequence for a seed.
    state_ += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 1.0) / 9007199254740992.0;  // (0, 1]
}

void WhiteNoise::addTo(std::span<double> block) {
    for (double& sample : block) {
        if (haveSpare_) {
            sample += rms_ * spare_;
            haveSpare_ = false;
            continue;
        }
        // Box-Muller: two independent normal values from two uniform ones.
        const double radius = std::sqrt(-2.0 * std::log(uniform()));
        const double angle = 2.0 * std::numbers::pi * uniform();
        spare_ = radius * std::sin(angle);
        haveSpare_ = true;
        sample += rms_ * radius * std::cos(angle);
    }
}

}  // namespace sigcore
