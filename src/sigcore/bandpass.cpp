#include "sigcore/bandpass.hpp"

#include <cmath>
#include <span>

namespace sigcore {

namespace {

// Forward transform, band clearing, conjugate mirror, inverse: the real parts
// of the work array are then the filtered block.
void filterBlock(BandpassFilter& filter, const FftTables& tables) {
    for (std::size_t k = 0; k < kBandBlock; ++k) {
        filter.workRe[k] = static_cast<double>(filter.input[k]);
        filter.workIm[k] = 0.0;
    }
    const ComplexSpan work{filter.workRe, filter.workIm};
    fft(tables, 1, work, kBandBlock);
    bandLimit(work, kBandHop, filter.lowBin, filter.highBin);
    mirrorSpectrum(work, kBandBlock);
    fft(tables, -1, work, kBandBlock);
}

// Truncation toward zero of a filtered value. The values of a band-limited
// 16-bit block stay far inside the 32-bit range; the clamp only keeps the
// conversion defined whatever happens.
std::int32_t truncate32(double value) {
    if (!(value > -2147483648.0)) return -2147483647 - 1;
    if (!(value < 2147483647.0)) return 2147483647;
    return static_cast<std::int32_t>(value);
}

}  // namespace

void bandSetup(BandpassFilter& filter, int samplingRate, int lowHz, int highHz) {
    filter.lowBin = truncate32(static_cast<double>(lowHz) / samplingRate * kBandBlock);
    filter.highBin = truncate32(static_cast<double>(highHz) / samplingRate * kBandBlock);
    filter.calls = 0;
    filter.remaining = 0;
}

std::int16_t bandpassRefill(BandpassFilter& filter, const FftTables& tables, WaveReader& reader) {
    if (filter.calls == 0) {
        waveReadSamples(reader, filter.input);
        filterBlock(filter, tables);
        // The first half-block goes out without the window.
        for (std::size_t k = 0; k < kBandHop; ++k) filter.output[k] = saturate16(truncate32(filter.workRe[k]));
        hannWindow(tables, filter.workRe, kBandBlock);
    } else {
        // The windowed second half of the previous block, kept whole until the
        // overlapping half of the new block is added to it.
        std::array<std::int32_t, kBandHop> previous{};
        for (std::size_t k = 0; k < kBandHop; ++k) {
            previous[k] = truncate32(filter.workRe[kBandHop + k]);
            filter.input[k] = filter.input[kBandHop + k];
        }
        waveReadSamples(reader, std::span<std::int16_t>(filter.input).subspan(kBandHop));
        filterBlock(filter, tables);
        hannWindow(tables, filter.workRe, kBandBlock);
        for (std::size_t k = 0; k < kBandHop; ++k) {
            const std::int64_t sum = std::int64_t{previous[k]} + truncate32(filter.workRe[k]);
            filter.output[k] = saturate16(sum);
        }
    }
    filter.remaining = kBandHop - 1;
    ++filter.calls;
    return filter.output[0];
}

}  // namespace sigcore
