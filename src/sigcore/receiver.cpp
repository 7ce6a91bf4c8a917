#include "sigcore/receiver.hpp"

#include <algorithm>
#include <stdexcept>

#include "sigcore/bandpass.hpp"
#include "sigcore/demod.hpp"
#include "sigcore/fft.hpp"

namespace sigcore {

// Everything one stream works on; the filter and the histories are large,
// so the receiver keeps them on the heap.
struct FskReceiver::Chain {
    MessageDecoder& decoder;
    EventSink& sink;
    int samplingRate = 0;
    DemodState demod;
    FftTables fft{kBandBlock};
    BandpassFilter filter;
    int filled = 0;                 // raw samples written into the filter's current block
    std::int64_t pushed = 0;        // raw samples pushed
    std::int64_t demodulated = 0;   // filtered samples given to the demodulator
    std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    bool finished = false;

    Chain(MessageDecoder& d, EventSink& s) : decoder(d), sink(s) {}
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    // Computes the block whose input is complete and demodulates its output,
    // up to `end` samples in all.
    void runBlock(std::int64_t end) {
        bandpassFilterBlock(filter, fft);
        filled = kBandBlock - kBandHop;
        const std::int64_t take = std::min<std::int64_t>(kBandHop, end - demodulated);
        if (take <= 0) return;
        demodBlock(demod, decoder, sink, std::span<const std::int16_t>(filter.output.data(), static_cast<std::size_t>(take)),
                   static_cast<std::uint32_t>(demodulated));
        demodulated += take;
    }
};

bool receiverAcceptsRate(int samplingRate) { return samplingRate >= kLowestRate && samplingRate <= kHighestRate; }

FskReceiver::FskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                         int sensitivity)
    : FskReceiver(plan, decoder, samplingRate, sink, ReceiverOptions{.sensitivity = sensitivity}) {}

FskReceiver::FskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                         const ReceiverOptions& options) {
    if (!receiverAcceptsRate(samplingRate)) throw std::invalid_argument("sampling rate out of range");
    if (options.sensitivity < 0 || options.sensitivity > 100) throw std::invalid_argument("sensitivity out of range");
    if (!(options.markSeconds >= 0.02 && options.markSeconds <= 1.0)) throw std::invalid_argument("mark duration out of range");
    chain_ = std::make_unique<Chain>(decoder, sink);
    Chain& c = *chain_;
    c.samplingRate = samplingRate;
    demodInit(c.demod, options.sensitivity, samplingRate, plan.baud);
    if (options.markSeconds != 0.055) c.demod.markLimit = static_cast<int>(samplingRate * options.markSeconds);
    demodBuildTones(c.demod, plan.markHz, plan.spaceHz, plan.baud);
    bandSetup(c.filter, samplingRate, 1000, 2800);
}

FskReceiver::~FskReceiver() = default;

void FskReceiver::push(std::span<const std::int16_t> samples) {
    Chain& c = *chain_;
    if (c.finished) return;
    while (!samples.empty()) {
        const auto room = static_cast<std::size_t>(kBandBlock - c.filled);
        const std::size_t n = std::min(room, samples.size());
        std::copy_n(samples.begin(), n, c.filter.input.begin() + c.filled);
        c.filled += static_cast<int>(n);
        c.pushed += static_cast<std::int64_t>(n);
        samples = samples.subspan(n);
        if (c.filled == kBandBlock) c.runBlock(c.limit);
    }
}

void FskReceiver::limitSamples(std::int64_t count) { chain_->limit = std::max<std::int64_t>(count, 0); }

void FskReceiver::finish() {
    Chain& c = *chain_;
    if (c.finished) return;
    c.finished = true;
    // Past the end the filter sees silence, as a reader gives zeros there.
    const std::int64_t end = std::min(c.pushed, c.limit);
    while (c.demodulated < end) {
        std::fill(c.filter.input.begin() + c.filled, c.filter.input.end(), std::int16_t{0});
        c.filled = kBandBlock;
        c.runBlock(end);
    }
    demodFinish(c.demod, c.decoder, c.sink, end);
}

std::int64_t FskReceiver::samplesPushed() const { return chain_->pushed; }

int FskReceiver::samplingRate() const { return chain_->samplingRate; }

}  // namespace sigcore
