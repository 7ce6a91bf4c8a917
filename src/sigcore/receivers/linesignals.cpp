#include "sigcore/receivers/linesignals.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigcore {

namespace {

constexpr double kBlockSeconds = 0.005;
constexpr double kAlertHz[2] = {2130.0, 2750.0};
// Each alert tone's amplitude: -45 dBFS.
constexpr double kAlertMinAmplitude = 32768.0 * 0.005623;
constexpr double kAlertShare = 0.6;
constexpr double kAlertMaxTwist = 3.1623;  // 10 dB in amplitude
constexpr int kAlertMinBlocks = 6;         // 30 ms
constexpr int kAlertBridgedBlocks = 1;
// The low-frequency path.
constexpr double kDcHz = 1.0;
constexpr double kLowPassHz = 150.0;
constexpr double kLowThreshold = 32768.0 * 0.031623;  // -30 dBFS
constexpr double kLowRelative = 0.125;
constexpr double kLowShare = 0.3;
constexpr double kLowBridgeSeconds = 0.040;
constexpr double kRingMinSeconds = 0.080;
constexpr double kRingMinHz = 12.0;
constexpr double kRingMaxHz = 80.0;
// No cadence rings longer; mains hum goes on.
constexpr double kRingMaxSeconds = 4.0;
// A swing this many times larger to one side than the other is one-sided.
constexpr double kOneSided = 3.0;
constexpr double kReversalMaxSeconds = 0.4;
constexpr double kReversalMinPeak = 32768.0 * 0.1;  // -20 dBFS
constexpr double kAfterRingSeconds = 0.25;
constexpr double kSettleSeconds = 0.1;
// The low-passed level before a run, followed block by block (about 100 ms);
// ringing and a line reversal stand 20 dB above it; ringing's cycles
// differ in length by 15 % (standard deviation) at most.
constexpr double kFloorSmoothing = 0.05;
constexpr double kRingOverFloor = 100.0;
constexpr double kReversalOverFloor = 100.0;
constexpr double kRingMaxSpread = 0.15;
// A wave that grows to more than twice its level between two up-crossings
// is counted afresh from the second.
constexpr double kRecountGrowth = 2.0;

}  // namespace

LineSignalReceiver::LineSignalReceiver(int samplingRate, LineToneSink& sink)
    : sink_(sink), rate_(std::max(samplingRate, 1)),
      block_(static_cast<std::size_t>(std::max(1L, std::lround(kBlockSeconds * rate_)))),
      dcA_(std::exp(-2.0 * std::numbers::pi * kDcHz / rate_)),
      lpA_(std::exp(-2.0 * std::numbers::pi * kLowPassHz / rate_)),
      afterRingDecay_(std::pow(dcA_, static_cast<double>(block_))) {
    head_.reserve(block_);
    for (std::size_t k = 0; k < 2; ++k) toneCoeff_[k] = 2.0 * std::cos(2.0 * std::numbers::pi * kAlertHz[k] / rate_);
}

void LineSignalReceiver::push(std::span<const std::int16_t> samples) {
    if (!started_) {
        // The stream's first block is held back until its mean is known.
        const std::size_t count = std::min(samples.size(), block_ - head_.size());
        head_.insert(head_.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(count));
        samples = samples.subspan(count);
        if (head_.size() < block_) return;
        start();
    }
    feed(samples);
}

// An offset the stream starts with is no step: the DC blocker starts from
// the first block's mean. One sample would do without noise; with it, that
// sample's noise is a step the blocker then lets decay over a few hundred
// milliseconds, which raises the low-frequency level ringing is set against.
void LineSignalReceiver::start() {
    started_ = true;
    if (head_.empty()) return;
    double sum = 0;
    for (const std::int16_t s : head_) sum += s;
    dcX_ = sum / static_cast<double>(head_.size());
    feed(head_);
    head_.clear();
}

void LineSignalReceiver::feed(std::span<const std::int16_t> samples) {
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), block_ - filled_);
        scan(samples.first(count));
        samples = samples.subspan(count);
        if (filled_ == block_) endBlock();
    }
}

// Samples that end no block, a chunk at a time: first the arithmetic, its
// state in locals, keeping the low-passed samples; then the low-passed wave
// is followed sample by sample (lowSample) only where it swings beyond the
// hysteresis, half the threshold: within it no sample is above the
// threshold or changes the wave's side, and all it leaves is the block's
// largest swing to each side, kept with the arithmetic.
// Each recursion is written so that a sample waits on the one before for
// one product and one sum only (its other terms are ready before): the
// filters as a * y + (1 - a) * x, and the alert tones' Goertzel filters,
// side by side in one pair of doubles, as (x - s2) + c * s1.
void LineSignalReceiver::scan(std::span<const std::int16_t> samples) {
    using Pair = double __attribute__((vector_size(16)));
    const Pair coeff{toneCoeff_[0], toneCoeff_[1]};
    Pair s1{toneS1_[0], toneS1_[1]};
    Pair s2{toneS2_[0], toneS2_[1]};
    double energy = energy_, dcX = dcX_, dcY = dcY_, lp1 = lp1_, lp2 = lp2_;
    double lowEnergy = lowEnergy_, hpEnergy = hpEnergy_, lowMax = lowMax_, lowMin = lowMin_;
    const double dcA = dcA_, lpA = lpA_, lpGain = 1.0 - lpA_;
    constexpr std::size_t kChunk = 64;
    std::array<double, kChunk> low;
    for (std::size_t from = 0; from < samples.size(); from += kChunk) {
        const std::size_t count = std::min(kChunk, samples.size() - from);
        for (std::size_t i = 0; i < count; ++i) {
            const double x = samples[from + i];
            const Pair s = (x - s2) + coeff * s1;
            s2 = s1;
            s1 = s;
            energy += x * x;
            const double hp = (x - dcX) + dcA * dcY;
            dcX = x;
            dcY = hp;
            lp1 = lpA * lp1 + lpGain * hp;
            lp2 = lpA * lp2 + lpGain * lp1;
            lowEnergy += lp2 * lp2;
            hpEnergy += hp * hp;
            lowMax = std::max(lowMax, lp2);
            lowMin = std::min(lowMin, lp2);
            low[i] = lp2;
        }
        double hysteresis = lowThreshold() / 2;
        for (std::size_t i = 0; i < count; ++i) {
            if (std::abs(low[i]) <= hysteresis) continue;
            lowSample(low[i], pushed_ + static_cast<std::int64_t>(from + i));
            hysteresis = lowThreshold() / 2;
        }
    }
    for (std::size_t k = 0; k < 2; ++k) {
        toneS1_[k] = s1[k];
        toneS2_[k] = s2[k];
    }
    energy_ = energy;
    dcX_ = dcX;
    dcY_ = dcY;
    lp1_ = lp1;
    lp2_ = lp2;
    lowEnergy_ = lowEnergy;
    hpEnergy_ = hpEnergy;
    lowMax_ = lowMax;
    lowMin_ = lowMin;
    pushed_ += static_cast<std::int64_t>(samples.size());
    filled_ += samples.size();
}

inline double LineSignalReceiver::lowThreshold() const {
    return std::max(std::max(kLowThreshold, kLowRelative * lowPeak_), afterRing_);
}

// The low-passed sample `lp`, at stream position `at`, beyond the
// hysteresis: where the run lies above the threshold, its peak, and its
// up-crossings.
void LineSignalReceiver::lowSample(double lp, std::int64_t at) {
    // Relative to the run's peak too: the DC blocker's memory outlasts
    // a strong wave at a fraction of its level.
    const double threshold = lowThreshold();
    const double a = std::abs(lp);
    if (a > threshold) {
        if (aboveFirst_ < 0) aboveFirst_ = at;
        lowLast_ = at;
        lowPeak_ = std::max(lowPeak_, a);
        if (pendingUp_ >= 0 && lp > 0) countUp();
    }
    const double hysteresis = threshold / 2;
    if (lp > hysteresis && lowSign_ <= 0) {
        // An up-crossing counts once its half-cycle rises above the
        // threshold: the filters' tail after the wave stops can cross the
        // hysteresis once more, a cycle or two after the last, and so can
        // noise just before the wave starts; either would make even cycles
        // look uneven.
        if (lowSign_ < 0) pendingUp_ = at;
        lowSign_ = 1;
    } else if (lp < -hysteresis && lowSign_ >= 0) {
        lowSign_ = -1;
        pendingUp_ = -1;
    }
}

// Counts the pending up-crossing. Crossings counted before the wave grew to
// more than twice its level at the last one were its onset or the noise
// before it (a wave that starts in its positive half crosses upwards where it
// has no zero crossing): counting starts afresh at this one.
void LineSignalReceiver::countUp() {
    if (upCrossings_ > 0 && lowPeak_ > kRecountGrowth * countedPeak_) {
        upCrossings_ = 0;
        intervalSquares_ = 0;
    }
    countedPeak_ = lowPeak_;
    if (upCrossings_ == 0) {
        firstUp_ = pendingUp_;
    } else {
        const auto interval = static_cast<double>(pendingUp_ - lastUp_);
        intervalSquares_ += interval * interval;
    }
    lastUp_ = pendingUp_;
    ++upCrossings_;
    pendingUp_ = -1;
}

void LineSignalReceiver::endBlock() {
    const auto n = static_cast<double>(filled_);
    alertBlock(alertIn(n));
    // The block's swings to each side join the run's.
    posPeak_ = std::max(posPeak_, lowMax_);
    negPeak_ = std::max(negPeak_, -lowMin_);
    const double blockPeak = std::max(lowMax_, -lowMin_);
    const double threshold = lowThreshold();
    lowBlock(blockPeak > threshold && lowEnergy_ >= kLowShare * hpEnergy_, lowEnergy_ / n);
    afterRing_ *= afterRingDecay_;
    toneS1_ = toneS2_ = {0, 0};
    energy_ = lowEnergy_ = hpEnergy_ = lowMax_ = lowMin_ = 0;
    filled_ = 0;
}

// Whether the block of `n` samples holds the alert: both tones loud enough,
// within the twist of each other, and most of the block's power. Each
// tone's Goertzel filter gives its correlation's squared magnitude q, and
// its amplitude is 2 sqrt(q) / n: the conditions are taken on the squares.
bool LineSignalReceiver::alertIn(double n) const {
    double q[2];
    for (std::size_t k = 0; k < 2; ++k) {
        const double s1 = toneS1_[k];
        const double s2 = toneS2_[k];
        q[k] = std::max(0.0, s1 * s1 + s2 * s2 - toneCoeff_[k] * s1 * s2);
    }
    // The tones' mean power, (a0^2 + a1^2) / 2 = 2 (q0 + q1) / n^2, against
    // the block's, energy / n: what noise fails first.
    if (!(q[0] + q[1] >= kAlertShare * energy_ * n / 2.0)) return false;
    const double least = kAlertMinAmplitude * n / 2.0;
    const double twist = kAlertMaxTwist * kAlertMaxTwist;
    return q[0] >= least * least && q[1] >= least * least && q[0] <= twist * q[1] && q[1] <= twist * q[0];
}

void LineSignalReceiver::alertBlock(bool alert) {
    const std::int64_t blockStart = pushed_ - static_cast<std::int64_t>(filled_);
    if (alert) {
        if (!alertRun_) alertFirst_ = blockStart;
        alertRun_ = true;
        alertMissing_ = 0;
        alertLast_ = pushed_;
        return;
    }
    if (alertRun_ && ++alertMissing_ > kAlertBridgedBlocks) closeAlert();
}

void LineSignalReceiver::closeAlert() {
    alertRun_ = false;
    const auto blocks = static_cast<double>(alertLast_ - alertFirst_) / static_cast<double>(block_);
    if (blocks + 0.5 >= kAlertMinBlocks) sink_.onLineTone({LineToneKind::Alert, alertFirst_, alertLast_, 0, 0});
}

void LineSignalReceiver::lowBlock(bool loud, double blockPower) {
    if (loud) {
        // The level under the run is the one before it: before the blocks
        // of its onset that were not loud yet, too.
        if (!lowRun_) runFloor_ = *std::min_element(floors_.begin(), floors_.end());
        lowRun_ = true;
        lowLoudEnd_ = pushed_;
        return;
    }
    const auto bridge = static_cast<std::int64_t>(kLowBridgeSeconds * rate_);
    if (lowRun_) {
        if (pushed_ - lowLoudEnd_ <= bridge) return;
        closeLow();
        // The level after a run is the one before it, not the run's own.
        floor_ = runFloor_;
        floors_.fill(runFloor_);
    }
    floor_ += kFloorSmoothing * (blockPower - floor_);
    floors_[floorAt_] = floor_;
    floorAt_ = (floorAt_ + 1) % floors_.size();
    // No run: what one would count starts afresh, but for what this block
    // and the one before saw (the first block of a step holds more of its
    // edge than of the low-passed step; a noise spike earlier is no start).
    const std::int64_t blockStart = pushed_ - static_cast<std::int64_t>(filled_);
    if (!lowRun_ && aboveFirst_ < blockStart - static_cast<std::int64_t>(block_)) {
        aboveFirst_ = -1;
        lowPeak_ = posPeak_ = negPeak_ = 0;
        upCrossings_ = 0;
        pendingUp_ = -1;
        intervalSquares_ = 0;
    }
}

void LineSignalReceiver::closeLow() {
    lowRun_ = false;
    if (aboveFirst_ < 0) return;
    const double seconds = static_cast<double>(lowLast_ + 1 - aboveFirst_) / rate_;
    const double big = std::max(posPeak_, negPeak_);
    const double small = std::min(posPeak_, negPeak_);
    LineTone tone{LineToneKind::Ringing, aboveFirst_, lowLast_ + 1, 0, lowPeak_};
    // How far the run's peak stands above the low-passed level before it,
    // as a sine of that peak's power against it.
    const double overFloor = lowPeak_ * lowPeak_ / 2.0 / std::max(runFloor_, 1.0);
    if (big >= kOneSided * small) {
        // The DC blocker's memory after ringing swings to one side as well.
        const bool afterRing = ringEnded_ >= 0 && static_cast<double>(aboveFirst_ - ringEnded_) < kAfterRingSeconds * rate_;
        // So does the offset of a noisy first sample, taken as the DC.
        const bool atStart = static_cast<double>(aboveFirst_) < kSettleSeconds * rate_;
        if (seconds > kReversalMaxSeconds || big < kReversalMinPeak || afterRing || atStart ||
            overFloor < kReversalOverFloor) {
            return;
        }
        tone.kind = LineToneKind::LineReversal;
        tone.end = tone.start;
        sink_.onLineTone(tone);
        return;
    }
    if (seconds < kRingMinSeconds || seconds > kRingMaxSeconds || upCrossings_ < 3 || lastUp_ <= firstUp_ ||
        overFloor < kRingOverFloor) {
        return;
    }
    // Ringing's cycles are alike; noise's zero crossings wander.
    const double cycles = upCrossings_ - 1;
    const double meanInterval = static_cast<double>(lastUp_ - firstUp_) / cycles;
    const double spread = std::sqrt(std::max(0.0, intervalSquares_ / cycles - meanInterval * meanInterval));
    if (spread > kRingMaxSpread * meanInterval) return;
    tone.hz = static_cast<double>(rate_) / meanInterval;
    if (tone.hz < kRingMinHz || tone.hz > kRingMaxHz) return;
    // An uneven wave leaves the DC blocker a tail of its own level: the
    // ringing ends within a cycle of its last up-crossing.
    tone.end = std::min(tone.end, lastUp_ + static_cast<std::int64_t>(std::ceil(meanInterval)));
    ringEnded_ = tone.end;
    // The DC blocker's memory of the ringing decays after it, with noise
    // on it above -30 dBFS for a while: no start of the next ring.
    afterRing_ = kLowRelative * lowPeak_;
    sink_.onLineTone(tone);
}

void LineSignalReceiver::finish() {
    if (!started_) start();
    if (filled_ > 0) endBlock();
    if (alertRun_) closeAlert();
    if (lowRun_) closeLow();
}

std::int64_t LineSignalReceiver::alertsSettledBefore() const {
    const std::int64_t settled = pushed_ - static_cast<std::int64_t>(filled_);
    return alertRun_ ? std::min(settled, alertFirst_) : settled;
}

std::int64_t LineSignalReceiver::settledBefore() const {
    const std::int64_t settled = alertsSettledBefore();
    return aboveFirst_ >= 0 ? std::min(settled, aboveFirst_) : settled;
}

}  // namespace sigcore
