#include "wavpeek/wavpeek.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "sigcore/io/cliinfo.hpp"

namespace wavpeek {

namespace {

// One formatted line of at most a few dozen characters.
template <typename Value>
std::string line(const char* format, Value value) {
    std::array<char, 64> text{};
    const int n = std::snprintf(text.data(), text.size(), format, value);
    if (n < 0) return {};
    return std::string(text.data(), std::min(static_cast<std::size_t>(n), text.size() - 1));
}

bool writeOut(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

constexpr std::string_view kHelpText =
    "usage: wavpeek file.wav\n"
    "Prints the header fields of a WAV file (\"-\" reads standard input), the number\n"
    "of samples the header implies and the number the file really holds, then\n"
    "waits for a key when standard input is a terminal.\n"
    "  --help      this text\n"
    "  --version   program name and version\n";

}  // namespace

std::string formatWaveHeader(const sigcore::WaveHeader& header, const std::string& path) {
    std::string out = "filename           = " + path + "\n";
    out += "keyword1           =     [RIFF]\n";
    out += line("filesize-8         = %10ld\n", static_cast<long>(header.filesizeMinus8));
    out += "keyword2           =     [WAVE]\n";
    out += "keyword3           =     [fmt ]\n";
    out += line("info_block_size    = %10ld\n", static_cast<long>(header.info_block_size));
    out += line("wave_format        = %10d\n", static_cast<int>(header.wave_format));
    out += line("number_of_channels = %10d\n", static_cast<int>(header.number_of_channels));
    out += line("sampling_frequency = %10ld\n", static_cast<long>(header.sampling_frequency));
    out += line("rate               = %10ld\n", static_cast<long>(header.rate));
    out += line("blocksize          = %10d\n", static_cast<int>(header.blocksize));
    out += line("num_bits_sample    = %10d\n", static_cast<int>(header.num_bits_sample));
    out += "keyword4           =     [data]\n";
    out += line("binarydatasize     = %10ld\n", static_cast<long>(header.binarydatasize));
    return out;
}

void printWaveHeader(const sigcore::WaveHeader& header, const std::string& path) {
    writeOut(formatWaveHeader(header, path));
}

std::string formatSampleCounts(std::int32_t calculated, std::int64_t counted) {
    return line("numberSamples(calc)= %10ld\n", static_cast<long>(calculated)) +
           line("numberSamples(real)= %10ld\n", static_cast<long>(counted));
}

std::int64_t countSamples(sigcore::WaveReader& reader) { return sigcore::waveCountRawSamples(reader); }

int runWavpeek(std::span<const char* const> args) {
    if (const auto request = sigcore::infoRequest(args); request != sigcore::InfoRequest::none) {
        return sigcore::answerInfoRequest(request, "wavpeek", kHelpText);
    }
    if (args.size() != 1 || args[0] == nullptr) {
        writeOut(">wavpeek src.wav\n");
        return 1;
    }
    const std::string path = args[0];
    sigcore::WaveReader reader;
    const sigcore::WaveInfo info = sigcore::waveOpen(reader, path);
    if (info.numberSamples == 0) {
        writeOut("can't open normal wave file\n");
        std::fflush(stdout);
        std::fputs(sigcore::waveRefusalLine(reader.refusal).c_str(), stderr);
        return 1;
    }
    const std::int64_t counted = countSamples(reader);
    sigcore::waveClose(reader);

    printWaveHeader(reader.header, path);
    writeOut(formatSampleCounts(info.numberSamples, counted));
    // Output that could not be delivered is a failed run, not a success.
    const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;

    // Hold an interactive console open until a key arrives; a script's
    // standard input (a list of names, say) is left alone, and so is a
    // recording read from standard input.
    if (path != "-" && ::isatty(STDIN_FILENO) == 1) static_cast<void>(std::getchar());
    return written ? 0 : 1;
}

}  // namespace wavpeek
