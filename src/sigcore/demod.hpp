// The FSK demodulator: per sample a mark/space/undecided decision from the
// tone correlators, and a five-state machine that finds a burst by its 55 ms
// of mark, synchronises every byte by scoring candidate bit alignments,
// slices it and hands it to the message decoder of the variant.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "sigcore/correlator.hpp"
#include "sigcore/history.hpp"
#include "sigcore/report.hpp"

namespace sigcore {

enum class DemodMode : int {
    Idle = 0,        // waiting for a mark decision
    MarkRun = 1,     // counting uninterrupted mark
    AwaitStart = 2,  // mark confirmed, waiting for the first start bit
    SyncByte = 3,    // scoring the alignment of a byte
    SeekStart = 4,   // looking for the next start bit
};

// How the alignment scoring judges a candidate's byte.
enum class ByteTest {
    TypeCode,  // first byte one of the six message types; characters with bit 7 clear
    Parity,    // characters with even parity in bit 7
};

// What tells the detector variants apart, besides their tones.
struct ScanVariant {
    ByteTest byteTest = ByteTest::TypeCode;
    int initialDecoderStatus = 0;  // decoderStatus when a burst's first start bit is found
    // The message decoder: a byte 0..255, or -1 to reset at the start of a
    // burst; returns the status that steers the scoring of the next byte.
    std::function<int(Report&, int)> decode;
};

struct ToneBank {
    ToneCorrelator markCos;
    ToneCorrelator markSin;
    ToneCorrelator spaceCos;
    ToneCorrelator spaceSin;
};

inline constexpr int kBitPoints = 10;  // start bit, eight data bits, stop bit

struct DemodState {
    DemodMode state = DemodMode::Idle;
    int samplingRate = 0;
    double bitLength = 0.0;  // samples per bit, fs / baud
    int bitSamples = 0;      // trunc(bitLength + 0.5)
    int markLimit = 0;       // trunc(fs * 0.055)
    int candidateCount = 0;  // trunc(bitSamples * 1.5)
    int voteHalfWidth = 0;   // trunc(bitSamples / 3 + 0.5)
    int startOffset = 0;     // bitSamples div 2 - 1
    int wait12 = 0;          // R12 = trunc(12 * bitLength + 0.5)
    int wait13 = 0;          // R13 = trunc(13 * bitLength + 0.5)
    double threshold = 0.0;
    double initialThreshold = 0.0;
    int clipLevel = 0;
    int markRun = 0;
    std::array<char, 256> pendingLine{};
    int burstBase = 0;  // B
    int wakeIndex = 0;  // W
    int syncCount = 0;
    int syncSum = 0;
    int syncFailures = 0;
    int decoderStatus = 0;
    std::uint8_t byteValue = 0;

    // Sampling points of every candidate relative to B: (v div 3) +
    // trunc(j * bitLength + phase[v mod 3]), kBitPoints per candidate.
    std::vector<int> candidatePoints;
    std::vector<int> scores;  // one per candidate

    ToneBank tones;
    EnergyHistory energy;
    DecisionHistory decisions;
};

// The furthest a byte is examined behind the sample being processed, in samples.
int demodLookBack(const DemodState& state);

// Timing values and thresholds from the sensitivity (0..100), the sampling
// rate and the baud rate; state 0, syncFailures 0, byteValue 0. Allocates the
// candidate tables and the histories (sized for the rate, at least 1024
// entries) and clears them. The tone correlators are built by the caller.
void demodInit(DemodState& state, int sensitivity, int samplingRate, int baud);

// The state machine's action for the decision d of sample `index`, whose
// energies and decision are already in the histories.
void demodAdvance(DemodState& state, Report& report, const ScanVariant& variant, std::uint8_t d, std::uint32_t index);

// Limiter, correlators, decision: pushes the sample's energies and decision.
inline std::uint8_t demodMeasure(DemodState& state, std::int16_t sample) {
    int x = sample;
    if (state.state >= DemodMode::AwaitStart) {
        int y = static_cast<int>(x * 2.5);
        if (y > state.clipLevel) y = state.clipLevel;
        if (y < -state.clipLevel) y = -state.clipLevel;
        x = y > 32767 ? 32767 : (y < -32768 ? -32768 : y);
    }
    const double value = x;
    const double markCos = correlatorStep(state.tones.markCos, value);
    const double markSin = correlatorStep(state.tones.markSin, value);
    const double spaceCos = correlatorStep(state.tones.spaceCos, value);
    const double spaceSin = correlatorStep(state.tones.spaceSin, value);
    const double em = markSin * markSin + markCos * markCos;
    const double es = spaceSin * spaceSin + spaceCos * spaceCos;
    energyPush(state.energy, em, es);
    std::uint8_t d = kUndecided;
    if (es < em && state.threshold < em) {
        d = kMark;
    } else if (em < es && state.threshold < es) {
        d = kSpace;
    }
    decisionPush(state.decisions, d);
    return d;
}

// One filtered sample at index U.
inline void demodStep(DemodState& state, Report& report, const ScanVariant& variant, std::int16_t sample,
                      std::uint32_t index) {
    const std::uint8_t d = demodMeasure(state, sample);
    // Idle with no mark, and the states that only wait for their wake index,
    // have nothing to do.
    if (state.state == DemodMode::Idle && d != kMark) return;
    if (state.state == DemodMode::SyncByte && index <= static_cast<std::uint32_t>(state.wakeIndex)) return;
    if (state.state == DemodMode::SeekStart && static_cast<std::int64_t>(index) != state.wakeIndex) return;
    demodAdvance(state, report, variant, d, index);
}

// End of input after `numberSamples` samples: a burst still under way gets
// its termination line at that position.
void demodFinish(DemodState& state, Report& report, std::int64_t numberSamples);

// The byte at the sampling points of candidate v from base B (bit 1 the
// least significant); undecided votes fall back to the stronger stored energy.
std::uint8_t demodAssembleByte(DemodState& state, std::uint32_t index, int base, int candidate);

// Score of candidate v from base B, as the byte test of `variant` sees it.
int demodScoreCandidate(DemodState& state, const ScanVariant& variant, std::uint32_t index, int base, int candidate);

}  // namespace sigcore
