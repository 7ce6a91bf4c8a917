// --report: the tone levels over a measured message, kept for the page's
// timing diagram.
#pragma once

#include <optional>

#include "cidscan/measure.hpp"
#include "sigcore/measure/leveltrace.hpp"
#include "sigcore/measure/samplering.hpp"

namespace cidscan {

// A point every 5 ms: fine enough to show a seizure's or a digit's edges.
inline constexpr double kTraceStepSeconds = 0.005;
// Drawn before the burst's first part and after its end.
inline constexpr double kTraceMarginSeconds = 0.02;

// An FSK burst's mark, space and whole-band levels from its seizure (or
// mark) to the carrier's end; DTMF digits' whole-band level from the first
// digit to the last. Absent when the message was not measured or its samples are gone.
[[nodiscard]] std::optional<sigcore::LevelTrace> traceMessage(const MessageMeasure& measure,
                                                              const sigcore::SampleRing& ring, int rate);

}  // namespace cidscan
