#include "cidscan/catcher.hpp"

#include <iterator>
#include <limits>
#include <utility>

#include "cidscan/trace.hpp"

namespace cidscan {

void MessageCatcher::onEvent(const sigcore::Event& event) {
    const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event);
    if (decoded == nullptr || stop_) return;
    FoundMessage found{file_, channel_, rate_, decoded->message, std::nullopt, std::nullopt, std::nullopt};
    if (ring_ != nullptr) {
        if (signals_ != nullptr) {
            // A lone digit after a CAS is its acknowledgement, reported
            // as a signal of its own.
            if (signals_->isAck(found.message)) return;
            signals_->noteMessage(found.message.startSample, found.message.standard);
        }
        // Measured once the samples after the message are in as well;
        // held in time order.
        auto at = pending_.end();
        while (at != pending_.begin() && std::prev(at)->message.startSample > found.message.startSample) --at;
        pending_.insert(at, std::move(found));
        deliver(false);
        return;
    }
    if (!handler_(found)) stop_ = true;
}

void MessageCatcher::deliver(bool atEnd) {
    if (signals_ != nullptr) signals_->resolve(atEnd);
    while (!stop_) {
        const sigcore::LineSignal* signal = signals_ != nullptr ? signals_->front() : nullptr;
        if (signal != nullptr && (pending_.empty() || signal->startSample <= pending_.front().message.startSample)) {
            passSignal(*signal);
            signals_->pop();
            continue;
        }
        if (pending_.empty()) return;
        FoundMessage& found = pending_.front();
        if (!atEnd && ring_->end() < measureReadyAt(found.message, rate_)) return;
        // A signal that starts before the message may still be under way.
        if (!atEnd && signals_ != nullptr && signals_->settledBefore() <= found.message.startSample) return;
        found.measure = measureMessage(found.message, *ring_, rate_, refDbm0_, meter_, burstMayStartAt());
        found.measure->afterSignalMs = afterSignal(*found.measure, found.message);
        if (found.measure->afterSignalMs) found.measure->afterSignalKind = lastSignalKind_;
        if (trace_) found.measure->trace = traceMessage(*found.measure, *ring_, rate_);
        const bool more = handler_(found);
        pending_.pop_front();
        if (!more) stop_ = true;
    }
}

void MessageCatcher::passSignal(const sigcore::LineSignal& signal) {
    lastSignalEnd_ = signal.endSample;
    lastSignalKind_ = signal.kind;
    FoundMessage found{file_, channel_, rate_, sigcore::Message{}, std::nullopt, std::nullopt, signal};
    if (!handler_(found)) stop_ = true;
}

// Allowing for the edge's error instead takes the signal's last cycles for
// the burst's first bits.
std::int64_t MessageCatcher::burstMayStartAt() const {
    if (lastSignalEnd_ < 0) return std::numeric_limits<std::int64_t>::min();
    return lastSignalEnd_;
}

std::optional<double> MessageCatcher::afterSignal(const MessageMeasure& measure, const sigcore::Message& m) const {
    if (lastSignalEnd_ < 0) return std::nullopt;
    double start = static_cast<double>(m.startSample);
    if (measure.fsk && measure.fsk->measured) {
        start = measure.fsk->seizureStart ? *measure.fsk->seizureStart : measure.fsk->markStart;
    } else if (!measure.digits.empty() && measure.digits.front().tones.measured) {
        start = measure.digits.front().tones.start;
    }
    if (start < static_cast<double>(lastSignalEnd_)) return std::nullopt;
    return 1000.0 * (start - static_cast<double>(lastSignalEnd_)) / rate_;
}

}  // namespace cidscan
