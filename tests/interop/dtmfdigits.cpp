// Test-only bridge: the digits that sigcore's DTMF receiver hears in a WAV
// file, on one line. Exit status 1 when the file can't be read.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sigcore/dtmf.hpp"
#include "sigcore/wave.hpp"

namespace {

struct Digits final : sigcore::EventSink {
    std::string text;
    void onEvent(const sigcore::Event& event) override {
        if (const auto* tone = std::get_if<sigcore::DtmfTone>(&event)) text += tone->digit;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dtmfdigits file.wav\n");
        return 1;
    }
    sigcore::WaveReader reader;
    const sigcore::WaveInfo info = sigcore::waveOpen(reader, argv[1]);
    if (info.numberSamples <= 0 || info.sampling_frequency < sigcore::kDtmfLowestRate ||
        info.sampling_frequency > sigcore::kDtmfHighestRate) {
        std::fprintf(stderr, "dtmfdigits: can't read %s\n", argv[1]);
        return 1;
    }
    Digits digits;
    sigcore::DtmfReceiver receiver(info.sampling_frequency, digits);
    std::vector<std::int16_t> block(4096);
    for (std::int64_t left = info.numberSamples; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
        sigcore::waveReadSamples(reader, std::span<std::int16_t>(block.data(), n));
        receiver.push(std::span<const std::int16_t>(block.data(), n));
        left -= static_cast<std::int64_t>(n);
    }
    receiver.finish();
    sigcore::waveClose(reader);
    std::printf("%s\n", digits.text.c_str());
    return 0;
}
