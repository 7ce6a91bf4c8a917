#include "sigcore/measure/samplering.hpp"

#include <algorithm>

namespace sigcore {

SampleRing::SampleRing(std::size_t capacity) : ring_(std::max<std::size_t>(capacity, 1)) {}

void SampleRing::push(std::span<const std::int16_t> samples) {
    const auto size = static_cast<std::int64_t>(ring_.size());
    // Only the last `size` samples of a long block can stay.
    if (static_cast<std::int64_t>(samples.size()) > size) {
        const auto skip = samples.size() - ring_.size();
        total_ += static_cast<std::int64_t>(skip);
        samples = samples.subspan(skip);
    }
    // In at most two pieces: up to the ring's end, then from its start.
    const auto at = static_cast<std::size_t>(total_ % size);
    const std::size_t first = std::min(samples.size(), ring_.size() - at);
    std::copy_n(samples.begin(), first, ring_.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy(samples.begin() + static_cast<std::ptrdiff_t>(first), samples.end(), ring_.begin());
    total_ += static_cast<std::int64_t>(samples.size());
}

std::int64_t SampleRing::begin() const {
    return std::max<std::int64_t>(0, total_ - static_cast<std::int64_t>(ring_.size()));
}

std::int64_t SampleRing::copy(std::int64_t from, std::int64_t to, std::vector<float>& out) const {
    from = std::clamp(from, begin(), total_);
    to = std::clamp(to, from, total_);
    out.resize(static_cast<std::size_t>(to - from));
    const auto size = static_cast<std::int64_t>(ring_.size());
    const auto at = static_cast<std::size_t>(from % size);
    const std::size_t first = std::min(out.size(), ring_.size() - at);
    const auto begin = ring_.begin() + static_cast<std::ptrdiff_t>(at);
    std::transform(begin, begin + static_cast<std::ptrdiff_t>(first), out.begin(),
                   [](std::int16_t v) { return static_cast<float>(v); });
    std::transform(ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(out.size() - first),
                   out.begin() + static_cast<std::ptrdiff_t>(first), [](std::int16_t v) { return static_cast<float>(v); });
    return from;
}

}  // namespace sigcore
