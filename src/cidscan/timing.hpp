// --report: the timing diagram of one channel, an inline SVG drawn to scale
// in seconds: a row of boxes for the line signals, a row for each burst's
// parts (seizure, mark, message) or DTMF digits, and under them the tone
// levels over time in dBm0, with the limits the --check applied.
#pragma once

#include <span>
#include <string>

#include "cidscan/found.hpp"

namespace cidscan {

// The stretch of the recording a record covers, in seconds.
struct TimeSpan {
    double from = 0;
    double to = 0;
};

// From the first part of a record (its seizure when measured) to its last
// (the carrier's end, the end of its level trace).
[[nodiscard]] TimeSpan recordSpan(const FoundMessage& found);

// A tick every 1, 2 or 5 times a power of ten, about `wanted` across `span`.
[[nodiscard]] double tickStep(double span, int wanted);

// The <svg> element for the records of one channel (all of one file and
// channel, in any order); empty when there are none. The limits drawn are
// those the records' checks applied.
[[nodiscard]] std::string timingDiagram(std::span<const FoundMessage* const> records);

}  // namespace cidscan
