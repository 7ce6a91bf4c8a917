// A signal as a list of segments played in order: silences, FSK bursts,
// DTMF digit runs. A call sequence is such a list (alert tones, pauses,
// bursts); the player writes it block by block into the caller's buffer.
//
//     std::vector<sigcore::Segment> list;
//     list.emplace_back(sigcore::Silence{1600});
//     list.emplace_back(sigcore::FskWriter(settings, bytes, 8000));
//     sigcore::SegmentPlayer player(std::move(list));
//     while (std::size_t n = player.write(block)) consume(std::span(block).first(n));
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "sigcore/senders/dtmf.hpp"
#include "sigcore/senders/fsk.hpp"

namespace sigcore {

struct Silence {
    std::int64_t samples = 0;
    std::int64_t next = 0;

    [[nodiscard]] std::int64_t totalSamples() const { return samples; }
    std::size_t write(std::span<double> out);
};

using Segment = std::variant<Silence, FskWriter, DtmfWriter>;

[[nodiscard]] std::int64_t segmentSamples(const Segment& segment);

class SegmentPlayer {
public:
    explicit SegmentPlayer(std::vector<Segment> segments);

    [[nodiscard]] std::int64_t totalSamples() const { return total_; }

    // Writes the next samples into `out`; returns how many, fewer than
    // out.size() only when the last segment is over.
    std::size_t write(std::span<double> out);

private:
    std::vector<Segment> segments_;
    std::size_t current_ = 0;
    std::int64_t total_ = 0;
};

// Gaussian white noise of a set RMS (its power spread evenly over 0..fs/2),
// the same for the same seed on every run and machine.
class WhiteNoise {
public:
    WhiteNoise(std::uint64_t seed, double rms);

    // Adds noise to every sample of `block`.
    void addTo(std::span<double> block);

private:
    [[nodiscard]] double uniform();  // (0, 1]

    std::uint64_t state_;
    double rms_;
    double spare_ = 0.0;
    bool haveSpare_ = false;
};

}  // namespace sigcore
