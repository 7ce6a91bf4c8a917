// Continuous-phase two-tone FSK at 1200 bit/s with optional uniform noise.
// The signal is run through twice: once counting samples (the WAV header must
// announce them), once writing them.
#pragma once

#include "cidforge/datafile.hpp"
#include "sigcore/dsp/noise.hpp"
#include "sigcore/io/wave.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cidforge {

inline constexpr double kTwoPi = 6.283185307179586;

enum class ToneMode {
    count,  // advance the bit clock and phase, write nothing
    write,  // compute and deliver the samples, then advance
    reset,  // restart the bit clock (time and sample index), keep the phase
};

struct ModulatorState {
    std::int32_t baudRate = 1200;
    std::int32_t markFrequency = 1300;   // Hz, bit value 1
    std::int32_t spaceFrequency = 2100;  // Hz, bit value 0
    std::uint32_t samplingFrequency = 8000;
    std::int32_t amplitude = 0;          // percent of full scale
    std::int32_t noiseAmplitude = 0;     // percent of full scale
    double bitEndTime = 0.0;             // s, end of the previous bit
    std::int64_t nextSample = 0;         // index of the next sample
    double carrierPhase = 0.0;           // rad, phase at the start of the next bit
    sigcore::NoiseState noise;
};

// Where written samples go: the WAV writer and/or a vector (for inspection).
struct SampleSink {
    sigcore::WaveWriter* writer = nullptr;
    std::vector<std::int16_t>* samples = nullptr;
};

// Sets the tones, rates and amplitudes of the selected format from the settings.
void configureModulator(const GeneratorSettings& settings, ModulatorState& state);

// One bit at `frequency`; returns its sample count (0 for reset).
std::int64_t toneBit(ModulatorState& state, SampleSink& sink, std::int32_t frequency, ToneMode mode);
// Start bit, eight data bits least significant first, five stop bits.
std::int64_t sendByte(ModulatorState& state, SampleSink& sink, std::uint8_t byte, ToneMode mode);
std::int64_t sendMessage(ModulatorState& state, SampleSink& sink, std::span<const std::uint8_t> bytes,
                         ToneMode mode);

// The sizes of the sections around the message; a zero or negative duration
// gives an empty section.
struct SignalPlan {
    std::int64_t leaderSamples = 0;  // silence before, and again after
    std::int64_t seizureBits = 0;    // alternating bits, space first, before the mark
    std::int64_t headerBits = 0;     // mark bits before the message
    std::int64_t footerBits = 0;     // mark bits after the message
};
SignalPlan planSignal(const GeneratorSettings& settings, const ModulatorState& state);

// Channel-seizure bits that -SEIZURE puts before the mark: 96 for ETSI, 300
// for the US formats and for NTT.
inline constexpr std::int64_t kEtsiSeizureBits = 96;
inline constexpr std::int64_t kSeizureBits = 300;

// The message bytes of the selected format; empty when they can't be built.
std::vector<std::uint8_t> buildMessage(const GeneratorSettings& settings);

// Largest sample count whose data size, plus the rest of the header, fits the
// signed 32-bit size fields of the WAV header.
std::int64_t maxWaveSamples(std::int32_t bitsPerSample);

// The counting pass: the total number of samples of the signal, advancing
// `state` as the writing pass will. Stops early, with a result above `limit`,
// as soon as the count exceeds it.
std::int64_t countSignal(const SignalPlan& plan, std::span<const std::uint8_t> message, ModulatorState& state,
                         std::int64_t limit);

enum class GenerateResult {
    ok,
    messageTooLong,  // not returned by writeSignal: checkSettings refuses an NTT content length above 127 first
    signalTooLong,   // more samples than the WAV header can announce
    cantCreate,      // the output file could not be created
    writeFailed,     // a write or the close failed; the file was removed
};

// The writing pass into any sink: restarts the bit clock (the carrier keeps
// the phase the counting pass left), then delivers the leader, the seizure
// bits, the header bits, the message, the footer bits and the trailer, stopping at the first
// failed write. After a countSignal on this state that stayed within its
// limit it delivers exactly the counted samples.
void emitSignal(const SignalPlan& plan, std::span<const std::uint8_t> message, ModulatorState& state,
                SampleSink& sink);

// The writing pass into a file: creates the WAV file announcing `total`
// samples (the result of countSignal on this state) and emits the signal
// into it. After a failed write a regular output file is removed again.
GenerateResult writeSignal(const GeneratorSettings& settings, const SignalPlan& plan,
                           std::span<const std::uint8_t> message, std::int64_t total, ModulatorState& state,
                           const std::string& path);

}  // namespace cidforge
