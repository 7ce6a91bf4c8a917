#include "sigcore/bandpass.hpp"

#include <algorithm>
#include <cmath>
#include <span>

namespace sigcore {

namespace {

// Forward transform, band clearing, conjugate mirror, inverse: `filtered`
// then holds the real parts of the filtered block. The same values as
// fft(1), bandLimit, mirrorSpectrum and fft(-1) on one work array: the
// transforms skip their final reordering and are read through the
// bit-reversal table instead, and the forward scaling by 1/1024 (a power of
// two, so exact) is applied only to the bins that are kept; cleared bins are
// 0 either way.
void filterBlock(BandpassFilter& filter, const FftTables& tables) {
    for (std::size_t k = 0; k < kBandBlock; ++k) filter.workRe[k] = static_cast<double>(filter.input[k]);
    fftStages(tables, 1, ComplexSpan{filter.workRe, filter.workIm}, kBandBlock, FftShortcuts{true, false, true});

    // The last stage's butterflies pair entry 2i (bin b < 512) with entry
    // 2i + 1 (bin b + 512); only the sum, for bin b, is kept, and the
    // difference only for bin 512 (b = 0).
    const double scale = 1.0 / kBandBlock;
    const int* const reverse = tables.bitReverse.data();
    filter.spectrumRe.fill(0.0);
    filter.spectrumIm.fill(0.0);
    const int low = std::max(filter.lowBin, 0);
    const int high = std::min(filter.highBin, kBandHop - 1);
    for (int k = low; k <= high; ++k) {
        const auto from = static_cast<std::size_t>(reverse[k]);
        const double binRe = (filter.workRe[from] + filter.workRe[from + 1]) * scale;
        const double binIm = (filter.workIm[from] + filter.workIm[from + 1]) * scale;
        filter.spectrumRe[static_cast<std::size_t>(k)] = binRe;
        filter.spectrumIm[static_cast<std::size_t>(k)] = binIm;
        if (k >= 1) {
            filter.spectrumRe[static_cast<std::size_t>(kBandBlock - k)] = binRe;
            filter.spectrumIm[static_cast<std::size_t>(kBandBlock - k)] = -binIm;
        }
    }
    // Half the sampling rate is neither cleared nor mirrored.
    filter.spectrumRe[kBandHop] = (filter.workRe[0] - filter.workRe[1]) * scale;
    filter.spectrumIm[kBandHop] = (filter.workIm[0] - filter.workIm[1]) * scale;

    fftStages(tables, -1, ComplexSpan{filter.spectrumRe, filter.spectrumIm}, kBandBlock, FftShortcuts{false, true});
    for (std::size_t k = 0; k < kBandBlock; ++k) {
        filter.filtered[k] = filter.spectrumRe[static_cast<std::size_t>(reverse[k])];
    }
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
        for (std::size_t k = 0; k < kBandHop; ++k) filter.output[k] = saturate16(truncate32(filter.filtered[k]));
        hannWindow(tables, filter.filtered, kBandBlock);
    } else {
        // The windowed second half of the previous block, kept whole until the
        // overlapping half of the new block is added to it.
        std::array<std::int32_t, kBandHop> previous{};
        for (std::size_t k = 0; k < kBandHop; ++k) {
            previous[k] = truncate32(filter.filtered[kBandHop + k]);
            filter.input[k] = filter.input[kBandHop + k];
        }
        waveReadSamples(reader, std::span<std::int16_t>(filter.input).subspan(kBandHop));
        filterBlock(filter, tables);
        hannWindow(tables, filter.filtered, kBandBlock);
        for (std::size_t k = 0; k < kBandHop; ++k) {
            const std::int64_t sum = std::int64_t{previous[k]} + truncate32(filter.filtered[k]);
            filter.output[k] = saturate16(sum);
        }
    }
    filter.remaining = kBandHop - 1;
    ++filter.calls;
    return filter.output[0];
}

}  // namespace sigcore
