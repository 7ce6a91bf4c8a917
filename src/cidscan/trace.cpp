#include "cidscan/trace.hpp"

#include <array>
#include <cmath>
#include <vector>

namespace cidscan {

namespace {

// The stretch [from, to) in stream positions the trace covers.
struct Span {
    double from = 0;
    double to = 0;
};

std::optional<Span> spanOf(const MessageMeasure& measure) {
    if (measure.fsk) {
        const sigcore::FskMeasurement& f = *measure.fsk;
        if (!f.measured) return std::nullopt;
        return Span{f.seizureStart.value_or(f.markStart), f.end};
    }
    std::optional<Span> out;
    for (const DigitMeasure& d : measure.digits) {
        if (!d.tones.measured) continue;
        if (!out) out = Span{d.tones.start, d.tones.end};
        out->from = std::min(out->from, d.tones.start);
        out->to = std::max(out->to, d.tones.end);
    }
    return out;
}

}  // namespace

std::optional<sigcore::LevelTrace> traceMessage(const MessageMeasure& measure,
                                                const sigcore::SampleRing& ring, int rate) {
    const std::optional<Span> span = spanOf(measure);
    if (!span || rate <= 0) return std::nullopt;
    const double margin = kTraceMarginSeconds * rate;
    std::vector<float> x;
    const std::int64_t first = ring.copy(static_cast<std::int64_t>(std::floor(span->from - margin)),
                                         static_cast<std::int64_t>(std::ceil(span->to + margin)), x);
    // The whole band shows the carrier's level, steady across seizure and
    // mark where each tone alone comes and goes with the bits.
    std::array<double, 3> tones{0.0, 0.0, 0.0};
    std::size_t count = 1;
    if (measure.fsk) {
        tones = {measure.fsk->markHz, measure.fsk->spaceHz, 0.0};
        count = 3;
    }
    sigcore::LevelTrace trace =
        sigcore::traceLevels(x, first, rate, std::span<const double>(tones.data(), count), kTraceStepSeconds);
    if (trace.points() == 0) return std::nullopt;
    return trace;
}

}  // namespace cidscan
