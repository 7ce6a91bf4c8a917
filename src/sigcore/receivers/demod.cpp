#include "sigcore/receivers/demod.hpp"

#include <algorithm>
#include <cmath>

#include "sigcore/dsp/alloc.hpp"
#include "sigcore/dsp/simd.hpp"

namespace sigcore {

namespace {

constexpr std::array<double, 3> kPhaseFractions{0.2, 0.5, 0.8};
constexpr int kScoreStart = 100;
constexpr int kBigPenalty = 100;
constexpr int kSmallPenalty = 10;

// Extra samples kept beyond the furthest look-back.
constexpr int kHistoryMargin = 16;

// The majority vote around absolute sample p while sample u is the newest.
inline std::uint8_t voteAt(const DemodState& state, std::int64_t u, std::int64_t p) {
    return keptVote(state.decisions, static_cast<int>(p - u));
}

inline EnergyRecord energiesAt(const DemodState& state, std::int64_t u, std::int64_t p) {
    return energyAt(state.energy, static_cast<int>(p - u));
}

// Floor of (a + b) / 2 for any sign.
inline std::int64_t halfway(std::int64_t a, std::int64_t b) {
    const std::int64_t sum = a + b;
    return sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
}

// Three space votes in a row from t on: the start bit's front.
inline bool startBitAt(const DemodState& state, std::int64_t u, std::int64_t t) {
    return voteAt(state, u, t) == kSpace && voteAt(state, u, t + 1) == kSpace && voteAt(state, u, t + 2) == kSpace;
}

void endBurst(DemodState& state, MessageDecoder& decoder, EventSink& sink) {
    state.state = DemodMode::Idle;
    decoder.endBurst(state.burstBase, sink);
    sink.onEvent(BurstEnded{state.burstBase});
    state.threshold = state.initialThreshold;
}

const int* pointsOf(const DemodState& state, int candidate) {
    return state.candidatePoints.data() + static_cast<std::size_t>(candidate) * kBitPoints;
}

// Slices the byte at candidate v, hands it to the decoder and sets up the
// search for the next start bit from the stop bit's sampling point.
void sliceByte(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::uint32_t index, int candidate) {
    state.syncSum += candidate;
    ++state.syncCount;
    const std::uint8_t byte = demodAssembleByte(state, index, state.burstBase, candidate);
    const int* const points = pointsOf(state, candidate);
    // The start bit's front lies about startOffset before its sampling point,
    // the stop bit's end half a bit after its own.
    const std::int64_t start = std::int64_t{state.burstBase} + points[0] - state.startOffset;
    const std::int64_t end = std::int64_t{state.burstBase} + points[kBitPoints - 1] + state.bitSamples / 2;
    state.expected = decoder.decodeByte(byte, start, end, sink);
    state.burstBase = state.burstBase + points[kBitPoints - 1];
    state.wakeIndex = state.burstBase + state.wait13;
    state.state = DemodMode::SeekStart;
}

void levelEstimate(DemodState& state) {
    double sum = 0.0;
    for (int o = 0; o >= -99; --o) sum += energyAt(state.energy, o).mark;
    const double mean = sum * 0.01;
    state.clipLevel = 2 * static_cast<int>(std::sqrt(mean));
    state.threshold = state.samplingRate == 8000 ? mean * 0.2 : mean * 0.3;
}

void synchronise(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::uint32_t index) {
    int chosen = -1;
    int bestScore = 0;
    for (int v = 0; v < state.candidateCount; ++v) {
        const int score = demodScoreCandidate(state, decoder, index, state.burstBase, v);
        state.scores[static_cast<std::size_t>(v)] = score;
        if (score > bestScore) {
            bestScore = score;
            chosen = v;
        }
    }
    if (chosen >= 0) {
        state.syncFailures = 0;
        sliceByte(state, decoder, sink, index, chosen);
        return;
    }
    ++state.syncFailures;
    if (state.syncFailures == 2) {
        endBurst(state, decoder, sink);
        return;
    }
    // No alignment stands out: the mean of those used so far in the burst.
    const int fallback = state.syncCount != 0 ? state.syncSum / state.syncCount : 0;
    sliceByte(state, decoder, sink, index, fallback);
}

void seekStart(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::uint32_t index) {
    const std::int64_t u = index;
    const std::int64_t bound = u - state.voteHalfWidth - 10;
    for (std::int64_t t = state.burstBase; t < bound; ++t) {
        if (startBitAt(state, u, t)) {
            state.burstBase = static_cast<int>(t + state.startOffset);
            state.wakeIndex = state.burstBase + state.wait12;
            state.state = DemodMode::SyncByte;
            return;
        }
    }
    endBurst(state, decoder, sink);
}

}  // namespace

int demodLookBack(const DemodState& state) { return state.wait13 + state.voteHalfWidth + kHistoryMargin; }

void demodInit(DemodState& state, int sensitivity, int samplingRate, int baud) {
    const double amplitude = 32768 * 0.5 * std::pow(2.0, std::log2(1.0 / 256) * 0.01 * sensitivity);
    state.initialThreshold = amplitude * amplitude * 0.25;
    state.threshold = state.initialThreshold;

    state.samplingRate = samplingRate;
    state.bitLength = static_cast<double>(samplingRate) / baud;
    state.bitSamples = static_cast<int>(state.bitLength + 0.5);
    state.markLimit = static_cast<int>(samplingRate * 0.055);
    state.candidateCount = static_cast<int>(state.bitSamples * 1.5);
    state.voteHalfWidth = static_cast<int>(state.bitSamples * 0.3333333333333333 + 0.5);
    state.startOffset = state.bitSamples / 2 - 1;
    state.wait12 = static_cast<int>(12 * state.bitLength + 0.5);
    state.wait13 = static_cast<int>(13 * state.bitLength + 0.5);

    state.state = DemodMode::Idle;
    state.syncFailures = 0;
    state.byteValue = 0;
    state.clipLevel = 0;
    state.markRun = 0;
    state.burstBase = 0;
    state.wakeIndex = 0;
    state.syncCount = 0;
    state.syncSum = 0;
    state.expected = NextByte::AnyByte;
    state.burstFirst = NextByte::AnyByte;

    const auto candidates = static_cast<std::size_t>(std::max(state.candidateCount, 0));
    state.scores = allocOrExit<int>(candidates);
    state.candidatePoints = allocOrExit<int>(candidates * kBitPoints);
    for (std::size_t v = 0; v < candidates; ++v) {
        const double phase = kPhaseFractions[v % 3];
        for (std::size_t j = 0; j < kBitPoints; ++j) {
            state.candidatePoints[v * kBitPoints + j] =
                static_cast<int>(v / 3) + static_cast<int>(static_cast<double>(j) * state.bitLength + phase);
        }
    }

    const int size = historySizeFor(demodLookBack(state));
    energyInit(state.energy, size);
    decisionInit(state.decisions, size, state.voteHalfWidth);
}

std::uint8_t demodAssembleByte(DemodState& state, std::uint32_t index, int base, int candidate) {
    const std::int64_t u = index;
    const int* const points = pointsOf(state, candidate);
    for (int j = 8; j >= 1; --j) {
        const std::int64_t p = std::int64_t{base} + points[j];
        const std::uint8_t vote = voteAt(state, u, p);
        unsigned bit = vote;
        if (vote == kUndecided) {
            const EnergyRecord e = energiesAt(state, u, p);
            bit = e.mark >= e.space ? 1u : 0u;
        }
        state.byteValue = static_cast<std::uint8_t>((state.byteValue * 2u + bit) % 256u);
    }
    return state.byteValue;
}

int demodScoreCandidate(DemodState& state, const MessageDecoder& decoder, std::uint32_t index, int base, int candidate) {
    const std::int64_t u = index;
    const int* const offsets = pointsOf(state, candidate);
    std::array<std::int64_t, kBitPoints> p{};
    std::array<std::uint8_t, kBitPoints> vote{};
    for (std::size_t j = 0; j < kBitPoints; ++j) {
        p[j] = std::int64_t{base} + offsets[j];
        vote[j] = voteAt(state, u, p[j]);
    }

    int score = kScoreStart;
    if (vote[0] != kSpace) score = 0;
    if (vote[9] != kMark) score -= kBigPenalty;
    for (std::size_t j = 0; j < kBitPoints; ++j) {
        if (vote[j] == kUndecided) score -= kBigPenalty;
    }
    for (std::size_t j = 0; j < kBitPoints; ++j) {
        if (voteAt(state, u, p[j] - 1) != vote[j]) score -= kSmallPenalty;
        if (voteAt(state, u, p[j] + 1) != vote[j]) score -= kSmallPenalty;
    }
    for (std::size_t j = 0; j + 1 < kBitPoints; ++j) {
        if (vote[j + 1] == vote[j] && voteAt(state, u, halfway(p[j], p[j + 1])) != vote[j]) score -= kBigPenalty;
    }

    switch (state.expected) {
    case NextByte::MessageType:
        if (!decoder.isMessageType(demodAssembleByte(state, index, base, candidate))) score -= kBigPenalty;
        break;
    case NextByte::SevenBitChar:
    case NextByte::DigitChar:
        if (vote[8] != kSpace) score -= kBigPenalty;
        break;
    case NextByte::AnyByte: break;
    case NextByte::EvenParityChar: {
        std::uint8_t parity = 1;
        for (std::size_t j = 1; j <= 8; ++j) parity = static_cast<std::uint8_t>(parity ^ vote[j]);
        if (parity == 0) score -= kSmallPenalty;
        break;
    }
    }
    return score;
}

void demodAdvance(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::uint8_t d, std::uint32_t index) {
    const std::int64_t u = index;
    switch (state.state) {
    case DemodMode::Idle:
        if (d == kMark) {
            state.state = DemodMode::MarkRun;
            state.markRun = 0;
            // Noise starts short mark runs all the time: the line is formatted
            // only for a run that lasts.
            state.markStart = u;
        }
        break;
    case DemodMode::MarkRun:
        if (d != kMark) {
            state.state = DemodMode::Idle;
            state.threshold = state.initialThreshold;
            break;
        }
        ++state.markRun;
        if (state.markRun == state.markLimit - 10) {
            levelEstimate(state);
        } else if (state.markRun > state.markLimit) {
            sink.onEvent(BurstDetected{state.markStart});
            sink.onEvent(MarkConfirmed{u});
            state.state = DemodMode::AwaitStart;
            // A new burst: the decoder and the failure count start afresh.
            state.burstFirst = decoder.startBurst(sink);
            state.syncFailures = 0;
        }
        break;
    case DemodMode::AwaitStart: {
        const std::int64_t t = u - state.voteHalfWidth - 5;
        if (startBitAt(state, u, t)) {
            state.burstBase = static_cast<int>(t + state.startOffset);
            state.wakeIndex = state.burstBase + state.wait12;
            state.state = DemodMode::SyncByte;
            state.syncCount = 0;
            state.syncSum = 0;
            state.expected = state.burstFirst;
        }
        break;
    }
    case DemodMode::SyncByte:
        if (index > static_cast<std::uint32_t>(state.wakeIndex)) synchronise(state, decoder, sink, index);
        break;
    case DemodMode::SeekStart:
        if (u == state.wakeIndex) seekStart(state, decoder, sink, index);
        break;
    }
}

void demodBuildTones(DemodState& state, int markHz, int spaceHz, int baud) {
    buildToneReferences(markHz, state.samplingRate, baud, state.tones.markCos, state.tones.markSin);
    buildToneReferences(spaceHz, state.samplingRate, baud, state.tones.spaceCos, state.tones.spaceSin);
    const int longest = std::max({state.tones.markCos.length, state.tones.markSin.length, state.tones.spaceCos.length,
                                  state.tones.spaceSin.length});
    state.inputLead = longest - 1;
    const auto chunk = static_cast<std::size_t>(kDemodChunk);
    state.inputs = allocOrExit<double>(static_cast<std::size_t>(state.inputLead) + chunk);
    state.markEnergy = allocOrExit<double>(chunk);
    state.spaceEnergy = allocOrExit<double>(chunk);
}

namespace {

// Limits, correlates and measures samples from..count-1 of a chunk, as the
// limiter stands now.
SIGCORE_VECTOR_CLONES void measureRun(DemodState& state, const std::int16_t* samples, int from, int count) {
    double* const inputs = state.inputs.data() + state.inputLead;
    if (state.state >= DemodMode::AwaitStart) {
        const int clip = state.clipLevel;
        for (int m = from; m < count; ++m) {
            int y = static_cast<int>(samples[m] * 2.5);
            if (y > clip) y = clip;
            if (y < -clip) y = -clip;
            inputs[m] = static_cast<double>(y > 32767 ? 32767 : (y < -32768 ? -32768 : y));
        }
    } else {
        for (int m = from; m < count; ++m) inputs[m] = samples[m];
    }
    const int n = count - from;
    toneEnergyRun(state.tones.markCos, state.tones.markSin, inputs + from, state.markEnergy.data() + from, n);
    toneEnergyRun(state.tones.spaceCos, state.tones.spaceSin, inputs + from, state.spaceEnergy.data() + from, n);
}

// The state machine's fields that the common steps between its actions
// change, held in locals while a run of samples is pushed.
struct RunState {
    DemodMode mode;
    double threshold;
    int markRun;
    std::int64_t markStart;
    int markLimit;
    double initialThreshold;
    std::uint32_t wake;
};

// Takes the common step of the sample at `index` with decision `d`, or says
// that it needs the state machine. Idle and the mark run as demodAdvance has
// them; the level estimate and the end of a long run go to it.
inline bool stepNeedsAction(RunState& run, std::uint8_t d, std::uint32_t index) {
    switch (run.mode) {
    case DemodMode::Idle:
        if (d == kMark) {
            run.mode = DemodMode::MarkRun;
            run.markRun = 0;
            run.markStart = index;
        }
        return false;
    case DemodMode::MarkRun:
        if (d != kMark) {
            run.mode = DemodMode::Idle;
            run.threshold = run.initialThreshold;
            return false;
        }
        if (run.markRun + 1 == run.markLimit - 10 || run.markRun + 1 > run.markLimit) return true;
        ++run.markRun;
        return false;
    case DemodMode::AwaitStart: return true;
    case DemodMode::SyncByte: return index > run.wake;
    case DemodMode::SeekStart: return index == run.wake;
    }
    return false;
}

// Pushes the energies and decisions of samples from..count-1 until one of
// them needs the state machine: returns its position in the chunk (with its
// decision in `decision`), or `count`. The ring positions, vote counts and
// the state's fields live in locals here: the byte stores into the decision
// ring would otherwise make the compiler reload them for every sample.
int pushUntilAction(DemodState& state, std::uint32_t base, int from, int count, std::uint8_t& decision) {
    EnergyHistory& energy = state.energy;
    DecisionHistory& decisions = state.decisions;
    EnergyRecord* const records = energy.records.data();
    std::uint8_t* const values = decisions.values.data();
    std::uint8_t* const votes = decisions.votes.data();
    const auto energyMask = static_cast<unsigned>(energy.records.size() - 1);
    const auto mask = static_cast<unsigned>(decisions.values.size() - 1);
    const auto halfWidth = static_cast<unsigned>(decisions.voteHalfWidth);
    const double* const em = state.markEnergy.data();
    const double* const es = state.spaceEnergy.data();
    RunState run{state.state,     state.threshold, state.markRun, state.markStart, state.markLimit,
                 state.initialThreshold, static_cast<std::uint32_t>(state.wakeIndex)};
    const double& threshold = run.threshold;
    auto energySlot = static_cast<unsigned>(energy.newest);
    auto slot = static_cast<unsigned>(decisions.newest);
    int zeros = decisions.windowZeros;
    int ones = decisions.windowOnes;

    int m = from;
    for (; m < count; ++m) {
        energySlot = (energySlot + 1u) & energyMask;
        records[energySlot] = EnergyRecord{em[m], es[m]};
        // Mark, space or undecided, without branches: between bursts the
        // decisions follow the noise and would defeat branch prediction.
        const unsigned markWins = static_cast<unsigned>(es[m] < em[m]) & static_cast<unsigned>(threshold < em[m]);
        const unsigned spaceWins = static_cast<unsigned>(em[m] < es[m]) & static_cast<unsigned>(threshold < es[m]);
        const auto d = static_cast<std::uint8_t>(255u - 254u * markWins - 255u * spaceWins);
        slot = (slot + 1u) & mask;
        const std::uint8_t leaving = values[(slot - 2u * halfWidth - 1u) & mask];
        values[slot] = d;
        zeros += static_cast<int>(spaceWins) - (leaving == kSpace);
        ones += static_cast<int>(markWins) - (leaving == kMark);
        votes[(slot - halfWidth) & mask] = static_cast<std::uint8_t>(
            255u - 254u * static_cast<unsigned>(ones > zeros) - 255u * static_cast<unsigned>(zeros > ones));

        const std::uint32_t index = base + static_cast<std::uint32_t>(m);
        if (stepNeedsAction(run, d, index)) {
            decision = d;
            break;
        }
    }
    state.state = run.mode;
    state.threshold = run.threshold;
    state.markRun = run.markRun;
    state.markStart = run.markStart;
    energy.newest = static_cast<int>(energySlot);
    decisions.newest = static_cast<int>(slot);
    decisions.windowZeros = zeros;
    decisions.windowOnes = ones;
    return m;
}

}  // namespace

void demodBlock(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::span<const std::int16_t> samples,
                std::uint32_t firstIndex) {
    std::size_t done = 0;
    while (done < samples.size()) {
        const int count = static_cast<int>(std::min(samples.size() - done, static_cast<std::size_t>(kDemodChunk)));
        const std::int16_t* const chunk = samples.data() + done;
        const std::uint32_t base = firstIndex + static_cast<std::uint32_t>(done);
        int from = 0;
        while (from < count) {
            const bool limiting = state.state >= DemodMode::AwaitStart;
            const int clip = state.clipLevel;
            measureRun(state, chunk, from, count);
            int m = from;
            from = count;
            while (m < count) {
                std::uint8_t d = kUndecided;
                m = pushUntilAction(state, base, m, count, d);
                if (m == count) break;
                demodAdvance(state, decoder, sink, d, base + static_cast<std::uint32_t>(m));
                ++m;
                if ((state.state >= DemodMode::AwaitStart) != limiting || (limiting && state.clipLevel != clip)) {
                    // The following samples go through the limiter as it stands now.
                    from = m;
                    break;
                }
            }
        }
        // Keep the newest inputs for the next chunk's correlations.
        const auto lead = static_cast<std::ptrdiff_t>(state.inputLead);
        std::copy(state.inputs.begin() + count, state.inputs.begin() + count + lead, state.inputs.begin());
        done += static_cast<std::size_t>(count);
    }
}

void demodFinish(DemodState& state, MessageDecoder& decoder, EventSink& sink, std::int64_t numberSamples) {
    if (state.state == DemodMode::AwaitStart || state.state == DemodMode::SyncByte ||
        state.state == DemodMode::SeekStart) {
        decoder.endBurst(numberSamples, sink);
        sink.onEvent(BurstEnded{numberSamples});
    }
    state.state = DemodMode::Idle;
}

}  // namespace sigcore
