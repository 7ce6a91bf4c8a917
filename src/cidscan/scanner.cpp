#include "cidscan/scanner.hpp"

#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "cidscan/trace.hpp"
#include "cidscan/lanes.hpp"
#include "cidscan/signals.hpp"

namespace cidscan {

namespace {

// Passes on the whole messages of one channel and tone plan; every other
// event is for the report format and is dropped.
class MessageCatcher final : public sigcore::EventSink {
public:
    MessageCatcher(const std::string& file, int channel, int rate, const MessageHandler& handler, bool& stop)
        : file_(file), channel_(channel), rate_(rate), handler_(handler), stop_(stop) {}

    // With --report: each measured message keeps its tone levels over time.
    void keepLevelTrace() { trace_ = true; }

    void onEvent(const sigcore::Event& event) override {
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
    void deliver(bool atEnd) {
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

private:
    void passSignal(const sigcore::LineSignal& signal) {
        lastSignalEnd_ = signal.endSample;
        lastSignalKind_ = signal.kind;
        FoundMessage found{file_, channel_, rate_, sigcore::Message{}, std::nullopt, std::nullopt, signal};
        if (!handler_(found)) stop_ = true;
    }

    // Where the next burst may start: at the last signal's end (anywhere
    // before any signal). Allowing for the edge's error instead takes the
    // signal's last cycles for the burst's first bits.
    std::int64_t burstMayStartAt() const {
        if (lastSignalEnd_ < 0) return std::numeric_limits<std::int64_t>::min();
        return lastSignalEnd_;
    }

    // From the end of the last signal to the burst's first bit (its first
    // digit's start for DTMF).
    std::optional<double> afterSignal(const MessageMeasure& measure, const sigcore::Message& m) const {
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

// One channel with the receivers of every selected standard.
struct Channel {
    Channel(StandardChoice standards, int channelIndex, const std::string& file, int rate, int sensitivity,
            const MessageHandler& handler, bool& stop)
        : dtmf(rate >= sigcore::kDtmfLowestRate && rate <= sigcore::kDtmfHighestRate ? std::make_unique<SharedDtmf>(rate)
                                                                                       : nullptr),
          catcher(file, channelIndex + 1, rate, handler, stop),
          lanes(makeLanes(standards, rate, sensitivity, catcher, dtmf.get())),
          index(static_cast<std::size_t>(channelIndex)) {}

    // With --measure the channel keeps its recent samples.
    void keepSamples(int rate, double refDbm0) {
        ring.emplace(measureRingSize(rate));
        if (dtmf) {
            signals = std::make_unique<SignalTracker>(rate, *ring, *dtmf);
        }
        catcher.measureFrom(*ring, refDbm0, signals.get());
    }

    // The DTMF receiver of the channel's DTMF lane and line-signal tracker
    // (at the rates it takes): both hear the digits of one receiver.
    std::unique_ptr<SharedDtmf> dtmf;
    std::optional<sigcore::SampleRing> ring;
    std::unique_ptr<SignalTracker> signals;
    MessageCatcher catcher;
    std::vector<std::unique_ptr<Lane>> lanes;
    std::size_t index;
};

}  // namespace

ScanResult scanInput(AudioInput& input, const std::string& name, const Options& options,
                     const MessageHandler& handler) {
    const int channels = input.channels();
    if (options.channel && *options.channel > channels) {
        return {false, "has " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") + ", not " +
                           std::to_string(*options.channel)};
    }
    bool stop = false;
    std::vector<std::unique_ptr<Channel>> selected;
    for (int c = 0; c < channels; ++c) {
        if (options.channel && *options.channel != c + 1) continue;
        selected.push_back(
            std::make_unique<Channel>(options.standards, c, name, input.rate(), options.sensitivity, handler, stop));
        if (options.measure) selected.back()->keepSamples(input.rate(), options.refDbm0);
        if (options.report) selected.back()->catcher.keepLevelTrace();
    }
    const auto width = static_cast<std::size_t>(channels);
    const std::size_t blockFrames = input.seekable() ? kFileBlockFrames : kBlockFrames;
    std::vector<std::int16_t> interleaved(blockFrames * width);
    // A mono input's samples go to its receivers as they were read.
    std::vector<std::vector<std::int16_t>> perChannel(width == 1 ? 0 : width, std::vector<std::int16_t>(blockFrames));
    ScanResult result;
    while (!stop) {
        const std::int64_t frames = input.read(interleaved);
        if (frames < 0) {
            result = {false, input.error()};
            break;
        }
        if (frames == 0) break;
        const auto n = static_cast<std::size_t>(frames);
        for (std::size_t c = 0; c < perChannel.size(); ++c) {
            std::vector<std::int16_t>& out = perChannel[c];
            for (std::size_t i = 0; i < n; ++i) out[i] = interleaved[i * width + c];
        }
        for (const auto& channel : selected) {
            const std::int16_t* samples = width == 1 ? interleaved.data() : perChannel[channel->index].data();
            if (channel->ring) channel->ring->push(std::span<const std::int16_t>(samples, n));
            if (channel->signals) channel->signals->push(std::span<const std::int16_t>(samples, n));
            for (const auto& lane : channel->lanes) {
                lane->push(std::span<const std::int16_t>(samples, n));
                if (stop) break;
            }
            if (channel->ring) channel->catcher.deliver(false);
            if (stop) break;
        }
    }
    if (!stop) {
        for (const auto& channel : selected) {
            for (const auto& lane : channel->lanes) {
                lane->finish();
                if (stop) break;
            }
            if (channel->signals) channel->signals->finish();
            if (channel->ring) channel->catcher.deliver(true);
            if (stop) break;
        }
    }
    return result;
}

}  // namespace cidscan
