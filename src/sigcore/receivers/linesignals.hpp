// The streaming receiver of the line signals around a caller-ID burst that
// are not data: the 2130 + 2750 Hz dual-tone alert, ringing as recorded
// across the line (15 to 70 Hz, high level, often clipped), and the step or
// click of a line reversal.
//
//     sigcore::LineSignalReceiver receiver(8000, sink);
//     while (<samples arrive>) receiver.push(block);
//     receiver.finish();
//
// How it listens. The stream is cut into blocks of about 5 ms.
//   - Alert tones: each block is correlated with 2130 and 2750 Hz. A block
//     holds the alert when both tones reach -45 dBFS, lie within 10 dB of
//     each other and carry 60 % of the block's energy. A run of such blocks
//     (one missing block bridged) of 30 ms or more is an alert; its edges
//     are the blocks' (a measurement refines them).
//   - Low-frequency signals: the samples, rid of DC, go through a 150 Hz
//     two-pole low-pass (the mean of the stream's first block is taken as
//     its DC, so an offset it starts with is no step). A block is loud when
//     the low-passed wave peaks above -30 dBFS and an eighth of the run's
//     peak so far (after ringing, an eighth of its peak as well, decaying as
//     the DC blocker's memory of it does), and holds 30 % of the block's
//     energy (clipped 70 Hz ringing keeps half its power above the
//     low-pass). A run of loud blocks (gaps up to 40 ms bridged) ends 40 ms
//     after its last loud block; its edges are its first and last samples
//     above that level, and its frequency comes from the low-passed wave's
//     up-crossings whose half-cycle reaches that level (counted afresh when
//     the wave grows to twice its level), which clipping leaves in place.
//     A run of 80 ms to 4 s (longer is mains hum) with a fundamental of 12
//     to 80 Hz, cycles alike in length (within 15 %, as a standard
//     deviation; noise's wander) and a peak 20 dB above the low-passed level
//     before it (followed over about 100 ms between runs) is ringing. A run of
//     up to 400 ms that swings to one side only (three times further than
//     to the other), peaking above -20 dBFS and 20 dB above the level
//     before it, not within 250 ms after
//     ringing nor in the stream's first 100 ms (a step decaying through the
//     audio path's coupling, or a click) is a line reversal, located at its
//     first sample: a best effort, since an audio path shows the DC step in
//     its own way or not at all.
// Each signal reaches the sink once it has ended. Allocates nothing after
// construction.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace sigcore {

enum class LineToneKind {
    Alert,         // 2130 + 2750 Hz
    Ringing,       // 12 to 80 Hz for 80 ms or more
    LineReversal,  // a short one-sided low-frequency swing
};

// A signal as the receiver found it; positions in samples, end the first
// sample after it (a line reversal: end == start).
struct LineTone {
    LineToneKind kind = LineToneKind::Alert;
    std::int64_t start = 0;
    std::int64_t end = 0;
    double hz = 0;    // ringing: its fundamental
    double peak = 0;  // ringing and line reversal: the low-passed wave's peak, in sample units
};

class LineToneSink {
public:
    virtual ~LineToneSink() = default;
    virtual void onLineTone(const LineTone& tone) = 0;
};

class LineSignalReceiver {
public:
    // `samplingRate` 4000 Hz or more; the sink must outlive the receiver.
    LineSignalReceiver(int samplingRate, LineToneSink& sink);

    // Raw samples of the stream, in order, any number at a time.
    void push(std::span<const std::int16_t> samples);
    // The end of the stream: a signal still under way ends there.
    void finish();

    [[nodiscard]] std::int64_t samplesPushed() const { return pushed_ + static_cast<std::int64_t>(head_.size()); }
    // Every signal that starts before this position has reached the sink.
    [[nodiscard]] std::int64_t settledBefore() const;
    // Every alert that does.
    [[nodiscard]] std::int64_t alertsSettledBefore() const;
    // The start of the low-frequency run under way, or -1.
    [[nodiscard]] std::int64_t lowRunStart() const { return lowRun_ ? aboveFirst_ : -1; }

private:
    void start();
    void feed(std::span<const std::int16_t> samples);
    void scan(std::span<const std::int16_t> samples);
    // The level a low-frequency sample must pass: -30 dBFS, an eighth of the
    // run's peak, and after ringing an eighth of its peak, decaying as the
    // DC blocker's memory of it does.
    [[nodiscard]] double lowThreshold() const;
    void lowSample(double lp, std::int64_t at);
    void countUp();
    void endBlock();
    [[nodiscard]] bool alertIn(double n) const;
    void alertBlock(bool alert);
    void lowBlock(bool loud, double blockPower);
    void closeAlert();
    void closeLow();

    LineToneSink& sink_;
    int rate_;
    std::int64_t pushed_ = 0;
    std::size_t block_;  // samples per block
    std::size_t filled_ = 0;
    // The stream's first block, held until it is whole (its mean is the DC
    // the blocker starts from).
    std::vector<std::int16_t> head_;
    bool started_ = false;
    // Alert tones: each tone's Goertzel filter over the block (2 cos w and
    // its last two values), and the block's energy.
    std::array<double, 2> toneCoeff_{};
    std::array<double, 2> toneS1_{};
    std::array<double, 2> toneS2_{};
    double energy_ = 0;
    bool alertRun_ = false;
    int alertMissing_ = 0;
    std::int64_t alertFirst_ = 0;
    std::int64_t alertLast_ = 0;  // end of the last alert block
    // Low-frequency path: DC blocker, two one-pole low-passes.
    double dcA_;
    double lpA_;
    double afterRingDecay_;  // the DC blocker's decay over a block
    double afterRing_ = 0;   // the level after ringing, decaying block by block
    double dcX_ = 0;
    double dcY_ = 0;
    double lp1_ = 0;
    double lp2_ = 0;
    double lowEnergy_ = 0;
    double hpEnergy_ = 0;
    double lowMax_ = 0;  // the block's low-passed extremes (0 at most and least)
    double lowMin_ = 0;
    bool lowRun_ = false;
    std::int64_t lowLast_ = 0;      // last sample above the threshold
    std::int64_t lowLoudEnd_ = 0;   // end of the last loud block
    std::int64_t aboveFirst_ = -1;  // first sample above the threshold since the last quiet stretch
    double lowPeak_ = 0;
    int lowSign_ = 0;  // which side the wave was last beyond the hysteresis
    double posPeak_ = 0;  // the largest swing to each side
    double negPeak_ = 0;
    int upCrossings_ = 0;
    std::int64_t firstUp_ = 0;
    std::int64_t lastUp_ = 0;
    std::int64_t pendingUp_ = -1;  // an up-crossing whose cycle has not reached the threshold yet
    double countedPeak_ = 0;       // lowPeak_ when the last up-crossing was counted
    std::int64_t ringEnded_ = -1;  // the last ringing's end
    double intervalSquares_ = 0;   // sum of the squared intervals between up-crossings
    double floor_ = 0;             // the low-passed power between runs
    double runFloor_ = 0;          // and before the run under way
    std::array<double, 4> floors_{};  // floor_ after each of the last quiet blocks
    std::size_t floorAt_ = 0;
};

}  // namespace sigcore
