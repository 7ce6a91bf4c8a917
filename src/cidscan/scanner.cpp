#include "cidscan/scanner.hpp"

#include <memory>
#include <optional>
#include <vector>

#include "cidscan/catcher.hpp"
#include "cidscan/lanes.hpp"
#include "cidscan/measurestage.hpp"
#include "cidscan/signals.hpp"

namespace cidscan {

namespace {

// With --measure: passes what a channel's receivers find in a block to the
// batch that carries them to the measurement thread.
class BatchFiller final : public sigcore::EventSink {
public:
    void fill(ChannelBatch& batch) { batch_ = &batch; }
    void onEvent(const sigcore::Event& event) override {
        if (const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event)) {
            batch_->messages.push_back(decoded->message);
        }
    }
    // The DTMF receiver's digits, for the line-signal tracker.
    class Digits final : public sigcore::EventSink {
    public:
        explicit Digits(BatchFiller& filler) : filler_(filler) {}
        void onEvent(const sigcore::Event& event) override {
            if (const auto* digit = std::get_if<sigcore::DtmfTone>(&event)) filler_.batch_->digits.push_back(*digit);
        }

    private:
        BatchFiller& filler_;
    };

private:
    ChannelBatch* batch_ = nullptr;
};

// One channel with the receivers of every selected standard. Without
// --measure the receivers' messages go straight to the catcher; with it,
// the receivers run on the decoding thread and the rest (the channel's
// ring, its line-signal tracker and the catcher) on the measurement thread.
struct Channel {
    Channel(StandardChoice standards, int channelIndex, const std::string& file, int rate, int sensitivity,
            const MessageHandler& handler, bool& stop, bool measured)
        : dtmf(rate >= sigcore::kDtmfLowestRate && rate <= sigcore::kDtmfHighestRate ? std::make_unique<SharedDtmf>(rate)
                                                                                       : nullptr),
          catcher(file, channelIndex + 1, rate, handler, stop),
          lanes(makeLanes(standards, rate, sensitivity, measured ? static_cast<sigcore::EventSink&>(filler) : catcher,
                          dtmf.get())),
          index(static_cast<std::size_t>(channelIndex)) {}

    // With --measure the channel keeps its recent samples, and its line
    // signals where the rate allows a DTMF receiver.
    void keepSamples(int rate, double refDbm0) {
        ring.emplace(measureRingSize(rate));
        if (dtmf) {
            signals = std::make_unique<SignalTracker>(rate, *ring);
            digitsListener = dtmf->listen(digits);
        }
        catcher.measureFrom(*ring, refDbm0, signals.get());
    }

    // Decoding thread, --measure: runs the receivers over a block (the
    // tracker's digits first, as the measurement side takes them) and keeps
    // what they find in `batch`.
    void decode(std::span<const std::int16_t> samples, ChannelBatch& batch) {
        std::copy(samples.begin(), samples.end(), batch.samples.begin());
        batch.count = samples.size();
        filler.fill(batch);
        if (signals) dtmf->push(digitsListener, samples);
        for (const auto& lane : lanes) lane->push(samples);
    }
    void decodeEnd(ChannelBatch& batch) {
        filler.fill(batch);
        for (const auto& lane : lanes) lane->finish();
        if (signals) dtmf->finish(digitsListener);
    }

    // Measurement thread: takes a block's samples and findings, or the end.
    void measure(const ChannelBatch& batch, bool end) {
        const std::span<const std::int16_t> samples(batch.samples.data(), batch.count);
        if (!end) {
            ring->push(samples);
            if (signals) signals->push(samples);
            for (const sigcore::DtmfTone& digit : batch.digits) signals->onEvent(digit);
        }
        for (const sigcore::Message& message : batch.messages) catcher.onEvent(sigcore::MessageDecoded{message});
        if (end && signals) {
            signals->finish();
            for (const sigcore::DtmfTone& digit : batch.digits) signals->onEvent(digit);
        }
        catcher.deliver(end);
    }

    // The DTMF receiver of the channel's DTMF lane and line-signal tracker
    // (at the rates it takes): both hear the digits of one receiver.
    std::unique_ptr<SharedDtmf> dtmf;
    std::optional<sigcore::SampleRing> ring;
    std::unique_ptr<SignalTracker> signals;
    MessageCatcher catcher;
    BatchFiller filler;
    BatchFiller::Digits digits{filler};
    std::size_t digitsListener = 0;
    std::vector<std::unique_ptr<Lane>> lanes;
    std::size_t index;
};

using Channels = std::vector<std::unique_ptr<Channel>>;

// Reads `input` block by block into each selected channel's samples, calling
// `take(channel, samples)` for every channel of every block; stops when
// `take` returns false. Returns how the input ended.
template <typename Take>
ScanResult readBlocks(AudioInput& input, const Channels& selected, Take take) {
    const auto width = static_cast<std::size_t>(input.channels());
    const std::size_t blockFrames = input.seekable() ? kFileBlockFrames : kBlockFrames;
    std::vector<std::int16_t> interleaved(blockFrames * width);
    // A mono input's samples go to its receivers as they were read.
    std::vector<std::vector<std::int16_t>> perChannel(width == 1 ? 0 : width, std::vector<std::int16_t>(blockFrames));
    while (true) {
        const std::int64_t frames = input.read(interleaved);
        if (frames < 0) return {false, input.error()};
        if (frames == 0) return {};
        const auto n = static_cast<std::size_t>(frames);
        for (std::size_t c = 0; c < perChannel.size(); ++c) {
            std::vector<std::int16_t>& out = perChannel[c];
            for (std::size_t i = 0; i < n; ++i) out[i] = interleaved[i * width + c];
        }
        for (std::size_t k = 0; k < selected.size(); ++k) {
            const std::int16_t* samples = width == 1 ? interleaved.data() : perChannel[selected[k]->index].data();
            if (!take(k, std::span<const std::int16_t>(samples, n))) return {};
        }
    }
}

// Without --measure: every channel's receivers and catcher on this thread.
ScanResult scanDirect(AudioInput& input, const Channels& selected, const bool& stop) {
    const ScanResult result = readBlocks(input, selected, [&](std::size_t k, std::span<const std::int16_t> samples) {
        for (const auto& lane : selected[k]->lanes) {
            lane->push(samples);
            if (stop) return false;
        }
        return true;
    });
    if (stop) return result;
    for (const auto& channel : selected) {
        for (const auto& lane : channel->lanes) {
            lane->finish();
            if (stop) return result;
        }
    }
    return result;
}

// With --measure: the receivers on this thread, the measurement side on
// its own.
ScanResult scanMeasured(AudioInput& input, const Channels& selected) {
    const std::size_t blockFrames = input.seekable() ? kFileBlockFrames : kBlockFrames;
    MeasureStage stage(selected.size(), blockFrames, [&selected](const Batch& batch) {
        for (std::size_t k = 0; k < selected.size(); ++k) {
            selected[k]->measure(batch.channels[k], batch.end);
            // The catchers share one stop flag: the handler asked to stop.
            if (selected[k]->catcher.stopped()) return false;
        }
        return true;
    });
    Batch* batch = nullptr;
    const ScanResult result = readBlocks(input, selected, [&](std::size_t k, std::span<const std::int16_t> samples) {
        if (k == 0 && (batch = stage.acquire()) == nullptr) return false;
        selected[k]->decode(samples, batch->channels[k]);
        if (k + 1 == selected.size()) stage.publish();
        return true;
    });
    if ((batch = stage.acquire()) != nullptr) {
        batch->end = true;
        for (std::size_t k = 0; k < selected.size(); ++k) selected[k]->decodeEnd(batch->channels[k]);
        stage.publish();
    }
    stage.finish();
    return result;
}

}  // namespace

ScanResult scanInput(AudioInput& input, const std::string& name, const Options& options,
                     const MessageHandler& handler) {
    const int channels = input.channels();
    if (options.channel && *options.channel > channels) {
        return {false, "has " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") + ", not " +
                           std::to_string(*options.channel)};
    }
    bool stop = false;
    Channels selected;
    for (int c = 0; c < channels; ++c) {
        if (options.channel && *options.channel != c + 1) continue;
        selected.push_back(std::make_unique<Channel>(options.standards, c, name, input.rate(), options.sensitivity,
                                                     handler, stop, options.measure));
        if (options.measure) selected.back()->keepSamples(input.rate(), options.refDbm0);
        if (options.report) selected.back()->catcher.keepLevelTrace();
    }
    if (options.measure) return scanMeasured(input, selected);
    return scanDirect(input, selected, stop);
}

}  // namespace cidscan
