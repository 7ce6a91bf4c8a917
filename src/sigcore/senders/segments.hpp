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

// One or two sines for a set time, both starting at phase 0: a ringing
// burst as a recording across the line shows it (a low, loud tone), or a
// dual-tone alert (2130 + 2750 Hz). A second peak of 0 leaves one tone.
struct Tones {
    double firstHz = 0.0;
    double firstPeak = 0.0;   // full scale 1.0
    double secondHz = 0.0;
    double secondPeak = 0.0;
    std::int64_t samples = 0;
    int rate = 8000;
    std::int64_t next = 0;

    [[nodiscard]] std::int64_t totalSamples() const { return samples; }
    std::size_t write(std::span<double> out);
};

// A line reversal as a recording made through a coupling capacitor shows
// it: a step of `peak` that decays with `decayMs` to nothing.
struct LineStep {
    double peak = 0.0;
    double decayMs = 20.0;
    std::int64_t samples = 0;
    int rate = 8000;
    std::int64_t next = 0;

    [[nodiscard]] std::int64_t totalSamples() const { return samples; }
    std::size_t write(std::span<double> out);
};

using Segment = std::variant<Silence, FskWriter, DtmfWriter, Tones, LineStep>;

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
