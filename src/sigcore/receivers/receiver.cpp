#include "sigcore/receivers/receiver.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "sigcore/dsp/bandpass.hpp"
#include "sigcore/receivers/demod.hpp"
#include "sigcore/dsp/fft.hpp"

namespace sigcore {

// One tone plan's demodulator and where its bytes and events go.
struct FskReceiver::Lane {
    MessageDecoder* decoder = nullptr;
    EventSink* sink = nullptr;
    DemodState demod;
};

// Everything one stream works on; the filter and the histories are large,
// so the receiver keeps them on the heap.
struct FskReceiver::Chain {
    std::unique_ptr<Lane[]> lanes;  // each tone plan over the same filtered samples
    std::size_t laneCount = 0;
    int samplingRate = 0;
    FftTables fft{kBandBlock};
    BandpassFilter filter;
    int filled = 0;                 // raw samples written into the filter's current block
    std::int64_t pushed = 0;        // raw samples pushed
    std::int64_t demodulated = 0;   // filtered samples given to the demodulators
    std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    bool finished = false;

    Chain() = default;
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    // Computes the block whose input is complete and demodulates its output,
    // up to `end` samples in all.
    void runBlock(std::int64_t end) {
        bandpassFilterBlock(filter, fft);
        filled = kBandBlock - kBandHop;
        const std::int64_t take = std::min<std::int64_t>(kBandHop, end - demodulated);
        if (take <= 0) return;
        const std::span<const std::int16_t> filtered(filter.output.data(), static_cast<std::size_t>(take));
        for (std::size_t i = 0; i < laneCount; ++i) {
            Lane& lane = lanes[i];
            demodBlock(lane.demod, *lane.decoder, *lane.sink, filtered, static_cast<std::uint32_t>(demodulated));
        }
        demodulated += take;
    }
};

bool receiverAcceptsRate(int samplingRate) { return samplingRate >= kLowestRate && samplingRate <= kHighestRate; }

FskReceiver::FskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                         int sensitivity)
    : FskReceiver(plan, decoder, samplingRate, sink, ReceiverOptions{.sensitivity = sensitivity}) {}

FskReceiver::FskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                         const ReceiverOptions& options)
    : FskReceiver(std::span<const ReceiverPlan>(std::array<ReceiverPlan, 1>{ReceiverPlan{plan, decoder, sink}}),
                  samplingRate, options) {}

FskReceiver::FskReceiver(std::span<const ReceiverPlan> plans, int samplingRate, int sensitivity)
    : FskReceiver(plans, samplingRate, ReceiverOptions{.sensitivity = sensitivity}) {}

FskReceiver::FskReceiver(std::span<const ReceiverPlan> plans, int samplingRate, const ReceiverOptions& options) {
    if (!receiverAcceptsRate(samplingRate)) throw std::invalid_argument("sampling rate out of range");
    if (options.sensitivity < 0 || options.sensitivity > 100) throw std::invalid_argument("sensitivity out of range");
    if (!(options.markSeconds >= 0.02 && options.markSeconds <= 1.0)) {
        throw std::invalid_argument("mark duration out of range");
    }
    if (plans.empty()) throw std::invalid_argument("no tone plan");
    chain_ = std::make_unique<Chain>();
    Chain& c = *chain_;
    c.samplingRate = samplingRate;
    c.lanes = std::make_unique<Lane[]>(plans.size());
    c.laneCount = plans.size();
    for (std::size_t i = 0; i < plans.size(); ++i) {
        Lane& lane = c.lanes[i];
        const TonePlan& plan = plans[i].plan;
        lane.decoder = &plans[i].decoder;
        lane.sink = &plans[i].sink;
        demodInit(lane.demod, options.sensitivity, samplingRate, plan.baud);
        if (options.markSeconds != 0.055) lane.demod.markLimit = static_cast<int>(samplingRate * options.markSeconds);
        demodBuildTones(lane.demod, plan.markHz, plan.spaceHz, plan.baud);
    }
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
    for (std::size_t i = 0; i < c.laneCount; ++i) {
        Lane& lane = c.lanes[i];
        demodFinish(lane.demod, *lane.decoder, *lane.sink, end);
    }
}

std::int64_t FskReceiver::samplesPushed() const { return chain_->pushed; }

int FskReceiver::samplingRate() const { return chain_->samplingRate; }

}  // namespace sigcore
