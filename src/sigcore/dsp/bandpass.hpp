// The detectors' voice-band filter: 1024-sample blocks overlapping by half,
// cleared outside the pass band in the frequency domain and joined again by
// Hann-windowed overlap-add. Output sample n belongs to input sample n; it is
// known once input sample 512 * (n div 512) + 1023 is in. The filter either
// pulls raw samples from the WAV reader itself (bandpassNext) or is given
// them (bandpassNeeds, bandpassFilterBlock).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sigcore/dsp/fft.hpp"
#include "sigcore/io/wave.hpp"

namespace sigcore {

inline constexpr int kBandBlock = 1024;  // block length and bin scale
inline constexpr int kBandHop = 512;     // hop between blocks

struct BandpassFilter {
    std::array<std::int16_t, kBandBlock> input{};   // raw samples of the current block
    std::array<double, kBandBlock> workRe{};        // forward transform, bins in bit-reversed order
    std::array<double, kBandBlock> workIm{};
    std::array<double, kBandBlock> spectrumRe{};    // band-limited spectrum in natural order; inverse transform
    std::array<double, kBandBlock> spectrumIm{};
    std::array<double, kBandBlock> filtered{};      // real parts of the filtered block in natural order
    std::array<std::int32_t, kBandHop> kept{};      // windowed second half of the last block, truncated
    std::array<std::int16_t, kBandHop> output{};    // filtered samples handed out one by one
    int remaining = 0;                              // output samples not yet handed out
    std::uint64_t calls = 0;                        // calls since bandSetup; 0: next is the first
    int lowBin = 0;                                 // pass band, inclusive bins of a 1024-point spectrum
    int highBin = 0;
};

// Saturates to the signed 16-bit range.
inline std::int16_t saturate16(std::int64_t value) {
    if (value > 32767) return 32767;
    if (value < -32768) return -32768;
    return static_cast<std::int16_t>(value);
}

// Pass band bins trunc(hz / samplingRate * 1024); restarts the block sequence.
void bandSetup(BandpassFilter& filter, int samplingRate, int lowHz, int highHz);

// Raw samples that must be written into `input`, from index 1024 minus that
// count on, before the next output block can be computed: 1024 for the
// first block, 512 for every later one.
inline int bandpassNeeds(const BandpassFilter& filter) { return filter.calls == 0 ? kBandBlock : kBandHop; }

// Computes the next output block from `input`, whose last bandpassNeeds
// samples have been written, and hands it out: the filtered samples are in
// output[0..511] (all of them ready for bandpassTakeReady), and `input` has
// moved on by 512 samples.
void bandpassFilterBlock(BandpassFilter& filter, const FftTables& tables);

// Computes the next output block (first call, or the current one used up)
// and returns its first sample.
std::int16_t bandpassRefill(BandpassFilter& filter, const FftTables& tables, WaveReader& reader);

// The next filtered sample.
inline std::int16_t bandpassNext(BandpassFilter& filter, const FftTables& tables, WaveReader& reader) {
    if (filter.calls != 0 && filter.remaining > 0) {
        const int at = kBandHop - filter.remaining;
        --filter.remaining;
        ++filter.calls;
        return filter.output[static_cast<std::size_t>(at)];
    }
    return bandpassRefill(filter, tables, reader);
}

// Up to out.size() of the filtered samples already computed, as that many
// bandpassNext calls would return them; never computes a block. Returns
// how many were taken (0 when the next sample needs a new block).
inline std::size_t bandpassTakeReady(BandpassFilter& filter, std::span<std::int16_t> out) {
    if (filter.calls == 0 || filter.remaining <= 0) return 0;
    const auto n = std::min(out.size(), static_cast<std::size_t>(filter.remaining));
    const auto at = static_cast<std::size_t>(kBandHop - filter.remaining);
    std::copy_n(filter.output.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
    filter.remaining -= static_cast<int>(n);
    filter.calls += n;
    return n;
}

}  // namespace sigcore
