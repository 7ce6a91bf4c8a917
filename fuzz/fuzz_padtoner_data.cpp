// padtoner from its data file on: any bytes as the data file, the echo, the
// refusal check and, for short signals, the synthesis and the WAV file, which
// must hold exactly the samples its header announces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzzsupport.hpp"
#include "padtoner/dtmfdata.hpp"
#include "padtoner/dtmfwave.hpp"
#include "sigcore/dsp/noise.hpp"
#include "sigcore/io/wave.hpp"

using fuzzsupport::require;

namespace {

constexpr std::int64_t kMaxWrittenSamples = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzsupport::writeScratch("dtmf.txt", data, size);
    std::FILE* in = std::fopen(path.c_str(), "r");
    require(in != nullptr, "the scratch file opens");
    const std::optional<padtoner::DtmfParameters> read = padtoner::parseDtmfParameters(in);
    std::fclose(in);
    require(read.has_value(), "a regular data file is read");
    const padtoner::DtmfParameters& params = *read;
    require(params.DTMFData.find('"') == std::string::npos, "the symbols hold no double quote");
    require(fuzzsupport::countLinesStarting(padtoner::formatDtmfEcho(params), "") == 10, "ten echo lines");
    for (const char symbol : params.DTMFData) padtoner::dtmfFrequencies(symbol);

    if (!padtoner::dtmfParameterError(params).empty()) return 0;
    const padtoner::DtmfCounts counts = padtoner::dtmfCounts(params);
    require(counts.total >= 0, "the sample count is not negative");
    if (counts.total > kMaxWrittenSamples) return 0;

    const std::string out = fuzzsupport::scratchFile("out.wav");
    sigcore::NoiseState noise;
    const padtoner::DtmfWriteResult result = padtoner::writeDtmfWave(params, out, noise);
    require(result.status == padtoner::DtmfWriteStatus::written && result.closeResult == 0,
            "a short signal is written");
    const long long bytesPerSample = params.QuantizationBitLength / 8;
    require(fuzzsupport::fileSize(out) == 44 + counts.total * bytesPerSample, "the file holds the announced samples");
    std::remove(out.c_str());
    return 0;
}
