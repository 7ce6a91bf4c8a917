// line_conditions: how many caller-ID bursts each of our FSK receivers decodes
// under the impairments of real lines. Every burst is made here (random
// content, carrier phase and bit timing), impaired, given a white-noise floor
// and decoded; a burst counts when the message comes out byte for byte with a
// passing checksum.
//
//   line_conditions [--format us|ntt] [--bursts N] [--rate HZ] [--snr DB] [--write DIR] [CONDITION...]
//   line_conditions --grid [--format us|ntt] [--rate HZ]
//   line_conditions --random N [--format us|ntt] [--rate HZ]
//
// Prints one line per condition: the condition, then the fraction decoded by
// the demodulator of the detectors (FskReceiver) and by the line receiver
// (SoftFskReceiver), 25 dB over a white-noise floor (tone power against the
// noise power from 0 to half the rate; --snr sets another floor). US bursts carry SDMF messages over
// Bell 202, NTT bursts NTT frames over V.23. With --write, each condition's
// bursts also go to DIR/<condition>.wav (16-bit mono, one after the other),
// with DIR/<condition>.messages (each message as the peers' receivers deliver
// it: US without the checksum, NTT frames without parity bits or CRC, in hex
// with blanks) and DIR/<condition>.frames (every byte as sent, in hex), for
// bench/line_sweep.sh to run the peers on. --grid decodes clean bursts (no
// noise) on a grid of 64 carrier phases by 48 bit timings and prints how many
// each receiver missed. --random N decodes N clean bursts of random content,
// each with its own random carrier phase and bit timing, and prints the same.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "sigcore/messages/nttbits.hpp"
#include "sigcore/messages/nttdecoder.hpp"
#include "sigcore/receivers/receiver.hpp"
#include "sigcore/receivers/softfsk.hpp"
#include "linesim.hpp"

namespace {

using namespace linesim;

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

// NTT frames for the count: the frame decoder's CRC verdict makes the message.
class NttFrameDecoder final : public sigcore::MessageDecoder {
public:
    sigcore::NextByte startBurst(sigcore::EventSink& sink) override {
        bytes_.clear();
        Verdict verdict(*this, sink);
        return sigcore::decodeNttByte(state_, verdict, -1);
    }
    sigcore::NextByte decodeByte(std::uint8_t byte, std::int64_t, std::int64_t, sigcore::EventSink& sink) override {
        bytes_.push_back(byte);
        Verdict verdict(*this, sink);
        return sigcore::decodeNttByte(state_, verdict, byte);
    }

private:
    struct Verdict final : sigcore::EventSink {
        Verdict(NttFrameDecoder& d, sigcore::EventSink& s) : decoder(d), out(s) {}
        void onEvent(const sigcore::Event& e) override {
            if (const auto* crc = std::get_if<sigcore::NttCrc>(&e)) {
                sigcore::Message m;
                m.standard = sigcore::Standard::V23Ntt;
                m.complete = true;
                m.valid = crc->correct;
                m.raw = decoder.bytes_;
                out.onEvent(sigcore::MessageDecoded{m});
            }
        }
        NttFrameDecoder& decoder;
        sigcore::EventSink& out;
    };
    sigcore::NttDecoder state_;
    std::vector<std::uint8_t> bytes_;
};

struct Collect final : sigcore::EventSink {
    std::vector<sigcore::Message> messages;
    void onEvent(const sigcore::Event& e) override {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) messages.push_back(d->message);
    }
};

// An SDMF message: a date and time that exist (month, day, hour and minute
// each from two random digits), then a ten-digit number.
std::vector<std::uint8_t> randomSdmf(std::mt19937& random) {
    std::vector<std::uint8_t> m{0x04, 18};
    for (int i = 0; i < 18; ++i) m.push_back(static_cast<std::uint8_t>('0' + random() % 10));
    auto pair = [&m](std::size_t at, int low, int span) {
        const int value = low + ((m[at] - '0') * 10 + (m[at + 1] - '0')) % span;
        m[at] = static_cast<std::uint8_t>('0' + value / 10);
        m[at + 1] = static_cast<std::uint8_t>('0' + value % 10);
    };
    pair(2, 1, 12);  // month
    pair(4, 1, 28);  // day
    pair(6, 0, 24);  // hour
    pair(8, 0, 60);  // minute
    unsigned sum = 0;
    for (const auto b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>((256 - (sum & 0xFFu)) & 0xFFu));
    return m;
}

// An NTT frame with a random ten-digit number: the characters with even
// parity, then the CRC of the header character to ETX (bit-reversed bytes).
std::vector<std::uint8_t> randomNtt(std::mt19937& random) {
    std::vector<std::uint8_t> chars{0x10, 0x01, 0x07, 0x10, 0x02, 0x40, 12, 0x02, 10};
    for (int i = 0; i < 10; ++i) chars.push_back(static_cast<std::uint8_t>('0' + random() % 10));
    chars.push_back(0x10);
    chars.push_back(0x03);
    std::vector<std::uint8_t> frame;
    for (const auto c : chars) frame.push_back(withParity(c));
    std::vector<std::uint8_t> covered;
    for (std::size_t i = 2; i < frame.size(); ++i) covered.push_back(sigcore::reverseBits(frame[i]));
    const std::uint16_t crc = sigcore::crc16(covered);
    frame.push_back(sigcore::reverseBits(static_cast<std::uint8_t>(crc >> 8)));
    frame.push_back(sigcore::reverseBits(static_cast<std::uint8_t>(crc & 0xFF)));
    return frame;
}

// What the peers' receivers deliver of a message, in hex with blanks.
std::string peerKey(bool ntt, const std::vector<std::uint8_t>& message) {
    std::string key;
    const std::size_t count = message.size() - (ntt ? 2 : 1);
    for (std::size_t i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%s%02x", i == 0 ? "" : " ", ntt ? message[i] & 0x7Fu : message[i]);
        key += hex;
    }
    return key;
}

bool writeWav(const std::string& path, int rate, const std::vector<std::int16_t>& samples) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    auto le32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFFu), f); };
    auto le16 = [&](unsigned v) { std::fputc(static_cast<int>(v & 0xFFu), f); std::fputc(static_cast<int>(v >> 8), f); };
    std::fputs("RIFF", f);
    le32(36 + bytes);
    std::fputs("WAVEfmt ", f);
    le32(16);
    le16(1);
    le16(1);
    le32(static_cast<std::uint32_t>(rate));
    le32(static_cast<std::uint32_t>(rate * 2));
    le16(2);
    le16(16);
    std::fputs("data", f);
    le32(bytes);
    for (const auto v : samples) le16(static_cast<std::uint16_t>(v));
    return std::fclose(f) == 0;
}

// ---- impairments -------------------------------------------------------------

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

template <class Receiver, class Decoder, class... Extra>
bool decodes(const sigcore::TonePlan& plan, const std::vector<std::int16_t>& pcm, const std::vector<std::uint8_t>& sent,
             int rate, Extra... extra) {
    Decoder decoder;
    Collect collect;
    Receiver receiver(plan, decoder, rate, collect, extra...);
    receiver.push(pcm);
    receiver.finish();
    for (const auto& m : collect.messages) {
        // The frame decoder's bytes may begin with noise taken for bytes.
        if (m.valid && m.raw.size() >= sent.size() && std::equal(sent.rbegin(), sent.rend(), m.raw.rbegin())) {
            return true;
        }
    }
    return false;
}

struct Options {
    int bursts = 50;
    int rate = 8000;
    bool ntt = false;
    std::string writeDir;
    bool grid = false;
    int randomBursts = 0;
    double snrDb = 25;
    std::vector<std::string> only;
};

// The command line as Options; nullopt (after a message) when it is unusable.
std::optional<Options> parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--format" && i + 1 < argc) {
            o.ntt = std::string(argv[++i]) == "ntt";
        } else if (arg == "--bursts" && i + 1 < argc) {
            o.bursts = std::atoi(argv[++i]);
        } else if (arg == "--rate" && i + 1 < argc) {
            o.rate = std::atoi(argv[++i]);
        } else if (arg == "--snr" && i + 1 < argc) {
            o.snrDb = std::atof(argv[++i]);
        } else if (arg == "--grid") {
            o.grid = true;
        } else if (arg == "--random" && i + 1 < argc) {
            o.randomBursts = std::atoi(argv[++i]);
            if (o.randomBursts <= 0) {
                std::fprintf(stderr, "line_conditions: --random takes a positive burst count\n");
                return std::nullopt;
            }
        } else if (arg == "--write" && i + 1 < argc) {
            o.writeDir = argv[++i];
        } else {
            o.only.push_back(arg);
        }
    }
    if (o.bursts <= 0 || !sigcore::receiverAcceptsRate(o.rate)) {
        std::fprintf(stderr, "line_conditions: bad burst count or rate\n");
        return std::nullopt;
    }
    return o;
}

// Whether each receiver decodes one burst: {detector, line receiver}.
std::pair<bool, bool> bothDecode(const Options& o, const sigcore::TonePlan& plan, const std::vector<std::int16_t>& pcm,
                                 const std::vector<std::uint8_t>& message) {
    if (o.ntt) {
        return {decodes<sigcore::FskReceiver, NttFrameDecoder>(plan, pcm, message, o.rate, sigcore::ReceiverOptions{}),
                decodes<sigcore::SoftFskReceiver, NttFrameDecoder>(plan, pcm, message, o.rate)};
    }
    return {decodes<sigcore::FskReceiver, UsFrameDecoder>(plan, pcm, message, o.rate, sigcore::ReceiverOptions{}),
            decodes<sigcore::SoftFskReceiver, UsFrameDecoder>(plan, pcm, message, o.rate)};
}

// Clean bursts (no noise, no impairment): on the grid with their carrier phase
// and bit timing fixed, otherwise drawn at random; prints how many each
// receiver missed.
void runCleanBursts(const Options& o, const sigcore::TonePlan& plan) {
    Condition clean;
    clean.markHz = plan.markHz;
    clean.spaceHz = plan.spaceHz;
    std::mt19937 random(o.grid ? 99 : 31);
    int oldMissed = 0;
    int softMissed = 0;
    auto count = [&](double phase, double timing) {
        const auto message = o.ntt ? randomNtt(random) : randomSdmf(random);
        const auto pcm = toPcm(modulate(clean, message, o.rate, random, phase, timing));
        const auto [old, soft] = bothDecode(o, plan, pcm, message);
        oldMissed += old ? 0 : 1;
        softMissed += soft ? 0 : 1;
    };
    const char* format = o.ntt ? "ntt" : "us";
    if (o.grid) {
        for (int p = 0; p < 64; ++p) {
            for (int t = 0; t < 48; ++t) count(2 * kPi * p / 64, t / 48.0);
        }
        std::printf("%s %d Hz, 64 x 48 clean bursts missed: detector %d, line %d\n", format, o.rate, oldMissed, softMissed);
    } else {
        for (int k = 0; k < o.randomBursts; ++k) count(-1.0, -1.0);
        std::printf("%s %d Hz, %d random clean bursts missed: detector %d, line %d\n", format, o.rate, o.randomBursts,
                    oldMissed, softMissed);
    }
}

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    const bool written = std::fputs(text.c_str(), f) >= 0;
    return std::fclose(f) == 0 && written;
}

// One condition's bursts for the peers: the samples, each message as the
// peers deliver it and every byte as sent.
struct ConditionFiles {
    std::vector<std::int16_t> all;
    std::string messages;
    std::string frames;

    void add(bool ntt, const std::vector<std::int16_t>& pcm, const std::vector<std::uint8_t>& message) {
        all.insert(all.end(), pcm.begin(), pcm.end());
        messages += peerKey(ntt, message) + "\n";
        for (const auto b : message) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", b);
            frames += hex;
        }
        frames += "\n";
    }
    bool write(const std::string& base, int rate) const {
        return writeWav(base + ".wav", rate, all) && writeText(base + ".messages", messages) &&
               writeText(base + ".frames", frames);
    }
};

// Every condition (or those named): the fraction of bursts each receiver
// decodes; with --write, the bursts and their messages go to files too.
int runConditions(const Options& o, const sigcore::TonePlan& plan) {
    std::printf("%-24s %8s %8s\n", "condition", "detector", "line");
    for (Condition c : conditions()) {
        if (!o.only.empty() && std::find(o.only.begin(), o.only.end(), c.name) == o.only.end()) continue;
        // The same impairment on the other tone plan: tones move with it.
        c.markHz += plan.markHz - 1200;
        c.spaceHz += plan.spaceHz - 2200;
        c.snrDb = o.snrDb;
        std::mt19937 random(2024);
        int oldOk = 0;
        int softOk = 0;
        ConditionFiles files;
        for (int k = 0; k < o.bursts; ++k) {
            const auto message = o.ntt ? randomNtt(random) : randomSdmf(random);
            std::vector<double> x = modulate(c, message, o.rate, random);
            if (c.impair) c.impair(x, o.rate);
            addNoise(x, 32767.0 * std::pow(10.0, c.levelDbfs / 20.0), c.snrDb, random);
            const auto pcm = toPcm(x);
            const auto [old, soft] = bothDecode(o, plan, pcm, message);
            oldOk += old ? 1 : 0;
            softOk += soft ? 1 : 0;
            if (!o.writeDir.empty()) files.add(o.ntt, pcm, message);
        }
        std::printf("%-24s %8.2f %8.2f\n", c.name.c_str(), static_cast<double>(oldOk) / o.bursts,
                    static_cast<double>(softOk) / o.bursts);
        std::fflush(stdout);
        if (!o.writeDir.empty() && !files.write(o.writeDir + "/" + c.name, o.rate)) {
            std::fprintf(stderr, "line_conditions: can't write %s/%s\n", o.writeDir.c_str(), c.name.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) return 2;
    const sigcore::TonePlan& plan = options->ntt ? sigcore::kV23 : sigcore::kBell202;
    if (options->grid || options->randomBursts > 0) {
        runCleanBursts(*options, plan);
        return 0;
    }
    return runConditions(*options, plan);
}
