// The FSK demodulator: per sample a mark/space/undecided decision from the
// tone correlators, and a five-state machine that finds a burst by its 55 ms
// of mark, synchronises every byte by scoring candidate bit alignments,
// slices it and hands it to the message decoder, whose answer names the test
// that the next byte's alignment is scored with. Burst events go to a sink.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sigcore/dsp/correlator.hpp"
#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/events.hpp"
#include "sigcore/dsp/history.hpp"

namespace sigcore {

enum class DemodMode : int {
    Idle = 0,        // waiting for a mark decision
    MarkRun = 1,     // counting uninterrupted mark
    AwaitStart = 2,  // mark confirmed, waiting for the first start bit
    SyncByte = 3,    // scoring the alignment of a byte
    SeekStart = 4,   // looking for the next start bit
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
    std::int64_t markStart = 0;  // sample where the current mark run began
    int burstBase = 0;  // B
    int wakeIndex = 0;  // W
    int syncCount = 0;
    int syncSum = 0;
    int syncFailures = 0;
    NextByte expected = NextByte::AnyByte;  // what the decoder expects the next byte to be
    NextByte burstFirst = NextByte::AnyByte;  // what it expects first, from its reset
    std::uint8_t byteValue = 0;

    // Sampling points of every candidate relative to B: (v div 3) +
    // trunc(j * bitLength + phase[v mod 3]), kBitPoints per candidate.
    std::vector<int> candidatePoints;
    std::vector<int> scores;  // one per candidate

    ToneBank tones;
    EnergyHistory energy;
    DecisionHistory decisions;

    // Work arrays of demodBlock: the limited inputs, preceded by as many
    // earlier ones as the longest correlator needs, and per-sample outputs.
    int inputLead = 0;
    std::vector<double> inputs;
    std::vector<double> markEnergy;
    std::vector<double> spaceEnergy;
};

inline constexpr int kDemodChunk = 512;  // samples correlated at once

// The furthest a byte is examined behind the sample being processed, in samples.
int demodLookBack(const DemodState& state);

// Timing values and thresholds from the sensitivity (0..100), the sampling
// rate and the baud rate; state 0, syncFailures 0, byteValue 0. Allocates the
// candidate tables and the histories (sized for the rate, at least 1024
// entries) and clears them.
void demodInit(DemodState& state, int sensitivity, int samplingRate, int baud);

// Builds the four tone correlators (mark cosine, mark sine, space cosine,
// space sine) and sizes the work arrays for them; after demodInit.
void demodBuildTones(DemodState& state, int markHz, int spaceHz, int baud);

// The state machine's action for the decision d of sample `index`, whose
// energies and decision are already in the histories. This is the one-sample
// reference; demodBlock takes the common idle and mark-run steps itself and
// must agree with it event for event.
void demodAdvance(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::uint8_t d, std::uint32_t index);

// Processes consecutive filtered samples, the first at sample index
// `firstIndex`: per sample the limiter (states 2 to 4), the four
// correlators, the energies and the decision pushed into the histories, and
// the state machine's action. The correlations run over runs of samples at
// once, each with its own sum in the same order as one at a time; a run is
// cut short where the limiter switches on or off.
void demodBlock(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::span<const std::int16_t> samples,
                std::uint32_t firstIndex);

// One filtered sample at index U.
inline void demodStep(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::int16_t sample,
                      std::uint32_t index) {
    demodBlock(state, decoder, sink, std::span<const std::int16_t>(&sample, 1), index);
}

// End of input after `numberSamples` samples: a burst still under way gets
// its termination line at that position.
void demodFinish(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::int64_t numberSamples);

// The byte at the sampling points of candidate v from base B (bit 1 the
// least significant); undecided votes fall back to the stronger stored energy.
std::uint8_t demodAssembleByte(DemodState& state, std::uint32_t index, int base, int candidate);

// Score of candidate v from base B, with the test of the byte the decoder expects.
int demodScoreCandidate(DemodState& state, const MessageDecoder& decoder, std::uint32_t index, int base, int candidate);

}  // namespace sigcore
