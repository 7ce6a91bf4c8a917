#include "padtoner/dtmfwave.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "sigcore/io/wave.hpp"

namespace padtoner {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kMainsOmega = 314.1592653589793;       // 2 pi 50 Hz
constexpr double kMainsThirdOmega = 942.4777960769379;  // 2 pi 150 Hz
constexpr double kToneScale = 163.835;                  // 32767 / 200: the pair peaks at full scale
constexpr double kMainsScale = 81.9175;                 // 32767 / 400
constexpr double kNoiseScale = 0.02;

// The data size plus the 36 header bytes that follow the size field must fit
// the header's signed 32-bit fields.
constexpr std::int64_t kMaxDataBytes = std::int64_t{INT32_MAX} - 36;

// White noise of one draw: (r - 16384) * level * 0.02. The product of the two
// integers is exact in double precision, so no integer overflow can occur.
double whiteNoise(int r, std::int32_t level) {
    return static_cast<double>(r - 16384) * level * kNoiseScale;
}

// 50 Hz hum with its third harmonic at a third of its amplitude, phase 0 at
// the file's first sample.
double mainsNoise(double t, std::int32_t level) {
    return (3 * std::sin(t * kMainsOmega) + std::sin(t * kMainsThirdOmega)) * level * kMainsScale;
}

// Truncates toward zero and holds values beyond the 16-bit range at its ends.
std::int16_t toSample(double value) {
    if (value >= 32767.0) return INT16_MAX;
    if (value <= -32768.0) return INT16_MIN;
    return static_cast<std::int16_t>(static_cast<int>(value));
}

// Time in seconds of the sample at file position `position`.
double sampleTime(std::int64_t position, std::int32_t samplingFrequency) {
    return static_cast<double>(position) / samplingFrequency;
}

// Number of samples of a section that fit the buffer (a section never
// exceeds it; this only keeps every index inside).
std::size_t sectionLength(std::span<std::int16_t> buffer, std::int32_t count) {
    if (count <= 0) return 0;
    return std::min(buffer.size(), static_cast<std::size_t>(count));
}

}  // namespace

std::int64_t durationToSamples64(std::int32_t milliseconds, std::int32_t samplingFrequency) {
    // At most 2^62 * 0.001 in magnitude: always inside the 64-bit range.
    return static_cast<std::int64_t>(static_cast<double>(milliseconds) * samplingFrequency * 0.001);
}

std::int32_t durationToSamples(std::int32_t milliseconds, std::int32_t samplingFrequency) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(durationToSamples64(milliseconds, samplingFrequency), INT32_MIN, INT32_MAX));
}

DtmfCounts dtmfCounts(const DtmfParameters& params) {
    DtmfCounts c;
    c.leader = durationToSamples64(params.LeaderDuration, params.SamplingFrequency);
    c.tone = durationToSamples64(params.ToneDuration, params.SamplingFrequency);
    c.gap = durationToSamples64(params.SilenceDuration, params.SamplingFrequency);
    c.ramp = durationToSamples64(params.RampDuration, params.SamplingFrequency);
    c.symbols = static_cast<std::int64_t>(params.DTMFData.size());
    c.trailer = std::max<std::int64_t>(c.leader - c.gap, 0);
    // Each count is below 2^53 in magnitude; only a symbol string longer than
    // any data file line could push the product out of range, and then the
    // total is held at the 64-bit end (such a signal is refused).
    const std::int64_t perSymbol = c.tone + c.gap;
    constexpr std::int64_t kProductLimit = INT64_MAX / 4;
    if (perSymbol != 0 && c.symbols > kProductLimit / (perSymbol < 0 ? -perSymbol : perSymbol)) {
        c.total = perSymbol > 0 ? INT64_MAX : INT64_MIN;
    } else {
        c.total = c.leader + c.symbols * perSymbol + c.trailer;
    }
    return c;
}

std::pair<double, double> dtmfFrequencies(char symbol) {
    if (symbol >= 'a' && symbol <= 'z') symbol = static_cast<char>(symbol - 'a' + 'A');
    const std::size_t row = kDtmfSymbols.find(symbol);
    if (row == std::string_view::npos || row >= dtmfTable.size()) return {0.0, 0.0};
    return {static_cast<double>(dtmfTable[row].low), static_cast<double>(dtmfTable[row].high)};
}

double rampGain(std::int32_t i, std::int32_t count, std::int32_t n) {
    if (i < n) return static_cast<double>(i) / n;
    if (std::int64_t{count} - i < n) return static_cast<double>(std::int64_t{count} - i) / n;
    return 1.0;
}

void synthToneSection(std::span<std::int16_t> buffer, double low, double high, const SectionParams& sp,
                      sigcore::NoiseState& noise) {
    const std::size_t length = sectionLength(buffer, sp.count);
    for (std::size_t k = 0; k < length; ++k) {
        const auto i = static_cast<std::int32_t>(k);
        const double t = sampleTime(std::int64_t{sp.position} + i, sp.samplingFrequency);
        const double w = whiteNoise(sigcore::noiseRandom(noise), sp.noiseAmplitude);
        const double m = mainsNoise(t, sp.pnoiseAmplitude);
        const double tone = (std::sin(high * t * kTwoPi) + std::sin(low * t * kTwoPi)) * sp.amplitude * kToneScale;
        buffer[k] = toSample(rampGain(i, sp.count, sp.rampCount) * (w + tone + m));
    }
}

void synthQuietSection(std::span<std::int16_t> buffer, const SectionParams& sp, sigcore::NoiseState& noise) {
    const std::size_t length = sectionLength(buffer, sp.count);
    for (std::size_t k = 0; k < length; ++k) {
        const double t = sampleTime(std::int64_t{sp.position} + static_cast<std::int64_t>(k), sp.samplingFrequency);
        const double w = whiteNoise(sigcore::noiseRandom(noise), sp.noiseAmplitude);
        buffer[k] = toSample(w + mainsNoise(t, sp.pnoiseAmplitude));
    }
}

std::string dtmfParameterError(const DtmfParameters& params) {
    if (params.SamplingFrequency <= 0) {
        return "error .... SamplingFrequency " + std::to_string(params.SamplingFrequency) +
               " must be greater than 0";
    }
    if (params.QuantizationBitLength != 8 && params.QuantizationBitLength != 16) {
        return "error .... QuantizationBitLength " + std::to_string(params.QuantizationBitLength) +
               " must be 8 or 16";
    }
    const std::array<std::pair<std::string_view, std::int32_t>, 4> durations{{
        {"LeaderDuration", params.LeaderDuration},
        {"ToneDuration", params.ToneDuration},
        {"SilenceDuration", params.SilenceDuration},
        {"RampDuration", params.RampDuration},
    }};
    for (const auto& [name, value] : durations) {
        if (value < 0) {
            return "error .... " + std::string(name) + " " + std::to_string(value) + " must not be negative";
        }
    }
    const DtmfCounts c = dtmfCounts(params);
    const std::int64_t bytes = c.total * (params.QuantizationBitLength / 8);
    if (bytes > kMaxDataBytes) {
        return "error .... " + std::to_string(c.total) + " samples (" + std::to_string(bytes) +
               " data bytes) are too many for a WAV file of at most " + std::to_string(kMaxDataBytes) +
               " data bytes";
    }
    return "";
}

DtmfWriteResult writeDtmfWave(const DtmfParameters& params, const std::string& path, sigcore::NoiseState& noise) {
    if (!dtmfParameterError(params).empty()) return {DtmfWriteStatus::refused, 0};
    const DtmfCounts c = dtmfCounts(params);

    // Counts are not negative here and the total bounds every section that is
    // written, so each fits 32 bits (the ramp is held at the 32-bit end; beyond
    // any section it is all rise). Without symbols no tone and no gap is
    // written, however long the data file makes them: the buffer, sized for
    // the longest section, must not be sized for those.
    const bool anySymbol = !params.DTMFData.empty();
    const auto leader = static_cast<std::int32_t>(c.leader);
    const auto tone = anySymbol ? static_cast<std::int32_t>(c.tone) : 0;
    const auto gap = anySymbol ? static_cast<std::int32_t>(c.gap) : 0;
    const auto ramp = static_cast<std::int32_t>(std::min<std::int64_t>(c.ramp, INT32_MAX));
    std::vector<std::int16_t> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(std::max({leader, tone, gap})));
    } catch (const std::bad_alloc&) {
        return {DtmfWriteStatus::noMemory, 0};
    }

    const sigcore::WaveInfo info{params.SamplingFrequency, static_cast<std::uint16_t>(params.QuantizationBitLength),
                                 static_cast<std::int32_t>(c.total), 1};
    sigcore::WaveWriter writer;
    if (sigcore::waveCreate(writer, path, info) == 0) return {DtmfWriteStatus::cannotCreate, 0};

    SectionParams sp{params.SamplingFrequency, 0,           params.Amplitude, params.NoiseAmplitude,
                     params.PNoiseAmplitude,   ramp,        0};
    // Each section goes out whole before the next is computed; a failed write
    // ends the run at once rather than computing samples that can't be stored.
    const auto emit = [&](std::int32_t count) {
        const std::size_t length = sectionLength(buffer, count);
        sigcore::waveWriteSamples(writer, std::span<const std::int16_t>(buffer.data(), length));
        sp.position += count;
        return !writer.failed;
    };
    const auto quiet = [&](std::int32_t count) {
        sp.count = count;
        synthQuietSection(buffer, sp, noise);
        return emit(count);
    };

    bool ok = quiet(leader);
    for (std::size_t s = 0; ok && s < params.DTMFData.size(); ++s) {
        const auto [low, high] = dtmfFrequencies(params.DTMFData[s]);
        sp.count = tone;
        synthToneSection(buffer, low, high, sp, noise);
        ok = emit(tone) && quiet(gap);
    }
    if (ok) quiet(static_cast<std::int32_t>(c.trailer));

    const int closeResult = sigcore::waveCloseWrite(writer);
    if (closeResult == 0) return {DtmfWriteStatus::written, 0};

    // Remove what was written of the file, but only a regular file: a device
    // such as /dev/full, or what a symbolic link points to, stays.
    std::error_code ec;
    // Standard output ("-") is never removed, whatever a file of that name is.
    if (!sigcore::isStandardStream(path) &&
        std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::regular) {
        std::filesystem::remove(path, ec);
    }
    return {DtmfWriteStatus::writeFailed, closeResult};
}

}  // namespace padtoner
