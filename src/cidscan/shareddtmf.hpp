// One DTMF receiver heard by several listeners over the same stream: a
// channel's DTMF lane and, with --measure, its line-signal tracker want the
// digits of the same samples. Each listener pushes every block and the end
// of the stream itself, in the same order; the first to push a block runs
// the receiver, every other gets the digits found in it, in the same order.
// So each listener sees what a receiver of its own would have given it,
// at the cost of one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sigcore/messages/events.hpp"
#include "sigcore/receivers/dtmf.hpp"

namespace cidscan {

class SharedDtmf final : private sigcore::EventSink {
public:
    explicit SharedDtmf(int samplingRate);
    SharedDtmf(const SharedDtmf&) = delete;
    SharedDtmf& operator=(const SharedDtmf&) = delete;

    // A new listener, whose digits go to `sink`; returns its number.
    std::size_t listen(sigcore::EventSink& sink);
    // Listener `who`'s next block. A listener may be one block behind the
    // first, no more: throws std::logic_error otherwise.
    void push(std::size_t who, std::span<const std::int16_t> samples);
    void finish(std::size_t who);
    // The samples listener `who` has pushed.
    [[nodiscard]] std::int64_t samplesPushed(std::size_t who) const { return listeners_.at(who).pushed; }

private:
    struct Listener {
        sigcore::EventSink* sink = nullptr;
        std::int64_t steps = 0;  // blocks and end pushed
        std::int64_t pushed = 0;
    };
    void onEvent(const sigcore::Event& event) override;
    // Runs `step` on the receiver when `who` is the first to take it, or
    // hands `who` the digits of the step the receiver took last.
    template <typename Step>
    void take(std::size_t who, Step step);

    sigcore::DtmfReceiver receiver_;
    std::vector<Listener> listeners_;
    std::vector<sigcore::DtmfTone> last_;  // the digits of the receiver's last step
    std::int64_t steps_ = 0;
    sigcore::EventSink* live_ = nullptr;  // the listener that runs the step under way
};

}  // namespace cidscan
