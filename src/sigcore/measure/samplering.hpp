// The recent samples of one channel, kept so that a message can be measured
// once it is decoded: a ring allocated once, written block by block.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sigcore {

class SampleRing {
public:
    // Keeps the last `capacity` samples (at least one).
    explicit SampleRing(std::size_t capacity);

    // Appends a block; allocates nothing.
    void push(std::span<const std::int16_t> samples);
    // Samples pushed so far: the stream position after the last one.
    [[nodiscard]] std::int64_t end() const { return total_; }
    // The earliest stream position still held.
    [[nodiscard]] std::int64_t begin() const;
    // Copies the samples of [from, to), clamped to what is held, into `out`
    // and returns the stream position of out[0].
    std::int64_t copy(std::int64_t from, std::int64_t to, std::vector<float>& out) const;

private:
    std::vector<std::int16_t> ring_;
    std::int64_t total_ = 0;
};

}  // namespace sigcore
