#include "sigcore/receivers/softfsk.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <vector>

#include "sigcore/dsp/simd.hpp"

namespace sigcore {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Second-order section, transposed direct form II.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double z1 = 0.0, z2 = 0.0;
};

// Two sections in cascade, a sample at a time. The state and coefficients
// are copied out of the sections so that the loop stepping them keeps them
// in registers; `store` writes the state back.
struct Cascade {
    Biquad f;
    Biquad g;

    Cascade(const Biquad& first, const Biquad& second) : f(first), g(second) {}

    double step(double in) {
        const double u = f.b0 * in + f.z1;
        f.z1 = f.b1 * in - f.a1 * u + f.z2;
        f.z2 = f.b2 * in - f.a2 * u;
        const double y = g.b0 * u + g.z1;
        g.z1 = g.b1 * u - g.a1 * y + g.z2;
        g.z2 = g.b2 * u - g.a2 * y;
        return y;
    }

    void store(Biquad& first, Biquad& second) const {
        first.z1 = f.z1;
        first.z2 = f.z2;
        second.z1 = g.z1;
        second.z2 = g.z2;
    }
};

// Butterworth high-pass or low-pass of order two at `cornerHz`.
Biquad butterworth(bool highPass, double cornerHz, double rate) {
    const double w = 2 * kPi * cornerHz / rate;
    const double alpha = std::sin(w) / std::sqrt(2.0);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    Biquad q;
    if (highPass) {
        q.b0 = (1 + c) / 2 / a0;
        q.b1 = -(1 + c) / a0;
        q.b2 = q.b0;
    } else {
        q.b0 = (1 - c) / 2 / a0;
        q.b1 = (1 - c) / a0;
        q.b2 = q.b0;
    }
    q.a1 = -2 * c / a0;
    q.a2 = (1 - alpha) / a0;
    return q;
}

// The largest block of samples the receiver filters at once.
constexpr std::size_t kBlock = 256;

// Two doubles side by side: a tone plan's mark and space, so that each
// operation of the tone filters serves both.
using Pair = double __attribute__((vector_size(16)));

// Words of one bit a sample that hold a block's lead flags.
constexpr std::size_t kLeadWords = kBlock / 64;

// What the tone filters give for each sample of a block.
struct ToneBlock {
    // The mark and space energies after each sample.
    std::array<Pair, kBlock> energy{};
    // Bit i % 64 of word i / 64 is set where the mark of sample i is strong
    // enough and over the space tone: the idle scan looks for runs of them
    // a word at a time.
    std::array<std::uint64_t, kLeadWords> leads{};
    // The window sums (mark, space) after each sample; [0] holds those
    // before the block.
    std::array<Pair, kBlock + 1> sumRe{};
    std::array<Pair, kBlock + 1> sumIm{};
};

// The energies of the mark and space tones over the last `window` samples:
// sliding sums of the samples turned by each tone's phasor, kept exact by
// subtracting the very product that was added.
//
// A block's loop carries no wrapping counters: the phasor tables run on for
// a block past their common period, and the products are kept in a history
// that holds the window before the block followed by the block itself.
class TonePair {
public:
    TonePair(int markHz, int spaceHz, int rate, int window)
        : period_(std::lcm(static_cast<std::size_t>(rate / std::gcd(markHz, rate)),
                           static_cast<std::size_t>(rate / std::gcd(spaceHz, rate)))),  // divides the rate
          cosine_(period_ + kBlock),
          sine_(period_ + kBlock),
          historyRe_(static_cast<std::size_t>(window) + kBlock),
          historyIm_(static_cast<std::size_t>(window) + kBlock),
          window_(static_cast<std::size_t>(window)),
          scale_(1.0 / window) {
        // Each phasor at its place in its own period.
        const auto markPeriod = static_cast<std::size_t>(rate / std::gcd(markHz, rate));
        const auto spacePeriod = static_cast<std::size_t>(rate / std::gcd(spaceHz, rate));
        for (std::size_t i = 0; i < cosine_.size(); ++i) {
            const auto markAt = static_cast<double>(i % markPeriod);
            const auto spaceAt = static_cast<double>(i % spacePeriod);
            const double markAngle = -2 * kPi * static_cast<double>(markHz) * markAt / rate;
            const double spaceAngle = -2 * kPi * static_cast<double>(spaceHz) * spaceAt / rate;
            cosine_[i] = Pair{std::cos(markAngle), std::cos(spaceAngle)};
            sine_[i] = Pair{std::sin(markAngle), std::sin(spaceAngle)};
        }
    }

    // The filters' state over one block, copied out of the object so that
    // the loop stepping it keeps it in registers: stores to the block could
    // otherwise alias it and force reloads on every sample.
    struct Cursor {
        const Pair* cosine = nullptr;
        const Pair* sine = nullptr;
        Pair* historyRe = nullptr;
        Pair* historyIm = nullptr;
        Pair sumRe{};
        Pair sumIm{};
        Pair scale{};
        std::size_t window = 0;
        double floorEnergy = 0.0;
        ToneBlock* out = nullptr;

        // Sample `i` of the block: its energies and sums into the block;
        // 1 when the mark leads.
        std::uint64_t step(std::size_t i, double x) {
            const Pair sample = Pair{x, x};
            const Pair productRe = sample * cosine[i];
            const Pair productIm = sample * sine[i];
            sumRe += productRe - historyRe[i];
            sumIm += productIm - historyIm[i];
            historyRe[window + i] = productRe;
            historyIm[window + i] = productIm;
            const Pair energy = (sumRe * sumRe + sumIm * sumIm) * scale * scale;
            out->energy[i] = energy;
            out->sumRe[i + 1] = sumRe;
            out->sumIm[i + 1] = sumIm;
            return static_cast<std::uint64_t>((energy[0] > floorEnergy) & (energy[0] > energy[1]));
        }
    };

    // The state for a block whose output goes to `out`; the soft values are
    // left for the samples that need them.
    Cursor begin(double floorEnergy, ToneBlock& out) {
        out.sumRe[0] = sumRe_;
        out.sumIm[0] = sumIm_;
        return Cursor{cosine_.data() + phase_, sine_.data() + phase_, historyRe_.data(), historyIm_.data(),
                      sumRe_, sumIm_, Pair{scale_, scale_}, window_, floorEnergy, &out};
    }

    // Takes back the state after `count` samples stepped with `cursor`.
    void end(const Cursor& cursor, std::size_t count) {
        sumRe_ = cursor.sumRe;
        sumIm_ = cursor.sumIm;
        phase_ = (phase_ + count) % period_;
        // The history's last window of products moves to its front.
        const auto from = static_cast<std::ptrdiff_t>(count);
        const auto to = static_cast<std::ptrdiff_t>(count + window_);
        std::copy(historyRe_.begin() + from, historyRe_.begin() + to, historyRe_.begin());
        std::copy(historyIm_.begin() + from, historyIm_.begin() + to, historyIm_.begin());
    }

private:
    std::size_t period_;        // samples after which both phasors repeat
    std::vector<Pair> cosine_;  // over one period, then a block more
    std::vector<Pair> sine_;
    std::vector<Pair> historyRe_;  // products: the window before the block, then the block
    std::vector<Pair> historyIm_;
    std::size_t window_;
    double scale_;
    std::size_t phase_ = 0;
    Pair sumRe_ = Pair{0.0, 0.0};
    Pair sumIm_ = Pair{0.0, 0.0};
};

// Two plans' pairs side by side: (mark, space) of the first, then of the
// second, so that one operation of a wide vector unit serves both plans.
using Quad = double __attribute__((vector_size(32)));

// The halves of a Quad. (Taken by reference: a wide vector passed by value
// would be passed differently by the clones of a caller built for different
// vector units.)
Pair firstOf(const Quad& q) { return __builtin_shufflevector(q, q, 0, 1); }
Pair secondOf(const Quad& q) { return __builtin_shufflevector(q, q, 2, 3); }

// The line filter and two plans' tone filters in one loop over a block, the
// two plans' arithmetic joined in vectors of four (each a pair of the
// first, then a pair of the second): the same operations on
// each value as TonePair::Cursor::step, in the same order. The line filter
// is a chain of dependent operations, each waiting for the last; the tone
// work, independent of it, fills the time between. The filter's output goes
// to `filtered` for any further plans.
SIGCORE_VECTOR_CLONES
void filterAndTwoPlans(Cascade& line, const std::int16_t* samples, double* filtered, std::size_t count,
                       TonePair::Cursor& a, TonePair::Cursor& b) {
    Cascade filter = line;
    Quad sumRe = __builtin_shufflevector(a.sumRe, b.sumRe, 0, 1, 2, 3);
    Quad sumIm = __builtin_shufflevector(a.sumIm, b.sumIm, 0, 1, 2, 3);
    const Quad scale = __builtin_shufflevector(a.scale, b.scale, 0, 1, 2, 3);
    const Quad floor = Quad{a.floorEnergy, 0.0, b.floorEnergy, 0.0};  // the space lanes' compare is unused
    const Pair* cosA = a.cosine;
    const Pair* cosB = b.cosine;
    const Pair* sinA = a.sine;
    const Pair* sinB = b.sine;
    Pair* reA = a.historyRe;
    Pair* reB = b.historyRe;
    Pair* imA = a.historyIm;
    Pair* imB = b.historyIm;
    ToneBlock& outA = *a.out;
    ToneBlock& outB = *b.out;
    for (std::size_t start = 0; start < count; start += 64) {
        const std::size_t end = std::min(count, start + 64);
        std::uint64_t leadsA = 0;
        std::uint64_t leadsB = 0;
        for (std::size_t i = start; i < end; ++i) {
            const double x = filter.step(static_cast<double>(samples[i]));
            filtered[i] = x;
            const Quad sample = Quad{x, x, x, x};
            const Quad productRe = sample * __builtin_shufflevector(cosA[i], cosB[i], 0, 1, 2, 3);
            const Quad productIm = sample * __builtin_shufflevector(sinA[i], sinB[i], 0, 1, 2, 3);
            sumRe += productRe - __builtin_shufflevector(reA[i], reB[i], 0, 1, 2, 3);
            sumIm += productIm - __builtin_shufflevector(imA[i], imB[i], 0, 1, 2, 3);
            reA[a.window + i] = firstOf(productRe);
            reB[b.window + i] = secondOf(productRe);
            imA[a.window + i] = firstOf(productIm);
            imB[b.window + i] = secondOf(productIm);
            const Quad energy = (sumRe * sumRe + sumIm * sumIm) * scale * scale;
            outA.energy[i] = firstOf(energy);
            outB.energy[i] = secondOf(energy);
            outA.sumRe[i + 1] = firstOf(sumRe);
            outB.sumRe[i + 1] = secondOf(sumRe);
            outA.sumIm[i + 1] = firstOf(sumIm);
            outB.sumIm[i + 1] = secondOf(sumIm);
            // Each plan's mark over its floor and over its space tone.
            const auto leads = (energy > floor) & (energy > __builtin_shufflevector(energy, energy, 1, 0, 3, 2));
            leadsA |= (static_cast<std::uint64_t>(leads[0]) & 1u) << (i - start);
            leadsB |= (static_cast<std::uint64_t>(leads[2]) & 1u) << (i - start);
        }
        outA.leads[start / 64] = leadsA;
        outB.leads[start / 64] = leadsB;
    }
    line = filter;
    a.sumRe = firstOf(sumRe);
    b.sumRe = secondOf(sumRe);
    a.sumIm = firstOf(sumIm);
    b.sumIm = secondOf(sumIm);
}

// A block's lead flags as one number of kBlock bits, bit i for sample i.
using LeadBits = std::array<std::uint64_t, kLeadWords>;

// The block's first `count` lead flags, the bits past them cleared (the
// words past the block's last are left from an earlier block).
LeadBits leadsIn(const ToneBlock& block, std::size_t count) {
    LeadBits bits{};
    for (std::size_t word = 0; word * 64 < count; ++word) {
        const std::size_t inWord = std::min<std::size_t>(64, count - word * 64);
        bits[word] = inWord == 64 ? block.leads[word] : block.leads[word] & ((std::uint64_t{1} << inWord) - 1);
    }
    return bits;
}

// `bits` moved towards bit 0 by `by`: bit i of the result is bit i + by.
LeadBits shiftedDown(const LeadBits& bits, std::size_t by) {
    LeadBits out{};
    const std::size_t words = by / 64;
    const std::size_t shift = by % 64;
    for (std::size_t w = 0; w + words < kLeadWords; ++w) {
        out[w] = bits[w + words] >> shift;
        if (shift != 0 && w + words + 1 < kLeadWords) out[w] |= bits[w + words + 1] << (64 - shift);
    }
    return out;
}

// Whether `bits` hold `length` set bits in a row: each pass leaves bit i
// set where bits i .. i + have - 1 all were, doubling `have`.
bool holdsRun(LeadBits bits, std::size_t length) {
    if (length > kBlock) return false;
    for (std::size_t have = 1; have < length;) {
        const std::size_t step = std::min(have, length - have);
        const LeadBits moved = shiftedDown(bits, step);
        for (std::size_t w = 0; w < kLeadWords; ++w) bits[w] &= moved[w];
        have += step;
    }
    return std::any_of(bits.begin(), bits.end(), [](std::uint64_t word) { return word != 0; });
}

// The set bits in a row from bit 0 on.
std::size_t runFromStart(const LeadBits& bits) {
    std::size_t run = 0;
    for (const std::uint64_t word : bits) {
        run += static_cast<std::size_t>(std::countr_one(word));
        if (word != ~std::uint64_t{0}) break;
    }
    return run;
}

// The set bits in a row that end at bit `count` - 1.
std::size_t runToEnd(const LeadBits& bits, std::size_t count) {
    std::size_t run = 0;
    for (std::size_t end = count; end > 0;) {
        const std::size_t top = (end - 1) % 64;  // bit end - 1, in its word
        const std::uint64_t word = bits[(end - 1) / 64] << (63 - top);
        const auto ones = static_cast<std::size_t>(std::countl_one(word));
        run += ones;
        if (ones <= top) break;
        end -= ones;
    }
    return run;
}

// The first sample from `from` on, short of `count`, whose lead flag is
// `lead`; `count` when there is none.
std::size_t findLead(const ToneBlock& block, std::size_t from, std::size_t count, bool lead) {
    for (std::size_t word = from / 64; word * 64 < count; ++word) {
        std::uint64_t bits = lead ? block.leads[word] : ~block.leads[word];
        if (word == from / 64) bits &= ~std::uint64_t{0} << (from % 64);
        if (bits != 0) return std::min(count, word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
    }
    return count;
}

// The largest offset of the mark tone from the plan's taken for this plan.
constexpr double kLargestOffsetHz = 75.0;

// How much less certain a byte's timing may be than the best when its byte
// is what the decoder expects and the best's is not (sum of ten soft values).
constexpr double kExpectationMargin = 1.0;

// How much less certain another timing of a byte may be than the one taken,
// as a share of the taken one's score, for the bits it reads otherwise to be
// in doubt. A share, because the soft values of a plan's tones (V.23's lie
// closer than Bell 202's) and the line's noise set what a sure byte scores.
constexpr double kTimingMargin = 0.04;

// The timings a byte is read at: bit lengths up to 4 % off the tracked one,
// start points up to two tenths of a bit off the edge.
constexpr int kTimingSteps = 4;
constexpr int kPhaseSteps = 2;

// The certainty given to a bit that the decoder's expectation fixes; soft
// values lie within -1 .. 1.
constexpr double kCertain = 2.0;

// A byte's timing: its score (the certainty of its ten sampling points), bit
// length and shift from the start edge.
struct Candidate {
    double score = -1e9;
    double length = 0.0;
    double shift = 0.0;
    std::uint8_t value = 0;  // the data bits it reads
};

// A soft value nearer zero than this is uncertain: the decoder's expectation
// may decide such a bit, never one the line sent more clearly.
constexpr double kUncertain = 0.5;

// How far below zero the soft value of a start bit followed by eight marks
// must lie: the dips of continuous mark (at 8000 Hz the one-bit filters let
// the mark through to the space filter) reach about -0.06, an echo leaves a
// real start bit well below -0.25.
constexpr double kClearSpace = 0.25;

// The tone energy, against the opening mark's, under which the line carries
// no signal: a byte read there is noise after the carrier's end.
constexpr double kCarrierShare = 0.1;

// The most bytes a message can take on the line: US and ETSI hold a type,
// a length byte, up to 255 bytes and a checksum (258); an NTT frame's data
// link escapes can double its bytes, and its decoder keeps at most 512.
constexpr std::size_t kMostBurstBytes = 512;

// How far the mark's energy must stand over the space tone's across the mark
// run that opens a burst.
constexpr double kRunContrast = 3.0;

// The soft value above which the line counts as clearly mark.
constexpr double kArm = 0.5;

enum class Phase : std::uint8_t {
    Idle,        // looking for a mark run
    AwaitStart,  // inside a burst, between bytes
    InByte,      // sampling the bits of a byte
};

struct ReceivedByte {
    std::uint8_t value = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::array<double, 8> confidence{};  // |soft value| of each data bit
    // How the space filter turned from one bit's sampling point to the next
    // where both bits were space, summed, with the samples between them and
    // the number of such pairs: the angle per sample is the space tone's
    // offset from the plan's.
    std::complex<double> spaceTurn;
    double spaceLag = 0.0;
    int spacePairs = 0;
    // Data bits whose reading is in doubt whatever their soft value: set by
    // the decoder's expectation against the line, or read otherwise by a
    // timing of the byte nearly as certain as the one taken.
    std::uint8_t doubted = 0;
    // For each data bit, how much less certain than the taken timing (a
    // share of its score) the most certain timing that reads it otherwise
    // was; 1 where none does.
    std::array<double, 8> timingGap{1, 1, 1, 1, 1, 1, 1, 1};
    // The two tones' energy at each data bit's sampling point.
    std::array<double, 8> energy{};
};

// A data bit whose soft value lay nearer zero than this share of the mean
// certainty of the message's bits may have been misread. Relative, because
// the soft values of a plan's tones (V.23's lie closer than Bell 202's) and
// the line's noise set what a sure bit looks like.
constexpr double kDoubtfulShare = 0.3;
// A repair of a message checked by a sum flips a bit this much less certain
// than the mean, or none: flipping a fairly sure bit to make a sum pass makes
// a message that was not sent more often than it mends one (under noise and
// echo most wrong messages called valid were such repairs).
constexpr double kRepairShare = 0.2;

// The certainty under which a bit of the burst's last `count` bytes is
// doubtful. Bits that the decoder's expectation fixed are left out of the mean.
double doubtfulBelow(const std::vector<ReceivedByte>& burst, std::size_t count, double share = kDoubtfulShare) {
    double sum = 0.0;
    int bits = 0;
    for (std::size_t i = burst.size() - std::min(count, burst.size()); i < burst.size(); ++i) {
        for (const double c : burst[i].confidence) {
            if (c >= kCertain) continue;
            sum += c;
            ++bits;
        }
    }
    return bits > 0 ? share * sum / bits : 0.0;
}

// Whether two doubtful bits of a message checked by an 8-bit sum could both
// be misread without the sum showing it: bits of the same weight read as 1
// and as 0 (their errors cancel), or two top bits (each worth 128). One
// misread bit always shows, so a message without such a pair passes its sum
// only with the bytes sent, or with three misread bits or more. A bit in
// doubt (`ReceivedByte::doubted`) counts as doubtful whatever its soft value.
// The values are the message's bytes (a repair's flip included), the
// certainties those of the burst's last bytes, the message's.
bool sumMayHideMisreads(const Message& message, const std::vector<ReceivedByte>& burst) {
    if (!hasSumCheck(message.standard)) return false;
    const std::size_t count = std::min(message.raw.size(), burst.size());
    std::array<int, 8> doubtfulOnes{};
    std::array<int, 8> doubtfulZeros{};
    const double below = doubtfulBelow(burst, count);
    for (std::size_t i = 0; i < count; ++i) {
        const ReceivedByte& byte = burst[burst.size() - count + i];
        const std::uint8_t value = message.raw[message.raw.size() - count + i];
        for (std::size_t b = 0; b < 8; ++b) {
            if (byte.confidence[b] >= below && ((byte.doubted >> b) & 1u) == 0) continue;
            ++(((value >> b) & 1u) != 0 ? doubtfulOnes : doubtfulZeros)[b];
        }
    }
    for (std::size_t b = 0; b < 7; ++b) {
        if (doubtfulOnes[b] > 0 && doubtfulZeros[b] > 0) return true;
    }
    return doubtfulOnes[7] + doubtfulZeros[7] > 1;
}

// How often a data bit was misread, by its certainty as a share of the
// message's mean (rows from 0, 0.15, 0.3, 0.45, 0.6 and 0.8 of it) and by how
// near the most certain timing that reads it otherwise came (columns from 0,
// 0.08, 0.15, 0.3 and 0.5 of the taken timing's score): counted over the
// messages whose sum passed in false_accept's bursts (US and ETSI, harsh line
// conditions, 3 to 7 dB of noise). A clear bit that another timing nearly
// reads otherwise was misread hundreds of times as often as one that none
// does. A bit in doubt (`ReceivedByte::doubted`) was misread about once in a
// hundred.
constexpr std::array<double, 6> kShareSteps{0.0, 0.15, 0.3, 0.45, 0.6, 0.8};
constexpr std::array<double, 5> kGapSteps{0.0, 0.08, 0.15, 0.3, 0.5};
constexpr std::array<std::array<double, 5>, 6> kMisread{{
    {1.6e-2, 1.4e-2, 1.4e-2, 1.4e-2, 1.4e-2},
    {1.5e-2, 1.0e-2, 4.3e-3, 4.0e-3, 2.2e-3},
    {7.1e-3, 4.1e-3, 7.1e-4, 6.7e-4, 6.0e-4},
    {1.8e-3, 1.8e-3, 3.3e-4, 1.0e-4, 4.8e-5},
    {1.8e-3, 4.8e-4, 1.2e-4, 2.8e-5, 1.6e-5},
    {1.0e-3, 1.9e-4, 2.2e-5, 3.7e-6, 2.4e-6},
}};
constexpr double kDoubtedMisread = 1.0e-2;
// A message whose sum passed is not valid when the chance that two of its
// bits were misread and cancelled exceeds a bound. For US messages the bound
// is set per pair of the message's bits: a longer message holds more pairs
// that could cancel, and is judged by how well its bits were read, not by its
// length (21 bytes of a single data message come to about 5.6e-6, 35 of a
// multiple data message to 1.6e-5). For ETSI messages, over V.23, it stays
// kHiddenMisreadRisk: an echo alone (2 ms at -10 dB, on an otherwise clean
// line) gives right V.23 messages chances up to 2.4e-4, the table, counted
// in noise and mostly on Bell 202 bits, taking the weak bits an echo leaves
// for likely misreads. A repair stands only when the chance that another bit
// of the flipped bit's weight was the misread one is under kRepairOdds times
// the chance that the flipped bit was, and the rest of the message is within
// the bound.
constexpr double kUsRiskPerPair = 4.0e-10;
constexpr double kHiddenMisreadRisk = 3.0e-4;
constexpr double kRepairOdds = 0.01;

// How far the line's tones under `message` (the burst's last bytes) lie
// from the plan's, in Hz: the mark's offset `markOffsetHz` (over the run that
// opened the burst) and the space's (over the message's bytes), added.
double mistuningOf(const Message& message, const std::vector<ReceivedByte>& burst, double markOffsetHz, double rate) {
    const std::size_t count = std::min(message.raw.size(), burst.size());
    std::complex<double> space;
    double lag = 0.0;
    int pairs = 0;
    for (std::size_t i = burst.size() - count; i < burst.size(); ++i) {
        space += burst[i].spaceTurn;
        lag += burst[i].spaceLag;
        pairs += burst[i].spacePairs;
    }
    const double spaceOffset = pairs > 0 ? std::arg(space) / (lag / pairs) : 0.0;  // radians per sample
    return std::abs(markOffsetHz) + std::abs(spaceOffset) * rate / (2 * kPi);
}

// How far a V.23 burst's tones may lie from the plan's and still count as
// V.23 for the flat bound: with each tone up to 50 Hz off, bursts in noise
// came to at most 130 Hz, where Bell 202 bursts 50 Hz high, which the V.23
// plan reads too, lie 155 Hz off or more.
constexpr double kV23MistuningHz = 140.0;

// The most chance of misreads that cancel that `message` may carry, its
// plan's tones `mistuningHz` from the line's.
double hiddenMisreadBound(const Message& message, double mistuningHz) {
    if (message.standard == Standard::V23Etsi && mistuningHz <= kV23MistuningHz) return kHiddenMisreadRisk;
    const double bits = 8.0 * static_cast<double>(message.raw.size());
    return std::min(kHiddenMisreadRisk, kUsRiskPerPair * bits * (bits - 1) / 2);
}

// The step of `steps` (rising, from 0) that `x` lies in.
template <std::size_t N>
std::size_t stepOf(const std::array<double, N>& steps, double x) {
    std::size_t i = 0;
    while (i + 1 < N && x >= steps[i + 1]) ++i;
    return i;
}

// What a bit's chance of a misread is weighed against: the mean certainty
// of the message's bits (`doubtfulBelow` with a share of 1) and the median
// of their tones' energy.
struct MessageReading {
    double meanCertainty = 0.0;
    double medianEnergy = 0.0;
};

MessageReading readingOf(const std::vector<ReceivedByte>& burst, std::size_t count) {
    MessageReading reading{doubtfulBelow(burst, count, 1.0), 0.0};
    std::vector<double> energies;
    energies.reserve(8 * count);
    for (std::size_t i = burst.size() - std::min(count, burst.size()); i < burst.size(); ++i) {
        energies.insert(energies.end(), burst[i].energy.begin(), burst[i].energy.end());
    }
    if (!energies.empty()) {
        const auto middle = energies.begin() + static_cast<std::ptrdiff_t>(energies.size() / 2);
        std::nth_element(energies.begin(), middle, energies.end());
        reading.medianEnergy = *middle;
    }
    return reading;
}

// A soft value, as a share of the tones' energy, overstates how clearly a
// bit was read where that energy was low: noise that cancelled much of the
// sent tone leaves a weak pair that the wrong tone's noise can lead. Below
// this share of the message's median energy a bit's certainty counts for
// less, by the square root of its energy's share of it (of the amplitude).
constexpr double kWeakEnergyShare = 0.5;

// The chance that bit `b` of `byte` was misread.
double misreadChance(const ReceivedByte& byte, std::size_t b, const MessageReading& reading) {
    if (((byte.doubted >> b) & 1u) != 0) return kDoubtedMisread;
    const double c = byte.confidence[b];
    if (c >= kCertain) return 0.0;
    double share = reading.meanCertainty > 0.0 ? c / reading.meanCertainty : 0.0;
    const double weak = kWeakEnergyShare * reading.medianEnergy;
    if (byte.energy[b] < weak) share *= std::sqrt(byte.energy[b] / weak);
    return kMisread[stepOf(kShareSteps, share)][stepOf(kGapSteps, byte.timingGap[b])];
}

// The chance that the message's sum hides misread bits: two bits of the same
// weight read as 1 and as 0, or two top bits. Bit `flipBit` of the burst's
// byte `flipByte` (a repair's flip; -1 for none) counts as misread with the
// chance `flipChance`: with 1, the sum then passes wrongly when another bit
// of its weight read the same way was the misread one; with 0, the flip is
// taken as right and only the rest of the message counts. The values are the
// message's bytes (the flip included), the certainties those of the burst's
// last bytes.
double hiddenMisreadRisk(const Message& message, const std::vector<ReceivedByte>& burst, std::size_t flipByte = 0,
                         int flipBit = -1, double flipChance = 1.0) {
    const std::size_t count = std::min(message.raw.size(), burst.size());
    const MessageReading reading = readingOf(burst, count);
    std::array<double, 8> ones{};
    std::array<double, 8> zeros{};
    double topSquares = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = burst.size() - count + k;
        const std::uint8_t value = message.raw[message.raw.size() - count + k];
        for (std::size_t b = 0; b < 8; ++b) {
            const bool flipped = i == flipByte && static_cast<int>(b) == flipBit;
            const double p = flipped ? flipChance : misreadChance(burst[i], b, reading);
            (((value >> b) & 1u) != 0 ? ones : zeros)[b] += p;
            if (b == 7) topSquares += p * p;
        }
    }
    double risk = 0.0;
    for (std::size_t b = 0; b < 7; ++b) risk += ones[b] * zeros[b];
    const double top = ones[7] + zeros[7];
    return risk + (top * top - topSquares) / 2.0;
}

// Whether a message whose sum passed is to be doubted: a pair of doubtful
// bits that could have cancelled, or too high a chance of any such pair.
bool sumDoubted(const Message& message, const std::vector<ReceivedByte>& burst, double mistuningHz) {
    if (!hasSumCheck(message.standard)) return false;
    return sumMayHideMisreads(message, burst) ||
           hiddenMisreadRisk(message, burst) > hiddenMisreadBound(message, mistuningHz);
}

// Passes events on, but holds back a message whose check failed, for the
// receiver to try its repair once the decoder's call has returned. A message
// whose sum passed stays valid only when no two doubtful bits could have
// cancelled in it and the chance of any two that did is small.
class HoldingSink final : public EventSink {
public:
    // `markOffsetHz` is the receiver's measure of the burst's mark offset,
    // read at each message.
    HoldingSink(EventSink& out, const std::vector<ReceivedByte>& burst, const double& markOffsetHz, double rate)
        : out_(out), burst_(burst), markOffsetHz_(markOffsetHz), rate_(rate) {}
    void onEvent(const Event& event) override {
        if (const auto* decoded = std::get_if<MessageDecoded>(&event)) {
            if (holdFailed && !decoded->message.valid && decoded->message.complete) {
                held = decoded->message;
                return;
            }
            if (decoded->message.valid &&
                sumDoubted(decoded->message, burst_, mistuningOf(decoded->message, burst_, markOffsetHz_, rate_))) {
                Message doubted = decoded->message;
                doubted.valid = false;
                if (followOn) {
                    dropped = true;
                    return;
                }
                out_.onEvent(MessageDecoded{std::move(doubted)});
                return;
            }
            if (decoded->message.valid) validPassed = true;
            if (!decoded->message.valid && followOn) {
                dropped = true;
                return;
            }
        }
        out_.onEvent(event);
    }
    bool holdFailed = false;
    std::optional<Message> held;
    bool validPassed = false;  // a message whose check passed went out
    // Decoding on in the carrier of a message that passed its check: what
    // comes there counts only as a whole message that passes its own check,
    // since the line's noise after the carrier's end would read as bytes too.
    bool followOn = false;
    bool dropped = false;  // such a message failed its check and was left out

private:
    EventSink& out_;
    const std::vector<ReceivedByte>& burst_;
    const double& markOffsetHz_;
    double rate_;
};

// Keeps the messages a replay produces and nothing else.
class CaptureSink final : public EventSink {
public:
    void onEvent(const Event& event) override {
        if (const auto* decoded = std::get_if<MessageDecoded>(&event)) last = decoded->message;
    }
    std::optional<Message> last;
};

}  // namespace

// One tone plan's part of the receiver: its tone filters, bit decisions and
// decoder, fed with the line filter's output.
struct PlanReceiver {
    MessageDecoder& decoder;
    EventSink& out;
    HoldingSink sink;
    SoftFskOptions options;
    double bitTime;  // nominal samples per bit
    int window;      // matched filter length, one bit
    TonePair tones;
    double floorEnergy;
    int markSamples;
    double samplingRate;

    // The soft values of the last samples, for deciding a byte once all of
    // it is in: a power of two of them, more than a byte at the slowest rate
    // and a block of samples, which goes in before the block is stepped through.
    std::vector<double> softRing;
    std::vector<double> energyRing;  // mark + space energy, for the same samples
    std::vector<std::complex<double>> spaceSumRing;  // the space filter's window sum, for the same samples
    std::size_t ringMask;

    // The tone filters' output for the block under way.
    ToneBlock block;
    std::int64_t first = 0;       // the block's first sample
    std::size_t blockLength = 0;  // samples in the block
    bool softDone = false;        // its soft values are in the ring

    std::int64_t n = -1;  // index of the newest sample
    double previousSoft = 0.0;
    Phase phase = Phase::Idle;

    // Idle: the current run of mark.
    int run = 0;
    double runEnergy = 0.0;
    double runSpaceEnergy = 0.0;
    double runTurnRe = 0.0;  // the mark filter's turns over the run
    double runTurnIm = 0.0;

    // Inside a burst.
    std::int64_t burstStart = 0;  // where its opening mark run began
    double burstOffsetHz = 0.0;   // the line's mark less the plan's, over that run
    double markRef = 1.0;    // mean mark energy of the opening mark run
    double bitLength = 0.0;  // samples per bit, tracked across the burst
    double edge = 0.0;       // where the soft value crossed zero at this byte's start bit
    double decideAt = 0.0;   // when every candidate's stop bit is in
    // A falling edge counts as a start bit's only after a clear mark: noise
    // around a rising edge's zero crossing must not start a byte.
    bool armed = false;
    int lowCarrier = 0;
    int framingErrors = 0;
    NextByte expected = NextByte::AnyByte;  // what the decoder takes next
    std::vector<ReceivedByte> bytes;

    PlanReceiver(const TonePlan& plan, MessageDecoder& d, int rate, EventSink& s, const SoftFskOptions& o)
        : decoder(d),
          out(s),
          sink(s, bytes, burstOffsetHz, rate),
          options(o),
          bitTime(static_cast<double>(rate) / plan.baud),
          window(std::max(2, static_cast<int>(std::lround(bitTime)))),
          tones(plan.markHz, plan.spaceHz, rate, window),
          floorEnergy(o.floorAmplitude * o.floorAmplitude * 0.25),
          markSamples(static_cast<int>(o.markSeconds * rate)),
          samplingRate(rate) {
        std::size_t size = 64;
        while (static_cast<double>(size) < 16 * bitTime + 16 + kBlock) size *= 2;
        softRing.assign(size, 0.0);
        energyRing.assign(size, 0.0);
        spaceSumRing.assign(size, {});
        ringMask = size - 1;
        sink.holdFailed = o.repair;
        bytes.reserve(kMostBurstBytes);
    }

    double softAt(std::int64_t i) const { return softRing[static_cast<std::size_t>(i) & ringMask]; }

    // The two tones' energy at the sample that fractional position t lies in.
    double energyAt(double t) const {
        return energyRing[static_cast<std::size_t>(static_cast<std::int64_t>(std::floor(t))) & ringMask];
    }

    // The soft value at fractional sample position t, linear between samples.
    double softAt(double t) const {
        const auto i = static_cast<std::int64_t>(std::floor(t));
        const double f = t - static_cast<double>(i);
        return softAt(i) + (softAt(i + 1) - softAt(i)) * f;
    }

    void startBurst(std::int64_t runStart) {
        burstStart = runStart;
        markRef = runEnergy / run;
        sink.onEvent(BurstDetected{runStart});
        sink.onEvent(MarkConfirmed{n});
        expected = decoder.startBurst(sink);
        sink.validPassed = false;
        sink.followOn = false;
        sink.dropped = false;
        bytes.clear();
        bitLength = bitTime;
        framingErrors = 0;
        lowCarrier = 0;
        phase = Phase::AwaitStart;
    }

    void endBurst(std::int64_t position) {
        decoder.endBurst(position, sink);
        sink.onEvent(BurstEnded{position});
        phase = Phase::Idle;
        clearRun();
    }

    // Replays the burst's bytes into the decoder with bit `flip` of byte
    // `flipByte` inverted (or none); the message the last byte completes.
    std::optional<Message> replay(std::size_t flipByte, int flip) {
        CaptureSink capture;
        decoder.startBurst(capture);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::uint8_t value = bytes[i].value;
            if (i == flipByte && flip >= 0) value = static_cast<std::uint8_t>(value ^ (1u << flip));
            if (i + 1 == bytes.size()) capture.last.reset();
            decoder.decodeByte(value, bytes[i].start, bytes[i].end, capture);
        }
        return capture.last;
    }

    // How far the line's tones under `message` lie from the plan's, in Hz.
    [[nodiscard]] double mistuning(const Message& message) const {
        return mistuningOf(message, bytes, burstOffsetHz, samplingRate);
    }

    // Whether a repaired message whose check now passes may be called valid:
    // under a sum, the flipped bit must have been doubtful, no pair of
    // doubtful bits be left that could have cancelled, and the flipped bit
    // must have been far likelier the misread one than any other of its
    // weight read the same way (flipping that one instead mends the sum too).
    bool repairStands(const Message& fixed, std::size_t flipByte, int flipBit) const {
        if (!hasSumCheck(fixed.standard)) return true;
        const std::size_t count = std::min(fixed.raw.size(), bytes.size());
        const double mean = doubtfulBelow(bytes, count, 1.0);
        const double flippedCertainty = bytes[flipByte].confidence[static_cast<std::size_t>(flipBit)];
        if (flippedCertainty >= kRepairShare * mean || sumMayHideMisreads(fixed, bytes)) return false;
        const double flippedMisread =
            misreadChance(bytes[flipByte], static_cast<std::size_t>(flipBit), readingOf(bytes, count));
        return hiddenMisreadRisk(fixed, bytes, flipByte, flipBit) <= kRepairOdds * flippedMisread &&
               hiddenMisreadRisk(fixed, bytes, flipByte, flipBit, 0.0) <= hiddenMisreadBound(fixed, mistuning(fixed));
    }

    void repairHeld() {
        Message failed = std::move(*sink.held);
        sink.held.reset();
        std::size_t weakByte = 0;
        int weakBit = -1;
        double weakest = 2.0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            for (int b = 0; b < 8; ++b) {
                const double c = bytes[i].confidence[static_cast<std::size_t>(b)];
                if (c < weakest) {
                    weakest = c;
                    weakByte = i;
                    weakBit = b;
                }
            }
        }
        if (weakBit >= 0) {
            std::optional<Message> fixed = replay(weakByte, weakBit);
            if (fixed && fixed->valid && repairStands(*fixed, weakByte, weakBit)) {
                fixed->repaired = true;
                out.onEvent(MessageDecoded{std::move(*fixed)});
                sink.validPassed = true;
                return;
            }
            replay(0, -1);  // back to the state of the bytes as received
        }
        if (sink.followOn) {
            sink.dropped = true;
        } else {
            out.onEvent(MessageDecoded{std::move(failed)});
        }
    }

    void beginByte(double at) {
        edge = at;
        armed = false;
        decideAt = at + 10.0 * bitLength * 1.04 + 1.0;
        phase = Phase::InByte;
    }

    // The bit length that the transitions of the byte that began at `edge`
    // show: where the soft value crosses zero at each change of bit, nearest
    // to where the decision's timing puts it, fitted by least squares against
    // the number of bits from the start edge. Zero where there is no
    // crossing to fit or the fit lies more than 10% off nominal.
    double transitionLength(std::uint8_t value, double shift, double length) const {
        // The start edge is the first point: zero bits, at `edge`.
        int count = 1;
        double sumBits = 0.0, sumOffsets = 0.0, sumBitsSquared = 0.0, sumProducts = 0.0;
        int previous = 0;  // the start bit
        for (int k = 1; k <= 9; ++k) {
            const int bit = k == 9 ? 1 : (value >> (k - 1)) & 1;
            if (bit == previous) continue;
            previous = bit;
            const double direction = bit == 1 ? 1.0 : -1.0;
            const double predicted = edge + shift + k * length;
            double nearest = -1.0;
            const auto last = static_cast<std::int64_t>(std::ceil(predicted + 0.5 * length));
            for (auto i = static_cast<std::int64_t>(std::floor(predicted - 0.5 * length)); i < last; ++i) {
                const double before = softAt(i) * direction;
                const double after = softAt(i + 1) * direction;
                if (before > 0.0 || after <= 0.0) continue;
                const double at = static_cast<double>(i) + before / (before - after);
                if (nearest < 0.0 || std::abs(at - predicted) < std::abs(nearest - predicted)) nearest = at;
            }
            if (nearest < 0.0) continue;
            ++count;
            sumBits += k;
            sumOffsets += nearest - edge;
            sumBitsSquared += static_cast<double>(k) * k;
            sumProducts += k * (nearest - edge);
        }
        const double spread = count * sumBitsSquared - sumBits * sumBits;
        if (count < 2 || spread <= 0.0) return 0.0;
        const double slope = (count * sumProducts - sumBits * sumOffsets) / spread;
        return std::abs(slope / bitTime - 1.0) < 0.1 ? slope : 0.0;
    }

    // The timing `l` hundredths longer than the tracked bit length and `p`
    // tenths of a bit later than the start edge: its score (the certainty of
    // its ten sampling points with a space start and a mark stop bit) and the
    // data bits it reads.
    [[nodiscard]] Candidate timingAt(int l, int p) const {
        const double length = bitLength * (1.0 + 0.01 * l);
        const double shift = 0.1 * p * length;
        double score = 0.0;
        std::uint8_t value = 0;
        for (int k = 0; k < 10; ++k) {
            const double v = softAt(edge + shift + (k + 0.5) * length);
            score += k == 0 ? -v : (k == 9 ? v : std::abs(v));
            if (k >= 1 && k <= 8 && v > 0.0) value = static_cast<std::uint8_t>(value | (1u << (k - 1)));
        }
        // Prefer the tracked timing, the length most: an echo slows the
        // line's rise after a run of space, and a length fitted freely to the
        // ten points shortens there and misreads the bit before the stop bit.
        score -= 0.15 * std::abs(l) + 0.1 * std::abs(p);
        return Candidate{score, length, shift, value};
    }

    // Of the bit lengths and phases near the tracked ones, the timing whose
    // ten sampling points are the most certain, with a space start bit and a
    // mark stop bit; a little less certain one whose byte is what the decoder
    // expects (even parity, a seven-bit character, a message type) beats one
    // that cannot be right, as long as the bits where the two differ are
    // uncertain at the best timing.
    [[nodiscard]] Candidate chooseTiming() const {
        Candidate best;
        Candidate bestExpected;
        for (int l = -kTimingSteps; l <= kTimingSteps; ++l) {
            for (int p = -kPhaseSteps; p <= kPhaseSteps; ++p) {
                const Candidate c = timingAt(l, p);
                if (c.score > best.score) best = c;
                if (c.score > bestExpected.score && isExpected(c.value)) bestExpected = c;
            }
        }
        if (bestExpected.score < best.score - kExpectationMargin) return best;
        const unsigned differ = best.value ^ bestExpected.value;
        for (int k = 1; k <= 8; ++k) {
            const bool clear = std::abs(softAt(edge + best.shift + (k + 0.5) * best.length)) >= kUncertain;
            if (((differ >> (k - 1)) & 1u) != 0 && clear) return best;
        }
        return bestExpected;
    }

    // The data bits that another timing of the byte, nearly as certain as
    // `chosen`, reads otherwise, set in `byte.doubted`: an echo or a tone
    // offset moves a bit's transitions, and a confident reading at one
    // timing is then no proof. For every bit, how near the nearest such
    // timing came, in `byte.timingGap`.
    void weighTimings(const Candidate& chosen, ReceivedByte& byte) const {
        unsigned differ = 0;
        const double margin = kTimingMargin * std::max(chosen.score, 0.0);
        for (int l = -kTimingSteps; l <= kTimingSteps; ++l) {
            for (int p = -kPhaseSteps; p <= kPhaseSteps; ++p) {
                const Candidate c = timingAt(l, p);
                const unsigned other = c.value ^ chosen.value;
                if (c.score >= chosen.score - margin) differ |= other;
                const double gap = chosen.score > 0.0 ? std::max(0.0, (chosen.score - c.score) / chosen.score) : 0.0;
                for (std::size_t b = 0; b < 8; ++b) {
                    if (((other >> b) & 1u) != 0) byte.timingGap[b] = std::min(byte.timingGap[b], gap);
                }
            }
        }
        byte.doubted = static_cast<std::uint8_t>(byte.doubted | differ);
    }

    // The byte's data bits sampled with timing `chosen`, with their
    // certainties, and where the byte lies on the line.
    [[nodiscard]] ReceivedByte sampleByte(const Candidate& chosen) const {
        ReceivedByte byte;
        for (int k = 1; k <= 8; ++k) {
            const double v = softAt(edge + chosen.shift + (k + 0.5) * chosen.length);
            if (v > 0.0) byte.value = static_cast<std::uint8_t>(byte.value | (1u << (k - 1)));
            byte.confidence[static_cast<std::size_t>(k - 1)] = std::abs(v);
            const double t = edge + chosen.shift + (k + 0.5) * chosen.length;
            byte.energy[static_cast<std::size_t>(k - 1)] = energyAt(t);
        }
        // The edge as the soft value shows it lies half a window after the
        // line's transition.
        measureSpace(byte, chosen);
        byte.start = static_cast<std::int64_t>(edge) - window / 2;
        byte.end = static_cast<std::int64_t>(edge + 10 * chosen.length) - window / 2;
        return byte;
    }

    // At the sampling points of two space bits in a row the space filter's
    // window holds the space tone alone: its turn from one to the next
    // measures the tone (a turn of one sample would carry the ripple of the
    // tone's mirror frequency).
    void measureSpace(ReceivedByte& byte, const Candidate& chosen) const {
        bool previousSpace = true;  // the start bit
        auto previousAt = static_cast<std::int64_t>(std::floor(edge + chosen.shift + 0.5 * chosen.length));
        for (int k = 1; k <= 8; ++k) {
            const bool space = ((byte.value >> (k - 1)) & 1u) == 0;
            const auto at = static_cast<std::int64_t>(std::floor(edge + chosen.shift + (k + 0.5) * chosen.length));
            if (space && previousSpace && at <= n) {
                byte.spaceTurn += spaceSumRing[static_cast<std::size_t>(at) & ringMask] *
                                  std::conj(spaceSumRing[static_cast<std::size_t>(previousAt) & ringMask]);
                byte.spaceLag += static_cast<double>(at - previousAt);
                ++byte.spacePairs;
            }
            previousSpace = space;
            previousAt = at;
        }
    }

    // Decides the byte that began at `edge` and hands it on.
    void decideByte() {
        const Candidate chosen = chooseTiming();
        ReceivedByte byte = sampleByte(chosen);
        fitExpectation(byte);
        weighTimings(chosen, byte);
        const double stopCenter = edge + chosen.shift + 9.5 * chosen.length;
        const bool stopOk = softAt(stopCenter) > 0.0;
        const double startSoft = softAt(edge + chosen.shift + 0.5 * chosen.length);
        phase = Phase::AwaitStart;
        if (!carrierHeld(chosen)) {
            // The carrier ended: what the line brings now is noise.
            endBurst(byte.start);
            return;
        }
        // A start bit must be space, and for eight marks after it a clear
        // one: continuous mark, whose soft value dips now and then, is no byte.
        if (startSoft >= 0.0 || (byte.value == 0xFF && startSoft > -kClearSpace)) {
            // A dip of noise, not a start bit: the real one may be among the
            // samples already in.
            armed = false;
            searchStart(edge + 0.5 * bitLength);
            return;
        }
        framingErrors = stopOk ? 0 : framingErrors + 1;
        // The bit rate follows the length that the good bytes' transitions
        // show (the fit above is held near the tracked length and would
        // follow an off-nominal rate too slowly).
        if (stopOk) {
            const double measured = transitionLength(byte.value, chosen.shift, chosen.length);
            bitLength = std::clamp(0.8 * bitLength + 0.2 * (measured > 0.0 ? measured : chosen.length),
                                   bitTime * 0.94, bitTime * 1.06);
        }
        if (framingErrors >= 2) {
            endBurst(byte.end);
            return;
        }
        if (!deliverByte(byte)) return;
        // The next start bit may already be in: look for its edge from the
        // middle of the stop bit on. A single stop bit between two spaces may
        // never look clearly mark; it has been read as mark, which arms the
        // search.
        armed = stopOk;
        searchStart(stopCenter);
    }

    // Whether the tones at the byte's ten sampling points hold, on the whole,
    // a fair share of the opening mark's energy.
    [[nodiscard]] bool carrierHeld(const Candidate& chosen) const {
        double energy = 0.0;
        for (int k = 0; k < 10; ++k) {
            const double t = edge + chosen.shift + (k + 0.5) * chosen.length;
            energy += energyAt(t);
        }
        return energy >= 10 * kCarrierShare * markRef;
    }

    // Gives a framed byte to the decoder; false when the burst has ended or
    // the decoder's call has taken the receiver elsewhere.
    bool deliverByte(const ReceivedByte& byte) {
        // Before a message's type, eight marks are a dip of noise in the
        // mark, not a byte: no message type is 0xFF.
        if (expected == NextByte::MessageType && byte.value == 0xFF) return true;
        // After a message, a byte that opens none is the line's noise, not
        // another message in the same carrier.
        if (sink.followOn && bytes.empty() && expected == NextByte::MessageType && !decoder.isMessageType(byte.value)) {
            endBurst(byte.start);
            return false;
        }
        // No message of any standard holds more bytes than this: a carrier
        // that goes on sending bytes (a stuck or hostile line) has sent no
        // message past it, and its burst ends, holding memory bounded.
        if (bytes.size() >= kMostBurstBytes) {
            endBurst(byte.start);
            return false;
        }
        bytes.push_back(byte);
        expected = decoder.decodeByte(byte.value, byte.start, byte.end, sink);
        if (sink.held) repairHeld();
        if (phase != Phase::AwaitStart) return false;
        // What followed a message and failed its check was not another one:
        // the carrier is given up and the line watched for the next mark.
        if (sink.dropped) {
            endBurst(byte.end);
            return false;
        }
        // Once a message has passed its check, another may follow in the
        // same carrier (message waiting, then caller ID): decode on afresh.
        if (sink.validPassed) startFollowOn();
        return true;
    }

    void startFollowOn() {
        expected = decoder.startBurst(sink);
        sink.validPassed = false;
        sink.followOn = true;
        bytes.clear();
    }

    // Looks for a start bit's edge among the samples from `from` to the
    // newest; `armed` says whether the line has been clear mark just before.
    void searchStart(double from) {
        for (auto i = static_cast<std::int64_t>(std::ceil(from)); i <= n; ++i) {
            const double before = softAt(i - 1);
            const double after = softAt(i);
            if (before > kArm) armed = true;
            if (armed && before > 0.0 && after <= 0.0) {
                beginByte(static_cast<double>(i - 1) + before / (before - after));
                return;
            }
        }
    }

    void clearRun() {
        run = 0;
        runEnergy = 0.0;
        runSpaceEnergy = 0.0;
        runTurnRe = 0.0;
        runTurnIm = 0.0;
    }

    // A sample of mark while idle; `i` is its place in the block.
    // Adds the block's samples [from, to), whose mark leads, to the run.
    void growRun(std::size_t from, std::size_t to) {
        double energy = runEnergy;
        double spaceEnergy = runSpaceEnergy;
        double turnRe = runTurnRe;
        double turnIm = runTurnIm;
        for (std::size_t j = from; j < to; ++j) {
            energy += block.energy[j][0];
            spaceEnergy += block.energy[j][1];
            // How the mark filter's sum turned since the previous sample: for
            // a steady tone, its angle is the tone's offset from the plan's
            // mark, in radians per sample.
            const double nowRe = block.sumRe[j + 1][0];
            const double nowIm = block.sumIm[j + 1][0];
            const double beforeRe = block.sumRe[j][0];
            const double beforeIm = block.sumIm[j][0];
            turnRe += nowRe * beforeRe + nowIm * beforeIm;
            turnIm += nowIm * beforeRe - nowRe * beforeIm;
        }
        run += static_cast<int>(to - from);
        runEnergy = energy;
        runSpaceEnergy = spaceEnergy;
        runTurnRe = turnRe;
        runTurnIm = turnIm;
    }

    // The sample of the block, `i`, whose mark leads and completes a run
    // long enough to open a burst, if the run holds up.
    void idleStep(std::size_t i) {
        growRun(i, i + 1);
        // Over the whole run the mark must stand well over the space tone.
        // Sample by sample it need only lead: noise on a weak line (and, for
        // V.23, the space filter's response to the mark, 800 Hz away) would
        // break a stricter run every few bits.
        if (runEnergy < kRunContrast * runSpaceEnergy) {
            clearRun();
            return;
        }
        // The mark must be this plan's: a tone further off than the largest
        // offset a line gives belongs to another standard's plan (Bell 202's
        // 1200 Hz mark lies 100 Hz from V.23's 1300 Hz).
        const double offsetHz = std::atan2(runTurnIm, runTurnRe) * samplingRate / (2 * kPi);
        if (std::abs(offsetHz) > kLargestOffsetHz) {
            clearRun();
            return;
        }
        computeSoft();
        previousSoft = softAt(n);
        burstOffsetHz = offsetHz;
        startBurst(n - run + 1 - window / 2);
    }

    void burstStep(double em, double es, double soft) {
        lowCarrier = (em + es) / markRef < 0.05 ? lowCarrier + 1 : 0;
        if (phase == Phase::AwaitStart) {
            if (lowCarrier > 2 * window) {
                endBurst(n - lowCarrier);
                return;
            }
            if (previousSoft > kArm) armed = true;
            if (armed && previousSoft > 0.0 && soft <= 0.0) {
                beginByte(static_cast<double>(n - 1) + previousSoft / (previousSoft - soft));
            }
            return;
        }
        if (static_cast<double>(n) >= decideAt) decideByte();
    }

    // An idle block in which no run of mark completes: what the sample by
    // sample scan below would leave, a run that reaches the block's end
    // grown over it, without visiting each run of noise. False, doing
    // nothing, when a run may complete in the block.
    bool passIdleBlock(std::size_t count) {
        const LeadBits leads = leadsIn(block, count);
        const auto needed = static_cast<std::size_t>(markSamples);
        const std::size_t opening = runFromStart(leads);
        if (holdsRun(leads, needed) || (run != 0 && opening >= needed - static_cast<std::size_t>(run))) {
            return false;
        }
        n = first + static_cast<std::int64_t>(count) - 1;
        if (opening == count) {
            growRun(0, count);  // the run under way, or a new one, goes on into the next block
            return true;
        }
        if (run != 0) clearRun();
        const std::size_t closing = runToEnd(leads, count);
        if (closing != 0) growRun(count - closing, count);
        return true;
    }

    // Runs the state machine over a block whose tone filters' output is in
    // `block`.
    void pushBlock(std::size_t count) {
        first = n + 1;
        blockLength = count;
        // The soft values are needed inside a burst only: an idle block gets
        // them when a burst starts in it.
        softDone = false;
        if (phase != Phase::Idle) computeSoft();
        if (phase == Phase::Idle && passIdleBlock(count)) return;
        for (std::size_t i = 0; i < count; ++i) {
            if (phase == Phase::Idle) {
                // Most of a stream is idle: skip to the next sample whose
                // mark leads, then grow the run over the samples that
                // cannot complete it, each in a loop of its own.
                const std::size_t mark = findLead(block, i, count, true);
                if (mark != i && run != 0) clearRun();
                if (mark == count) break;
                const std::size_t gap = findLead(block, mark, count, false);
                const std::size_t growTo = std::min(gap, mark + static_cast<std::size_t>(markSamples - 1 - run));
                if (growTo == gap && gap < count) {
                    // The run breaks inside the block, too short: what it
                    // would have added is cleared at the break.
                    clearRun();
                    i = gap - 1;
                    continue;
                }
                growRun(mark, growTo);
                if (growTo == gap) {
                    i = gap - 1;  // the run breaks at `gap`, or goes on into the next block
                    continue;
                }
                i = growTo;
                n = first + static_cast<std::int64_t>(i);
                idleStep(i);
            } else {
                n = first + static_cast<std::int64_t>(i);
                const double soft = softAt(n);
                burstStep(block.energy[i][0], block.energy[i][1], soft);
                previousSoft = soft;
            }
        }
        n = first + static_cast<std::int64_t>(count) - 1;
    }

    // Whether a byte is of the kind the decoder expects next.
    [[nodiscard]] bool isExpected(std::uint8_t value) const {
        switch (expected) {
        case NextByte::MessageType: return decoder.isMessageType(value);
        case NextByte::SevenBitChar: return (value & 0x80u) == 0;
        case NextByte::EvenParityChar: return std::popcount(value) % 2 == 0;
        case NextByte::DigitChar: return value >= 0x30 && value <= 0x39;
        case NextByte::AnyByte: break;
        }
        return true;
    }

    // A byte that cannot be what the decoder expects, where the expectation
    // decides uncertain bits: a character's top bit is a space, a digit's top
    // four bits are 0011 and its value at most nine, and a character with
    // odd parity has its least certain bit wrong more often than any other.
    // A bit the line sent clearly stays as sent, whatever the expectation.
    // Bits the expectation fixes count as certain, so that a repair looks
    // elsewhere.
    void fitExpectation(ReceivedByte& byte) const {
        auto& certainty = byte.confidence;
        // Sets bit `bit` to `want` when the line left it uncertain.
        auto settle = [&byte, &certainty](int bit, bool want) {
            const auto b = static_cast<std::size_t>(bit);
            if (((byte.value >> bit) & 1u) == static_cast<unsigned>(want)) {
                certainty[b] = std::max(certainty[b], kCertain);
                return;
            }
            if (certainty[b] >= kUncertain) return;
            byte.value = static_cast<std::uint8_t>(byte.value ^ (1u << bit));
            certainty[b] = kCertain;
            byte.doubted = static_cast<std::uint8_t>(byte.doubted | (1u << bit));
        };
        switch (expected) {
        case NextByte::SevenBitChar: settle(7, false); break;
        case NextByte::DigitChar: fitDigit(byte, settle); break;
        case NextByte::EvenParityChar:
            if (std::popcount(byte.value) % 2 != 0) {
                const auto weakest = std::min_element(certainty.begin(), certainty.end()) - certainty.begin();
                if (certainty[static_cast<std::size_t>(weakest)] < kUncertain) {
                    byte.value = static_cast<std::uint8_t>(byte.value ^ (1u << weakest));
                }
            }
            break;
        case NextByte::MessageType:
        case NextByte::AnyByte: break;
        }
    }

    // A digit: top bits 0011; of 1010 to 1111 below them, clearing bit 3
    // always gives a digit, clearing bit 1 or 2 does when it is the only one
    // set besides bit 3.
    template <typename Settle>
    static void fitDigit(ReceivedByte& byte, Settle& settle) {
        settle(7, false);
        settle(6, false);
        settle(5, true);
        settle(4, true);
        if ((byte.value & 0x0Fu) <= 9) return;
        const auto& certainty = byte.confidence;
        int weakest = 3;
        const bool one = (byte.value & 0x02u) != 0;
        const bool two = (byte.value & 0x04u) != 0;
        if (one && !two && certainty[1] < certainty[3]) weakest = 1;
        if (two && !one && certainty[2] < certainty[3]) weakest = 2;
        settle(weakest, false);
    }

    // The end of the stream: a byte whose start and data bits are all in is
    // still decided (its stop bit is missing, not wrong), then a burst under
    // way ends at the last sample.
    void finish() {
        while (phase == Phase::InByte && dataBitsIn()) {
            padAfterEnd();
            decideByte();
        }
        if (phase != Phase::Idle) endBurst(n + 1);
    }

    // Whether the tracked timing's last data bit has its sampling point
    // among the samples in.
    [[nodiscard]] bool dataBitsIn() const { return static_cast<double>(n) >= edge + 8.5 * bitLength + 1.0; }

    // The ring past the last sample, as far as any timing's stop bit can lie:
    // the last soft value held, without energy. The ring holds more than a
    // byte and a block, so only samples long decided are overwritten.
    void padAfterEnd() {
        const double last = softAt(n);
        const auto through = static_cast<std::int64_t>(std::ceil(edge + 10.5 * bitLength * 1.04)) + 2;
        for (std::int64_t i = n + 1; i <= through; ++i) {
            softRing[static_cast<std::size_t>(i) & ringMask] = last;
            energyRing[static_cast<std::size_t>(i) & ringMask] = 0.0;
        }
    }

    // The block's soft values, (mark - space) / (mark + space) from -1 to 1,
    // into the ring.
    void computeSoft() {
        if (softDone) return;
        softDone = true;
        for (std::size_t i = 0; i < blockLength; ++i) {
            const double em = block.energy[i][0];
            const double es = block.energy[i][1];
            const auto at = static_cast<std::size_t>(first + static_cast<std::int64_t>(i)) & ringMask;
            softRing[at] = (em - es) / (em + es + 1e-9);
            energyRing[at] = em + es;
            spaceSumRing[at] = {block.sumRe[i + 1][1], block.sumIm[i + 1][1]};
        }
    }
};

namespace {

// A message of one plan, waiting for the other plans' messages of the same
// burst, or (without its message) one let out.
struct Claim {
    std::size_t plan = 0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    double fit = 0.0;  // how far the plan's tones lie from the line's, in Hz: the less, the better
    bool valid = false;
    Message message;
};

bool overlap(const Claim& a, const Claim& b) { return a.start < b.end && b.start < a.end; }

// Whether `held` stands against `rival`: a message that passed its check
// stands against one that did not (noise on the other plan's filters must not
// take a burst's message away); of two alike, the nearer plan's.
bool stands(const Claim& held, const Claim& rival) {
    if (held.valid != rival.valid) return held.valid;
    return held.fit <= rival.fit;
}

// One burst, one message. Several plans over the same samples can each read
// a burst whose tones lie near both (a Bell 202 mark 50 Hz high is within
// reach of V.23's mark too, and the bits come out alike): of two messages of
// different plans that overlap on the line, one that passed its check stands
// against one that did not, and of two alike the one whose plan's tones lie
// nearer the line's: the mark's offset measured over the run that opened the
// burst, the space's over the message's pairs of space bits. A message waits
// while another plan is inside a burst that began before the message ended
// (its reading of the same burst comes within a few bytes), for at most a
// quarter second of stream: a live line's messages must not lag.
class Rivals {
public:
    Rivals(std::vector<EventSink*> sinks, int rate) : sinks_(std::move(sinks)), patience_(rate / 4) {}

    void offer(std::size_t plan, const Message& message, double fit) {
        Claim claim{plan, message.startSample, message.endSample, fit, message.valid, message};
        for (auto it = held_.begin(); it != held_.end();) {
            if (it->plan != plan && overlap(*it, claim)) {
                if (stands(*it, claim)) return;
                it = held_.erase(it);
                continue;
            }
            ++it;
        }
        for (const Claim& r : recent_) {
            if (r.plan != plan && overlap(r, claim) && stands(r, claim)) return;
        }
        held_.push_back(std::move(claim));
    }

    // Lets out the messages no other plan's message can overlap any more
    // (all of them at the end of the stream).
    void release(const std::vector<std::unique_ptr<PlanReceiver>>& plans, bool all) {
        for (auto it = held_.begin(); it != held_.end();) {
            if (!all && !settled(*it, plans)) {
                ++it;
                continue;
            }
            sinks_[it->plan]->onEvent(MessageDecoded{std::move(it->message)});
            it->message = Message{};
            if (recent_.size() == kRecent) recent_.erase(recent_.begin());
            recent_.push_back(std::move(*it));
            it = held_.erase(it);
        }
    }

private:
    static constexpr std::size_t kRecent = 8;

    bool settled(const Claim& claim, const std::vector<std::unique_ptr<PlanReceiver>>& plans) const {
        if (plans[claim.plan]->n > claim.end + patience_) return true;
        for (std::size_t q = 0; q < plans.size(); ++q) {
            if (q == claim.plan) continue;
            if (plans[q]->phase != Phase::Idle && plans[q]->burstStart <= claim.end) return false;
        }
        return true;
    }

    std::vector<EventSink*> sinks_;
    std::int64_t patience_;
    std::vector<Claim> held_;
    std::vector<Claim> recent_;  // the last let out, without their messages
};

// What a plan's receiver emits, on its way to the plan's sink: with several
// plans its messages go through the rivals first.
class PlanOutput final : public EventSink {
public:
    PlanOutput(EventSink& out, std::size_t index) : out_(out), index_(index) {}
    void onEvent(const Event& event) override {
        const auto* decoded = std::get_if<MessageDecoded>(&event);
        if (decoded == nullptr || rivals == nullptr) {
            out_.onEvent(event);
            return;
        }
        rivals->offer(index_, decoded->message, receiver->mistuning(decoded->message));
    }
    Rivals* rivals = nullptr;
    const PlanReceiver* receiver = nullptr;

private:
    EventSink& out_;
    std::size_t index_;
};

}  // namespace

// The line filter, a high-pass at 500 Hz against hum and a low-pass at
// 2900 Hz against the noise above the tones, run once for every plan.
struct SoftFskReceiver::Impl {
    Biquad highPass;
    Biquad lowPass;
    bool useLowPass;
    std::array<double, kBlock> filtered{};
    std::vector<std::unique_ptr<PlanOutput>> outputs;
    std::vector<std::unique_ptr<PlanReceiver>> plans;
    std::optional<Rivals> rivals;  // with more than one plan

    Impl(std::span<const ReceiverPlan> list, int rate, const SoftFskOptions& options)
        : highPass(butterworth(true, 500.0, rate)),
          lowPass(butterworth(false, 2900.0, rate)),
          useLowPass(2900.0 < 0.45 * rate) {
        std::vector<EventSink*> sinks;
        for (const ReceiverPlan& p : list) {
            outputs.push_back(std::make_unique<PlanOutput>(p.sink, plans.size()));
            plans.push_back(std::make_unique<PlanReceiver>(p.plan, p.decoder, rate, *outputs.back(), options));
            outputs.back()->receiver = plans.back().get();
            sinks.push_back(&p.sink);
        }
        if (list.size() > 1) {
            rivals.emplace(std::move(sinks), rate);
            for (const auto& o : outputs) o->rivals = &*rivals;
        }
    }

    // The line filter, then each plan's tone filters and state machine, over
    // a block. The first two plans' tone filters run in the line filter's
    // loop; any further plans', in pairs, over its stored output.
    void pushBlock(std::span<const std::int16_t> samples) {
        const std::size_t count = samples.size();
        const std::size_t lead = std::min<std::size_t>(plans.size(), 2);
        if (lead == 2) {
            runTones<true, 2>(samples.data(), count, 0);
        } else {
            runTones<true, 1>(samples.data(), count, 0);
        }
        for (std::size_t p = lead; p < plans.size(); p += 2) {
            if (p + 1 < plans.size()) {
                runTones<false, 2>(samples.data(), count, p);
            } else {
                runTones<false, 1>(samples.data(), count, p);
            }
        }
        for (const auto& plan : plans) plan->pushBlock(count);
        if (rivals) rivals->release(plans, false);
    }

    // The tone filters of plans `from` .. `from + N - 1` over a block, with
    // the line filter in the same loop when `Filter` is set (its output kept
    // for further plans), over the kept output otherwise.
    template <bool Filter, std::size_t N>
    void runTones(const std::int16_t* samples, std::size_t count, std::size_t from) {
        std::array<TonePair::Cursor, N> cursors;
        for (std::size_t k = 0; k < N; ++k) {
            PlanReceiver& plan = *plans[from + k];
            cursors[k] = plan.tones.begin(plan.floorEnergy, plan.block);
        }
        Biquad pass;  // passes samples on unchanged: b0 = 1, no state
        Biquad& second = useLowPass ? lowPass : pass;
        Cascade line(highPass, second);
        if constexpr (Filter && N == 2) {
            filterAndTwoPlans(line, samples, filtered.data(), count, cursors[0], cursors[1]);
        } else {
            filterAndTones<Filter>(line, samples, count, cursors);
        }
        if (Filter) line.store(highPass, second);
        for (std::size_t k = 0; k < N; ++k) plans[from + k]->tones.end(cursors[k], count);
    }

    // One loop over the block: each sample through the line filter (or read
    // back from its kept output), then through every cursor's tone filters.
    // The line filter is a chain of dependent operations, each waiting for
    // the last; the tone work, independent of it, fills the time between.
    // The lead flags gather a word of 64 samples in registers.
    template <bool Filter, std::size_t N>
    void filterAndTones(Cascade& line, const std::int16_t* samples, std::size_t count,
                        std::array<TonePair::Cursor, N>& cursors) {
        for (std::size_t start = 0; start < count; start += 64) {
            const std::size_t end = std::min(count, start + 64);
            std::array<std::uint64_t, N> bits{};
            for (std::size_t i = start; i < end; ++i) {
                double x = 0.0;
                if constexpr (Filter) {
                    x = line.step(static_cast<double>(samples[i]));
                    filtered[i] = x;
                } else {
                    x = filtered[i];
                }
                for (std::size_t k = 0; k < N; ++k) bits[k] |= cursors[k].step(i, x) << (i - start);
            }
            for (std::size_t k = 0; k < N; ++k) cursors[k].out->leads[start / 64] = bits[k];
        }
    }
};

SoftFskReceiver::SoftFskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                                 const SoftFskOptions& options)
    : SoftFskReceiver(std::span<const ReceiverPlan>(std::array{ReceiverPlan{plan, decoder, sink}}), samplingRate,
                      options) {}

SoftFskReceiver::SoftFskReceiver(std::span<const ReceiverPlan> plans, int samplingRate, const SoftFskOptions& options) {
    if (!receiverAcceptsRate(samplingRate)) throw std::invalid_argument("sampling rate out of range");
    if (!(options.markSeconds >= 0.01 && options.markSeconds <= 1.0)) {
        throw std::invalid_argument("mark duration out of range");
    }
    if (plans.empty()) throw std::invalid_argument("no tone plan");
    impl_ = std::make_unique<Impl>(plans, samplingRate, options);
}

SoftFskReceiver::~SoftFskReceiver() = default;

void SoftFskReceiver::push(std::span<const std::int16_t> samples) {
    Impl& r = *impl_;
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), kBlock);
        r.pushBlock(samples.first(count));
        samples = samples.subspan(count);
    }
}

void SoftFskReceiver::finish() {
    for (const auto& plan : impl_->plans) plan->finish();
    if (impl_->rivals) impl_->rivals->release(impl_->plans, true);
}

std::int64_t SoftFskReceiver::samplesPushed() const { return impl_->plans.front()->n + 1; }

}  // namespace sigcore
