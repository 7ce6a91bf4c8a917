// A call sequence: what a line sends around the caller-ID message (ringing,
// line reversal, the dual-tone alert, pauses), as a list of segments and a
// timing table that names each one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sigcore/senders/segments.hpp"

namespace cidgen {

struct Options;
struct Outgoing;
enum class Standard;

enum class Preset { UsOnHook, UsCallWaiting, EtsiDtas, EtsiRpas, EtsiRing, Bt, Ntt, DtmfBeforeRing };

[[nodiscard]] std::optional<Preset> presetNamed(std::string_view text);
[[nodiscard]] const char* presetName(Preset preset);
// The message a preset sends when --standard is not given.
[[nodiscard]] Standard presetStandard(Preset preset);

// One row of the timing table: a segment and where it lies in the file.
struct Step {
    std::int64_t start = 0;  // samples
    std::int64_t end = 0;
    std::string what;
    std::string_view signal;  // the line signal cidscan --measure names it; empty: none
};

struct Sequence {
    std::vector<sigcore::Segment> segments;
    std::vector<Step> steps;
    double tonePower = 0.0;  // the message's tones while they sound
    std::string error;
};

// The preset's sequence around `message`, with the options' adjustments.
[[nodiscard]] Sequence composeSequence(const Options& options, const Outgoing& message);

// The timing table: a header, then per row its number, start and end in ms
// and what it is.
[[nodiscard]] std::string describeSteps(const std::vector<Step>& steps, int rate);

}  // namespace cidgen
