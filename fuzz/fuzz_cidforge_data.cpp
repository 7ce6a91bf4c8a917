// cidforge from its data file on: any bytes as the data file, read in each
// of the formats (NTT with a Shift-JIS or an EUC-JP name, US, and the
// multiple data message of -MDMF and -ETSI with the seizure pattern), then
// the refusal checks, the name conversion, the message builders, the counting
// pass and, for short signals, the writing pass. A built message must decode
// with a correct checksum or CRC, and a written file must hold exactly the
// samples its header announces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "cidforge/datafile.hpp"
#include "cidforge/messages.hpp"
#include "cidforge/modulator.hpp"
#include "cidforge/run.hpp"
#include "cidprobe/sdmf.hpp"
#include "fuzzsupport.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/io/wave.hpp"
#ifdef SIGFUZZ_HAVE_NTT
#include "sigcore/messages/nttdecoder.hpp"
#endif

using fuzzsupport::require;

namespace {

// Signals up to this many samples are written out as well.
constexpr std::int64_t kMaxWrittenSamples = 20000;
// The passes go bit by bit: a header or footer of days (billions of bits)
// takes seconds to count, so such inputs stop after the message checks.
constexpr std::int64_t kMaxCountedBits = 100000;

void checkSdmfDecodes(std::span<const std::uint8_t> message) {
    sigcore::EventLog log;
    cidprobe::SdmfDecoder decoder;
    cidprobe::decodeMessageByte(decoder, log, -1);
    for (const std::uint8_t b : message) cidprobe::decodeMessageByte(decoder, log, b);
    bool correct = false;
    for (const sigcore::Event& event : log.events) {
        if (const auto* checksum = std::get_if<sigcore::UsChecksum>(&event)) correct = checksum->correct;
    }
    require(correct, "a built SDMF message has a correct checksum");
}

#ifdef SIGFUZZ_HAVE_NTT
// The frame decodes as built only when no number or name byte reads as DLE
// (the decoder would take it for a doubled DLE): the builder doubles nothing
// but the length bytes.
bool decodableAsBuilt(const cidforge::GeneratorSettings& converted) {
    const std::string_view number = cidforge::fieldBytes(converted.directoryNumber);
    const std::string_view name = cidforge::jisNameBytes(converted.idName);
    for (const std::string_view field : {number, name}) {
        for (const char c : field) {
            if ((static_cast<unsigned char>(c) & 0x7Fu) == cidforge::kDle) return false;
        }
    }
    return true;
}

void checkNttDecodes(std::span<const std::uint8_t> frame) {
    sigcore::EventLog log;
    sigcore::NttDecoder decoder;
    sigcore::decodeNttByte(decoder, log, -1);
    for (const std::uint8_t b : frame) sigcore::decodeNttByte(decoder, log, b);
    bool correct = false;
    for (const sigcore::Event& event : log.events) {
        if (const auto* crc = std::get_if<sigcore::NttCrc>(&event)) correct = crc->correct;
    }
    require(correct, "a built NTT frame has a correct CRC");
}
#endif

void checkMultipleDecodes(std::span<const std::uint8_t> message) {
    const sigcore::Message parsed = sigcore::parseEtsiMessage(message);
    // The checksum, not `valid`: a data file may give a date and time that do
    // not exist, which the generator sends as written and the decoder rightly
    // refuses to call valid.
    require(parsed.complete && parsed.checkComputed == parsed.checkReceived,
            "a built multiple data message is complete with a correct checksum");
    require(parsed.raw.size() == message.size(), "the whole multiple data message is parsed");
}

void runFormat(const std::string& path, cidforge::GeneratorSettings settings) {
    const cidforge::MessageFormat format = cidforge::messageFormat(settings);
    const bool usaFormat = format == cidforge::MessageFormat::sdmf;
    const bool sjisName = settings.sjisName;
    require(cidforge::readDataFile(path, settings), "a regular data file is read");
    if (!cidforge::checkSettings(settings).empty()) return;

    cidforge::GeneratorSettings converted = settings;
    if (format == cidforge::MessageFormat::ntt) cidforge::nameToJis(converted.idName, sjisName);
    require(converted.idName.size() == settings.idName.size(), "the name keeps its length");

    const std::vector<std::uint8_t> message = cidforge::buildMessage(converted);
    require(!message.empty(), "accepted settings give a message");
    if (usaFormat) {
        checkSdmfDecodes(message);
    } else if (format != cidforge::MessageFormat::ntt) {
        checkMultipleDecodes(message);
    } else {
#ifdef SIGFUZZ_HAVE_NTT
        if (decodableAsBuilt(converted)) checkNttDecodes(message);
#endif
    }

    cidforge::ModulatorState modulator;
    cidforge::configureModulator(converted, modulator);
    const cidforge::SignalPlan plan = cidforge::planSignal(converted, modulator);
    if (plan.seizureBits + plan.headerBits + plan.footerBits > kMaxCountedBits) return;
    const std::int64_t limit = cidforge::maxWaveSamples(converted.quantizationBitLength);
    const std::int64_t total = cidforge::countSignal(plan, message, modulator, limit);
    require(total >= 0, "the sample count is not negative");
    if (total > limit || total > kMaxWrittenSamples) return;

    const std::string out = fuzzsupport::scratchFile("out.wav");
    const cidforge::GenerateResult result = cidforge::writeSignal(converted, plan, message, total, modulator, out);
    require(result == cidforge::GenerateResult::ok, "a short signal is written");
    const long long bytesPerSample = converted.quantizationBitLength / 8;
    require(fuzzsupport::fileSize(out) == 44 + total * bytesPerSample, "the file holds the announced samples");
    if (total > 0) {
        sigcore::WaveReader reader;
        const sigcore::WaveInfo info = sigcore::waveOpen(reader, out);
        require(info.numberSamples == total, "the reader finds the announced samples");
        require(info.sampling_frequency == converted.samplingFrequency, "the reader finds the sampling frequency");
    }
    std::remove(out.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzsupport::writeScratch("data.txt", data, size);
    cidforge::GeneratorSettings ntt;
    runFormat(path, ntt);
    cidforge::GeneratorSettings euc;
    euc.sjisName = false;
    runFormat(path, euc);
    cidforge::GeneratorSettings usa;
    usa.usaFormat = true;
    runFormat(path, usa);
    cidforge::GeneratorSettings mdmf;
    mdmf.mdmfFormat = true;
    mdmf.channelSeizure = true;
    runFormat(path, mdmf);
    cidforge::GeneratorSettings etsi;
    etsi.etsiFormat = true;
    etsi.channelSeizure = true;
    runFormat(path, etsi);
    return 0;
}
