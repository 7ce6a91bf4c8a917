#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sigcore/dsp/bandpass.hpp"
#include "support/testsupport.hpp"

namespace {

using sigcore::BandpassFilter;
using sigcore::FftTables;

// A recording of the given samples, opened for reading.
struct Source {
    testsupport::TempDir dir;
    sigcore::WaveReader reader;
    explicit Source(const std::vector<std::int16_t>& samples, int rate = 8000) {
        sigcore::WaveWriter writer;
        const std::string path = dir.file("in.wav");
        sigcore::WaveInfo info{rate, 16, static_cast<std::int32_t>(samples.size()), 1};
        EXPECT_EQ(sigcore::waveCreate(writer, path, info), 1);
        sigcore::waveWriteSamples(writer, samples);
        EXPECT_EQ(sigcore::waveCloseWrite(writer), 0);
        EXPECT_EQ(sigcore::waveOpen(reader, path).numberSamples, static_cast<std::int32_t>(samples.size()));
    }
};

std::vector<std::int16_t> runFilter(const std::vector<std::int16_t>& samples, int outputs, int rate = 8000) {
    Source source(samples, rate);
    const FftTables tables(1024);
    auto filter = std::make_unique<BandpassFilter>();
    sigcore::bandSetup(*filter, rate, 1000, 2800);
    std::vector<std::int16_t> out;
    for (int i = 0; i < outputs; ++i) out.push_back(sigcore::bandpassNext(*filter, tables, source.reader));
    return out;
}

// The filter the plain way: one work array, a forward fft divided by n,
// bandLimit, mirror, an unscaled inverse fft, window, and the overlap-add
// formed wide and saturated once.
std::vector<std::int16_t> plainFilter(const std::vector<std::int16_t>& samples, int outputs, int rate = 8000) {
    const FftTables t(1024);
    const int low = static_cast<int>(1000.0 / rate * 1024);
    const int high = static_cast<int>(2800.0 / rate * 1024);
    auto sample = [&](long i) { return i < static_cast<long>(samples.size()) ? samples[static_cast<std::size_t>(i)] : 0; };
    auto block = [&](long start) {
        std::vector<double> re(1024);
        std::vector<double> im(1024);
        for (long k = 0; k < 1024; ++k) re[static_cast<std::size_t>(k)] = sample(start + k);
        const sigcore::ComplexSpan w{re, im};
        sigcore::fft(t, sigcore::FftDirection::Forward, sigcore::FftScaling::DivideByN, w, 1024);
        sigcore::bandLimit(w, 512, low, high);
        sigcore::mirrorSpectrum(w, 1024);
        sigcore::fft(t, sigcore::FftDirection::Inverse, sigcore::FftScaling::None, w, 1024);
        return re;
    };
    std::vector<std::int16_t> out;
    std::vector<double> current = block(0);
    for (int k = 0; k < 512 && k < outputs; ++k) out.push_back(sigcore::saturate16(static_cast<long>(current[static_cast<std::size_t>(k)])));
    sigcore::hannWindow(t, current, 1024);
    for (long start = 512; static_cast<int>(out.size()) < outputs; start += 512) {
        std::vector<double> next = block(start);
        sigcore::hannWindow(t, next, 1024);
        for (std::size_t k = 0; k < 512 && static_cast<int>(out.size()) < outputs; ++k) {
            const long sum = static_cast<long>(current[512 + k]) + static_cast<long>(next[k]);
            out.push_back(sigcore::saturate16(sum));
        }
        current = next;
    }
    return out;
}

TEST(Bandpass, PassBandBinsPerRate) {
    const std::vector<std::array<int, 3>> table{{8000, 128, 358}, {11025, 92, 260}, {16000, 64, 179},
                                                {22050, 46, 130}, {44100, 23, 65},   {48000, 21, 59}};
    for (const auto& [rate, low, high] : table) {
        BandpassFilter filter;
        sigcore::bandSetup(filter, rate, 1000, 2800);
        EXPECT_EQ(filter.lowBin, low) << rate;
        EXPECT_EQ(filter.highBin, high) << rate;
    }
    BandpassFilter slow;
    sigcore::bandSetup(slow, 5600, 1000, 2800);
    EXPECT_GE(slow.highBin, 512);  // nothing above the band is cleared
}

TEST(Bandpass, SameSamplesAsThePlainFilter) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    std::vector<std::int16_t> samples(5000);
    for (auto& s : samples) s = static_cast<std::int16_t>(dist(rng));
    for (const int rate : {8000, 44100, 5000}) {
        EXPECT_EQ(runFilter(samples, 6000, rate), plainFilter(samples, 6000, rate)) << rate;
    }
    // Shorter than one block: filtered as if padded with zeros.
    const std::vector<std::int16_t> shortOne(samples.begin(), samples.begin() + 300);
    EXPECT_EQ(runFilter(shortOne, 1500), plainFilter(shortOne, 1500));
}

TEST(Bandpass, KeepsTheToneBandOnly) {
    auto rms = [](const std::vector<std::int16_t>& v, std::size_t from) {
        double sum = 0;
        for (std::size_t i = from; i < v.size(); ++i) sum += double(v[i]) * v[i];
        return std::sqrt(sum / double(v.size() - from));
    };
    for (const double hz : {500.0, 1200.0, 2200.0, 3500.0}) {
        std::vector<std::int16_t> tone(8000);
        for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * hz * double(i) / 8000));
        const double level = rms(runFilter(tone, 6000), 1024) / rms(tone, 0);
        if (hz > 1000 && hz < 2800) {
            EXPECT_NEAR(level, 1.0, 0.02) << hz;
        } else {
            EXPECT_LT(level, 0.02) << hz;
        }
    }
}

TEST(Bandpass, SaturatesInsteadOfWrapping) {
    // A full-scale square wave at 1600 Hz: its band-limited fundamental peaks
    // above full scale (4/pi of it). Kept in 16 bits those peaks would flip sign.
    std::vector<std::int16_t> square(6000);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i % 5) < 2 ? 32767 : -32768;
    const auto out = runFilter(square, 5000);
    EXPECT_EQ(out, plainFilter(square, 5000));
    int atTop = 0;
    for (std::size_t i = 1; i < out.size(); ++i) {
        atTop += out[i] == 32767 || out[i] == -32768;
        // Neighbouring samples of a 1600 Hz wave at 8000 Hz never jump across the whole range.
        ASSERT_LT(std::abs(int(out[i]) - int(out[i - 1])), 60000) << i;
    }
    EXPECT_GT(atTop, 0);
}

}  // namespace
