// --measure: what the line sent, measured from the samples of each decoded
// message (tone frequencies and levels, bit rate, seizure and mark lengths,
// DTMF digits' tones and timing), and how cidscan writes it.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sigcore/measure/dtmfmeasure.hpp"
#include "sigcore/measure/leveltrace.hpp"
#include "sigcore/measure/fskmeasure.hpp"
#include "sigcore/measure/linesignal.hpp"
#include "sigcore/measure/samplering.hpp"
#include "sigcore/messages/events.hpp"

namespace cidscan {

// The level a full-scale sine stands for, by the G.711 convention.
inline constexpr double kFullScaleDbm0 = 3.14;

struct DigitMeasure {
    char digit = 0;
    sigcore::DigitMeasurement tones;
    std::optional<double> gap;  // samples from this digit's end to the next one's start
};

// One message's measurement: an FSK burst's or its DTMF digits'.
struct MessageMeasure {
    std::optional<sigcore::FskMeasurement> fsk;
    std::vector<DigitMeasure> digits;
    double refDbm0 = kFullScaleDbm0;
    // With --report: the tone levels over the burst, for its timing diagram.
    std::optional<sigcore::LevelTrace> trace;
    // From the end of the last line signal before the burst to its first
    // bit (seizure or mark); absent when no signal came before.
    std::optional<double> afterSignalMs;
    // That signal's kind (a limit on the gap depends on what came before).
    std::optional<sigcore::LineSignalKind> afterSignalKind;
};

// How many samples a channel keeps for measuring: the look-back before a
// message, the longest message, and the look-ahead after it.
[[nodiscard]] std::size_t measureRingSize(int rate);
// The stream position up to which the samples must be in before `m` can be
// measured (its carrier's end is looked for after it).
[[nodiscard]] std::int64_t measureReadyAt(const sigcore::Message& m, int rate);
[[nodiscard]] MessageMeasure measureMessage(const sigcore::Message& m, const sigcore::SampleRing& ring, int rate,
                                            double refDbm0);
// The same with the channel's meter, whose work space serves every burst.
// A burst's seizure and mark are looked for from `notBefore` on (the end of
// the line signal before it): a signal just before the burst, such as the
// phone's acknowledgement, is never taken for a part of it.
[[nodiscard]] MessageMeasure measureMessage(const sigcore::Message& m, const sigcore::SampleRing& ring, int rate,
                                            double refDbm0, sigcore::FskMeter& meter,
                                            std::int64_t notBefore = std::numeric_limits<std::int64_t>::min());

// The text block's lines (each indented, ending in a line end) and the JSON
// object.
[[nodiscard]] std::string measureText(const MessageMeasure& measure, int rate);
[[nodiscard]] nlohmann::ordered_json measureJson(const MessageMeasure& measure, int rate);

}  // namespace cidscan
