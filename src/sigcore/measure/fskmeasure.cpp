#include "sigcore/measure/fskmeasure.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

#include "sigcore/dsp/fft.hpp"
#include "sigcore/measure/phasefit.hpp"
#include "sigcore/measure/tonefit.hpp"
#include "sigcore/measure/unitcircle.hpp"

namespace sigcore {

namespace {

constexpr double kFullScale = 32768.0;
// A window's normalised tone power above this (half the tone's amplitude)
// counts as the tone being there.
constexpr double kPresent = 0.25;
// A window centred on a bit holds its tone above this (0.6 of the tone's
// amplitude): the bit is there.
constexpr double kBitPresent = 0.36;
// Each bit's edges are left out of the tone fits by this part of a bit.
constexpr double kEdgeMargin = 0.15;
// Fewer edges than this between the tone's start and the mark are no
// channel seizure (a click, noise at the burst's start).
constexpr int kFewestAlternations = 3;
// More bytes than any message has, and more mark bits between two.
constexpr int kMostBytes = 4096;
// How far the bit clock may be from the nominal rate (a tenth).
constexpr double kClockTolerance = 0.1;
// The bits over which the bit period is first looked for.
constexpr double kFirstPeriodBits = 40;
// The message's edges lie on a bit grid this well at least (the mean of
// their phases' unit vectors): clean bursts reach 0.6 and more, edges of
// bits misread 0.1 to 0.3.
constexpr double kCoherentEdges = 0.3;
// How far from the nominal frequency a tone is looked for, and from the
// first pass's frequency in the second.
constexpr double kSearchHz = 100.0;
constexpr double kRefineHz = 5.0;
// Tones further apart than this (dB) have their bits followed by joint
// fits rather than by correlators.
constexpr double kFarApartDb = 6.0;
// A bit whose discriminator, normalised, reaches this holds its tone clearly.
constexpr double kClearBit = 0.5;
// Between the bits of a seizure the joint fits' power dips lower than the
// correlators': the thresholds of a tone's presence before the message are
// this part of their own.
constexpr double kFittedPresence = 0.4;
// The correlators' reading of a burst of tones far apart is kept instead of
// the joint fits' when the joint fits' tones stand less than this (dB) over
// the noise they leave and the correlators' clearly higher (by this much).
constexpr double kNoisyReadingDb = 30.0;
constexpr double kClearlyHigherDb = 1.0;
// The joint fits' window, in bits: a window centred on a bit holds no
// sample of its neighbours, at 8000 Hz too.
constexpr double kFittedWindowBits = 0.75;
constexpr int kFewestFittedSamples = 5;
// A window counts as holding one tone alone when the other tone's power in
// it is under this part of that tone's loudest.
constexpr double kAloneShare = 0.01;
// An edge splits the samples about it into its two tones: the residual
// of the two fits is under this part of either tone's alone.
constexpr double kSplitShare = 0.5;
// The joint fits' running sums are summed afresh this often.
constexpr std::size_t kResumEvery = 1024;

// How the two tones' powers over a window are found.
//  - Correlators: each tone's correlator over the analytic signal, a window
//    as long as one cycle of the tones' difference (each is then blind to a
//    whole window of the other tone). That window is longer than a bit: one
//    centred on a bit reaches into its neighbours, and once the twist is
//    large a loud neighbour leaks into the quiet tone's correlator by more
//    than the quiet tone itself.
//  - JointFit: both tones fitted at once, by least squares over the real
//    samples, over a window shorter than a bit: a window inside a bit fits
//    each tone alone, whatever their levels.
enum class Powers { Correlators, JointFit };

// The two tones' powers slid along the signal: for the window that starts
// at sample s, d[s] > 0 when it holds more mark than space, and e[s] is the
// tone power in it, both normalised so that a whole window of either tone
// gives 1.
struct Discriminator {
    std::vector<double> d;
    std::vector<double> e;
    int window = 0;
    double markRef = 0;  // the power of a whole window of each tone
    double spaceRef = 0;
    bool fitted = false;  // from joint fits (windows shorter than a bit)
    std::vector<double> steady;  // the joint fits' e, each the mean of a window's worth about it
};

}  // namespace

// What one measurement works in, kept for the next: the transform's tables
// (made again only for another size) and the arrays as long as the samples.
struct FskMeter::Work {
    std::optional<FftTables> tables;
    std::vector<double> re;
    std::vector<double> im;
    std::vector<std::complex<double>> z;  // the analytic signal
    std::vector<std::complex<double>> prefix;
    std::vector<double> mark;
    std::vector<double> space;
    std::vector<double> level;
    OnePhaseFit onePhase;  // the tones of a burst that keeps its phase
    std::vector<double> basis[4];  // the tones' cosines and sines, for the joint fits
    Discriminator disc;
    std::vector<double> order;  // values ordered for a percentile, or copied
    std::vector<double> alone;
    Powers powers = Powers::Correlators;
    UnitCircle circle;
};

namespace {

using Work = FskMeter::Work;

// The analytic signal of x (its negative frequencies removed) into w.z: a
// tone's correlator then sees no mirror image of it. The values of fft's
// transforms, with less work: the forward one reads no imaginary input (all
// 0); its bins are weighted where its butterflies leave them (bit-reversed)
// and put in natural order in place, as fft does; the inverse one's results
// are read from their bit-reversed places, scaled, for the samples kept only.
void analytic(std::span<const float> x, Work& w) {
    w.z.resize(x.size());
    if (x.empty()) return;
    int n = 1;
    while (static_cast<std::size_t>(n) < x.size()) n *= 2;
    const auto size = static_cast<std::size_t>(n);
    w.re.assign(size, 0.0);
    w.im.assign(size, 0.0);
    std::copy(x.begin(), x.end(), w.re.begin());
    if (!w.tables || w.tables->size != n) w.tables.emplace(n);
    std::vector<double>& re = w.re;
    std::vector<double>& im = w.im;
    fftStages(*w.tables, FftDirection::Forward, {re, im}, n, FftShortcuts{.skipImaginaryInput = true});
    // Bin k sits at entry i with k = bitReverse[i]: the bins under half the
    // size (doubled; bin 0 kept) at the even entries, the others (cleared;
    // bin size / 2 kept) at the odd ones, bin 0 at entry 0 and size / 2 at 1.
    for (std::size_t i = 2; i < size; ++i) {
        const double gain = i % 2 == 0 ? 2.0 : 0.0;
        re[i] *= gain;
        im[i] *= gain;
    }
    const std::vector<std::size_t>& pairs = w.tables->swapPairs;
    for (std::size_t p = 0; p + 1 < pairs.size(); p += 2) {
        std::swap(re[pairs[p]], re[pairs[p + 1]]);
        std::swap(im[pairs[p]], im[pairs[p + 1]]);
    }
    fftStages(*w.tables, FftDirection::Inverse, {re, im}, n, FftShortcuts{});
    const std::vector<int>& reversed = w.tables->bitReverse;
    const double scale = 1.0 / n;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto at = static_cast<std::size_t>(reversed[i]);
        w.z[i] = {re[at] * scale, im[at] * scale};
    }
}

// a * b written out: std::complex's product also checks for infinities,
// which these finite values never hold, at several times the cost.
std::complex<double> times(std::complex<double> a, std::complex<double> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// The reference phasor of `freq` turns by rotation from sample to sample,
// set exactly every kAnchorEvery samples.
constexpr std::size_t kAnchorEvery = 1024;
// Stretches between anchors worked on side by side: each stretch's phasor is
// a chain of products that waits on itself, so several chains keep the
// multipliers busy. Each value is the one a single walk computes.
constexpr std::size_t kSideBySide = 4;

// Each sample of z times the reference phasor of `freq` into terms[i + 1],
// over `Stretches` whole stretches between anchors from `begin`, side by side.
template <std::size_t Stretches>
void anchoredTerms(const std::vector<std::complex<double>>& z, double freq, std::size_t begin,
                   std::vector<std::complex<double>>& terms) {
    const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi * freq);
    std::array<std::complex<double>, Stretches> phasor;
    for (std::size_t k = 0; k < Stretches; ++k) {
        phasor[k] = std::polar(1.0, -2.0 * std::numbers::pi * freq * double(begin + k * kAnchorEvery));
    }
    for (std::size_t j = 0; j < kAnchorEvery; ++j) {
        for (std::size_t k = 0; k < Stretches; ++k) {
            const std::size_t i = begin + k * kAnchorEvery + j;
            terms[i + 1] = times(z[i], phasor[k]);
            phasor[k] = times(phasor[k], turn);
        }
    }
}

// Each sample of z times the reference phasor of `freq` into terms[i + 1].
void correlatorTerms(const std::vector<std::complex<double>>& z, double freq,
                     std::vector<std::complex<double>>& terms) {
    const std::size_t size = z.size();
    std::size_t begin = 0;
    for (std::size_t whole = size / kAnchorEvery; whole > 0;) {
        const std::size_t now = std::min(whole, kSideBySide);
        if (now == 4) anchoredTerms<4>(z, freq, begin, terms);
        if (now == 3) anchoredTerms<3>(z, freq, begin, terms);
        if (now == 2) anchoredTerms<2>(z, freq, begin, terms);
        if (now == 1) anchoredTerms<1>(z, freq, begin, terms);
        begin += now * kAnchorEvery;
        whole -= now;
    }
    // The last stretch, shorter than the others.
    const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi * freq);
    std::complex<double> phasor = std::polar(1.0, -2.0 * std::numbers::pi * freq * double(begin));
    for (std::size_t i = begin; i < size; ++i) {
        terms[i + 1] = times(z[i], phasor);
        phasor = times(phasor, turn);
    }
}

// The power of the correlator of `freq` over each window into `power`.
void slidingPower(Work& work, double freq, int window, std::vector<double>& power) {
    const std::vector<std::complex<double>>& z = work.z;
    std::vector<std::complex<double>>& prefix = work.prefix;
    prefix.resize(z.size() + 1);
    prefix[0] = 0.0;
    correlatorTerms(z, freq, prefix);
    for (std::size_t i = 0; i < z.size(); ++i) prefix[i + 1] = prefix[i] + prefix[i + 1];
    const auto w = static_cast<std::size_t>(window);
    const std::size_t n = z.size() >= w ? z.size() - w + 1 : 0;
    power.resize(n);
    for (std::size_t s = 0; s < n; ++s) power[s] = std::norm(prefix[s + w] - prefix[s]);
}

// The value a share p of v lies under, ordered in `scratch`.
double percentile(std::span<const double> v, double p, std::vector<double>& scratch) {
    if (v.empty()) return 0;
    scratch.assign(v.begin(), v.end());
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(k), scratch.end());
    return scratch[k];
}

// The running sums of a window's joint fit: each basis function's product
// with the samples, and the basis functions' products with each other (the
// upper triangle).
struct WindowFit {
    double xb[4] = {0, 0, 0, 0};
    double bb[4][4] = {};
};

void addSample(WindowFit& f, std::span<const float> x, const std::vector<double>* basis, std::size_t i, double sign) {
    const double v[4] = {basis[0][i], basis[1][i], basis[2][i], basis[3][i]};
    const double xs = sign * x[i];
    for (int j = 0; j < 4; ++j) {
        f.xb[j] += xs * v[j];
        for (int k = j; k < 4; ++k) f.bb[j][k] += sign * v[j] * v[k];
    }
}

// The coefficients that fit the window best (the normal equations solved
// by Cholesky's factoring); all zero when the basis is degenerate there.
void solveFit(const WindowFit& f, double* c) {
    double l[4][4] = {};
    for (int j = 0; j < 4; ++j) {
        double diag = f.bb[j][j];
        for (int k = 0; k < j; ++k) diag -= l[j][k] * l[j][k];
        if (!(diag > 0 && diag > 1e-9 * f.bb[j][j])) {
            std::fill(c, c + 4, 0.0);
            return;
        }
        l[j][j] = std::sqrt(diag);
        for (int i = j + 1; i < 4; ++i) {
            double v = f.bb[j][i];
            for (int k = 0; k < j; ++k) v -= l[i][k] * l[j][k];
            l[i][j] = v / l[j][j];
        }
    }
    double y[4];
    for (int i = 0; i < 4; ++i) {
        double v = f.xb[i];
        for (int k = 0; k < i; ++k) v -= l[i][k] * y[k];
        y[i] = v / l[i][i];
    }
    for (int i = 3; i >= 0; --i) {
        double v = y[i];
        for (int k = i + 1; k < 4; ++k) v -= l[k][i] * c[k];
        c[i] = v / l[i][i];
    }
}

// Both tones (`freq`, cycles a sample) fitted at once over each window of
// `window` samples, a cosine and a sine of each: each tone's amplitude
// squared into work.mark and work.space.
void fittedPowers(std::span<const float> x, const double* freq, int window, Work& work) {
    const std::size_t size = x.size();
    std::vector<double>* basis = work.basis;
    for (int t = 0; t < 2; ++t) {
        basis[2 * t].resize(size);
        basis[2 * t + 1].resize(size);
        // The phasor turns by rotation, set exactly every 1024 samples.
        const std::complex<double> turn = std::polar(1.0, 2.0 * std::numbers::pi * freq[t]);
        std::complex<double> phasor = 1.0;
        for (std::size_t i = 0; i < size; ++i) {
            if (i % 1024 == 0) phasor = std::polar(1.0, 2.0 * std::numbers::pi * freq[t] * double(i));
            basis[2 * t][i] = phasor.real();
            basis[2 * t + 1][i] = phasor.imag();
            phasor = times(phasor, turn);
        }
    }
    const auto w = static_cast<std::size_t>(window);
    const std::size_t n = size >= w ? size - w + 1 : 0;
    work.mark.resize(n);
    work.space.resize(n);
    WindowFit sums;
    for (std::size_t s = 0; s < n; ++s) {
        if (s % kResumEvery == 0) {
            sums = WindowFit{};
            for (std::size_t i = s; i < s + w; ++i) addSample(sums, x, basis, i, 1.0);
        } else {
            addSample(sums, x, basis, s + w - 1, 1.0);
            addSample(sums, x, basis, s - 1, -1.0);
        }
        double c[4];
        solveFit(sums, c);
        work.mark[s] = c[0] * c[0] + c[1] * c[1];
        work.space[s] = c[2] * c[2] + c[3] * c[3];
    }
}

// A tone's power over a window that holds it alone, from the joint fits:
// the median over the windows where the other tone is all but absent. (The
// loudest windows will not do: across an edge a loud tone's fit overshoots
// into the quiet one's.) The loudest windows when too few hold it alone.
double aloneRef(std::span<const double> own, std::span<const double> other, Work& work) {
    const double otherRef = percentile(other, 0.99, work.order);
    std::vector<double>& alone = work.alone;
    alone.clear();
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (other[i] < kAloneShare * otherRef) alone.push_back(own[i]);
    }
    return alone.size() < 16 ? percentile(own, 0.99, work.order) : percentile(alone, 0.5, work.order);
}

// Each value of v the mean of v's values within `half` of it (fewer at the
// ends), in place.
void smooth(std::vector<double>& v, std::size_t half, std::vector<double>& original) {
    original.assign(v.begin(), v.end());
    double sum = 0;
    std::size_t a = 0;
    std::size_t b = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        for (; b < std::min(v.size(), i + half + 1); ++b) sum += original[b];
        for (; a + half < i; ++a) sum -= original[a];
        v[i] = sum / static_cast<double>(b - a);
    }
}

// `amplitude` holds the tones' amplitudes when known (the second pass);
// otherwise a window wholly in one tone is taken from the loudest of the
// message's windows.
const Discriminator& discriminate(std::span<const float> x, Work& work, const double* freq, const double* amplitude,
                                  int window, std::size_t from, std::size_t to) {
    Discriminator& out = work.disc;
    out.window = window;
    const bool fitted = work.powers == Powers::JointFit;
    out.fitted = fitted;
    if (fitted) {
        fittedPowers(x, freq, window, work);
    } else {
        slidingPower(work, freq[0], window, work.mark);
        slidingPower(work, freq[1], window, work.space);
    }
    const std::vector<double>& m = work.mark;
    const std::vector<double>& s = work.space;
    to = std::min(to, m.size());
    from = std::min(from, to);
    const std::span<const double> mm = std::span<const double>(m).subspan(from, to - from);
    const std::span<const double> ss = std::span<const double>(s).subspan(from, to - from);
    // A whole window of a tone: its correlator sums the window's samples,
    // its fit is its amplitude.
    const double whole = fitted ? 1.0 : window;
    const auto ref = [&](std::span<const double> own, std::span<const double> other) {
        return fitted ? aloneRef(own, other, work) : percentile(own, 0.99, work.order);
    };
    const double mRef = std::max(amplitude ? std::pow(amplitude[0] * whole, 2) : ref(mm, ss), 1e-9);
    const double sRef = std::max(amplitude ? std::pow(amplitude[1] * whole, 2) : ref(ss, mm), 1e-9);
    out.markRef = mRef;
    out.spaceRef = sRef;
    out.d.resize(m.size());
    out.e.resize(m.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        // Each quotient once: the arrays written might, for all the compiler
        // knows, be those read, so it would divide again for e.
        const double mark = m[i] / mRef;
        const double space = s[i] / sRef;
        out.d[i] = mark - space;
        out.e[i] = mark + space;
    }
    if (fitted) {
        out.steady.assign(out.e.begin(), out.e.end());
        smooth(out.steady, static_cast<std::size_t>(window / 2), work.order);
    }
    return out;
}

double valueAt(const std::vector<double>& v, double s) {
    if (v.empty()) return 0;
    const double c = std::clamp(s, 0.0, static_cast<double>(v.size() - 1));
    const auto i = static_cast<std::size_t>(c);
    const double f = c - static_cast<double>(i);
    return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}

// How far window s is from holding one tone alone: a whole window's power
// of one tone (1, normalised) and none of the other.
double impurity(const Discriminator& disc, std::size_t s) {
    const double mark = (disc.e[s] + disc.d[s]) / 2;
    const double space = (disc.e[s] - disc.d[s]) / 2;
    return std::min(std::abs(mark - 1) + std::abs(space), std::abs(space - 1) + std::abs(mark));
}

// The discriminator's value for the bit whose centred window starts at s.
// The joint fits' window is the purest within a sample of it: one that
// reaches a sample into a neighbour of the other tone is thrown far off by
// it when the tones' levels are far apart, and a bit of few samples has
// few windows wholly inside it.
double bitValue(const Discriminator& disc, double s) {
    if (!disc.fitted || disc.d.empty()) return valueAt(disc.d, s);
    const double last = static_cast<double>(disc.d.size() - 1);
    const auto from = static_cast<std::size_t>(std::clamp(std::floor(s) - 1, 0.0, last));
    const auto to = static_cast<std::size_t>(std::clamp(std::floor(s) + 2, 0.0, last));
    std::size_t purest = from;
    for (std::size_t i = from + 1; i <= to; ++i) {
        if (impurity(disc, i) < impurity(disc, purest)) purest = i;
    }
    return disc.d[purest];
}

struct Edge {
    double at = 0;  // first sample of the new bit, fractional
    bool toSpace = false;
};

// Where d changes sign while a tone is there; a window starting at s is
// half in the new bit when the edge lies at s + window / 2.
std::vector<Edge> findEdges(const Discriminator& disc) {
    std::vector<Edge> edges;
    for (std::size_t s = 0; s + 1 < disc.d.size(); ++s) {
        const double a = disc.d[s];
        const double b = disc.d[s + 1];
        if ((a > 0) == (b > 0) || disc.e[s] < kPresent || disc.e[s + 1] < kPresent) continue;
        const double cross = static_cast<double>(s) + a / (a - b);
        edges.push_back({cross + disc.window / 2.0, a > 0});
    }
    return edges;
}

// What is left of x over [a, b) once one tone (the basis' pair `k`: a
// cosine and a sine) is fitted to it: the residual's energy.
double oneToneResidual(std::span<const float> x, const std::vector<double>* basis, int k, std::size_t a,
                       std::size_t b) {
    double xx = 0, xc = 0, xs = 0, cc = 0, ss = 0, cs = 0;
    for (std::size_t i = a; i < b; ++i) {
        const double v = x[i];
        const double c = basis[2 * k][i];
        const double s = basis[2 * k + 1][i];
        xx += v * v;
        xc += v * c;
        xs += v * s;
        cc += c * c;
        ss += s * s;
        cs += c * s;
    }
    const double det = cc * ss - cs * cs;
    if (!(det > 0)) return xx;
    return xx - (ss * xc * xc - 2 * cs * xc * xs + cc * xs * xs) / det;
}

// The joint fits' sign changes lie early or late by up to a third of a bit
// when the tones' levels are far apart (one sample of the loud tone upsets
// the quiet one's fit). Each edge is moved to where the samples split best
// into its two tones: the sample, within `span` of it, that leaves the
// least residual when the `span` samples before it are fitted with the old
// tone and the `span` from it with the new. The edge then lies in the half
// sample before that one.
std::vector<Edge> splitEdges(std::span<const float> x, const Work& work, const std::vector<Edge>& edges, int span) {
    std::vector<Edge> out;
    const auto n = static_cast<long>(x.size());
    for (const Edge& e : edges) {
        const long centre = std::lround(e.at);
        const int old = e.toSpace ? 0 : 1;
        double least = 0;
        long split = -1;
        for (long t = centre - span; t <= centre + span; ++t) {
            if (t - span < 0 || t + span > n) continue;
            const auto at = static_cast<std::size_t>(t);
            const auto w = static_cast<std::size_t>(span);
            const double r = oneToneResidual(x, work.basis, old, at - w, at) +
                             oneToneResidual(x, work.basis, 1 - old, at, at + w);
            if (split < 0 || r < least) {
                least = r;
                split = t;
            }
        }
        if (split < 0) continue;
        // No edge where one tone fits the samples about as well: the sign
        // change was the fits' wavering within a run of one tone.
        const auto at = static_cast<std::size_t>(split);
        const auto w = static_cast<std::size_t>(span);
        const double one = std::min(oneToneResidual(x, work.basis, old, at - w, at + w),
                                    oneToneResidual(x, work.basis, 1 - old, at - w, at + w));
        if (!(least < kSplitShare * one)) continue;
        const Edge moved{static_cast<double>(split) - 0.5, e.toSpace};
        // Two sign changes around one edge split there alike.
        if (!out.empty() && out.back().at == moved.at && out.back().toSpace == moved.toSpace) continue;
        out.push_back(moved);
    }
    std::sort(out.begin(), out.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
    return out;
}

// Where `level` (of windows `window` long) falls below `threshold`,
// searching from window start `s` in direction `step` (+1 or -1): the
// position in samples where the window is half in the tone.
std::optional<double> boundary(const std::vector<double>& level, double threshold, int window, double s, int step) {
    if (level.empty()) return std::nullopt;
    auto i = static_cast<std::ptrdiff_t>(std::clamp(s, 0.0, static_cast<double>(level.size() - 1)));
    const auto n = static_cast<std::ptrdiff_t>(level.size());
    for (; i + step >= 0 && i + step < n; i += step) {
        const double a = level[static_cast<std::size_t>(i)];
        const double b = level[static_cast<std::size_t>(i + step)];
        if (a >= threshold && b < threshold) {
            const double cross = static_cast<double>(i) + step * (a - threshold) / (a - b);
            return cross + window / 2.0;
        }
    }
    return std::nullopt;
}

// The first pass finds where the tones begin and end from the
// correlators' power (the joint fits' averaged: over their few samples a
// quiet tone's power wavers with noise).
std::optional<double> toneBoundary(const Discriminator& disc, double s, int step, double presence = 1) {
    return boundary(disc.fitted ? disc.steady : disc.e, kPresent * presence, disc.window, s, step);
}

// With a tone's amplitude known, from the signal's own power over windows
// of the same length: unlike the correlators, it rings before no edge.
std::optional<double> powerBoundary(std::span<const float> x, double amplitude, int window, double s, int step,
                                    std::vector<double>& level) {
    const auto w = static_cast<std::size_t>(window);
    if (x.size() < w || amplitude <= 0) return std::nullopt;
    level.resize(x.size() - w + 1);
    double sum = 0;
    for (std::size_t i = 0; i < w; ++i) sum += static_cast<double>(x[i]) * x[i];
    const double whole = amplitude * amplitude / 2.0 * window;
    for (std::size_t i = 0; i < level.size(); ++i) {
        level[i] = sum / whole;
        if (i + w < x.size()) sum += static_cast<double>(x[i + w]) * x[i + w] - static_cast<double>(x[i]) * x[i];
    }
    return boundary(level, 0.5, window, s, step);
}

// The bit clock: edge = intercept(edge kind) + n * period, fitted by least
// squares with one intercept for each kind of edge (a tone's level can move
// one kind's edges against the other's). Edges are numbered as they come,
// with the clock as fitted so far.
struct Clock {
    double origin = 0;  // the first start bit's first sample
    double period = 0;  // samples per bit
};

// A bit period, and how well the edges keep it: the length of the mean of
// their phases' unit vectors (1: every edge on the grid).
struct Period {
    double samples = 0;
    double coherence = 0;
};

// The period among [lo, hi], in steps of `step`, at which the phases of the
// edges from `first` to `last` line up most (the edges' periodogram).
Period alignedPeriod(const std::vector<Edge>& edges, double first, double last, double lo, double hi, double step,
                     const UnitCircle& circle) {
    Period best{lo, 0};
    double bestPower = -1;
    // The edges (in order) that any period of the span may take: those
    // within half the longest of the stretch.
    const auto before = [](const Edge& e, double at) { return e.at < at; };
    const auto after = [](double at, const Edge& e) { return at < e.at; };
    const auto from = std::lower_bound(edges.begin(), edges.end(), first - hi / 2, before);
    const auto to = std::upper_bound(from, edges.end(), last + hi / 2, after);
    for (double p = lo; p <= hi; p += step) {
        double c = 0;
        double sn = 0;
        int count = 0;
        for (const Edge& e : std::span<const Edge>(from, to)) {
            if (e.at < first - p / 2 || e.at > last + p / 2) continue;
            const std::complex<double> phase = circle.at((e.at - first) / p);
            c += phase.real();
            sn += phase.imag();
            ++count;
        }
        const double power = c * c + sn * sn;
        if (power > bestPower) {
            bestPower = power;
            best = {p, count > 0 ? std::sqrt(power) / count : 0};
        }
    }
    return best;
}

// The bit period the message's edges keep best, within the clock's
// tolerance of the nominal: edges numbered with the nominal period drift off
// their bits within a byte or two once the rate is several per cent off.
// Searched over the first bits, then over four times as many near what
// they found: the periodogram's peak narrows as the edges span more bits.
Period edgePeriod(const std::vector<Edge>& edges, double first, double last, double period0,
                  const UnitCircle& circle) {
    double lo = period0 * (1 - kClockTolerance);
    double hi = period0 * (1 + kClockTolerance);
    Period best{period0, 0};
    for (double span = kFirstPeriodBits * period0;; span *= 4) {
        const double until = std::min(last, first + span);
        // A quarter of the peak's width.
        const double lobe = period0 / std::max(1.0, (until - first) / period0);
        best = alignedPeriod(edges, first, until, lo, hi, lobe / 4, circle);
        if (until >= last) break;
        lo = std::max(lo, best.samples - 2 * lobe);
        hi = std::min(hi, best.samples + 2 * lobe);
    }
    return best;
}

Clock fitClock(const std::vector<Edge>& edges, double first, double last, double period) {
    struct Group {
        double n = 0, p = 0, nn = 0, np = 0, count = 0;
    };
    Group g[2];
    double origin[2] = {first, first};
    const auto refit = [&]() {
        double num = 0;
        double den = 0;
        for (const Group& k : g) {
            if (k.count < 1) continue;
            num += k.np - k.n * k.p / k.count;
            den += k.nn - k.n * k.n / k.count;
        }
        if (den > 0 && num > 0) period = num / den;
        for (int k = 0; k < 2; ++k) {
            if (g[k].count >= 1) origin[k] = (g[k].p - period * g[k].n) / g[k].count;
        }
    };
    // Refitted after every edge: a clock a few per cent off drifts by half a
    // bit within twenty bits, fewer than a byte's worth of sparse edges.
    for (const Edge& e : edges) {
        if (e.at < first - period / 2 || e.at > last + period / 2) continue;
        const int k = e.toSpace ? 0 : 1;
        const double n = std::round((e.at - origin[k]) / period);
        g[k].n += n;
        g[k].p += e.at;
        g[k].nn += n * n;
        g[k].np += n * e.at;
        g[k].count += 1;
        refit();
    }
    const double o = g[1].count >= 1 ? (origin[0] + origin[1]) / 2 : origin[0];
    return {o, period};
}

// One stretch of bits of the same tone, [begin, end) in samples.
using Run = ToneRun;

void addStretch(std::vector<Stretch>& out, const Run& r, double margin, std::size_t size) {
    const double b = std::ceil(r.begin + margin);
    const double e = std::ceil(r.end - margin);
    if (b < 0 || e > static_cast<double>(size) || e - b < 3) return;
    out.push_back({static_cast<std::size_t>(b), static_cast<std::size_t>(e)});
}

// The message's bits as runs of one tone, and the mark bits between bytes.
struct MessageBits {
    std::vector<Run> runs;
    std::optional<int> gapMin;
    std::optional<int> gapMax;
    int lastBit = 0;  // the last byte's stop bit
};

// The bytes: a start bit, eight bits, then mark bits up to the next start
// bit; the last byte is the one whose stop bit reaches the message's end.
MessageBits walkBytes(const Discriminator& disc, const Clock& clock, double msgE) {
    const double T = clock.period;
    const auto bitStart = [&](double n) { return clock.origin + n * T; };
    const auto isMark = [&](double n) { return bitValue(disc, bitStart(n) + T / 2 - disc.window / 2.0) > 0; };
    MessageBits out;
    std::vector<Run>& runs = out.runs;
    const auto addBit = [&](int k, bool mark) {
        if (!runs.empty() && runs.back().mark == mark) {
            runs.back().end = bitStart(k + 1);
        } else {
            runs.push_back({bitStart(k), bitStart(k + 1), mark});
        }
    };
    int n = 0;
    for (int bytes = 0; bytes < kMostBytes; ++bytes) {
        for (int k = 0; k < 9; ++k) addBit(n + k, k == 0 ? false : isMark(n + k));
        const int stop = n + 9;
        if (bitStart(stop + 1) >= msgE - T / 2) {
            addBit(stop, true);
            out.lastBit = stop;
            break;
        }
        int marks = 0;
        while (marks < kMostBytes && isMark(stop + marks) && bitStart(stop + marks + 1) < msgE - T / 2) {
            addBit(stop + marks, true);
            ++marks;
        }
        out.gapMin = std::min(out.gapMin.value_or(marks), marks);
        out.gapMax = std::max(out.gapMax.value_or(marks), marks);
        n = stop + marks;
        out.lastBit = n;
    }
    return out;
}

// What comes before the first start bit: the mark and, before it perhaps,
// the alternating bits of a channel seizure.
struct LeadIn {
    double onset = 0;  // where the tone begins
    double markStart = 0;
    int seizureBits = 0;
    int seizureDoubt = 0;      // see FskMeasurement::seizureDoubt
    std::vector<Run> seizure;  // its bits
};

// The count of seizure bits before the grid's last edge, `before`,
// refined by where the signal's own power begins (the correlators ring
// before the tone), under the tone that agrees with the count. Under the
// wrong tone a loud first bit seems to begin early; so the count must also
// put a bit of that tone first. Of two such counts whose first bits hold
// their tones clearly, the one whose power boundary lies nearer its bit's
// edge on the grid wins when the two lie a quarter of a bit apart or more
// (a quiet first bit's power crosses half a loud tone's well inside the
// bit; noise moves a boundary by less), else the one whose first bit holds
// its tone the more clearly. Tones of levels far apart: the quiet
// one's power falls at the true onset and the loud one's a bit later, both
// counts agreeing with their tone; the earlier wins when its first bit
// holds its tone.
int refinedCount(std::span<const float> x, const Discriminator& disc, double grid, double T, int before,
                 const double* amplitudes, std::vector<double>& level) {
    const int window = disc.window;
    const bool earliest = std::abs(20 * std::log10(amplitudes[0] / amplitudes[1])) > kFarApartDb;
    double bestScore = 0;
    double bestStart = 0;
    double bestMisfit = 0;
    const int rough = before;
    for (const bool mark : {true, false}) {
        const auto start = powerBoundary(x, amplitudes[mark ? 0 : 1], window, grid - rough * T + T / 2, -1, level);
        if (!start) continue;
        const int counted = static_cast<int>(std::lround((grid - *start) / T));
        const double d = valueAt(disc.d, grid - counted * T + T / 2 - window / 2.0);
        const double score = mark ? d : -d;
        if ((counted % 2 == 0) != mark || std::abs(counted - rough) > 1) continue;
        const double misfit = std::abs(*start - (grid - counted * T));
        const bool clear = score > kClearBit && bestScore > kClearBit && std::abs(misfit - bestMisfit) > T / 4;
        const bool better = earliest ? score > kClearBit && (bestScore == 0 || *start < bestStart)
                            : clear  ? misfit < bestMisfit
                                     : score > bestScore;
        if (better) {
            bestScore = score;
            bestStart = *start;
            bestMisfit = misfit;
            before = counted;
        }
    }
    return before;
}

LeadIn leadIn(std::span<const float> x, const Discriminator& disc, const std::vector<Edge>& edges,
              const Clock& clock, const double* amplitudes, double presence, std::vector<double>& level) {
    const double T = clock.period;
    const int window = disc.window;
    LeadIn out;
    out.onset = toneBoundary(disc, clock.origin - window, -1, presence).value_or(0.0);
    // Alternating bits before the mark: a seizure when there are a few.
    const Edge* lastAlternation = nullptr;
    int alternations = 0;
    for (const Edge& e : edges) {
        if (e.at > out.onset + T / 2 && e.at < clock.origin - T / 2) {
            lastAlternation = &e;
            ++alternations;
        }
    }
    if (alternations < kFewestAlternations) {
        if (amplitudes) {
            out.onset = powerBoundary(x, amplitudes[0], window, out.onset + T, -1, level).value_or(out.onset);
        }
        out.markStart = out.onset;
        return out;
    }
    // The seizure's own bit clock (its bits need not be in step with the
    // message's): the edges' mean offset from a grid of period T.
    double offset = 0;
    int count = 0;
    for (const Edge& e : edges) {
        if (e.at > out.onset + T / 2 && e.at <= lastAlternation->at) {
            offset += e.at - lastAlternation->at - std::round((e.at - lastAlternation->at) / T) * T;
            ++count;
        }
    }
    const double grid = lastAlternation->at + offset / std::max(count, 1);
    // The first bit on that grid: the earliest whose window, centred on
    // it, holds the tone. The bit before the grid's last edge is a space,
    // so the first one is a mark when an even number of bits lie before.
    int before = 1;
    const double bitPresent = kBitPresent * presence;
    while (grid - (before + 1) * T > 0 && valueAt(disc.e, grid - (before + 0.5) * T - window / 2.0) >= bitPresent) {
        ++before;
    }
    if (amplitudes) before = refinedCount(x, disc, grid, T, before, amplitudes, level);
    out.onset = grid - before * T;
    const bool firstMark = before % 2 == 0;
    out.markStart = grid;
    int bits = static_cast<int>(std::lround((grid - out.onset) / T));
    // A seizure that opens with a space bit is counted in whole pairs: its
    // closing mark bit belongs to it, not to the mark.
    if (!firstMark && bits % 2 == 1) {
        ++bits;
        out.markStart += T;
    }
    out.seizureBits = bits;
    out.seizureDoubt = firstMark ? +1 : -1;
    for (int k = 0; k < bits; ++k) {
        out.seizure.push_back({out.onset + k * T, out.onset + (k + 1) * T, (k % 2 == 0) == firstMark});
    }
    return out;
}

double dbfs(double amplitude) { return 20.0 * std::log10(std::max(amplitude, 1e-9) / kFullScale); }

// Each tone's frequency and level fitted over the runs that carry it, the
// twist, and the noise the fits leave; false when a tone has no run.
bool fitTonesOf(std::span<const float> x, const std::vector<Run>& runs, double T, int rate,
                const FskNominal& nominal, Work& work, FskMeasurement& out) {
    std::vector<Stretch> markStretches;
    std::vector<Stretch> spaceStretches;
    for (const Run& r : runs) addStretch(r.mark ? markStretches : spaceStretches, r, kEdgeMargin * T, x.size());
    if (markStretches.empty() || spaceStretches.empty()) return false;
    // The second pass looks only near what the first found.
    const bool again = out.markHz > 0;
    const double span = (again ? kRefineHz : kSearchHz) / rate;
    double freq[2] = {(again ? out.markHz : nominal.markHz) / rate, 0};
    bestFrequency(x, markStretches, freq, 1, 0, span);
    const FitSums markFit = fitTones(x, markStretches, freq, 1);
    out.markHz = freq[0] * rate;
    freq[0] = (again ? out.spaceHz : nominal.spaceHz) / rate;
    bestFrequency(x, spaceStretches, freq, 1, 0, span);
    const FitSums spaceFit = fitTones(x, spaceStretches, freq, 1);
    out.spaceHz = freq[0] * rate;
    // The second pass, the bits and levels known, tries the burst as one
    // signal that keeps its phase, for the frequencies only: the levels and
    // the noise stay those of the runs' own fits, which a sender that
    // switches tone between samples fits best.
    const double fitted[2] = {meanAmplitude(markFit, 0), meanAmplitude(spaceFit, 0)};
    double both[2] = {out.markHz / rate, out.spaceHz / rate};
    if (again && work.onePhase.fit(x, runs, fitted, rate, both)) {
        out.markHz = both[0] * rate;
        out.spaceHz = both[1] * rate;
    }
    // The residual of the fits is the noise over the whole band (two
    // degrees of freedom per stretch went to the fit); the burst's band
    // is the two tones and a bit rate around them.
    const double samples = static_cast<double>(markFit.samples + spaceFit.samples);
    const double dof = samples - 2.0 * static_cast<double>(markFit.stretches + spaceFit.stretches);
    const double noise = (markFit.residual + spaceFit.residual) / std::max(dof, 1.0);
    // Samples of few bits (8-bit audio) round a quiet tone's fundamental
    // by up to a few per cent unless noise dithers it: the levels reported
    // are those of the tones before the rounding. The rounding's own noise,
    // a step squared over twelve, is no noise from before it. The first
    // pass keeps the levels as the samples hold them: the second compares
    // the samples' own power with them.
    const double step = again ? sampleStep(x) : 1.0;
    const double dither = std::sqrt(std::max(0.0, noise - step * step / 12));
    const double markAmp = unroundedAmplitude(meanAmplitude(markFit, 0), step, dither);
    const double spaceAmp = unroundedAmplitude(meanAmplitude(spaceFit, 0), step, dither);
    out.markDbfs = dbfs(markAmp);
    out.spaceDbfs = dbfs(spaceAmp);
    out.twistDb = out.markDbfs - out.spaceDbfs;
    const double signal = (markFit.explained[0] + spaceFit.explained[0]) / std::max(samples, 1.0);
    const double band = std::abs(out.spaceHz - out.markHz) + nominal.baud;
    const double inBand = noise * std::min(1.0, band / (rate / 2.0));
    out.snrDb = 10.0 * std::log10(std::max(signal, 1e-12) / std::max(inBand, 1e-12));
    return true;
}

// Where a tone fitted before it stops: the e that best explains the
// samples from `from` on as the tone up to e and nothing after, searched
// up to `to`. Each sample the tone is held longer gains 2 x t - t^2: t^2
// while the tone is there, -t^2 once it is not. Unlike the power over a
// window, this does not ripple with the tone's frequency and phase. The
// end lies between the last sample of the tone and the first without it.
double fittedEnd(std::span<const float> x, const ToneModel& tone, std::size_t from, std::size_t to) {
    double sum = 0;
    double best = 0;
    std::size_t end = from;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i) {
        const double t = tone.at(i);
        sum += t * (2.0 * static_cast<double>(x[i]) - t);
        if (sum > best) {
            best = sum;
            end = i + 1;
        }
    }
    return static_cast<double>(end) - 0.5;
}

// The carrier's end, looked for after the last stop bit (the mark's
// frequency and amplitude known in the second pass); none in the samples
// held: the burst was not followed to its end.
std::optional<double> carrierEnd(std::span<const float> x, const Discriminator& disc, double messageEndAt,
                                 double bitPeriod, const double* tones, const double* amplitudes,
                                 std::vector<double>& level) {
    const int window = disc.window;
    const std::optional<double> rough = toneBoundary(disc, messageEndAt - window, +1);
    if (!rough || !amplitudes) return rough;
    const double power = powerBoundary(x, amplitudes[0], window, messageEndAt - window, +1, level).value_or(*rough);
    // The mark of the last stop bit, fitted on its body; the end is looked
    // for up to a bit beyond where the power says it is.
    const double margin = kEdgeMargin * bitPeriod;
    const auto begin = static_cast<std::size_t>(std::max(0.0, std::ceil(messageEndAt - bitPeriod + margin)));
    const auto end = static_cast<std::size_t>(std::max(0.0, std::floor(messageEndAt - margin)));
    if (end < begin + 3 || end > x.size()) return power;
    const ToneModel mark = fitModel(x, Stretch{begin, end}, tones, 1);
    const double amplitude = std::hypot(mark.coefficients[0], mark.coefficients[1]);
    // A stop bit that does not hold the mark as measured (a message cut
    // off in a byte): the power's boundary stands.
    if (!(amplitude > 0.7 * amplitudes[0] && amplitude < 1.4 * amplitudes[0])) return power;
    const auto to = static_cast<std::size_t>(std::max(0.0, power + bitPeriod + window));
    return fittedEnd(x, mark, end, to);
}

// The window the tones' powers are found over. Over one as long as one
// cycle of the tones' difference each correlator is blind to the other
// tone; that is about a bit and a quarter for the caller-ID tone plans. The
// joint fits look inside a bit.
int powersWindow(Powers powers, int rate, const FskNominal& nominal) {
    if (powers == Powers::JointFit) {
        return std::max(kFewestFittedSamples, static_cast<int>(std::lround(kFittedWindowBits * rate / nominal.baud)));
    }
    const double shift = std::abs(nominal.spaceHz - nominal.markHz);
    return std::max(3, static_cast<int>(std::lround(rate / std::max(shift, nominal.baud / 2))));
}

// One pass of the analysis; the first finds the tones, the second follows
// the bits again with the tones' frequencies and levels known. `z` is the
// analytic signal of `x`.
FskMeasurement analyse(std::span<const float> x, Work& work, std::int64_t first, int rate, const FskNominal& nominal,
                       std::int64_t messageStart, std::int64_t messageEnd, const FskMeasurement* known) {
    FskMeasurement out;
    if (known) {
        out.markHz = known->markHz;
        out.spaceHz = known->spaceHz;
    }
    const double period0 = rate / nominal.baud;
    const bool fitted = work.powers == Powers::JointFit;
    const int window = powersWindow(work.powers, rate, nominal);
    const double msgS = static_cast<double>(messageStart - first);
    const double msgE = static_cast<double>(messageEnd - first);
    if (msgS < 0 || msgE <= msgS + 9 * period0 || msgE > static_cast<double>(x.size())) return out;
    const double tones[2] = {(known ? known->markHz : nominal.markHz) / rate,
                             (known ? known->spaceHz : nominal.spaceHz) / rate};
    double amplitudes[2] = {0, 0};
    if (known) {
        amplitudes[0] = kFullScale * std::pow(10.0, known->markDbfs / 20);
        amplitudes[1] = kFullScale * std::pow(10.0, known->spaceDbfs / 20);
    }
    const Discriminator& disc = discriminate(x, work, tones, known ? amplitudes : nullptr, window,
                                            static_cast<std::size_t>(msgS),
                                            static_cast<std::size_t>(std::max(msgS, msgE - window)));
    const std::vector<Edge> edges = fitted ? splitEdges(x, work, findEdges(disc), window) : findEdges(disc);
    // The first start bit: the mark-to-space edge nearest the decoder's.
    const Edge* start = nullptr;
    for (const Edge& e : edges) {
        if (e.toSpace && std::abs(e.at - msgS) < period0 && (!start || std::abs(e.at - msgS) < std::abs(start->at - msgS))) {
            start = &e;
        }
    }
    if (start == nullptr) return out;
    // The clock's first guess: the first pass's from the edges, the second
    // the first pass's rate.
    double seed = rate / (known ? known->bitRate : nominal.baud);
    if (!known) {
        const Period p = edgePeriod(edges, start->at, msgE, period0, work.circle);
        // Edges that keep no bit clock are not the message's bits.
        if (p.coherence < kCoherentEdges) return out;
        seed = p.samples;
    }
    const Clock clock = fitClock(edges, start->at, msgE, seed);
    const double T = clock.period;
    // A clock far from the nominal bit rate is no FSK burst's.
    if (!(std::abs(T - period0) < kClockTolerance * period0)) return out;
    const auto bitStart = [&](double n) { return clock.origin + n * T; };

    MessageBits bits = walkBytes(disc, clock, msgE);
    std::vector<Run>& runs = bits.runs;
    const double messageEndAt = bitStart(bits.lastBit + 1);
    // Bits read wrong walk past the decoder's end, or stop short of it.
    if (std::abs(messageEndAt - msgE) > T) return out;
    const std::optional<double> endAt =
        carrierEnd(x, disc, messageEndAt, T, tones, known ? amplitudes : nullptr, work.level);
    if (!endAt) return out;
    // No bit outlasts the carrier (the last stop bit read past its end
    // holds silence).
    for (Run& r : runs) r.end = std::min(r.end, *endAt);

    // Before the first start bit: the mark, and before it perhaps the
    // alternating bits of a channel seizure.
    const LeadIn lead = leadIn(x, disc, edges, clock, known ? amplitudes : nullptr, fitted ? kFittedPresence : 1.0,
                               work.level);
    if (lead.seizureBits > 0) {
        out.seizureBits = lead.seizureBits;
        out.seizureDoubt = lead.seizureDoubt;
        out.seizureStart = lead.onset + static_cast<double>(first);
    }
    const double markStart = lead.markStart;
    out.markBits = static_cast<int>(std::lround((clock.origin - markStart) / T));
    runs.insert(runs.begin(), Run{markStart, clock.origin, true});
    runs.insert(runs.begin(), lead.seizure.begin(), lead.seizure.end());

    if (!fitTonesOf(x, runs, T, rate, nominal, work, out)) return out;
    out.bitRate = rate / T;
    out.stopBitsMin = bits.gapMin;
    out.stopBitsMax = bits.gapMax;
    out.markStart = markStart + static_cast<double>(first);
    out.messageStart = clock.origin + static_cast<double>(first);
    out.end = *endAt + static_cast<double>(first);
    out.measured = true;
    return out;
}

}  // namespace

FskMeter::FskMeter() : work_(std::make_unique<Work>()) {}
FskMeter::~FskMeter() = default;
FskMeter::FskMeter(FskMeter&&) noexcept = default;
FskMeter& FskMeter::operator=(FskMeter&&) noexcept = default;

FskMeasurement measureFsk(std::span<const float> x, std::int64_t first, int rate, const FskNominal& nominal,
                          std::int64_t messageStart, std::int64_t messageEnd) {
    FskMeter meter;
    return meter.measure(x, first, rate, nominal, messageStart, messageEnd);
}

FskMeasurement FskMeter::measure(std::span<const float> x, std::int64_t first, int rate, const FskNominal& nominal,
                                 std::int64_t messageStart, std::int64_t messageEnd) {
    Work& work = *work_;
    work.powers = Powers::Correlators;
    work.disc.markRef = work.disc.spaceRef = 0;
    analytic(x, work);
    FskMeasurement rough = analyse(x, work, first, rate, nominal, messageStart, messageEnd, nullptr);
    // Tones of levels far apart are followed by joint fits too. The twist is
    // the fitted one or, when the bits could not be followed, the
    // correlators' loudest windows' (the loud tone's leak raises the quiet
    // one's: it reads about half the twist).
    double twistDb = rough.twistDb;
    if (!rough.measured) {
        const Discriminator& d = work.disc;
        const double seen = d.markRef > 0 && d.spaceRef > 0 ? 10 * std::log10(d.markRef / d.spaceRef) : 0.0;
        twistDb = 2 * seen;
    }
    // The second pass, when the first measured the burst.
    const auto refine = [&](const FskMeasurement& pass1) {
        if (!pass1.measured) return pass1;
        const FskMeasurement fine = analyse(x, work, first, rate, nominal, messageStart, messageEnd, &pass1);
        return fine.measured ? fine : pass1;
    };
    if (std::abs(twistDb) <= kFarApartDb) return refine(rough);
    const FskMeasurement byCorrelators = refine(rough);
    work.powers = Powers::JointFit;
    const FskMeasurement byFits = refine(analyse(x, work, first, rate, nominal, messageStart, messageEnd, nullptr));
    // The joint fits' measurement, or none when they find none (a loud
    // tone's leak misleads the correlators, at the carrier's end too);
    // unless the tones they fit stand not far over the noise they leave and
    // the correlators' stand clearly higher (in much noise, or an echo, the
    // joint fits' short windows may read bits wrong).
    const bool noisier = byCorrelators.measured && byFits.snrDb < kNoisyReadingDb &&
                         byFits.snrDb + kClearlyHigherDb < byCorrelators.snrDb;
    return byFits.measured && noisier ? byCorrelators : byFits;
}

}  // namespace sigcore
