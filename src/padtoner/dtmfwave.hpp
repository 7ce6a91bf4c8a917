// DTMF synthesis: a tone-free leader, one tone burst and one gap per symbol,
// and a trailer, with white noise and 50 Hz mains hum on every sample and a
// linear ramp at both ends of every burst, written as a mono WAV file.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "padtoner/dtmfdata.hpp"
#include "sigcore/dsp/noise.hpp"

namespace padtoner {

// One section of the signal as the section generators see it.
struct SectionParams {
    std::int32_t samplingFrequency = 0;  // Hz
    std::int32_t count = 0;              // samples in the section
    std::int32_t amplitude = 0;          // percent, tone pair
    std::int32_t noiseAmplitude = 0;     // percent, white noise
    std::int32_t pnoiseAmplitude = 0;    // percent, mains hum
    std::int32_t rampCount = 0;          // samples of rise and of fall
    std::int32_t position = 0;           // index in the file of the section's first sample
};

struct DtmfRow {
    int low;   // Hz, row group
    int high;  // Hz, column group
};

// The symbols in table order; a symbol's position here is its row of dtmfTable.
inline constexpr std::string_view kDtmfSymbols = "147*2580369#ABCD";

inline constexpr std::array<DtmfRow, 16> dtmfTable{{
    {697, 1209}, {770, 1209}, {852, 1209}, {941, 1209},
    {697, 1336}, {770, 1336}, {852, 1336}, {941, 1336},
    {697, 1477}, {770, 1477}, {852, 1477}, {941, 1477},
    {697, 1633}, {770, 1633}, {852, 1633}, {941, 1633},
}};

// Sample counts of one signal, 64-bit so that neither a count nor a sum can
// overflow whatever the data file says.
struct DtmfCounts {
    std::int64_t leader = 0;
    std::int64_t tone = 0;
    std::int64_t gap = 0;
    std::int64_t ramp = 0;
    std::int64_t symbols = 0;
    std::int64_t trailer = 0;  // leader less gap, or 0 when that is not positive
    std::int64_t total = 0;    // leader + symbols * (tone + gap) + trailer
};

// ms * fs * 0.001 in double precision, truncated toward zero. A count beyond
// the 32-bit range is held at its nearest end (such a signal is refused anyway).
std::int32_t durationToSamples(std::int32_t milliseconds, std::int32_t samplingFrequency);
// The same count without the 32-bit hold.
std::int64_t durationToSamples64(std::int32_t milliseconds, std::int32_t samplingFrequency);

DtmfCounts dtmfCounts(const DtmfParameters& params);

// The (low, high) frequency pair of a symbol; lower-case a to d as A to D.
// A character outside the symbol set gives (0, 0): a burst of noise only.
std::pair<double, double> dtmfFrequencies(char symbol);

// Linear rise over the first n samples of a section of `count`, linear fall
// over its last n - 1, 1 in between; 1 throughout when n is 0.
double rampGain(std::int32_t i, std::int32_t count, std::int32_t n);

// Fill the first sp.count samples of `buffer` (one noise draw per sample).
void synthToneSection(std::span<std::int16_t> buffer, double low, double high, const SectionParams& sp,
                      sigcore::NoiseState& noise);
void synthQuietSection(std::span<std::int16_t> buffer, const SectionParams& sp, sigcore::NoiseState& noise);

// The line that refuses parameters no WAV file can be made of, or "" when they
// are usable: a sampling frequency of 0 or below, a bit length other than 8 or
// 16, a negative duration, a data size beyond the header's 32-bit fields.
std::string dtmfParameterError(const DtmfParameters& params);

enum class DtmfWriteStatus {
    written,       // the whole file was written and closed
    refused,       // dtmfParameterError has a complaint; nothing done
    noMemory,      // the sample buffer could not be had; no file created
    cannotCreate,  // the output file could not be created
    writeFailed,   // a write or the close failed; the incomplete file is removed
};

struct DtmfWriteResult {
    DtmfWriteStatus status = DtmfWriteStatus::written;
    int closeResult = 0;  // waveCloseWrite's result once the file was created: 0 or -1
};

// Builds the whole signal and writes it to `path`, section by section through
// one reused buffer sized for the longest section.
DtmfWriteResult writeDtmfWave(const DtmfParameters& params, const std::string& path, sigcore::NoiseState& noise);

}  // namespace padtoner
