#include "cidscan/scanner.hpp"

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "cidscan/lanes.hpp"

namespace cidscan {

namespace {

// Passes on the whole messages of one channel and tone plan; every other
// event is for the report format and is dropped.
class MessageCatcher final : public sigcore::EventSink {
public:
    MessageCatcher(const std::string& file, int channel, int rate, const MessageHandler& handler, bool& stop)
        : file_(file), channel_(channel), rate_(rate), handler_(handler), stop_(stop) {}

    void onEvent(const sigcore::Event& event) override {
        const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event);
        if (decoded == nullptr || stop_) return;
        FoundMessage found{file_, channel_, rate_, decoded->message, std::nullopt, std::nullopt, std::nullopt};
        if (ring_ != nullptr) {
            // Measured once the samples after the message are in as well.
            pending_.push_back(std::move(found));
            deliver(false);
            return;
        }
        if (!handler_(found)) stop_ = true;
    }

    // With --measure: the channel's recent samples and the level a
    // full-scale sine stands for.
    void measureFrom(const sigcore::SampleRing& ring, double refDbm0) {
        ring_ = &ring;
        refDbm0_ = refDbm0;
    }

    // Measures and passes on the held messages whose samples are all in;
    // every one at the end of the input.
    void deliver(bool atEnd) {
        while (!pending_.empty() && !stop_) {
            FoundMessage& found = pending_.front();
            if (!atEnd && ring_->end() < measureReadyAt(found.message, rate_)) return;
            found.measure = measureMessage(found.message, *ring_, rate_, refDbm0_, meter_);
            const bool more = handler_(found);
            pending_.pop_front();
            if (!more) stop_ = true;
        }
    }

private:
    const sigcore::SampleRing* ring_ = nullptr;
    sigcore::FskMeter meter_;
    double refDbm0_ = kFullScaleDbm0;
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
        : catcher(file, channelIndex + 1, rate, handler, stop),
          lanes(makeLanes(standards, rate, sensitivity, catcher)),
          index(static_cast<std::size_t>(channelIndex)) {}

    // With --measure the channel keeps its recent samples.
    void keepSamples(int rate, double refDbm0) {
        ring.emplace(measureRingSize(rate));
        catcher.measureFrom(*ring, refDbm0);
    }

    std::optional<sigcore::SampleRing> ring;
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
            if (channel->ring) channel->catcher.deliver(true);
            if (stop) break;
        }
    }
    return result;
}

}  // namespace cidscan
