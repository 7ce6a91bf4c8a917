// cidpeer: a test-only bridge to the spandsp telephony library, used as an independent
// oracle for our caller-ID generator and detectors and as a benchmark peer.
//
//   cidpeer send-us OUT.wav DATETIME NUMBER [LEADMS]   US SDMF burst (CLASS transmitter)
//   cidpeer send-mdmf OUT.wav SEIZURE PARAM...         US MDMF burst (CLASS transmitter), type 0x80;
//                                                      SEIZURE "seizure" (the transmitter's
//                                                      alternating-bit preamble) or "no-seizure";
//                                                      each PARAM is TYPEHEX=TEXT, e.g. 07=JOHN DOE
//   cidpeer send-jp OUT.wav NUMBER [NAMEHEX] [LEADMS]  Japanese burst (JCLIP transmitter);
//                                                      NAMEHEX is the 7-bit JIS name, in hex
//   cidpeer send-clip OUT.wav DATETIME NUMBER NAME [LEADMS]
//                                                      ETSI V.23 call set-up (CLIP transmitter)
//   cidpeer send-aclip OUT.wav DATETIME NUMBER NAME [LEADMS]
//                                                      ACLIP call set-up (ACLIP transmitter)
//                                                      for these two: NUMBER or NAME "-O" or
//                                                      "-P" sends that reason for absence
//                                                      instead, "" leaves the field out
//   cidpeer send-dtmf OUT.wav DIGITS [LEADMS]          DTMF caller ID (CLIP_DTMF transmitter):
//                                                      DIGITS as sent, e.g. A0123456789C, B10C,
//                                                      D0123456789#
//   cidpeer recv-us IN.wav                             decode with the CLASS receiver
//   cidpeer recv-jp IN.wav                             decode with the JCLIP receiver
//   cidpeer recv-clip IN.wav                           decode with the ETSI CLIP receiver
//   cidpeer recv-dtmf IN.wav                           decode with the CLIP_DTMF receiver
//   cidpeer recv-digits IN.wav                         plain DTMF digits (the DTMF receiver with
//                                                      its default settings), one line each:
//                                                      "digit <d>"
//   cidpeer bench-us IN.wav | bench-jp IN.wav          as recv-*, and report the receiver's
//                                                      own processing rate on stderr
//
// Output files are mono 8000 Hz 16-bit WAV. Input files must be mono 8000 Hz PCM, 8 or 16
// bits (resample other rates first). The WAV reading and writing here is deliberately our
// own few lines, independent of the project's WAV module, so that a fault there can't hide.
//
// Every message that the receiver delivers (it checks the checksum or CRC itself and drops
// messages that fail) is printed as a block:
//   message <hex bytes as delivered>
//   date MMDDhhmm           (SDMF, and the date parameter of a multiple data message)
//   number <digits>
//   name <hex bytes>        (Japanese, when the name parameter is present)
//   name <text>             (US and ETSI multiple data messages)
//   number-absence <code>   (US and ETSI: reason for absence of the number)
//   name-absence <code>     (US and ETSI: reason for absence of the name)
//   digits <text>           (DTMF caller ID: the digit string as delivered)
//   field <type hex> <hex>  (any other parameter)
//   end

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/logging.h>
#include <spandsp/async.h>
#include <spandsp/adsi.h>
#include <spandsp/super_tone_rx.h>
#include <spandsp/dtmf.h>
}

namespace {

constexpr int kRate = 8000;

void fail(const char *what, const char *arg)
{
    std::fprintf(stderr, "cidpeer: %s%s%s\n", what, arg != nullptr ? ": " : "", arg != nullptr ? arg : "");
    std::exit(2);
}

uint32_t le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t le16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Reads a mono 8000 Hz PCM WAV file (8 or 16 bits) into 16-bit samples.
std::vector<int16_t> readWav(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        fail("can't open", path);
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    std::fclose(f);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        fail("not a RIFF WAVE file", path);
    }
    unsigned bits = 0;
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char *h = bytes.data() + pos;
        size_t size = le32(h + 4);
        size_t body = pos + 8;
        if (std::memcmp(h, "fmt ", 4) == 0 && size >= 16 && body + 16 <= bytes.size()) {
            const unsigned char *fmt = bytes.data() + body;
            if (le16(fmt) != 1 || le16(fmt + 2) != 1) {
                fail("only mono PCM is supported", path);
            }
            if (le32(fmt + 4) != kRate) {
                fail("the receiver works at 8000 Hz only; resample first", path);
            }
            bits = le16(fmt + 14);
            if (bits != 8 && bits != 16) {
                fail("only 8 and 16 bits per sample are supported", path);
            }
            haveFormat = true;
        } else if (std::memcmp(h, "data", 4) == 0) {
            if (!haveFormat) {
                fail("data chunk before the format chunk", path);
            }
            size_t avail = bytes.size() - body;
            if (size > avail) {
                size = avail;  // a header that promises more than the file holds
            }
            std::vector<int16_t> samples;
            if (bits == 16) {
                samples.resize(size / 2);
                for (size_t i = 0; i < samples.size(); i++) {
                    samples[i] = static_cast<int16_t>(le16(bytes.data() + body + 2 * i));
                }
            } else {
                samples.resize(size);
                for (size_t i = 0; i < size; i++) {
                    samples[i] = static_cast<int16_t>((bytes[body + i] - 128) * 256);
                }
            }
            return samples;
        }
        pos = body + size + (size & 1);
    }
    fail("no data chunk", path);
    return {};
}

void put32(std::vector<unsigned char> &out, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

void put16(std::vector<unsigned char> &out, uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void writeWav(const char *path, const std::vector<int16_t> &samples)
{
    std::vector<unsigned char> out;
    const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, 36 + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, kRate);
    put32(out, kRate * 2);
    put16(out, 2);
    put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, dataBytes);
    for (int16_t s : samples) {
        put16(out, static_cast<uint16_t>(s));
    }
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
        fail("can't write", path);
    }
}

std::vector<uint8_t> fromHex(const char *hex)
{
    std::vector<uint8_t> out;
    size_t len = std::strlen(hex);
    if (len % 2 != 0) {
        fail("odd number of hex digits", hex);
    }
    for (size_t i = 0; i < len; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        char *end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (end != pair + 2) {
            fail("bad hex digits", hex);
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

std::string toHex(const uint8_t *p, int len, const char *sep)
{
    std::string out;
    char buf[4];
    for (int i = 0; i < len; i++) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        if (i > 0) {
            out += sep;
        }
        out += buf;
    }
    return out;
}

// Runs the transmitter until it falls silent and frames the burst with LEADMS of silence.
void transmit(adsi_tx_state_t *tx, const uint8_t *msg, int len, int leadMs, const char *path)
{
    if (adsi_tx_put_message(tx, msg, len) != len) {
        fail("the transmitter refused the message", nullptr);
    }
    std::vector<int16_t> samples(static_cast<size_t>(leadMs * kRate / 1000), 0);
    int16_t block[160];
    int n = 0;
    while ((n = adsi_tx(tx, block, 160)) > 0) {
        samples.insert(samples.end(), block, block + n);
        if (n < 160) {
            break;
        }
    }
    samples.resize(samples.size() + static_cast<size_t>(leadMs * kRate / 1000), 0);
    writeWav(path, samples);
}

int sendUs(int argc, char **argv)
{
    if (argc < 4) {
        fail("usage: send-us OUT.wav DATETIME NUMBER [LEADMS]", nullptr);
    }
    const char *dateTime = argv[2];
    const char *number = argv[3];
    int leadMs = argc > 4 ? std::atoi(argv[4]) : 100;
    adsi_tx_state_t *tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLASS);
    uint8_t msg[256];
    int len = adsi_add_field(tx, msg, -1, CLASS_SDMF_CALLERID, nullptr, 0);
    // An SDMF message has no field headers: date, time and number follow one another.
    len = adsi_add_field(tx, msg, len, 0, reinterpret_cast<const uint8_t *>(dateTime),
                         static_cast<int>(std::strlen(dateTime)));
    len = adsi_add_field(tx, msg, len, 0, reinterpret_cast<const uint8_t *>(number),
                         static_cast<int>(std::strlen(number)));
    transmit(tx, msg, len, leadMs, argv[1]);
    adsi_tx_free(tx);
    return 0;
}

int sendMdmf(int argc, char **argv)
{
    if (argc < 4) {
        fail("usage: send-mdmf OUT.wav seizure|no-seizure TYPEHEX=TEXT...", nullptr);
    }
    const std::string seizure = argv[2];
    if (seizure != "seizure" && seizure != "no-seizure") {
        fail("the second argument is seizure or no-seizure", argv[2]);
    }
    adsi_tx_state_t *tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLASS);
    if (seizure == "no-seizure") {
        // No alternating bits: straight into the steady mark before the message.
        adsi_tx_set_preamble(tx, 0, 180, 10, 1);
    }
    uint8_t msg[256];
    int len = adsi_add_field(tx, msg, -1, CLASS_MDMF_CALLERID, nullptr, 0);
    for (int i = 3; i < argc; i++) {
        const char *eq = std::strchr(argv[i], '=');
        if (eq == nullptr || eq - argv[i] != 2) {
            fail("a parameter is TYPEHEX=TEXT", argv[i]);
        }
        const std::string typeHex(argv[i], 2);
        const uint8_t type = fromHex(typeHex.c_str())[0];
        const int fieldLen = static_cast<int>(std::strlen(eq + 1));
        if (len + fieldLen + 3 > static_cast<int>(sizeof msg)) {
            fail("the message is too long", argv[i]);
        }
        len = adsi_add_field(tx, msg, len, type, reinterpret_cast<const uint8_t *>(eq + 1), fieldLen);
    }
    transmit(tx, msg, len, 200, argv[1]);
    adsi_tx_free(tx);
    return 0;
}

// A multiple data message (type 0x80) with date and time, number or its reason for
// absence, name or its reason for absence; parameter codes shared by CLASS, CLIP and ACLIP.
int sendMultiple(int argc, char **argv, int standard)
{
    if (argc < 5) {
        fail("usage: send-clip|send-aclip OUT.wav DATETIME NUMBER NAME [LEADMS]", nullptr);
    }
    const std::string dateTime = argv[2];
    const std::string number = argv[3];
    const std::string name = argv[4];
    int leadMs = argc > 5 ? std::atoi(argv[5]) : 100;
    adsi_tx_state_t *tx = adsi_tx_init(nullptr, standard);
    uint8_t msg[256];
    auto add = [&](int len, uint8_t type, const std::string &body) {
        return adsi_add_field(tx, msg, len, type, reinterpret_cast<const uint8_t *>(body.data()),
                              static_cast<int>(body.size()));
    };
    int len = adsi_add_field(tx, msg, -1, 0x80, nullptr, 0);
    if (!dateTime.empty()) {
        len = add(len, 0x01, dateTime);
    }
    if (number == "-O" || number == "-P") {
        len = add(len, 0x04, number.substr(1));
    } else if (!number.empty()) {
        len = add(len, 0x02, number);
    }
    if (name == "-O" || name == "-P") {
        len = add(len, 0x08, name.substr(1));
    } else if (!name.empty()) {
        len = add(len, 0x07, name);
    }
    transmit(tx, msg, len, leadMs, argv[1]);
    adsi_tx_free(tx);
    return 0;
}

int sendDtmf(int argc, char **argv)
{
    if (argc < 3) {
        fail("usage: send-dtmf OUT.wav DIGITS [LEADMS]", nullptr);
    }
    const char *digits = argv[2];
    int leadMs = argc > 3 ? std::atoi(argv[3]) : 100;
    adsi_tx_state_t *tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLIP_DTMF);
    transmit(tx, reinterpret_cast<const uint8_t *>(digits), static_cast<int>(std::strlen(digits)), leadMs,
             argv[1]);
    adsi_tx_free(tx);
    return 0;
}

int sendJp(int argc, char **argv)
{
    if (argc < 3) {
        fail("usage: send-jp OUT.wav NUMBER [NAMEHEX] [LEADMS]", nullptr);
    }
    const char *number = argv[2];
    std::vector<uint8_t> name = argc > 3 ? fromHex(argv[3]) : std::vector<uint8_t>{};
    int leadMs = argc > 4 ? std::atoi(argv[4]) : 100;
    adsi_tx_state_t *tx = adsi_tx_init(nullptr, ADSI_STANDARD_JCLIP);
    uint8_t msg[256];
    int len = adsi_add_field(tx, msg, -1, JCLIP_MDMF_CALLERID, nullptr, 0);
    len = adsi_add_field(tx, msg, len, JCLIP_CALLER_NUMBER, reinterpret_cast<const uint8_t *>(number),
                         static_cast<int>(std::strlen(number)));
    if (!name.empty()) {
        // Parameter 0x07, the caller's name as JIS X 0208 byte pairs.
        len = adsi_add_field(tx, msg, len, 0x07, name.data(), static_cast<int>(name.size()));
    }
    transmit(tx, msg, len, leadMs, argv[1]);
    adsi_tx_free(tx);
    return 0;
}

struct Receiver {
    adsi_rx_state_t *rx = nullptr;
    int standard = ADSI_STANDARD_NONE;
    long messages = 0;
};

void printMessage(void *user, const uint8_t *msg, int len)
{
    auto *r = static_cast<Receiver *>(user);
    r->messages++;
    std::printf("message %s\n", toHex(msg, len, " ").c_str());
    const bool multiple = (r->standard == ADSI_STANDARD_CLASS || r->standard == ADSI_STANDARD_CLIP ||
                           r->standard == ADSI_STANDARD_ACLIP) &&
                          len >= 2 && msg[0] == 0x80;
    if (r->standard == ADSI_STANDARD_CLIP_DTMF) {
        std::printf("digits %.*s\n", len, reinterpret_cast<const char *>(msg));
    } else if (r->standard == ADSI_STANDARD_CLASS && len >= 2 && msg[0] == CLASS_SDMF_CALLERID) {
        // SDMF: type, length, then eight date-and-time digits and the number.
        const int body = len - 2;
        if (body >= 8) {
            std::printf("date %.8s\n", reinterpret_cast<const char *>(msg + 2));
            std::printf("number %.*s\n", body - 8, reinterpret_cast<const char *>(msg + 10));
        } else {
            std::printf("field 00 %s\n", toHex(msg + 2, body, "").c_str());
        }
    } else {
        uint8_t type = 0;
        const uint8_t *field = nullptr;
        int fieldLen = 0;
        int pos = -1;
        // The first call returns the message type; the walk ends when the position is -1.
        for (int guard = 0; guard < 256; guard++) {
            pos = adsi_next_field(r->rx, msg, len, pos, &type, &field, &fieldLen);
            if (pos < 0 || fieldLen < 0) {
                break;
            }
            if (field == nullptr) {
                continue;
            }
            const std::string text(reinterpret_cast<const char *>(field), static_cast<size_t>(fieldLen));
            if (multiple && type == 0x01) {
                std::printf("date %s\n", text.c_str());
            } else if (multiple && type == 0x02) {
                std::printf("number %s\n", text.c_str());
            } else if (multiple && type == 0x04) {
                std::printf("number-absence %s\n", text.c_str());
            } else if (multiple && type == 0x07) {
                std::printf("name %s\n", text.c_str());
            } else if (multiple && type == 0x08) {
                std::printf("name-absence %s\n", text.c_str());
            } else if (r->standard == ADSI_STANDARD_JCLIP && type == JCLIP_CALLER_NUMBER) {
                std::printf("number %.*s\n", fieldLen, reinterpret_cast<const char *>(field));
            } else if (r->standard == ADSI_STANDARD_JCLIP && type == 0x07) {
                std::printf("name %s\n", toHex(field, fieldLen, "").c_str());
            } else {
                std::printf("field %02x %s\n", type, toHex(field, fieldLen, "").c_str());
            }
        }
    }
    std::printf("end\n");
}

int receive(int argc, char **argv, int standard, bool timed)
{
    if (argc < 2) {
        fail("usage: recv-us|recv-jp|recv-clip|recv-dtmf|bench-us|bench-jp IN.wav", nullptr);
    }
    std::vector<int16_t> samples = readWav(argv[1]);
    Receiver r;
    r.standard = standard;
    r.rx = adsi_rx_init(nullptr, standard, printMessage, &r);
    if (r.rx == nullptr) {
        fail("can't set up the receiver", nullptr);
    }
    // Feed in blocks of 20 ms, as a telephony application would.
    const size_t block = 160;
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < samples.size(); i += block) {
        size_t n = samples.size() - i < block ? samples.size() - i : block;
        adsi_rx(r.rx, samples.data() + i, static_cast<int>(n));
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timed) {
        std::fprintf(stderr, "samples %zu seconds %.6f rate %.0f messages %ld\n", samples.size(), seconds,
                     seconds > 0 ? static_cast<double>(samples.size()) / seconds : 0.0, r.messages);
    }
    adsi_rx_free(r.rx);
    return 0;
}

void printDigits(void *, const char *digits, int len)
{
    for (int i = 0; i < len; i++) {
        std::printf("digit %c\n", digits[i]);
    }
}

int receiveDigits(int argc, char **argv)
{
    if (argc < 2) {
        fail("usage: recv-digits IN.wav", nullptr);
    }
    std::vector<int16_t> samples = readWav(argv[1]);
    dtmf_rx_state_t *rx = dtmf_rx_init(nullptr, printDigits, nullptr);
    if (rx == nullptr) {
        fail("can't set up the DTMF receiver", nullptr);
    }
    const size_t block = 160;
    for (size_t i = 0; i < samples.size(); i += block) {
        size_t n = samples.size() - i < block ? samples.size() - i : block;
        dtmf_rx(rx, samples.data() + i, static_cast<int>(n));
    }
    dtmf_rx_free(rx);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: cidpeer send-us OUT.wav DATETIME NUMBER [LEADMS]\n"
                     "       cidpeer send-mdmf OUT.wav seizure|no-seizure TYPEHEX=TEXT...\n"
                     "       cidpeer send-jp OUT.wav NUMBER [NAMEHEX] [LEADMS]\n"
                     "       cidpeer send-clip|send-aclip OUT.wav DATETIME NUMBER NAME [LEADMS]\n"
                     "       cidpeer send-dtmf OUT.wav DIGITS [LEADMS]\n"
                     "       cidpeer recv-us|recv-jp|recv-clip|recv-dtmf|recv-digits|bench-us|bench-jp IN.wav\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "send-us") {
        return sendUs(argc - 1, argv + 1);
    }
    if (mode == "send-mdmf") {
        return sendMdmf(argc - 1, argv + 1);
    }
    if (mode == "send-jp") {
        return sendJp(argc - 1, argv + 1);
    }
    if (mode == "send-clip") {
        return sendMultiple(argc - 1, argv + 1, ADSI_STANDARD_CLIP);
    }
    if (mode == "send-aclip") {
        return sendMultiple(argc - 1, argv + 1, ADSI_STANDARD_ACLIP);
    }
    if (mode == "send-dtmf") {
        return sendDtmf(argc - 1, argv + 1);
    }
    if (mode == "recv-clip") {
        return receive(argc - 1, argv + 1, ADSI_STANDARD_CLIP, false);
    }
    if (mode == "recv-digits") {
        return receiveDigits(argc - 1, argv + 1);
    }
    if (mode == "recv-dtmf") {
        return receive(argc - 1, argv + 1, ADSI_STANDARD_CLIP_DTMF, false);
    }
    if (mode == "recv-us" || mode == "bench-us") {
        return receive(argc - 1, argv + 1, ADSI_STANDARD_CLASS, mode == "bench-us");
    }
    if (mode == "recv-jp" || mode == "bench-jp") {
        return receive(argc - 1, argv + 1, ADSI_STANDARD_JCLIP, mode == "bench-jp");
    }
    fail("unknown mode", argv[1]);
    return 2;
}
