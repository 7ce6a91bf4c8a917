// From cidgen's options to the signal: the message's bytes (or digits) and
// the list of segments that sound them (lead silence, the burst or digits,
// tail silence), with the tone power the noise is set against.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cidgen/options.hpp"
#include "cidgen/sequence.hpp"
#include "sigcore/senders/segments.hpp"

namespace cidgen {

// One message to send: the standard fixes its tones (or DTMF), the bytes
// are sent as they are (DTMF: the digits' characters).
struct Outgoing {
    Standard standard = Standard::UsMdmf;
    std::vector<std::uint8_t> bytes;
};

struct Composed {
    std::vector<Outgoing> messages;
    std::vector<sigcore::Segment> segments;
    double tonePower = 0.0;                // mean power of the first message's tones while they sound
    std::vector<Step> steps;               // with --sequence: the timing table
    std::string error;                     // not empty: nothing can be sent
};

// The message the options describe.
[[nodiscard]] Composed compose(const Options& options);
// Messages sent one after the other, each after --lead-ms of silence, with
// the options' signal settings; --tail-ms of silence at the end.
[[nodiscard]] Composed composeMessages(const Options& options, std::span<const Outgoing> messages);

// One message's segment at the options' levels and adjustments; sets
// `power` to the power of its tones while they sound when it is still 0.
[[nodiscard]] sigcore::Segment messageSegment(const Options& options, const Outgoing& message, double& power);

// The standard's nominal numbers of seizure and mark bits.
[[nodiscard]] int defaultSeizureBits(Standard standard);
[[nodiscard]] int defaultMarkBits(Standard standard);

}  // namespace cidgen
