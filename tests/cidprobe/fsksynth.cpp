#include "fsksynth.hpp"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "sigcore/io/wave.hpp"

namespace fsksynth {

namespace {

void appendTone(Modulator& m, double hz, int count) {
    const double step = 2.0 * std::numbers::pi * hz / m.rate;
    for (int i = 0; i < count; ++i) {
        m.samples.push_back(static_cast<std::int16_t>(std::lround(m.amplitude * std::sin(m.phase))));
        m.phase += step;
        if (m.phase > 2.0 * std::numbers::pi) m.phase -= 2.0 * std::numbers::pi;
    }
}

}  // namespace

void appendSilence(Modulator& m, int count) { m.samples.insert(m.samples.end(), static_cast<std::size_t>(count), 0); }

void appendBits(Modulator& m, int bit, int count) {
    const double perBit = m.rate / m.tones.baud;
    for (int i = 0; i < count; ++i) {
        m.bitClock += perBit;
        const int n = static_cast<int>(m.bitClock);
        m.bitClock -= n;
        appendTone(m, bit != 0 ? m.tones.markHz : m.tones.spaceHz, n);
    }
}

void appendByte(Modulator& m, std::uint8_t value, int stopBits) {
    appendBits(m, 0, 1);
    for (int i = 0; i < 8; ++i) appendBits(m, (value >> i) & 1, 1);
    appendBits(m, 1, stopBits);
}

void appendBurst(Modulator& m, const std::vector<std::uint8_t>& bytes, int markBits, int tailBits, int stopBits) {
    appendBits(m, 1, markBits);
    for (const std::uint8_t b : bytes) appendByte(m, b, stopBits);
    appendBits(m, 1, tailBits);
}

std::vector<std::uint8_t> sdmfMessage(const std::string& dateTime, const std::string& number) {
    std::vector<std::uint8_t> message{0x04, static_cast<std::uint8_t>(dateTime.size() + number.size())};
    for (const char c : dateTime + number) message.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (const std::uint8_t b : message) sum += b;
    message.push_back(static_cast<std::uint8_t>((256 - (sum & 0xFF)) & 0xFF));
    return message;
}

bool writeWav(const std::string& path, int rate, int bits, const std::vector<std::int16_t>& samples) {
    sigcore::WaveWriter writer;
    sigcore::WaveInfo info;
    info.sampling_frequency = rate;
    info.num_bits_sample = static_cast<std::uint16_t>(bits);
    info.numberSamples = static_cast<std::int32_t>(samples.size());
    info.number_of_channels = 1;
    if (sigcore::waveCreate(writer, path, info) != 1) return false;
    sigcore::waveWriteSamples(writer, samples);
    return sigcore::waveCloseWrite(writer) == 0;
}

std::string sdmfReportLines(const std::vector<std::uint8_t>& message) {
    std::string text = "04 [SDMF header]\n";
    char line[64];
    std::snprintf(line, sizeof line, "%02x [SDMF packet length=%d]\n", message[1], message[1]);
    text += line;
    auto chars = [&](std::size_t from, std::size_t to) { return std::string(message.begin() + static_cast<std::ptrdiff_t>(from), message.begin() + static_cast<std::ptrdiff_t>(to)); };
    text += "   [Date] " + chars(2, 4) + "." + chars(4, 6) + "\n";
    text += "   [Time] " + chars(6, 8) + ":" + chars(8, 10) + "\n";
    text += "   [Number] " + chars(10, message.size() - 1) + "\n";
    std::snprintf(line, sizeof line, "%02x [SDMF packet checksum] 00 correct\n", message.back());
    text += line;
    return text;
}

}  // namespace fsksynth
