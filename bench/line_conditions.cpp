// line_conditions: how many caller-ID bursts each of our FSK receivers decodes
// under the impairments of real lines. Every burst is made here (random
// content, carrier phase and bit timing), impaired, given a white-noise floor
// and decoded; a burst counts when the message comes out byte for byte with a
// passing checksum.
//
//   line_conditions [BURSTS] [RATE] [CONDITION...]
//
// Prints one line per condition: the condition, then the fraction decoded by
// the demodulator of the detectors (FskReceiver) and by the line receiver
// (SoftFskReceiver), 25 dB over a white-noise floor (tone power against the
// noise power from 0 to half the rate).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "sigcore/receiver.hpp"
#include "sigcore/softfsk.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

// US framing for the count: a type byte, a length, the body, the checksum.
class UsFrameDecoder final : public sigcore::MessageDecoder {
public:
    sigcore::NextByte startBurst(sigcore::EventSink&) override {
        bytes_.clear();
        return sigcore::NextByte::MessageType;
    }
    sigcore::NextByte decodeByte(std::uint8_t byte, std::int64_t, std::int64_t, sigcore::EventSink& sink) override {
        if (bytes_.empty() && !isMessageType(byte)) return sigcore::NextByte::MessageType;
        bytes_.push_back(byte);
        if (bytes_.size() == 1) return sigcore::NextByte::AnyByte;
        const std::size_t total = std::size_t{bytes_[1]} + 3;
        if (bytes_.size() == total) {
            unsigned sum = 0;
            for (const auto b : bytes_) sum += b;
            sigcore::Message m;
            m.type = bytes_[0];
            m.complete = true;
            m.valid = (sum & 0xFFu) == 0;
            m.raw = bytes_;
            sink.onEvent(sigcore::MessageDecoded{m});
        }
        if (bytes_.size() >= total) return sigcore::NextByte::AnyByte;
        return bytes_.size() + 1 == total ? sigcore::NextByte::AnyByte
               : bytes_[0] == 0x04        ? sigcore::NextByte::SevenBitChar
                                          : sigcore::NextByte::AnyByte;
    }
    bool isMessageType(std::uint8_t byte) const override { return byte == 0x04 || byte == 0x80; }

private:
    std::vector<std::uint8_t> bytes_;
};

struct Collect final : sigcore::EventSink {
    std::vector<sigcore::Message> messages;
    void onEvent(const sigcore::Event& e) override {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) messages.push_back(d->message);
    }
};

// What a condition does to a burst.
struct Condition {
    std::string name;
    double markHz = 1200, spaceHz = 2200, baud = 1200;
    double markGainDb = 0, spaceGainDb = 0;
    double leadMarkMs = 150;
    double levelDbfs = -12;  // peak of the tones
    double snrDb = 25;
    std::function<void(std::vector<double>&, int rate)> impair;
};

std::vector<std::uint8_t> randomSdmf(std::mt19937& random) {
    std::vector<std::uint8_t> m{0x04, 18};
    for (int i = 0; i < 18; ++i) m.push_back(static_cast<std::uint8_t>('0' + random() % 10));
    unsigned sum = 0;
    for (const auto b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>((256 - (sum & 0xFFu)) & 0xFFu));
    return m;
}

// One burst: silence, mark, the bytes (one stop bit, sometimes more), mark,
// silence; random carrier phase and bit timing.
std::vector<double> modulate(const Condition& c, const std::vector<std::uint8_t>& bytes, int rate,
                             std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<int> bits;
    const int lead = static_cast<int>(c.leadMarkMs / 1000.0 * c.baud);
    for (int i = 0; i < lead; ++i) bits.push_back(1);
    for (const auto b : bytes) {
        bits.push_back(0);
        for (int k = 0; k < 8; ++k) bits.push_back((b >> k) & 1);
        const int stops = 1 + static_cast<int>(random() % 3);
        for (int k = 0; k < stops; ++k) bits.push_back(1);
    }
    for (int i = 0; i < 10; ++i) bits.push_back(1);
    const double amp = 32767.0 * std::pow(10.0, c.levelDbfs / 20.0);
    const double markAmp = amp * std::pow(10.0, c.markGainDb / 20.0);
    const double spaceAmp = amp * std::pow(10.0, c.spaceGainDb / 20.0);
    std::vector<double> x(static_cast<std::size_t>(0.2 * rate), 0.0);
    double phase = 2 * kPi * unit(random);
    double t = unit(random);  // sub-sample timing
    const double samplesPerBit = rate / c.baud;
    for (const int bit : bits) {
        t += samplesPerBit;
        while (t >= 1.0) {
            phase += 2 * kPi * (bit ? c.markHz : c.spaceHz) / rate;
            x.push_back((bit ? markAmp : spaceAmp) * std::sin(phase));
            t -= 1.0;
        }
    }
    x.resize(x.size() + static_cast<std::size_t>(0.2 * rate), 0.0);
    return x;
}

void addNoise(std::vector<double>& x, double toneAmp, double snrDb, std::mt19937& random) {
    const double sigma = toneAmp / std::sqrt(2.0) / std::pow(10.0, snrDb / 20.0);
    std::normal_distribution<double> gauss(0.0, sigma);
    for (auto& v : x) v += gauss(random);
}

std::vector<std::int16_t> toPcm(const std::vector<double>& x) {
    std::vector<std::int16_t> pcm(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        pcm[i] = static_cast<std::int16_t>(std::lround(std::clamp(x[i], -32768.0, 32767.0)));
    }
    return pcm;
}

// ---- impairments -------------------------------------------------------------

std::function<void(std::vector<double>&, int)> echo(double ms, double db) {
    return [ms, db](std::vector<double>& x, int rate) {
        const auto d = static_cast<std::size_t>(std::lround(ms / 1000.0 * rate));
        const double g = std::pow(10.0, db / 20.0);
        for (std::size_t i = x.size(); i-- > d;) x[i] += g * x[i - d];
    };
}

double mulaw(double v) {
    const double mu = 255.0;
    const double y = std::copysign(std::log1p(mu * std::abs(v) / 32768.0) / std::log1p(mu), v);
    const double q = std::round(y * 127.0) / 127.0;
    return std::copysign((std::pow(1 + mu, std::abs(q)) - 1) / mu * 32768.0, q);
}

double alaw(double v) {
    const double a = 87.6;
    const double u = std::abs(v) / 32768.0;
    const double y = u < 1 / a ? a * u / (1 + std::log(a)) : (1 + std::log(a * u)) / (1 + std::log(a));
    const double q = std::round(std::min(y, 1.0) * 127.0) / 127.0;
    const double back = q < 1 / (1 + std::log(a)) ? q * (1 + std::log(a)) / a : std::exp(q * (1 + std::log(a)) - 1) / a;
    return std::copysign(back * 32768.0, v);
}

std::vector<Condition> conditions() {
    std::vector<Condition> list;
    auto add = [&](const std::string& name, auto&& change) {
        Condition c;
        c.name = name;
        change(c);
        list.push_back(c);
    };
    add("clean", [](Condition&) {});
    add("echo-2ms-10dB", [](Condition& c) { c.impair = echo(2, -10); });
    add("echo-0.5ms-6dB", [](Condition& c) { c.impair = echo(0.5, -6); });
    add("echo-20ms-20dB", [](Condition& c) { c.impair = echo(20, -20); });
    add("twist-space-low-10dB", [](Condition& c) { c.spaceGainDb = -10; });
    add("twist-mark-low-10dB", [](Condition& c) { c.markGainDb = -10; });
    add("tones+50Hz", [](Condition& c) {
        c.markHz += 50;
        c.spaceHz += 50;
    });
    add("tones-50Hz", [](Condition& c) {
        c.markHz -= 50;
        c.spaceHz -= 50;
    });
    add("baud+4%", [](Condition& c) { c.baud *= 1.04; });
    add("speed+2%", [](Condition& c) {
        c.baud *= 1.02;
        c.markHz *= 1.02;
        c.spaceHz *= 1.02;
    });
    add("speed-2%", [](Condition& c) {
        c.baud *= 0.98;
        c.markHz *= 0.98;
        c.spaceHz *= 0.98;
    });
    add("lead-mark-20ms", [](Condition& c) { c.leadMarkMs = 20; });
    add("lead-mark-50ms", [](Condition& c) { c.leadMarkMs = 50; });
    add("level-45dBFS", [](Condition& c) { c.levelDbfs = -45; });
    add("level-3dBFS", [](Condition& c) { c.levelDbfs = -3; });
    add("clipped", [](Condition& c) {
        c.levelDbfs = -3;
        c.impair = [](std::vector<double>& x, int) {
            for (auto& v : x) v = std::clamp(v, -8000.0, 8000.0);
        };
    });
    add("dc-offset", [](Condition& c) {
        c.impair = [](std::vector<double>& x, int) {
            for (auto& v : x) v += 6000.0;
        };
    });
    add("hum-50Hz+16dB", [](Condition& c) {
        c.impair = [](std::vector<double>& x, int rate) {
            const double amp = 32767.0 * std::pow(10.0, (-12 + 16) / 20.0) * 0.5;
            for (std::size_t i = 0; i < x.size(); ++i) x[i] += amp * std::sin(2 * kPi * 50 * static_cast<double>(i) / rate);
        };
    });
    add("hum-60Hz+16dB", [](Condition& c) {
        c.impair = [](std::vector<double>& x, int rate) {
            const double amp = 32767.0 * std::pow(10.0, (-12 + 16) / 20.0) * 0.5;
            for (std::size_t i = 0; i < x.size(); ++i) x[i] += amp * std::sin(2 * kPi * 60 * static_cast<double>(i) / rate);
        };
    });
    add("mu-law", [](Condition& c) {
        c.impair = [](std::vector<double>& x, int) {
            for (auto& v : x) v = mulaw(v);
        };
    });
    add("a-law", [](Condition& c) {
        c.impair = [](std::vector<double>& x, int) {
            for (auto& v : x) v = alaw(v);
        };
    });
    return list;
}

template <class Receiver, class... Extra>
bool decodes(const std::vector<std::int16_t>& pcm, const std::vector<std::uint8_t>& sent, int rate, Extra... extra) {
    UsFrameDecoder decoder;
    Collect collect;
    Receiver receiver(sigcore::kBell202, decoder, rate, collect, extra...);
    receiver.push(pcm);
    receiver.finish();
    for (const auto& m : collect.messages) {
        if (m.valid && m.raw == sent) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int bursts = 50;
    int rate = 8000;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        if (i == 1 && std::isdigit(static_cast<unsigned char>(argv[i][0]))) {
            bursts = std::atoi(argv[i]);
        } else if (i == 2 && std::isdigit(static_cast<unsigned char>(argv[i][0]))) {
            rate = std::atoi(argv[i]);
        } else {
            only.emplace_back(argv[i]);
        }
    }
    std::printf("%-24s %8s %8s %8s\n", "condition", "detector", "line", "repaired");
    for (const Condition& c : conditions()) {
        if (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()) continue;
        std::mt19937 random(2024);
        int oldOk = 0;
        int softOk = 0;
        for (int k = 0; k < bursts; ++k) {
            const auto message = randomSdmf(random);
            std::vector<double> x = modulate(c, message, rate, random);
            if (c.impair) c.impair(x, rate);
            addNoise(x, 32767.0 * std::pow(10.0, c.levelDbfs / 20.0), c.snrDb, random);
            const auto pcm = toPcm(x);
            oldOk += decodes<sigcore::FskReceiver>(pcm, message, rate, sigcore::ReceiverOptions{}) ? 1 : 0;
            softOk += decodes<sigcore::SoftFskReceiver>(pcm, message, rate) ? 1 : 0;
        }
        std::printf("%-24s %8.2f %8.2f\n", c.name.c_str(), static_cast<double>(oldOk) / bursts,
                    static_cast<double>(softOk) / bursts);
    }
    return 0;
}
