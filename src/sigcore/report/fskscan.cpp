#include "sigcore/report/fskscan.hpp"

#include <array>
#include <cstdio>
#include <span>

#include "sigcore/dsp/bandpass.hpp"
#include "sigcore/io/wave.hpp"

namespace sigcore {

int fskScan(int sensitivity, const TonePlan& plan, MessageDecoder& decoder, const std::string& inputPath,
            const std::string& reportPath, int japaneseCode) {
    if (sensitivity < 0 || sensitivity > 100) {
        std::fputs("error .... sensitivity : out of range\n", stderr);
        return 1;
    }
    WaveReader reader;
    const WaveInfo info = waveOpen(reader, inputPath);
    if (info.numberSamples == 0 || !receiverAcceptsRate(info.sampling_frequency)) {
        std::fputs("can't open normal wave file\n", stdout);
        const WaveRefusal why = info.numberSamples == 0 ? reader.refusal
                                                        : rateRefusal(info.sampling_frequency, kLowestRate, kHighestRate);
        std::fputs(waveRefusalLine(why).c_str(), stderr);
        return 1;
    }
    Report report;
    if (reportOpen(report, reportPath) != 0) return 1;

    {
        ReportTextSink sink(report, info.sampling_frequency, japaneseCode);
        FskReceiver receiver(plan, decoder, info.sampling_frequency, sink, sensitivity);
        // The header's count can claim more samples than the file holds (a
        // streaming recorder's placeholder size, a cut-off file), or fewer:
        // the run ends at whichever comes first, and samples beyond the count
        // still feed the filter's look-ahead as far as it reaches.
        receiver.limitSamples(info.numberSamples);
        const std::int64_t wanted = std::int64_t{info.numberSamples} + kBandBlock;
        // One filter hop at a time, so that a live stream moves on as soon as
        // a hop's samples have arrived.
        std::array<std::int16_t, kBandHop> block{};
        while (receiver.samplesPushed() < wanted) {
            const auto want = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), wanted - receiver.samplesPushed()));
            const std::int64_t before = reader.samplesRead;
            waveReadSamples(reader, std::span<std::int16_t>(block.data(), want));
            const auto got = static_cast<std::size_t>(reader.samplesRead - before);
            receiver.push(std::span<const std::int16_t>(block.data(), got));
            if (got < want) break;  // the end of the file
        }
        receiver.finish();
    }
    waveClose(reader);
    if (reportClose(report) != 0) {
        std::fprintf(stderr, "error .... can't write text file[%s]\n", reportPath.c_str());
        return 1;
    }
    return 0;
}

}  // namespace sigcore
