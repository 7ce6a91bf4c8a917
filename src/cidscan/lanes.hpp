// The receivers that run over one channel, one per standard family: Bell 202
// FSK, V.23 FSK (NTT frames and ETSI messages on the same tones), DTMF caller
// ID and plain DTMF digits. Each turns the channel's samples into whole
// messages for the catcher it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "sigcore/messages/events.hpp"
#include "cidscan/options.hpp"
#include "cidscan/shareddtmf.hpp"

namespace cidscan {

class Lane {
public:
    virtual ~Lane() = default;
    virtual void push(std::span<const std::int16_t> samples) = 0;
    virtual void finish() = 0;
};

// The lanes a channel needs for the chosen standards; every message reaches
// `catcher` as a MessageDecoded event. A DTMF lane listens to `dtmf` when
// given (it must outlive the lanes), to a receiver of its own otherwise.
std::vector<std::unique_ptr<Lane>> makeLanes(StandardChoice standards, int samplingRate, int sensitivity,
                                             sigcore::EventSink& catcher, SharedDtmf* dtmf = nullptr);

}  // namespace cidscan
