#include "sigcore/fskscan.hpp"

#include <array>
#include <cstdio>
#include <span>
#include <memory>

#include "sigcore/bandpass.hpp"
#include "sigcore/fft.hpp"
#include "sigcore/wave.hpp"

namespace sigcore {

namespace {

// Everything one run works on; large enough to live on the heap.
struct ScanRun {
    WaveReader reader;
    Report report;
    DemodState demod;
    FftTables fft;
    BandpassFilter filter;
};

}  // namespace

int fskScan(int sensitivity, int markHz, int spaceHz, int baud, const std::string& inputPath,
            const std::string& reportPath, const ScanVariant& variant) {
    if (sensitivity < 0 || sensitivity > 100) {
        std::fputs("error .... sensitivity : out of range\n", stderr);
        return 1;
    }
    auto run = std::make_unique<ScanRun>();
    const WaveInfo info = waveOpen(run->reader, inputPath);
    if (info.numberSamples == 0 || info.sampling_frequency < kLowestRate || info.sampling_frequency > kHighestRate) {
        std::fputs("can't open normal wave file\n", stdout);
        const WaveRefusal why = info.numberSamples == 0 ? run->reader.refusal
                                                        : rateRefusal(info.sampling_frequency, kLowestRate, kHighestRate);
        std::fputs(waveRefusalLine(why).c_str(), stderr);
        return 1;
    }
    if (reportOpen(run->report, reportPath) != 0) return 1;

    const int rate = info.sampling_frequency;
    DemodState& demod = run->demod;
    demodInit(demod, sensitivity, rate, baud);
    demodBuildTones(demod, markHz, spaceHz, baud);
    initfft(run->fft, kBandBlock);
    bandSetup(run->filter, rate, 1000, 2800);

    // The header's count can claim more samples than the file holds (a
    // streaming recorder's placeholder size, a cut-off file). The filter reads
    // ahead of the sample it returns, so once the reader has met the end of
    // the file the real count is known: the run stops there.
    std::uint32_t end = static_cast<std::uint32_t>(info.numberSamples);
    Report& report = run->report;
    WaveReader& reader = run->reader;
    // Filtered samples go to the demodulator in runs of up to one output block.
    std::array<std::int16_t, kBandHop> block{};
    std::uint32_t u = 0;
    while (u < end) {
        std::size_t count = 0;
        const std::uint32_t first = u;
        while (u < end && count < block.size()) {
            // Samples of the current filter block in one go; the reader does
            // not move meanwhile, so the end-of-file test holds for the run.
            std::size_t limit = std::min<std::size_t>(block.size() - count, end - u);
            if (reader.endOfFile) {
                limit = u < reader.samplesRead ? std::min<std::size_t>(limit, static_cast<std::size_t>(reader.samplesRead - u)) : 0;
            }
            const std::size_t taken = bandpassTakeReady(run->filter, std::span<std::int16_t>(block).subspan(count, limit));
            if (taken > 0) {
                count += taken;
                u += static_cast<std::uint32_t>(taken);
                continue;
            }
            const std::int16_t x = bandpassNext(run->filter, run->fft, reader);
            if (reader.endOfFile && u >= reader.samplesRead) {
                end = u;
                break;
            }
            block[count++] = x;
            ++u;
        }
        demodBlock(demod, report, variant, std::span<const std::int16_t>(block.data(), count), first);
    }
    demodFinish(demod, report, end);

    correlatorFree(demod.tones.markCos);
    correlatorFree(demod.tones.markSin);
    correlatorFree(demod.tones.spaceCos);
    correlatorFree(demod.tones.spaceSin);
    fftFree(run->fft);
    waveClose(reader);
    if (reportClose(report) != 0) {
        std::fprintf(stderr, "error .... can't write text file[%s]\n", reportPath.c_str());
        return 1;
    }
    return 0;
}

}  // namespace sigcore
