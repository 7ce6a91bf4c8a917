// The WAV files of cidforge -MDMF and -ETSI, read back by the library's own
// FSK receiver and the decoder of the type 0x80 message layout: every rate,
// both depths, noise, with and without the seizure pattern, one valid
// message carrying exactly the bytes the builder made.
#include "cidforge/datafile.hpp"
#include "cidforge/modulator.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/receivers/receiver.hpp"
#include "sigcore/io/wave.hpp"
#include "support/testsupport.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

using testsupport::runTool;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::vector<sigcore::Message> decodeFile(const std::string& path, const sigcore::TonePlan& plan) {
    sigcore::WaveReader reader;
    const sigcore::WaveInfo info = sigcore::waveOpen(reader, path);
    EXPECT_GT(info.numberSamples, 0);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(std::max(info.numberSamples, 0)));
    sigcore::waveReadSamples(reader, samples);
    sigcore::waveClose(reader);

    sigcore::EtsiMessageDecoder decoder;
    sigcore::EventLog log;
    sigcore::FskReceiver receiver(plan, decoder, info.sampling_frequency, log);
    receiver.push(samples);
    receiver.finish();
    std::vector<sigcore::Message> messages;
    for (const sigcore::Event& event : log.events) {
        if (const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event)) messages.push_back(decoded->message);
    }
    return messages;
}

}  // namespace

TEST(MultipleDataMessageRoundTrip, EveryRateDepthAndSeizure) {
    TempDir dir;
    const std::string fields = "Amplitude 45\nNoiseAmplitude 8\nLeaderDuration 150\nHeaderDuration 80\n"
                               "FooterDuration 20\nDateTime 03141526\nDirectoryNumber 01632960123\n";
    int index = 0;
    for (const char* format : {"-MDMF", "-ETSI"}) {
        const bool etsi = std::string(format) == "-ETSI";
        for (const char* rate : {"8000", "11025", "16000", "48000"}) {
            for (const char* bits : {"8", "16"}) {
                for (const bool seizure : {false, true}) {
                    // The absence codes on every other case.
                    const std::string tail = index % 2 == 0 ? "IDName \"SMITH J\"\n" : "NumberAbsence P\nNameAbsence O\n";
                    const std::string data = std::string("SamplingFrequency ") + rate + "\nQuantizationBitLength " +
                                             bits + "\n" + fields + tail;
                    const std::string dataPath = dir.file(std::to_string(index) + ".txt");
                    const std::string wavPath = dir.file(std::to_string(index) + ".wav");
                    ++index;
                    writeFile(dataPath, data);
                    std::vector<std::string> args{dataPath, wavPath, format};
                    if (seizure) args.emplace_back("-SEIZURE");
                    ASSERT_EQ(runTool("cidforge", args).status, 0) << data;

                    cidforge::GeneratorSettings settings;
                    settings.mdmfFormat = !etsi;
                    settings.etsiFormat = etsi;
                    ASSERT_TRUE(cidforge::readDataFile(dataPath, settings));
                    const std::vector<std::uint8_t> sent = cidforge::buildMessage(settings);

                    const auto messages = decodeFile(wavPath, etsi ? sigcore::kV23 : sigcore::kBell202);
                    ASSERT_EQ(messages.size(), 1u) << format << ' ' << rate << ' ' << bits << ' ' << seizure;
                    EXPECT_TRUE(messages[0].valid) << format << ' ' << rate << ' ' << bits << ' ' << seizure;
                    EXPECT_EQ(messages[0].raw, sent) << format << ' ' << rate << ' ' << bits << ' ' << seizure;
                }
            }
        }
    }
}
