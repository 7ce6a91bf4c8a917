// The WAV reader on any bytes as a file: the header walk, every frame read
// one at a time and again in blocks of changing sizes, reads past the end,
// and wavpeek's sample count and header lines.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzzsupport.hpp"
#include "sigcore/io/wave.hpp"
#include "wavpeek/wavpeek.hpp"

using fuzzsupport::require;

namespace {

// Block lengths for waveReadSamples, chosen by the input's bytes so that
// blocks end at every kind of place: inside the reader's 64 KiB buffer, on
// its edge, across it.
std::size_t blockLength(const std::uint8_t* data, std::size_t size, std::size_t round) {
    static constexpr std::size_t kLengths[] = {1, 2, 3, 7, 511, 512, 1023, 4096, 32767, 32768, 65537};
    const std::uint8_t pick = size == 0 ? 0 : data[round % size];
    return kLengths[pick % std::size(kLengths)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzsupport::writeScratch("input.wav", data, size);

    sigcore::WaveReader single;
    const sigcore::WaveInfo info = sigcore::waveOpen(single, path);
    if (info.numberSamples == 0) {
        require(!single.file, "a refused file is closed again");
        require(info.sampling_frequency == 0 && info.num_bits_sample == 0 && info.number_of_channels == 0,
                "a refused file gives all zeros");
        return 0;
    }
    require(info.numberSamples > 0, "the sample count of an accepted file is positive");
    require(single.file != nullptr, "an accepted file stays open");

    // One sample at a time until the end of the file.
    std::vector<std::int16_t> one;
    while (sigcore::waveAtEnd(single) == 0) {
        const std::int64_t before = single.samplesRead;
        const std::int16_t v = sigcore::waveReadSample(single);
        if (single.samplesRead != before) {
            one.push_back(v);
        } else {
            require(v == 0, "a read that meets the end gives 0");
        }
    }
    require(static_cast<std::size_t>(single.samplesRead) == one.size(), "every delivered sample is counted");
    require(one.size() <= size, "no more samples than bytes");
    for (int i = 0; i < 3; ++i) require(sigcore::waveReadSample(single) == 0, "reads past the end give 0");
    sigcore::waveClose(single);

    // The same file in blocks: the same samples, then zeros.
    sigcore::WaveReader blocks;
    const sigcore::WaveInfo again = sigcore::waveOpen(blocks, path);
    require(again.numberSamples == info.numberSamples, "a second open reads the same header");
    std::vector<std::int16_t> many;
    for (std::size_t round = 0; sigcore::waveAtEnd(blocks) == 0 || round == 0; ++round) {
        std::vector<std::int16_t> block(blockLength(data, size, round), std::int16_t{-1});
        sigcore::waveReadSamples(blocks, block);
        many.insert(many.end(), block.begin(), block.end());
    }
    require(static_cast<std::size_t>(blocks.samplesRead) == one.size(), "block reads count the same samples");
    for (std::size_t i = 0; i < many.size(); ++i) {
        const std::int16_t expected = i < one.size() ? one[i] : std::int16_t{0};
        require(many[i] == expected, "block reads give the same samples, then zeros");
    }
    sigcore::waveClose(blocks);

    // wavpeek's view of the file.
    sigcore::WaveReader peek;
    const sigcore::WaveInfo peeked = sigcore::waveOpen(peek, path);
    require(peeked.numberSamples == info.numberSamples, "a third open reads the same header");
    const std::int64_t counted = wavpeek::countSamples(peek);
    // wavpeek counts raw 8- or 16-bit units: the frames of a mono 8- or 16-bit
    // file, at least as many as the frames of any other.
    if (peek.layout == sigcore::SampleLayout::frames) {
        require(counted >= static_cast<std::int64_t>(one.size()), "wavpeek counts no fewer units than frames");
    } else {
        require(counted == static_cast<std::int64_t>(one.size()), "wavpeek counts the samples read one by one");
    }
    sigcore::waveClose(peek);
    const std::string lines = wavpeek::formatWaveHeader(peek.header, path) +
                              wavpeek::formatSampleCounts(peeked.numberSamples, counted);
    require(fuzzsupport::countLinesStarting(lines, "") == 16, "sixteen lines");
    return 0;
}
