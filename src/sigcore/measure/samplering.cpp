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
    std::size_t at = static_cast<std::size_t>(total_ % size);
    for (const std::int16_t s : samples) {
        ring_[at] = s;
        if (++at == ring_.size()) at = 0;
    }
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
    for (std::int64_t p = from; p < to; ++p) {
        out[static_cast<std::size_t>(p - from)] = static_cast<float>(ring_[static_cast<std::size_t>(p % size)]);
    }
    return from;
}

}  // namespace sigcore
