// Throughput of the whole US detector (file reading, band-pass filter,
// correlators, demodulator, decoder, report) over a ten-minute 8000 Hz
// recording with a caller-ID burst every 30 seconds, and of the line
// receiver running both tone plans over the same samples.
#include <array>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>
#include <unistd.h>

#include "cidprobe/cidprobe.hpp"
#include "fsksynth.hpp"
#include "sigcore/receivers/softfsk.hpp"
#include "sigcore/io/wave.hpp"

namespace {

constexpr int kRate = 8000;
constexpr int kMinutes = 10;
constexpr int kBurstEverySeconds = 30;

struct Recording {
    std::string wavPath;
    std::string reportPath;
    std::int64_t samples = 0;
};

// Bursts of the example message with low-level noise between them.
const Recording& recording() {
    static const Recording made = [] {
        Recording r;
        const auto dir = std::filesystem::temp_directory_path();
        r.wavPath = (dir / ("detector_bench_" + std::to_string(::getpid()) + ".wav")).string();
        r.reportPath = (dir / ("detector_bench_" + std::to_string(::getpid()) + ".txt")).string();
        fsksynth::Modulator m;
        m.rate = kRate;
        m.amplitude = 8000.0;
        const auto message = fsksynth::sdmfMessage("01011200", "0123456789");
        const int total = kRate * 60 * kMinutes;
        std::uint32_t noise = 1;
        while (static_cast<int>(m.samples.size()) + kRate * kBurstEverySeconds <= total) {
            const std::size_t start = m.samples.size();
            fsksynth::appendSilence(m, kRate);
            fsksynth::appendBurst(m, message);
            const std::size_t end = start + static_cast<std::size_t>(kRate * kBurstEverySeconds);
            while (m.samples.size() < end) m.samples.push_back(0);
            for (std::size_t i = start; i < end; ++i) {
                noise = noise * 1103515245u + 12345u;
                const int n = static_cast<int>((noise >> 16) & 0xFF) - 128;
                m.samples[i] = static_cast<std::int16_t>(m.samples[i] + n);
            }
        }
        fsksynth::writeWav(r.wavPath, kRate, 16, m.samples);
        r.samples = static_cast<std::int64_t>(m.samples.size());
        return r;
    }();
    return made;
}

void BM_DetectorUs(benchmark::State& state) {
    const Recording& r = recording();
    for (auto _ : state) {
        const int status = cidprobe::fskScanUs(80, r.wavPath, r.reportPath);
        benchmark::DoNotOptimize(status);
    }
    state.counters["samples"] =
        benchmark::Counter(static_cast<double>(r.samples) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DetectorUs)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A decoder that takes every byte and reports nothing: the receivers' own cost.
class NullDecoder final : public sigcore::MessageDecoder {
public:
    sigcore::NextByte startBurst(sigcore::EventSink&) override { return sigcore::NextByte::AnyByte; }
    sigcore::NextByte decodeByte(std::uint8_t, std::int64_t, std::int64_t, sigcore::EventSink&) override {
        return sigcore::NextByte::AnyByte;
    }
};

struct NullSink final : sigcore::EventSink {
    void onEvent(const sigcore::Event&) override {}
};

// The same recording's samples pushed through the line receiver with both
// tone plans over one line filter, as cidscan listens for every standard.
void BM_LineReceiverBothPlans(benchmark::State& state) {
    const Recording& r = recording();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(r.samples));
    {
        sigcore::WaveReader reader;
        sigcore::waveOpen(reader, r.wavPath);
        sigcore::waveReadSamples(reader, samples);
    }
    for (auto _ : state) {
        NullDecoder us;
        NullDecoder ntt;
        NullSink sink;
        const std::array plans{sigcore::ReceiverPlan{sigcore::kBell202, us, sink},
                               sigcore::ReceiverPlan{sigcore::kV23, ntt, sink}};
        sigcore::SoftFskReceiver receiver(plans, kRate);
        constexpr std::size_t kBlock = 4096;
        for (std::size_t at = 0; at < samples.size(); at += kBlock) {
            receiver.push(std::span<const std::int16_t>(samples).subspan(at, std::min(kBlock, samples.size() - at)));
        }
        receiver.finish();
    }
    state.counters["samples"] =
        benchmark::Counter(static_cast<double>(r.samples) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

BENCHMARK(BM_LineReceiverBothPlans)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Recording& r = recording();
    std::remove(r.wavPath.c_str());
    std::remove(r.reportPath.c_str());
    return 0;
}
