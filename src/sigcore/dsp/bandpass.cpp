#include "sigcore/dsp/bandpass.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "sigcore/dsp/simd.hpp"

namespace sigcore {

namespace {

// Forward transform, band clearing, conjugate mirror, inverse: `filtered`
// then holds the real parts of the filtered block. The same values as a
// forward fft divided by n, bandLimit, mirrorSpectrum and an unscaled inverse
// fft on one work array: the transforms skip their final reordering and are
// read through the bit-reversal table instead, and the forward scaling by
// 1/1024 (a power of two, so exact) is applied only to the bins that are
// kept; cleared bins are 0 either way.
void filterBlock(BandpassFilter& filter, const FftTables& tables) {
    for (std::size_t k = 0; k < kBandBlock; ++k) filter.workRe[k] = static_cast<double>(filter.input[k]);
    fftStages(tables, FftDirection::Forward, ComplexSpan{filter.workRe, filter.workIm}, kBandBlock,
              FftShortcuts{.skipImaginaryInput = true, .leaveLastStage = true});

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

    fftStages(tables, FftDirection::Inverse, ComplexSpan{filter.spectrumRe, filter.spectrumIm}, kBandBlock,
              FftShortcuts{.realPartsOnly = true, .realPartsInNaturalOrder = filter.filtered.data()});
}

// Truncation toward zero of a filtered value. The values of a band-limited
// 16-bit block stay far inside the 32-bit range; the clamp only keeps the
// conversion defined whatever happens.
// Written with selections rather than branches so that loops of it vectorise.
inline std::int32_t truncate32(double value) {
    const double low = value > -2147483648.0 ? value : -2147483648.0;  // NaN goes to the low end too
    const double clamped = low < 2147483647.0 ? low : 2147483647.0;
    return static_cast<std::int32_t>(clamped);
}

}  // namespace

void bandSetup(BandpassFilter& filter, int samplingRate, int lowHz, int highHz) {
    filter.lowBin = truncate32(static_cast<double>(lowHz) / samplingRate * kBandBlock);
    filter.highBin = truncate32(static_cast<double>(highHz) / samplingRate * kBandBlock);
    filter.calls = 0;
    filter.remaining = 0;
}

namespace {

// Windows the new block, adds its first half to the kept second half of the
// previous one (each truncated first) into `output`, and keeps its own
// truncated windowed second half in `kept`.
SIGCORE_VECTOR_CLONES void joinBlock(const double* __restrict window, const double* __restrict filtered,
                                     std::int32_t* __restrict kept, std::int16_t* __restrict output) {
    for (std::size_t k = 0; k < kBandHop; ++k) {
        const std::int64_t sum = std::int64_t{kept[k]} + truncate32(filtered[k] * window[k]);
        output[k] = sum > 32767 ? std::int16_t{32767} : (sum < -32768 ? std::int16_t{-32768} : static_cast<std::int16_t>(sum));
    }
    for (std::size_t k = 0; k < kBandHop; ++k) kept[k] = truncate32(filtered[kBandHop + k] * window[kBandHop + k]);
}

}  // namespace

namespace {

void computeBlock(BandpassFilter& filter, const FftTables& tables) {
    filterBlock(filter, tables);
    if (filter.calls == 0) {
        // The first half-block goes out without the window.
        for (std::size_t k = 0; k < kBandHop; ++k) filter.output[k] = saturate16(truncate32(filter.filtered[k]));
        hannWindow(tables, filter.filtered, kBandBlock);
        for (std::size_t k = 0; k < kBandHop; ++k) filter.kept[k] = truncate32(filter.filtered[kBandHop + k]);
    } else {
        joinBlock(tables.window.data(), filter.filtered.data(), filter.kept.data(), filter.output.data());
    }
}

}  // namespace

void bandpassFilterBlock(BandpassFilter& filter, const FftTables& tables) {
    computeBlock(filter, tables);
    std::copy_n(filter.input.begin() + kBandHop, kBandHop, filter.input.begin());
    filter.remaining = kBandHop;
    // As if the block had been computed by a call of bandpassNext that took
    // no sample yet: calls is only ever compared with 0.
    filter.calls += 1;
}

std::int16_t bandpassRefill(BandpassFilter& filter, const FftTables& tables, WaveReader& reader) {
    if (filter.calls == 0) {
        waveReadSamples(reader, filter.input);
    } else {
        std::copy_n(filter.input.begin() + kBandHop, kBandHop, filter.input.begin());
        waveReadSamples(reader, std::span<std::int16_t>(filter.input).subspan(kBandHop));
    }
    computeBlock(filter, tables);
    filter.remaining = kBandHop - 1;
    ++filter.calls;
    return filter.output[0];
}

}  // namespace sigcore
