// The MDMF and ETSI formats: message bytes from a data file, the absence
// keys, the channel-seizure pattern, and command lines that must keep the
// bytes they gave before these formats existed.
#include "cidforge/datafile.hpp"
#include "cidforge/messages.hpp"
#include "cidforge/modulator.hpp"
#include "support/testsupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

using testsupport::fileExists;
using testsupport::readBytes;
using testsupport::runTool;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

cidforge::GeneratorSettings settingsOf(const std::string& data, bool etsi) {
    cidforge::GeneratorSettings settings;
    settings.mdmfFormat = !etsi;
    settings.etsiFormat = etsi;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find('\n', start);
        cidforge::applyDataLine(std::string_view(data).substr(start, end - start + 1), settings);
        start = end == std::string::npos ? data.size() : end + 1;
    }
    return settings;
}

std::vector<std::uint8_t> hexBytes(std::initializer_list<unsigned> values) {
    return {values.begin(), values.end()};
}

// 1 for a bit whose samples lie nearer the mark tone, 0 for the space tone.
int bitValue(std::span<const std::int16_t> bit, double fs, double mark, double space) {
    const auto power = [&](double f) {
        std::complex<double> sum;
        for (std::size_t n = 0; n < bit.size(); ++n) {
            sum += static_cast<double>(bit[n]) * std::polar(1.0, -6.283185307179586 * f * static_cast<double>(n) / fs);
        }
        return std::norm(sum);
    };
    return power(mark) > power(space) ? 1 : 0;
}

// The bit values at the start of the signal, one per 1/1200 s at 48000 Hz
// (40 samples a bit), read without leader and without noise.
std::vector<int> leadingBits(const std::string& data, bool etsi, bool seizure, int count) {
    cidforge::GeneratorSettings settings = settingsOf(data, etsi);
    settings.channelSeizure = seizure;
    cidforge::ModulatorState state;
    cidforge::configureModulator(settings, state);
    const cidforge::SignalPlan plan = cidforge::planSignal(settings, state);
    const std::vector<std::uint8_t> message = cidforge::buildMessage(settings);
    cidforge::countSignal(plan, message, state, cidforge::maxWaveSamples(16));
    std::vector<std::int16_t> samples;
    cidforge::SampleSink sink{nullptr, &samples};
    cidforge::emitSignal(plan, message, state, sink);
    std::vector<int> bits;
    for (int i = 0; i < count && (i + 1) * 40 <= static_cast<int>(samples.size()); ++i) {
        bits.push_back(bitValue(std::span<const std::int16_t>(samples).subspan(static_cast<std::size_t>(i) * 40, 40),
                                48000.0, state.markFrequency, state.spaceFrequency));
    }
    return bits;
}

const std::string kFields =
    "SamplingFrequency 48000\nQuantizationBitLength 16\nAmplitude 50\nHeaderDuration 50\n"
    "DirectoryNumber 0123456789\nDateTime 12251030\nIDName \"JOHN DOE\"\n";

}  // namespace

// Date and time, number and the name with its space, byte for byte, and the
// same bytes for ETSI; absence keys replace the fields they stand for.
TEST(MultipleDataMessage, BytesFromTheDataFile) {
    const std::vector<std::uint8_t> expected = hexBytes({
        0x80, 0x20,                                                        // call set-up, 32 bytes
        0x01, 0x08, '1', '2', '2', '5', '1', '0', '3', '0',                // date and time
        0x02, 0x0A, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',      // number
        0x07, 0x08, 'J', 'O', 'H', 'N', ' ', 'D', 'O', 'E',                // name
        0x7A,                                                              // checksum
    });
    EXPECT_EQ(cidforge::buildMessage(settingsOf(kFields, false)), expected);
    EXPECT_EQ(cidforge::buildMessage(settingsOf(kFields, true)), expected);

    const std::vector<std::uint8_t> absent = hexBytes({
        0x80, 0x10, 0x01, 0x08, '1', '2', '2', '5', '1', '0', '3', '0',
        0x04, 0x01, 'P',  // number withheld
        0x08, 0x01, 'O',  // name unavailable
        0x2C,
    });
    const std::string withAbsence = kFields + "NumberAbsence P\nNameAbsence \"O\"\n";
    EXPECT_EQ(cidforge::buildMessage(settingsOf(withAbsence, false)), absent);
    EXPECT_EQ(cidforge::buildMessage(settingsOf(withAbsence, true)), absent);

    // Empty fields are left out; the bytes of any message add up to 0.
    const std::vector<std::uint8_t> onlyNumber = cidforge::buildMessage(settingsOf("DirectoryNumber 42\n", true));
    EXPECT_EQ(onlyNumber, hexBytes({0x80, 0x04, 0x02, 0x02, '4', '2', 0x12}));
    EXPECT_EQ(cidforge::byteSum(onlyNumber), 0);
}

// The seizure pattern starts the burst with a space bit and alternates for 96
// bits (ETSI) or 300 (MDMF); then the mark follows. Without -SEIZURE the burst
// starts with the mark.
TEST(MultipleDataMessage, SeizurePatternBeforeTheMark) {
    for (const bool etsi : {true, false}) {
        const int seizureBits = etsi ? 96 : 300;
        const std::vector<int> bits = leadingBits(kFields, etsi, true, seizureBits + 40);
        ASSERT_EQ(static_cast<int>(bits.size()), seizureBits + 40);
        for (int i = 0; i < seizureBits; ++i) ASSERT_EQ(bits[static_cast<std::size_t>(i)], i % 2) << "bit " << i;
        for (int i = seizureBits; i < seizureBits + 40; ++i) ASSERT_EQ(bits[static_cast<std::size_t>(i)], 1) << "bit " << i;
        const std::vector<int> plain = leadingBits(kFields, etsi, false, 40);
        EXPECT_EQ(plain, std::vector<int>(40, 1));
    }
}

// The program: console lines, refusals, and the new keys and look-alike
// options that leave the bytes of the older formats as they were.
TEST(MultipleDataMessage, CommandLines) {
    TempDir dir;
    const std::string data = dir.file("d.txt");
    writeFile(data, kFields);
    const auto mdmf = runTool("cidforge", {data, dir.file("m.wav"), "-MDMF", "-SEIZURE"});
    ASSERT_EQ(mdmf.status, 0);
    EXPECT_EQ(mdmf.out, "0123456789\n12251030\nJOHN DOE\n");
    ASSERT_EQ(runTool("cidforge", {data, dir.file("e.wav"), "-ETSI"}).status, 0);
    EXPECT_NE(readBytes(dir.file("m.wav")), readBytes(dir.file("e.wav")));

    const auto clash = runTool("cidforge", {data, dir.file("x.wav"), "-USA", "-ETSI"});
    EXPECT_EQ(clash.status, 1);
    EXPECT_EQ(clash.out, "error .... -ETSI can't be combined with -USA or -MDMF\n");
    EXPECT_FALSE(fileExists(dir.file("x.wav")));

    const std::string bad = dir.file("bad.txt");
    writeFile(bad, kFields + "NumberAbsence X\n");
    const auto refused = runTool("cidforge", {bad, dir.file("y.wav"), "-MDMF"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "error .... NumberAbsence must be O (unavailable) or P (private)\n");
    EXPECT_FALSE(fileExists(dir.file("y.wav")));

    // SDMF and NTT ignore the absence keys, the quoted name's space and any
    // option that only resembles a new one.
    const std::string withKeys = dir.file("keys.txt");
    writeFile(withKeys, kFields + "NumberAbsence X\nNameAbsence P\n");
    for (const std::vector<std::string>& format : {std::vector<std::string>{}, std::vector<std::string>{"-USA"}}) {
        std::vector<std::string> plain{data, dir.file("plain.wav")};
        plain.insert(plain.end(), format.begin(), format.end());
        const auto reference = runTool("cidforge", plain);
        ASSERT_EQ(reference.status, 0);
        for (const char* extra : {"-mdmf", "-ETSIx", "x-SEIZURE", "-MDMF-"}) {
            std::vector<std::string> args{withKeys, dir.file("other.wav")};
            args.insert(args.end(), format.begin(), format.end());
            args.push_back(extra);
            const auto other = runTool("cidforge", args);
            EXPECT_EQ(other.status, 0) << extra;
            EXPECT_EQ(other.out, reference.out) << extra;
            EXPECT_EQ(readBytes(dir.file("other.wav")), readBytes(dir.file("plain.wav"))) << extra;
        }
    }
}
