// Ring buffers of the last samples' tone energies and decisions, and the
// majority vote that reads the decisions back. An offset o (0 or negative)
// names the sample o places before the newest one.
#pragma once

#include <cstdint>
#include <vector>

namespace sigcore {

inline constexpr std::uint8_t kSpace = 0;
inline constexpr std::uint8_t kMark = 1;
inline constexpr std::uint8_t kUndecided = 255;
inline constexpr int kHistoryMinimum = 1024;

struct EnergyRecord {
    double mark = 0.0;
    double space = 0.0;
};

struct EnergyHistory {
    std::vector<EnergyRecord> records;  // a power of two of them, at least 1024
    int newest = -1;                    // slot of the newest record
};

struct DecisionHistory {
    std::vector<std::uint8_t> values;  // decisions: 1 mark, 0 space, 255 undecided
    int newest = -1;                   // slot of the newest decision
    // Majority votes kept as the decisions arrive: once the decision of sample
    // P + voteHalfWidth is in, the vote over P - voteHalfWidth .. P + voteHalfWidth
    // can no longer change and is stored in the slot of P. Running counts of
    // the zeros and ones in the newest 2 * voteHalfWidth + 1 decisions make it.
    std::vector<std::uint8_t> votes;
    int voteHalfWidth = 0;
    int windowZeros = 0;
    int windowOnes = 0;
};

// Smallest power of two, at least 1024, above `lookBack` samples.
int historySizeFor(int lookBack);

// Allocates `size` (a power of two) records, all (0, 0); newest -1.
void energyInit(EnergyHistory& history, int size);
void energyClear(EnergyHistory& history);

inline void energyPush(EnergyHistory& history, double mark, double space) {
    const int size = static_cast<int>(history.records.size());
    history.newest = history.newest + 1 >= size ? 0 : history.newest + 1;
    history.records[static_cast<std::size_t>(history.newest)] = EnergyRecord{mark, space};
}

// Slot newest + offset; above the last slot reads slot 0, below slot 0 wraps around.
inline int ringSlot(int newest, int offset, int size) {
    const long long i = static_cast<long long>(newest) + offset;
    if (i > size - 1) return 0;
    if (i < 0) return static_cast<int>(((i % size) + size) % size);
    return static_cast<int>(i);
}

inline EnergyRecord energyAt(const EnergyHistory& history, int offset) {
    const int size = static_cast<int>(history.records.size());
    return history.records[static_cast<std::size_t>(ringSlot(history.newest, offset, size))];
}

// Allocates `size` (a power of two) decisions, all 255, and the votes kept for
// a window of voteHalfWidth on each side; newest -1.
void decisionInit(DecisionHistory& history, int size, int voteHalfWidth);
void decisionFill(DecisionHistory& history);

inline void decisionPush(DecisionHistory& history, std::uint8_t value) {
    const int size = static_cast<int>(history.values.size());
    const auto mask = static_cast<unsigned>(size - 1);
    history.newest = history.newest + 1 >= size ? 0 : history.newest + 1;
    const auto slot = static_cast<unsigned>(history.newest);
    // The decision leaving the window: 2 * voteHalfWidth + 1 places back.
    const std::uint8_t leaving =
        history.values[(slot - 2 * static_cast<unsigned>(history.voteHalfWidth) - 1u) & mask];
    history.values[slot] = value;
    history.windowZeros += (value == kSpace) - (leaving == kSpace);
    history.windowOnes += (value == kMark) - (leaving == kMark);
    std::uint8_t vote = kUndecided;
    if (history.windowOnes > history.windowZeros) {
        vote = kMark;
    } else if (history.windowZeros > history.windowOnes) {
        vote = kSpace;
    }
    history.votes[(slot - static_cast<unsigned>(history.voteHalfWidth)) & mask] = vote;
}

inline std::uint8_t decisionAt(const DecisionHistory& history, int offset) {
    const int size = static_cast<int>(history.values.size());
    return history.values[static_cast<std::size_t>(ringSlot(history.newest, offset, size))];
}

// Counts the decisions equal to 0 and to 1 over offsets center - halfWidth ..
// center + halfWidth: more ones gives 1, more zeros 0, a tie (or an empty
// window) 255.
std::uint8_t majorityVote(const DecisionHistory& history, int center, int halfWidth);

// majorityVote(offset, voteHalfWidth) from the votes kept by decisionPush.
// Valid for offset <= -voteHalfWidth within the history, which is where the
// demodulator reads.
inline std::uint8_t keptVote(const DecisionHistory& history, int offset) {
    const auto mask = static_cast<unsigned>(history.values.size() - 1);
    return history.votes[static_cast<unsigned>(history.newest + offset) & mask];
}

}  // namespace sigcore
