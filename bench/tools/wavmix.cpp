// wavmix: builds a test recording for the benchmarks: white Gaussian noise over the whole
// length, with caller-ID bursts (or any short WAV files) added at regular times.
//
//   wavmix OUT.wav SECONDS NOISE_RMS SEED FIRST EVERY BURST.wav [BURST.wav ...]
//
// The k-th burst file (k from 0) is added starting at FIRST + k * EVERY seconds. All bursts
// must share one sampling rate, which becomes the rate of OUT.wav (mono, 16 bits). NOISE_RMS
// is the noise's standard deviation on the 16-bit scale; 0 gives no noise. The noise comes
// from a seeded generator of our own, so a run is reproducible on any machine. Sums are
// rounded and clipped to the 16-bit range; the number of clipped samples is reported.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "wavmix: %s\n", what.c_str());
    std::exit(2);
}

uint32_t le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

unsigned le16(const unsigned char *p)
{
    return static_cast<unsigned>(p[0] | (p[1] << 8));
}

struct Sound {
    unsigned rate = 0;
    std::vector<double> samples;
};

Sound readWav(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        fail(std::string("can't open ") + path);
    }
    std::vector<unsigned char> bytes;
    unsigned char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
    }
    std::fclose(f);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        fail(std::string("not a WAV file: ") + path);
    }
    Sound s;
    unsigned bits = 0;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        size_t size = le32(bytes.data() + pos + 4);
        size_t body = pos + 8;
        if (std::memcmp(bytes.data() + pos, "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
            if (le16(bytes.data() + body) != 1 || le16(bytes.data() + body + 2) != 1) {
                fail(std::string("only mono PCM: ") + path);
            }
            s.rate = le32(bytes.data() + body + 4);
            bits = le16(bytes.data() + body + 14);
        } else if (std::memcmp(bytes.data() + pos, "data", 4) == 0) {
            size = std::min(size, bytes.size() - body);
            if (bits == 16) {
                for (size_t i = 0; i + 1 < size; i += 2) {
                    s.samples.push_back(static_cast<int16_t>(le16(bytes.data() + body + i)));
                }
            } else if (bits == 8) {
                for (size_t i = 0; i < size; i++) {
                    s.samples.push_back((bytes[body + i] - 128) * 256.0);
                }
            } else {
                fail(std::string("only 8 or 16 bits: ") + path);
            }
            return s;
        }
        pos = body + size + (size & 1);
    }
    fail(std::string("no data chunk: ") + path);
}

// splitmix64: small, fast and the same everywhere.
struct Random {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in (0, 1].
    double uniform() { return (static_cast<double>(next() >> 11) + 1.0) * (1.0 / 9007199254740992.0); }
};

void put(std::vector<unsigned char> &out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 8) {
        fail("usage: wavmix OUT.wav SECONDS NOISE_RMS SEED FIRST EVERY BURST.wav [BURST.wav ...]");
    }
    const double seconds = std::atof(argv[2]);
    const double rms = std::atof(argv[3]);
    Random random{std::strtoull(argv[4], nullptr, 10)};
    const double first = std::atof(argv[5]);
    const double every = std::atof(argv[6]);

    std::vector<Sound> bursts;
    for (int i = 7; i < argc; i++) {
        bursts.push_back(readWav(argv[i]));
        if (bursts.back().rate != bursts.front().rate) {
            fail(std::string("sampling rates differ: ") + argv[i]);
        }
    }
    const unsigned rate = bursts.front().rate;
    const auto total = static_cast<size_t>(seconds * rate);
    std::vector<double> mix(total, 0.0);

    // Box-Muller, two normal values per pair of uniform draws.
    for (size_t i = 0; i < total && rms > 0; i += 2) {
        double r = std::sqrt(-2.0 * std::log(random.uniform())) * rms;
        double a = 6.283185307179586 * random.uniform();
        mix[i] = r * std::cos(a);
        if (i + 1 < total) {
            mix[i + 1] = r * std::sin(a);
        }
    }
    for (size_t k = 0; k < bursts.size(); k++) {
        auto start = static_cast<size_t>((first + static_cast<double>(k) * every) * rate);
        const auto &b = bursts[k].samples;
        if (start + b.size() > total) {
            fail("the bursts don't fit in " + std::to_string(seconds) + " s");
        }
        for (size_t i = 0; i < b.size(); i++) {
            mix[start + i] += b[i];
        }
    }

    std::vector<unsigned char> out;
    out.reserve(44 + 2 * total);
    const auto dataBytes = static_cast<uint32_t>(2 * total);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put(out, 36 + dataBytes, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(out, 16, 4);
    put(out, 1, 2);
    put(out, 1, 2);
    put(out, rate, 4);
    put(out, 2 * rate, 4);
    put(out, 2, 2);
    put(out, 16, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(out, dataBytes, 4);
    size_t clipped = 0;
    for (double v : mix) {
        double r = std::floor(v + 0.5);
        if (r > 32767.0 || r < -32768.0) {
            clipped++;
            r = r > 0 ? 32767.0 : -32768.0;
        }
        put(out, static_cast<uint16_t>(static_cast<int16_t>(r)), 2);
    }
    FILE *f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
        fail(std::string("can't write ") + argv[1]);
    }
    std::printf("wavmix: %zu samples at %u Hz, %zu bursts, %zu clipped\n", total, rate, bursts.size(), clipped);
    return 0;
}
