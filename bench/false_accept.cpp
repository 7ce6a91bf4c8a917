// false_accept: how often cidscan calls a message valid whose bytes were not
// the ones sent. Every burst is made here: a message of random content (US
// SDMF or MDMF over Bell 202, ETSI call set-up or an NTT frame over V.23),
// random carrier phase, bit timing and stop bits, one of the harsh line
// impairments (echo, twist, tone and speed offsets, or none) and a white-noise
// floor 3 to 7 dB under the tones. Each burst goes on its own through
// cidscan's FSK lane (every FSK standard, as `cidscan` runs by default) and,
// where built with it, through spandsp's caller-ID receiver for the burst's
// standard.
//
//   false_accept [--bursts N] [--snr LOW HIGH] [--seed S] [--clean | --plain] [--verbose] [FORMAT...]
//
// FORMAT is sdmf, mdmf, etsi or ntt (default all four, N = 20000 each).
// Prints per format: bursts, bursts decoded right (a valid message with the
// bytes sent), messages called valid with other bytes, and spandsp's counts
// of the same. --clean leaves out impairment and noise (a check of the
// benchmark itself: every burst should be decoded right by both); --plain
// leaves out the impairment only (white noise alone, as bench/snr_sweep.sh);
// --verbose lists every wrong valid message on standard error.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cidscan/lanes.hpp"
#include "linesim.hpp"
#include "sigcore/messages/nttbits.hpp"
#include "sigcore/receivers/receiver.hpp"

#ifdef FALSE_ACCEPT_SPANDSP
extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/logging.h>
#include <spandsp/async.h>
#include <spandsp/adsi.h>
}
#endif

namespace {

using namespace linesim;
using Bytes = std::vector<std::uint8_t>;

enum class Format { Sdmf, Mdmf, Etsi, Ntt };

constexpr int kRate = 8000;

int uniform(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

void addDigits(Bytes& out, std::mt19937& random, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>('0' + uniform(random, 0, 9)));
}

void addTwoDigits(Bytes& out, int value) {
    out.push_back(static_cast<std::uint8_t>('0' + value / 10));
    out.push_back(static_cast<std::uint8_t>('0' + value % 10));
}

// MMDDhhmm of a real date and time.
void addDateTime(Bytes& out, std::mt19937& random) {
    addTwoDigits(out, uniform(random, 1, 12));
    addTwoDigits(out, uniform(random, 1, 28));
    addTwoDigits(out, uniform(random, 0, 23));
    addTwoDigits(out, uniform(random, 0, 59));
}

void closeWithChecksum(Bytes& m) {
    m[1] = static_cast<std::uint8_t>(m.size() - 2);
    unsigned sum = 0;
    for (const auto b : m) sum += b;
    m.push_back(static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu));
}

Bytes randomSdmf(std::mt19937& random) {
    Bytes m{0x04, 0};
    addDateTime(m, random);
    if (uniform(random, 0, 9) == 0) {
        m.push_back(uniform(random, 0, 1) == 0 ? 'O' : 'P');
    } else {
        addDigits(m, random, uniform(random, 7, 15));
    }
    closeWithChecksum(m);
    return m;
}

// Date and time, number (or the reason for its absence), name (or the
// reason): the parameters of a US MDMF or an ETSI call set-up message.
Bytes randomCallSetup(std::mt19937& random) {
    Bytes m{0x80, 0, 0x01, 8};
    addDateTime(m, random);
    if (uniform(random, 0, 9) == 0) {
        m.insert(m.end(), {0x04, 1, static_cast<std::uint8_t>(uniform(random, 0, 1) == 0 ? 'O' : 'P')});
    } else {
        const int digits = uniform(random, 7, 15);
        m.insert(m.end(), {0x02, static_cast<std::uint8_t>(digits)});
        addDigits(m, random, digits);
    }
    if (uniform(random, 0, 9) == 0) {
        m.insert(m.end(), {0x08, 1, static_cast<std::uint8_t>(uniform(random, 0, 1) == 0 ? 'O' : 'P')});
    } else {
        const int letters = uniform(random, 1, 15);
        m.insert(m.end(), {0x07, static_cast<std::uint8_t>(letters)});
        for (int i = 0; i < letters; ++i) {
            m.push_back(static_cast<std::uint8_t>(uniform(random, 0, 5) == 0 ? ' ' : 'A' + uniform(random, 0, 25)));
        }
    }
    closeWithChecksum(m);
    return m;
}

// An NTT frame: DLE SOH header DLE STX, the message (type, length, the
// number parameter), DLE ETX, every character with even parity, and the CRC
// of the header character to ETX (bit-reversed bytes).
Bytes randomNtt(std::mt19937& random) {
    const int digits = uniform(random, 4, 13);  // body under 16: no DLE to double
    Bytes chars{0x10, 0x01, 0x07, 0x10, 0x02, static_cast<std::uint8_t>(uniform(random, 0, 1) == 0 ? 0x40 : 0x41),
                static_cast<std::uint8_t>(digits + 2), 0x02, static_cast<std::uint8_t>(digits)};
    addDigits(chars, random, digits);
    chars.push_back(0x10);
    chars.push_back(0x03);
    Bytes frame;
    for (const auto c : chars) frame.push_back(withParity(c));
    Bytes covered;
    for (std::size_t i = 2; i < frame.size(); ++i) covered.push_back(sigcore::reverseBits(frame[i]));
    const std::uint16_t crc = sigcore::crc16(covered);
    frame.push_back(sigcore::reverseBits(static_cast<std::uint8_t>(crc >> 8)));
    frame.push_back(sigcore::reverseBits(static_cast<std::uint8_t>(crc & 0xFF)));
    return frame;
}

// One of the harsh impairments, or none, with the tones of the format;
// `name` says which (for --verbose).
Condition randomCondition(Format format, std::mt19937& random, const char*& name) {
    Condition c;
    const bool v23 = format == Format::Etsi || format == Format::Ntt;
    c.markHz = v23 ? 1300 : 1200;
    c.spaceHz = v23 ? 2100 : 2200;
    c.leadMarkMs = uniform(random, 80, 200);
    switch (uniform(random, 0, 9)) {
    case 0: name = "none"; break;
    case 1: name = "echo 2 ms -6 dB", c.impair = echo(2, -6); break;
    case 2: name = "echo 0.5 ms -6 dB", c.impair = echo(0.5, -6); break;
    case 3: name = "echo 2 ms -10 dB", c.impair = echo(2, -10); break;
    case 4: name = "mark -10 dB", c.markGainDb = -10; break;
    case 5: name = "space -10 dB", c.spaceGainDb = -10; break;
    case 6: name = "tones +50 Hz", c.markHz += 50, c.spaceHz += 50; break;
    case 7: name = "tones -50 Hz", c.markHz -= 50, c.spaceHz -= 50; break;
    case 8: {
        const double speed = uniform(random, 0, 1) == 0 ? 1.02 : 0.98;
        name = "speed +-2 %";
        c.baud *= speed, c.markHz *= speed, c.spaceHz *= speed;
        break;
    }
    default: name = "baud +4 %", c.baud *= 1.04; break;
    }
    return c;
}

struct Collect final : sigcore::EventSink {
    std::vector<sigcore::Message> messages;
    void onEvent(const sigcore::Event& e) override {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) messages.push_back(d->message);
    }
};

struct Count {
    int bursts = 0;
    int right = 0;  // bursts with a valid message of the bytes sent
    int wrong = 0;  // valid messages with other bytes
    int peerRight = 0;
    int peerWrong = 0;
};

// cidscan's FSK lane: every FSK standard through one line receiver, at the
// default sensitivity.
void decodeOurs(const std::vector<std::int16_t>& pcm, const Bytes& sent, Count& count, bool verbose,
                const std::string& condition) {
    Collect collect;
    auto lanes = cidscan::makeLanes(cidscan::StandardChoice::All, kRate, 80, collect);
    lanes.front()->push(pcm);  // the FSK lane comes first; the DTMF lane is left out
    lanes.front()->finish();
    bool right = false;
    for (const auto& m : collect.messages) {
        if (!m.valid) continue;
        if (m.raw == sent) {
            right = true;
        } else {
            ++count.wrong;
            if (verbose) {
                // One write per message: the formats run on two threads.
                std::string line = m.repaired ? "wrong (repaired, " : "wrong (";
                line += condition + "):";
                char hex[4];
                for (const auto b : m.raw) line += (std::snprintf(hex, sizeof hex, " %02x", b), hex);
                line += "\n sent:";
                for (const auto b : sent) line += (std::snprintf(hex, sizeof hex, " %02x", b), hex);
                line += "\n";
                std::fputs(line.c_str(), stderr);
            }
        }
    }
    count.right += right ? 1 : 0;
}

#ifdef FALSE_ACCEPT_SPANDSP
struct PeerMessages {
    std::vector<Bytes> messages;
};

void onPeerMessage(void* user, const std::uint8_t* msg, int len) {
    static_cast<PeerMessages*>(user)->messages.emplace_back(msg, msg + len);
}

// spandsp delivers the messages that pass its check: US and ETSI without the
// checksum, NTT frames without the parity bits and the CRC.
void decodePeer(Format format, const std::vector<std::int16_t>& pcm, const Bytes& sent, Count& count) {
    const int standard = format == Format::Ntt    ? ADSI_STANDARD_JCLIP
                         : format == Format::Etsi ? ADSI_STANDARD_CLIP
                                                  : ADSI_STANDARD_CLASS;
    Bytes expected(sent.begin(), sent.end() - (format == Format::Ntt ? 2 : 1));
    if (format == Format::Ntt) {
        for (auto& b : expected) b &= 0x7Fu;
    }
    PeerMessages got;
    adsi_rx_state_t* rx = adsi_rx_init(nullptr, standard, onPeerMessage, &got);
    if (rx == nullptr) return;
    std::vector<std::int16_t> block(pcm);
    for (std::size_t i = 0; i < block.size(); i += 160) {
        adsi_rx(rx, block.data() + i, static_cast<int>(std::min<std::size_t>(160, block.size() - i)));
    }
    adsi_rx_free(rx);
    bool right = false;
    for (const auto& m : got.messages) {
        if (m == expected) {
            right = true;
        } else {
            ++count.peerWrong;
        }
    }
    count.peerRight += right ? 1 : 0;
}
#endif

const char* formatName(Format f) {
    switch (f) {
    case Format::Sdmf: return "us-sdmf";
    case Format::Mdmf: return "us-mdmf";
    case Format::Etsi: return "etsi";
    case Format::Ntt: return "ntt";
    }
    return "";
}

Count run(Format format, int bursts, double snrLow, double snrHigh, unsigned seed, bool clean, bool plain, bool verbose) {
    std::mt19937 random(seed + static_cast<unsigned>(format) * 7919u);
    std::uniform_real_distribution<double> snr(snrLow, snrHigh);
    Count count;
    for (int k = 0; k < bursts; ++k) {
        const Bytes sent = format == Format::Sdmf ? randomSdmf(random)
                           : format == Format::Ntt ? randomNtt(random)
                                                   : randomCallSetup(random);
        const char* name = "plain";
        Condition c = clean || plain ? Condition{} : randomCondition(format, random, name);
        if ((clean || plain) && (format == Format::Etsi || format == Format::Ntt)) c.markHz = 1300, c.spaceHz = 2100;
        std::vector<double> x = modulate(c, sent, kRate, random);
        if (c.impair) c.impair(x, kRate);
        const double burstSnr = clean ? 0.0 : snr(random);
        if (!clean) addNoise(x, 32767.0 * std::pow(10.0, c.levelDbfs / 20.0), burstSnr, random);
        const auto pcm = toPcm(x);
        ++count.bursts;
        char condition[64];
        std::snprintf(condition, sizeof condition, "%s, %.1f dB SNR", name, burstSnr);
        decodeOurs(pcm, sent, count, verbose, condition);
#ifdef FALSE_ACCEPT_SPANDSP
        decodePeer(format, pcm, sent, count);
#endif
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    int bursts = 20000;
    double snrLow = 3, snrHigh = 7;
    unsigned seed = 1;
    bool clean = false;
    bool plain = false;
    bool verbose = false;
    std::vector<Format> formats;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bursts" && i + 1 < argc) {
            bursts = std::atoi(argv[++i]);
        } else if (arg == "--snr" && i + 2 < argc) {
            snrLow = std::atof(argv[++i]);
            snrHigh = std::atof(argv[++i]);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = static_cast<unsigned>(std::atol(argv[++i]));
        } else if (arg == "--clean") {
            clean = true;
        } else if (arg == "--plain") {
            plain = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "sdmf") {
            formats.push_back(Format::Sdmf);
        } else if (arg == "mdmf") {
            formats.push_back(Format::Mdmf);
        } else if (arg == "etsi") {
            formats.push_back(Format::Etsi);
        } else if (arg == "ntt") {
            formats.push_back(Format::Ntt);
        } else {
            std::fprintf(stderr, "usage: false_accept [--bursts N] [--snr LOW HIGH] [--seed S] [--clean] "
                                 "[--plain] [--verbose] [sdmf|mdmf|etsi|ntt]...\n");
            return 2;
        }
    }
    if (bursts <= 0 || !(snrLow <= snrHigh)) {
        std::fprintf(stderr, "false_accept: bad burst count or noise range\n");
        return 2;
    }
    if (formats.empty()) formats = {Format::Sdmf, Format::Mdmf, Format::Etsi, Format::Ntt};
#ifdef FALSE_ACCEPT_SPANDSP
    const char* peer = "spandsp";
#else
    const char* peer = "(no spandsp)";
#endif
    std::printf("%-8s %7s %9s %11s   %s: %9s %11s\n", "format", "bursts", "decoded", "wrong-valid", peer, "decoded",
                "wrong-valid");
    // The formats on two threads (each its own bursts and receivers), the
    // lines in order.
    std::vector<Count> counts(formats.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < formats.size(); i = next++) {
            counts[i] = run(formats[i], bursts, snrLow, snrHigh, seed, clean, plain, verbose);
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const Count& c = counts[i];
        std::printf("%-8s %7d %9d %11d   %*s  %9d %11d\n", formatName(formats[i]), c.bursts, c.right, c.wrong,
                    static_cast<int>(std::strlen(peer)), "", c.peerRight, c.peerWrong);
    }
    return 0;
}
