#include "cidforge/modulator.hpp"

#include "cidforge/messages.hpp"
#include "sigcore/io/filehandle.hpp"

#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

namespace cidforge {

namespace {

// Truncates toward zero and saturates to the 16-bit sample range.
std::int16_t toSample(double value) {
    if (value >= 32767.0) return 32767;
    if (value <= -32768.0) return -32768;
    return static_cast<std::int16_t>(value);
}

void deliver(SampleSink& sink, std::int16_t value) {
    if (sink.writer != nullptr) sigcore::waveWriteSample(*sink.writer, value);
    if (sink.samples != nullptr) sink.samples->push_back(value);
}

bool sinkFailed(const SampleSink& sink) { return sink.writer != nullptr && sink.writer->failed; }

// trunc(rate * durationMs * 0.001), the integer product formed first; never negative.
std::int64_t sectionLength(std::int64_t rate, std::int32_t durationMs) {
    if (durationMs <= 0 || rate <= 0) return 0;
    const std::int64_t product = rate * std::int64_t{durationMs};
    return static_cast<std::int64_t>(static_cast<double>(product) * 0.001);
}

}  // namespace

void configureModulator(const GeneratorSettings& settings, ModulatorState& state) {
    state.baudRate = 1200;
    const MessageFormat format = messageFormat(settings);
    const bool bell202 = format == MessageFormat::sdmf || format == MessageFormat::mdmf;
    state.markFrequency = bell202 ? 1200 : 1300;
    state.spaceFrequency = bell202 ? 2200 : 2100;
    state.samplingFrequency = static_cast<std::uint32_t>(settings.samplingFrequency);
    state.amplitude = settings.amplitude;
    state.noiseAmplitude = settings.noiseAmplitude;
}

std::int64_t toneBit(ModulatorState& state, SampleSink& sink, std::int32_t frequency, ToneMode mode) {
    if (mode == ToneMode::reset) {
        state.bitEndTime = 0.0;
        state.nextSample = 0;
        return 0;
    }
    const double tStart = state.bitEndTime;
    const std::int64_t first = state.nextSample;
    const double phi = state.carrierPhase;
    const double fs = static_cast<double>(state.samplingFrequency);
    const double f = static_cast<double>(frequency);

    // Accumulated by addition: the sample counts of the bits depend on it.
    const double tEnd = 1.0 / static_cast<double>(state.baudRate) + tStart;
    const auto last = static_cast<std::int64_t>(fs * tEnd);

    if (mode == ToneMode::write) {
        const double amplitude = static_cast<double>(state.amplitude);
        const double noiseAmplitude = static_cast<double>(state.noiseAmplitude);
        for (std::int64_t n = first; n <= last; ++n) {
            // Measured from the bit's own start: continuous phase, no drift.
            double theta = static_cast<double>(n) / fs;
            theta = theta - tStart;
            theta = theta * f;
            theta = theta * kTwoPi;
            theta = theta + phi;
            const double tone = amplitude * std::sin(theta);
            const int r = sigcore::noiseRandom(state.noise);
            const double noise = static_cast<double>(r - 16384) * noiseAmplitude * 0.00006103515625;
            deliver(sink, toSample((noise + tone) * 327.68));
        }
    }

    state.bitEndTime = tEnd;
    state.nextSample = last + 1;
    double phase = phi + f * kTwoPi / static_cast<double>(state.baudRate);
    while (phase > kTwoPi) phase -= kTwoPi;
    state.carrierPhase = phase;
    return last - first + 1;
}

std::int64_t sendByte(ModulatorState& state, SampleSink& sink, std::uint8_t byte, ToneMode mode) {
    const unsigned word = (static_cast<unsigned>(byte) | 0x1F00u) << 1;
    std::int64_t samples = 0;
    for (int bit = 0; bit < 14; ++bit) {
        const bool mark = ((word >> bit) & 1u) != 0;
        samples += toneBit(state, sink, mark ? state.markFrequency : state.spaceFrequency, mode);
    }
    return samples;
}

std::int64_t sendMessage(ModulatorState& state, SampleSink& sink, std::span<const std::uint8_t> bytes,
                         ToneMode mode) {
    std::int64_t samples = 0;
    for (const std::uint8_t b : bytes) samples += sendByte(state, sink, b, mode);
    return samples;
}

SignalPlan planSignal(const GeneratorSettings& settings, const ModulatorState& state) {
    SignalPlan plan;
    plan.leaderSamples = sectionLength(state.samplingFrequency, settings.leaderDuration);
    if (settings.channelSeizure) {
        plan.seizureBits = messageFormat(settings) == MessageFormat::etsi ? kEtsiSeizureBits : kSeizureBits;
    }
    plan.headerBits = sectionLength(state.baudRate, settings.headerDuration);
    plan.footerBits = sectionLength(state.baudRate, settings.footerDuration);
    return plan;
}

std::vector<std::uint8_t> buildMessage(const GeneratorSettings& settings) {
    switch (messageFormat(settings)) {
    case MessageFormat::sdmf: {
        SdmfMessage message;
        buildSdmfMessage(settings, message);
        const auto bytes = message.view();
        return {bytes.begin(), bytes.end()};
    }
    case MessageFormat::mdmf:
    case MessageFormat::etsi: {
        MdmfMessage message;
        buildMultipleDataMessage(settings, message);
        const auto bytes = message.view();
        return {bytes.begin(), bytes.end()};
    }
    case MessageFormat::ntt:
        break;
    }
    NttFrame frame;
    buildNttMessage(settings, frame);
    const auto bytes = frame.view();
    return {bytes.begin(), bytes.end()};
}

namespace {

// Seizure bit i: space for even i, mark for odd i.
std::int32_t seizureFrequency(const ModulatorState& state, std::int64_t bit) {
    return bit % 2 == 0 ? state.spaceFrequency : state.markFrequency;
}

}  // namespace

std::int64_t maxWaveSamples(std::int32_t bitsPerSample) {
    const std::int64_t blockSize = bitsPerSample / 8 > 0 ? bitsPerSample / 8 : 1;
    return (std::int64_t{std::numeric_limits<std::int32_t>::max()} - 36) / blockSize;
}

std::int64_t countSignal(const SignalPlan& plan, std::span<const std::uint8_t> message, ModulatorState& state,
                         std::int64_t limit) {
    SampleSink none;
    std::int64_t total = 2 * plan.leaderSamples;
    for (std::int64_t i = 0; i < plan.seizureBits && total <= limit; ++i) {
        total += toneBit(state, none, seizureFrequency(state, i), ToneMode::count);
    }
    for (std::int64_t i = 0; i < plan.headerBits && total <= limit; ++i) {
        total += toneBit(state, none, state.markFrequency, ToneMode::count);
    }
    for (std::size_t i = 0; i < message.size() && total <= limit; ++i) {
        total += sendByte(state, none, message[i], ToneMode::count);
    }
    for (std::int64_t i = 0; i < plan.footerBits && total <= limit; ++i) {
        total += toneBit(state, none, state.markFrequency, ToneMode::count);
    }
    return total;
}

void emitSignal(const SignalPlan& plan, std::span<const std::uint8_t> message, ModulatorState& state,
                SampleSink& sink) {
    // The bit clock restarts; the carrier keeps the phase the count left.
    toneBit(state, sink, 0, ToneMode::reset);

    for (std::int64_t i = 0; i < plan.leaderSamples && !sinkFailed(sink); ++i) deliver(sink, 0);
    for (std::int64_t i = 0; i < plan.seizureBits && !sinkFailed(sink); ++i) {
        toneBit(state, sink, seizureFrequency(state, i), ToneMode::write);
    }
    for (std::int64_t i = 0; i < plan.headerBits && !sinkFailed(sink); ++i) {
        toneBit(state, sink, state.markFrequency, ToneMode::write);
    }
    for (std::size_t i = 0; i < message.size() && !sinkFailed(sink); ++i) {
        sendByte(state, sink, message[i], ToneMode::write);
    }
    for (std::int64_t i = 0; i < plan.footerBits && !sinkFailed(sink); ++i) {
        toneBit(state, sink, state.markFrequency, ToneMode::write);
    }
    for (std::int64_t i = 0; i < plan.leaderSamples && !sinkFailed(sink); ++i) deliver(sink, 0);
}

GenerateResult writeSignal(const GeneratorSettings& settings, const SignalPlan& plan,
                           std::span<const std::uint8_t> message, std::int64_t total, ModulatorState& state,
                           const std::string& path) {
    if (total < 0 || total > maxWaveSamples(settings.quantizationBitLength)) return GenerateResult::signalTooLong;
    sigcore::WaveWriter writer;
    sigcore::WaveInfo info;
    info.sampling_frequency = settings.samplingFrequency;
    info.num_bits_sample = static_cast<std::uint16_t>(settings.quantizationBitLength);
    info.numberSamples = static_cast<std::int32_t>(total);
    info.number_of_channels = 1;
    if (sigcore::waveCreate(writer, path, info) == 0) return GenerateResult::cantCreate;

    SampleSink sink{&writer, nullptr};
    emitSignal(plan, message, state, sink);

    if (sigcore::waveCloseWrite(writer) != 0) {
        // Leave no truncated file behind; devices and links are not touched.
        std::error_code ec;
        if (!sigcore::isStandardStream(path) &&
            std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
            std::filesystem::remove(path, ec);
        }
        return GenerateResult::writeFailed;
    }
    return GenerateResult::ok;
}

}  // namespace cidforge
