#include "cidforge/run.hpp"

#include "cidforge/messages.hpp"
#include "cidforge/modulator.hpp"
#include "sigcore/io/cliinfo.hpp"
#include "sigcore/io/filehandle.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

namespace cidforge {

namespace {

constexpr std::array<std::string_view, 4> kUsageLines{
    ">cidforge fskntt.txt fskntt.wav -NTT -SJIS\n",
    ">cidforge fskntt.txt fskntt.wav -NTT -EUC\n",
    ">cidforge fskusa.txt fskusa.wav -USA\n",
    ">default: -NTT -SJIS\n",
};

constexpr std::string_view kSignalTooLong =
    "error .... the durations and SamplingFrequency give a signal too long for a WAV file\n";

constexpr std::string_view kHelpText =
    "usage: cidforge data.txt burst.wav [-NTT|-USA|-MDMF|-ETSI] [-SJIS|-EUC] [-SEIZURE]\n"
    "Writes the caller-ID FSK burst the data file describes as a WAV file:\n"
    "NTT format (default), US single data message (-USA), US multiple data\n"
    "message with date and time, number and name (-MDMF) or ETSI call set-up\n"
    "message over V.23 tones (-ETSI); NTT caller name in Shift-JIS (-SJIS,\n"
    "default) or EUC-JP (-EUC). -SEIZURE sends a channel-seizure pattern before\n"
    "the mark (96 bits with -ETSI, 300 otherwise). \"-\" reads the data file\n"
    "from standard input or writes the WAV file to standard output (the console\n"
    "lines then go to standard error).\n"
    "  --help      this text\n"
    "  --version   program name and version\n";

// The console: standard output, or standard error while the WAV file goes
// to standard output.
void print(std::FILE* console, std::string_view text) { std::fwrite(text.data(), 1, text.size(), console); }

// A value as read, bytes unchanged, on a line of its own.
void printValueLine(std::FILE* console, std::string_view value) {
    print(console, value);
    print(console, "\n");
}

std::string tooLongMessage(std::string_view key) {
    return "error .... " + std::string(key) + " is longer than " + std::to_string(kMaxFieldBytes) + " bytes\n";
}

}  // namespace

void scanOptions(std::span<const std::string> options, GeneratorSettings& settings) {
    for (const std::string& option : options) {
        if (option.find("-USA") != std::string::npos) settings.usaFormat = true;
        if (option.find("-EUC") != std::string::npos) settings.sjisName = false;
        if (option == "-MDMF") settings.mdmfFormat = true;
        if (option == "-ETSI") settings.etsiFormat = true;
        if (option == "-SEIZURE") settings.channelSeizure = true;
    }
}

std::string checkSettings(const GeneratorSettings& settings) {
    if (settings.samplingFrequency <= 0) return "error .... SamplingFrequency must be above 0\n";
    if (settings.quantizationBitLength != 8 && settings.quantizationBitLength != 16) {
        return "error .... QuantizationBitLength must be 8 or 16\n";
    }
    // The header's byte rate (sampling frequency times bytes per sample) is a
    // signed 32-bit field as well.
    const std::int64_t byteRate = std::int64_t{settings.samplingFrequency} * (settings.quantizationBitLength / 8);
    if (byteRate > std::numeric_limits<std::int32_t>::max()) {
        return "error .... SamplingFrequency is too high for " + std::to_string(settings.quantizationBitLength) +
               "-bit samples\n";
    }
    if (settings.directoryNumber.size() > kMaxFieldBytes) return tooLongMessage("DirectoryNumber");
    if (settings.idName.size() > kMaxFieldBytes) return tooLongMessage("IDName");
    if (settings.dateTime.size() > kMaxFieldBytes) return tooLongMessage("DateTime");
    const MessageFormat format = messageFormat(settings);
    if (settings.etsiFormat && (settings.usaFormat || settings.mdmfFormat)) {
        return "error .... -ETSI can't be combined with -USA or -MDMF\n";
    }
    if (format == MessageFormat::mdmf || format == MessageFormat::etsi) {
        if (settings.idNameText.size() > kMaxFieldBytes) return tooLongMessage("IDName");
        if (!settings.numberAbsence.empty() && !isAbsenceCode(settings.numberAbsence)) {
            return "error .... NumberAbsence must be O (unavailable) or P (private)\n";
        }
        if (!settings.nameAbsence.empty() && !isAbsenceCode(settings.nameAbsence)) {
            return "error .... NameAbsence must be O (unavailable) or P (private)\n";
        }
    }
    if (format == MessageFormat::ntt) {
        std::string jisName = settings.idName;
        nameToJis(jisName, settings.sjisName);
        const int contentLength = nttContentLength(settings.directoryNumber, jisName);
        if (contentLength > kMaxNttContentLength) {
            return "error .... DirectoryNumber and IDName give a message content length of " +
                   std::to_string(contentLength) + ", above " + std::to_string(kMaxNttContentLength) + "\n";
        }
    }
    return "";
}

std::string nameWarning(const GeneratorSettings& settings) {
    if (messageFormat(settings) != MessageFormat::ntt || settings.idName.empty() || isDoubleByteName(settings.idName, settings.sjisName)) {
        return "";
    }
    return std::string("warning .... IDName is not ") + (settings.sjisName ? "Shift-JIS" : "EUC-JP") +
           " double-byte text (ASCII or UTF-8?); its bytes are sent as they are\n";
}

int runCidforge(std::span<const std::string> args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "--version")) {
        return sigcore::answerInfoRequest(args[0] == "--help" ? sigcore::InfoRequest::help
                                                              : sigcore::InfoRequest::version,
                                          "cidforge", kHelpText);
    }
    if (args.size() < 2) {
        for (const std::string_view line : kUsageLines) print(stdout, line);
        return 1;
    }
    // The WAV file must not overwrite the data file.
    if (const std::string clash = sigcore::outputClashLine({args[0]}, args[1]); !clash.empty()) {
        print(stderr, clash);
        return 1;
    }
    std::FILE* const console = sigcore::isStandardStream(args[1]) ? stderr : stdout;
    GeneratorSettings settings;
    scanOptions(args.subspan(2), settings);

    if (!readDataFile(args[0], settings)) {
        print(console, "can't open data text file\n");
        return 1;
    }
    if (const std::string refusal = checkSettings(settings); !refusal.empty()) {
        print(console, refusal);
        return 1;
    }

    // The name goes into the frame in JIS code; the console shows it as read.
    const MessageFormat format = messageFormat(settings);
    GeneratorSettings converted = settings;
    if (format == MessageFormat::ntt) nameToJis(converted.idName, settings.sjisName);

    // Counting pass first: a signal the WAV header can't announce is refused
    // before anything is printed or created.
    ModulatorState modulator;
    configureModulator(converted, modulator);
    const SignalPlan plan = planSignal(converted, modulator);
    const std::vector<std::uint8_t> message = buildMessage(converted);
    const std::int64_t limit = maxWaveSamples(converted.quantizationBitLength);
    const std::int64_t total = countSignal(plan, message, modulator, limit);
    if (total > limit) {
        print(console, kSignalTooLong);
        return 1;
    }

    printValueLine(console, settings.directoryNumber);
    switch (format) {
    case MessageFormat::ntt: printValueLine(console, settings.idName); break;
    case MessageFormat::sdmf: printValueLine(console, settings.dateTime); break;
    case MessageFormat::mdmf:
    case MessageFormat::etsi:
        // Every field the message can carry, as read.
        printValueLine(console, settings.dateTime);
        printValueLine(console, settings.idNameText);
        break;
    }
    std::fflush(console);
    print(stderr, nameWarning(settings));

    switch (writeSignal(converted, plan, message, total, modulator, args[1])) {
    case GenerateResult::ok:
        return 0;
    case GenerateResult::messageTooLong:
        print(console, "error .... the message is too long\n");
        return 1;
    case GenerateResult::signalTooLong:
        print(console, kSignalTooLong);
        return 1;
    case GenerateResult::cantCreate:
        print(console, "can't open the file to write\n");
        return 1;
    case GenerateResult::writeFailed:
        print(console, "error .... can't write the wave file\n");
        return 1;
    }
    return 1;
}

}  // namespace cidforge
