// The level of a few tones over time: what a timing diagram draws under a
// burst. Each point is one short windowed stretch of samples; the tones are
// followed by a single-frequency filter each, or the whole band by its RMS.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sigcore {

// Levels in dBFS (a full-scale sine is 0 dBFS), never below kTraceFloorDbfs.
struct LevelTrace {
    double firstCentre = 0;  // stream position of the first point's window centre
    double step = 0;         // samples from one point to the next
    std::vector<double> toneHz;              // what each row follows; 0 is the whole band
    std::vector<std::vector<float>> dbfs;    // one row per tone, one value per point

    [[nodiscard]] std::size_t points() const { return dbfs.empty() ? 0 : dbfs.front().size(); }
};

inline constexpr float kTraceFloorDbfs = -120.0F;

// The levels of `tonesHz` over `x` (stream samples from position `first`),
// a point every `stepSeconds` from a Hann window twice as long. A tone of 0
// Hz (or one at or past half the rate) stands for the whole band's level,
// reported as the level of the sine with the same RMS. Fewer samples than a
// window give no points.
[[nodiscard]] LevelTrace traceLevels(std::span<const float> x, std::int64_t first, int rate,
                                     std::span<const double> tonesHz, double stepSeconds);

}  // namespace sigcore
