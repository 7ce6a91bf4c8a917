// From cidgen's options to the signal: the message's bytes (or digits) and
// the list of segments that sound them (lead silence, the burst or digits,
// tail silence), with the tone power the noise is set against.
#pragma once

#include <string>
#include <vector>

#include "cidgen/options.hpp"
#include "sigcore/senders/segments.hpp"

namespace cidgen {

struct Composed {
    std::vector<std::uint8_t> message;     // bytes sent (DTMF: the digits' characters)
    std::vector<sigcore::Segment> segments;
    double tonePower = 0.0;                // mean power of the signal while it sounds
    std::string error;                     // not empty: nothing can be sent
};

[[nodiscard]] Composed compose(const Options& options);

// The standard's nominal numbers of seizure and mark bits.
[[nodiscard]] int defaultSeizureBits(Standard standard);
[[nodiscard]] int defaultMarkBits(Standard standard);

}  // namespace cidgen
