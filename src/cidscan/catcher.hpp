// The end of one channel's path: whole messages in, each handed on as a
// FoundMessage; with --measure, measured once the samples after it are in,
// held in time order with the line signals around them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "cidscan/found.hpp"
#include "cidscan/signals.hpp"
#include "sigcore/measure/fskmeasure.hpp"
#include "sigcore/measure/samplering.hpp"
#include "sigcore/messages/events.hpp"

namespace cidscan {

// Receives each message as soon as it is decoded; returns false to stop
// the scan (--once).
using MessageHandler = std::function<bool(const FoundMessage&)>;

// Passes on the whole messages of one channel and tone plan; every other
// event is for the report format and is dropped.
class MessageCatcher final : public sigcore::EventSink {
public:
    // `stop` is set when the handler asks to stop; nothing is passed on after.
    MessageCatcher(const std::string& file, int channel, int rate, const MessageHandler& handler, bool& stop)
        : file_(file), channel_(channel), rate_(rate), handler_(handler), stop_(stop) {}

    // With --report: each measured message keeps its tone levels over time.
    void keepLevelTrace() { trace_ = true; }

    void onEvent(const sigcore::Event& event) override;

    // With --measure: the channel's recent samples and the level a
    // full-scale sine stands for; the line signals' tracker when the rate
    // allows one.
    void measureFrom(const sigcore::SampleRing& ring, double refDbm0, SignalTracker* signals) {
        ring_ = &ring;
        refDbm0_ = refDbm0;
        signals_ = signals;
    }

    // Measures and passes on, in time order, the held messages whose
    // samples are all in and the line signals decided before them; every
    // one at the end of the input.
    void deliver(bool atEnd);
    // Whether the handler asked to stop.
    [[nodiscard]] bool stopped() const { return stop_; }

private:
    void passSignal(const sigcore::LineSignal& signal);
    // Where the next burst may start: at the last signal's end (anywhere
    // before any signal).
    [[nodiscard]] std::int64_t burstMayStartAt() const;
    // From the end of the last signal to the burst's first bit (its first
    // digit's start for DTMF).
    [[nodiscard]] std::optional<double> afterSignal(const MessageMeasure& measure, const sigcore::Message& m) const;

    const sigcore::SampleRing* ring_ = nullptr;
    SignalTracker* signals_ = nullptr;
    std::int64_t lastSignalEnd_ = -1;
    sigcore::LineSignalKind lastSignalKind_ = sigcore::LineSignalKind::DtAs;
    sigcore::FskMeter meter_;
    double refDbm0_ = kFullScaleDbm0;
    bool trace_ = false;
    std::deque<FoundMessage> pending_;
    const std::string& file_;
    int channel_;
    int rate_;
    const MessageHandler& handler_;
    bool& stop_;
};

}  // namespace cidscan
