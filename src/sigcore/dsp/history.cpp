#include "sigcore/dsp/history.hpp"

#include <algorithm>

#include "sigcore/dsp/alloc.hpp"

namespace sigcore {

int historySizeFor(int lookBack) {
    int size = kHistoryMinimum;
    while (size <= lookBack && size < (1 << 30)) size *= 2;
    return size;
}

void energyInit(EnergyHistory& history, int size) {
    history.records = allocOrExit<EnergyRecord>(static_cast<std::size_t>(std::max(size, 1)));
    history.newest = -1;
}

void energyClear(EnergyHistory& history) { std::fill(history.records.begin(), history.records.end(), EnergyRecord{}); }

void decisionInit(DecisionHistory& history, int size, int voteHalfWidth) {
    const auto count = static_cast<std::size_t>(std::max(size, 1));
    history.values = allocOrExit<std::uint8_t>(count, kUndecided);
    history.votes = allocOrExit<std::uint8_t>(count, kUndecided);
    history.voteHalfWidth = std::max(voteHalfWidth, 0);
    history.newest = -1;
    history.windowZeros = 0;
    history.windowOnes = 0;
}

void decisionFill(DecisionHistory& history) {
    std::fill(history.values.begin(), history.values.end(), kUndecided);
    std::fill(history.votes.begin(), history.votes.end(), kUndecided);
    history.windowZeros = 0;
    history.windowOnes = 0;
}

std::uint8_t majorityVote(const DecisionHistory& history, int center, int halfWidth) {
    int zeros = 0;
    int ones = 0;
    for (long long o = static_cast<long long>(center) - halfWidth; o <= static_cast<long long>(center) + halfWidth;
         ++o) {
        const std::uint8_t d = decisionAt(history, static_cast<int>(o));
        zeros += d == kSpace;
        ones += d == kMark;
    }
    if (ones > zeros) return kMark;
    if (zeros > ones) return kSpace;
    return kUndecided;
}

}  // namespace sigcore
