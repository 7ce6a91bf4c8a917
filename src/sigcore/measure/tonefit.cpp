#include "sigcore/measure/tonefit.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>

namespace sigcore {

namespace {

constexpr int kMaxTones = 2;
constexpr std::size_t kMaxUnknowns = 2 * kMaxTones;

// Solves the n x n system a * v = b in place (Gaussian elimination with
// partial pivoting); false when it is singular.
bool solve(std::array<std::array<double, kMaxUnknowns>, kMaxUnknowns>& a, std::array<double, kMaxUnknowns>& b,
           std::size_t n) {
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        }
        if (std::abs(a[pivot][c]) < 1e-12) return false;
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (std::size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (std::size_t c = n; c-- > 0;) {
        for (std::size_t k = c + 1; k < n; ++k) b[c] -= a[c][k] * b[k];
        b[c] /= a[c][c];
    }
    return true;
}

// Each tone's turn from one sample to the next.
struct Steps {
    std::array<double, kMaxTones> cos{};
    std::array<double, kMaxTones> sin{};
};

Steps stepsOf(const double* freq, int tones) {
    Steps steps;
    for (std::size_t k = 0; k < static_cast<std::size_t>(tones); ++k) {
        steps.cos[k] = std::cos(2.0 * std::numbers::pi * freq[k]);
        steps.sin[k] = std::sin(2.0 * std::numbers::pi * freq[k]);
    }
    return steps;
}

// Sums of one stretch for `Tones` tones (a compile-time count, so that the
// per-sample loops unroll): each basis pair's normal-equation entries and
// right-hand sides, and the stretch's energy.
template <std::size_t Tones>
struct StretchSums {
    std::array<std::array<double, kMaxUnknowns>, kMaxUnknowns> a{};
    std::array<double, kMaxUnknowns> b{};
    double energy = 0;
};

template <std::size_t Tones>
StretchSums<Tones> sumStretch(std::span<const float> x, Stretch s, const Steps& steps) {
    constexpr std::size_t n = 2 * Tones;
    StretchSums<Tones> sums;
    std::array<double, kMaxUnknowns> basis{};
    // Each tone's cosine and sine from sample to sample by rotation: one
    // complex multiplication a sample instead of two library calls.
    for (std::size_t k = 0; k < Tones; ++k) basis[2 * k] = 1.0;
    for (std::size_t i = s.begin; i < s.end; ++i) {
        if (i > s.begin) {
            for (std::size_t k = 0; k < Tones; ++k) {
                const double c = basis[2 * k];
                const double sn = basis[2 * k + 1];
                basis[2 * k] = c * steps.cos[k] - sn * steps.sin[k];
                basis[2 * k + 1] = sn * steps.cos[k] + c * steps.sin[k];
            }
        }
        const double v = x[i];
        sums.energy += v * v;
        for (std::size_t r = 0; r < n; ++r) {
            sums.b[r] += basis[r] * v;
            for (std::size_t c = r; c < n; ++c) sums.a[r][c] += basis[r] * basis[c];
        }
    }
    return sums;
}

// One tone over one stretch, in four interleaved chains: chain k turns the
// basis of samples k, k + 4, k + 8, ... by four steps at a time, so that no
// rotation waits on the one before (a single chain is bound by the
// multiplications' latency, not by their number).
StretchSums<1> sumOneTone(std::span<const float> x, Stretch s, const Steps& steps) {
    constexpr std::size_t kChains = 4;
    std::array<double, kChains> c{};
    std::array<double, kChains> sn{};
    c[0] = 1.0;
    for (std::size_t k = 1; k < kChains; ++k) {
        c[k] = c[k - 1] * steps.cos[0] - sn[k - 1] * steps.sin[0];
        sn[k] = sn[k - 1] * steps.cos[0] + c[k - 1] * steps.sin[0];
    }
    const double turnCos = c[kChains - 1] * steps.cos[0] - sn[kChains - 1] * steps.sin[0];
    const double turnSin = sn[kChains - 1] * steps.cos[0] + c[kChains - 1] * steps.sin[0];
    std::array<double, kChains> cc{}, cs{}, ss{}, bc{}, bs{}, energy{};
    // The whole groups of four samples two chains to a pair of doubles, each
    // value seeing the operations a chain of its own would.
    using Pair = double __attribute__((vector_size(16)));
    Pair pc[2] = {{c[0], c[1]}, {c[2], c[3]}};
    Pair ps[2] = {{sn[0], sn[1]}, {sn[2], sn[3]}};
    Pair pcc[2] = {}, pcs[2] = {}, pss[2] = {}, pbc[2] = {}, pbs[2] = {}, pe[2] = {};
    std::size_t i = s.begin;
    for (; i + kChains <= s.end; i += kChains) {
        for (std::size_t h = 0; h < 2; ++h) {
            const Pair v{x[i + 2 * h], x[i + 2 * h + 1]};
            pe[h] += v * v;
            pbc[h] += pc[h] * v;
            pbs[h] += ps[h] * v;
            pcc[h] += pc[h] * pc[h];
            pcs[h] += pc[h] * ps[h];
            pss[h] += ps[h] * ps[h];
            const Pair next = pc[h] * turnCos - ps[h] * turnSin;
            ps[h] = ps[h] * turnCos + pc[h] * turnSin;
            pc[h] = next;
        }
    }
    for (std::size_t k = 0; k < kChains; ++k) {
        const std::size_t h = k / 2;
        const std::size_t lane = k % 2;
        c[k] = pc[h][lane];
        sn[k] = ps[h][lane];
        energy[k] = pe[h][lane];
        bc[k] = pbc[h][lane];
        bs[k] = pbs[h][lane];
        cc[k] = pcc[h][lane];
        cs[k] = pcs[h][lane];
        ss[k] = pss[h][lane];
    }
    for (std::size_t k = 0; i + k < s.end; ++k) {
        const double v = x[i + k];
        energy[k] += v * v;
        bc[k] += c[k] * v;
        bs[k] += sn[k] * v;
        cc[k] += c[k] * c[k];
        cs[k] += c[k] * sn[k];
        ss[k] += sn[k] * sn[k];
    }
    StretchSums<1> out;
    for (std::size_t k = 0; k < kChains; ++k) {
        out.a[0][0] += cc[k];
        out.a[0][1] += cs[k];
        out.a[1][1] += ss[k];
        out.b[0] += bc[k];
        out.b[1] += bs[k];
        out.energy += energy[k];
    }
    return out;
}

// One stretch: the normal equations of the cos/sin basis, solved, and what
// the fit explains.
void fitStretch(std::span<const float> x, Stretch s, const Steps& steps, int toneCount, FitSums& sums,
                double* coefficients = nullptr) {
    const auto tones = static_cast<std::size_t>(toneCount);
    const std::size_t n = 2 * tones;
    StretchSums<kMaxTones> got;
    if (tones == 1) {
        const StretchSums<1> one = sumOneTone(x, s, steps);
        got.a = one.a;
        got.b = one.b;
        got.energy = one.energy;
    } else {
        got = sumStretch<kMaxTones>(x, s, steps);
    }
    auto& a = got.a;
    auto& b = got.b;
    const double energy = got.energy;
    for (std::size_t r = 0; r < n; ++r) {
        for (std::size_t c = 0; c < r; ++c) a[r][c] = a[c][r];
    }
    const std::array<double, kMaxUnknowns> rhs = b;
    const auto length = static_cast<double>(s.end - s.begin);
    sums.samples += s.end - s.begin;
    ++sums.stretches;
    if (!solve(a, b, n)) {
        sums.residual += energy;
        return;
    }
    double fitted = 0;
    for (std::size_t r = 0; r < n; ++r) fitted += b[r] * rhs[r];
    if (coefficients != nullptr) std::copy(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n), coefficients);
    for (std::size_t k = 0; k < tones; ++k) {
        sums.explained[k] += length * (b[2 * k] * b[2 * k] + b[2 * k + 1] * b[2 * k + 1]) / 2.0;
    }
    sums.fitted += fitted;
    sums.residual += std::max(0.0, energy - fitted);
}

}  // namespace

FitSums fitTones(std::span<const float> x, std::span<const Stretch> stretches, const double* freq, int tones) {
    FitSums sums;
    tones = std::clamp(tones, 1, kMaxTones);
    const Steps steps = stepsOf(freq, tones);
    for (const Stretch& s : stretches) {
        if (s.end > s.begin + 2 * static_cast<std::size_t>(tones) && s.end <= x.size()) {
            fitStretch(x, s, steps, tones, sums);
        }
    }
    return sums;
}

namespace {

// Where f is largest on [lo, hi], to within `tolerance`: Brent's method,
// parabolas through the three best points so far, with a golden-section step
// whenever a parabola would not shrink the bracket enough.
template <class F>
double maximise(const F& f, double lo, double hi, double tolerance, int most) {
    constexpr double kGolden = 0.3819660112501051;  // (3 - sqrt 5) / 2
    double x = lo + kGolden * (hi - lo);
    double w = x;
    double v = x;
    double fx = f(x);
    double fw = fx;
    double fv = fx;
    double step = 0;  // the last step taken
    double before = 0;  // the step before it
    for (int i = 0; i < most; ++i) {
        const double mid = (lo + hi) / 2;
        if (std::abs(x - mid) <= 2 * tolerance - (hi - lo) / 2) break;
        bool parabolic = false;
        if (std::abs(before) > tolerance) {
            const double r = (x - w) * (fx - fv);
            double q = (x - v) * (fx - fw);
            double p = (x - v) * q - (x - w) * r;
            q = 2 * (q - r);
            if (q < 0) p = -p;
            q = std::abs(q);
            // Maximising: the vertex of the parabola is x - p / q.
            if (std::abs(p) < std::abs(q * before / 2) && -p > q * (lo - x) && -p < q * (hi - x)) {
                before = step;
                step = -p / q;
                if (x + step - lo < 2 * tolerance || hi - (x + step) < 2 * tolerance) {
                    step = mid > x ? tolerance : -tolerance;
                }
                parabolic = true;
            }
        }
        if (!parabolic) {
            before = x >= mid ? lo - x : hi - x;
            step = kGolden * before;
        }
        const double u = std::abs(step) >= tolerance ? x + step : x + (step > 0 ? tolerance : -tolerance);
        const double fu = f(u);
        if (fu >= fx) {
            (u >= x ? lo : hi) = x;
            v = w;
            fv = fw;
            w = x;
            fw = fx;
            x = u;
            fx = fu;
        } else {
            (u < x ? lo : hi) = u;
            if (fu >= fw || w == x) {
                v = w;
                fv = fw;
                w = u;
                fw = fu;
            } else if (fu >= fv || v == x || v == w) {
                v = u;
                fv = fu;
            }
        }
    }
    return x;
}

// The normal equations of a cosine and a sine of `freq` (cycles a sample)
// over a stretch of n samples, in closed form from g = sum over m < n of
// e^(2j w m): sums of squares cc and ss, of products cs, and the
// determinant. Stretches of one length share them (the bits of a burst come
// in a few lengths): those of the last few lengths are kept.
class BasisNorms {
public:
    struct Sums {
        double cc = 0, ss = 0, cs = 0, det = 0;
    };

    explicit BasisNorms(double freq)
        : freq_(freq), twice_(std::polar(1.0, 4.0 * std::numbers::pi * freq)), still_(std::abs(1.0 - twice_) < 1e-12) {}

    const Sums& of(std::size_t length) {
        for (std::size_t k = 0; k < count_; ++k) {
            if (kept_[k].length == length) return kept_[k].sums;
        }
        const auto n = static_cast<double>(length);
        const std::complex<double> one = 1.0;
        const std::complex<double> turned = std::polar(1.0, 4.0 * std::numbers::pi * freq_ * n);
        const std::complex<double> g = still_ ? std::complex<double>(n, 0) : (one - turned) / (one - twice_);
        Kept& slot = kept_[count_ < kept_.size() ? count_++ : (next_++ % kept_.size())];
        slot.length = length;
        slot.sums.cc = (n + g.real()) / 2;
        slot.sums.ss = (n - g.real()) / 2;
        slot.sums.cs = g.imag() / 2;
        slot.sums.det = slot.sums.cc * slot.sums.ss - slot.sums.cs * slot.sums.cs;
        return slot.sums;
    }

private:
    struct Kept {
        std::size_t length = 0;
        Sums sums;
    };
    double freq_;
    std::complex<double> twice_;
    bool still_;
    std::array<Kept, 16> kept_{};
    std::size_t count_ = 0;
    std::size_t next_ = 0;
};

// The four chains' correlations of the stretch's samples with the cosine
// and sine (chain k: samples k, k + 4, ...) into bc and bs, over its whole
// groups of four samples, the chains' phasors from c0, s0 turned by
// (turnCos, turnSin) a group into c and sn; returns where the groups end.
// Two chains to a pair of doubles, each value seeing the operations a chain
// of its own would.
std::size_t correlateChains(std::span<const float> x, Stretch st, const std::array<double, 4>& c0,
                            const std::array<double, 4>& s0, double turnCos, double turnSin,
                            std::array<double, 4>& c, std::array<double, 4>& sn, std::array<double, 4>& bc,
                            std::array<double, 4>& bs) {
    using Pair = double __attribute__((vector_size(16)));
    Pair cLo{c0[0], c0[1]}, cHi{c0[2], c0[3]}, sLo{s0[0], s0[1]}, sHi{s0[2], s0[3]};
    Pair bcLo{0, 0}, bcHi{0, 0}, bsLo{0, 0}, bsHi{0, 0};
    std::size_t i = st.begin;
    for (; i + 4 <= st.end; i += 4) {
        const Pair vLo{x[i], x[i + 1]};
        const Pair vHi{x[i + 2], x[i + 3]};
        bcLo += cLo * vLo;
        bsLo += sLo * vLo;
        bcHi += cHi * vHi;
        bsHi += sHi * vHi;
        const Pair nextLo = cLo * turnCos - sLo * turnSin;
        sLo = sLo * turnCos + cLo * turnSin;
        cLo = nextLo;
        const Pair nextHi = cHi * turnCos - sHi * turnSin;
        sHi = sHi * turnCos + cHi * turnSin;
        cHi = nextHi;
    }
    c = {cLo[0], cLo[1], cHi[0], cHi[1]};
    sn = {sLo[0], sLo[1], sHi[0], sHi[1]};
    bc = {bcLo[0], bcLo[1], bcHi[0], bcHi[1]};
    bs = {bsLo[0], bsLo[1], bsHi[0], bsHi[1]};
    return i;
}

// What a one-tone fit at `freq` explains over the stretches, as
// fitTones(...).fitted: only the samples' correlations with the cosine and
// sine are summed (in four interleaved chains, as sumOneTone), the basis'
// own normal equations taken in closed form. About half the work per
// sample, for the many fits of a frequency search.
double oneToneFitted(std::span<const float> x, std::span<const Stretch> stretches, double freq) {
    constexpr std::size_t kChains = 4;
    const Steps steps = stepsOf(&freq, 1);
    std::array<double, kChains> c0{};
    std::array<double, kChains> s0{};
    c0[0] = 1.0;
    for (std::size_t k = 1; k < kChains; ++k) {
        c0[k] = c0[k - 1] * steps.cos[0] - s0[k - 1] * steps.sin[0];
        s0[k] = s0[k - 1] * steps.cos[0] + c0[k - 1] * steps.sin[0];
    }
    const double turnCos = c0[kChains - 1] * steps.cos[0] - s0[kChains - 1] * steps.sin[0];
    const double turnSin = s0[kChains - 1] * steps.cos[0] + c0[kChains - 1] * steps.sin[0];
    BasisNorms norms(freq);
    double total = 0;
    for (const Stretch& st : stretches) {
        if (st.end <= st.begin + 2 || st.end > x.size()) continue;
        std::array<double, kChains> c{};
        std::array<double, kChains> sn{};
        std::array<double, kChains> bc{};
        std::array<double, kChains> bs{};
        const std::size_t i = correlateChains(x, st, c0, s0, turnCos, turnSin, c, sn, bc, bs);
        for (std::size_t k = 0; i + k < st.end; ++k) {
            bc[k] += c[k] * x[i + k];
            bs[k] += sn[k] * x[i + k];
        }
        const double b0 = bc[0] + bc[1] + bc[2] + bc[3];
        const double b1 = bs[0] + bs[1] + bs[2] + bs[3];
        const auto n = static_cast<double>(st.end - st.begin);
        const BasisNorms::Sums& m = norms.of(st.end - st.begin);
        if (!(m.det > 1e-12 * n * n)) continue;
        total += (m.ss * b0 * b0 - 2 * m.cs * b0 * b1 + m.cc * b1 * b1) / m.det;
    }
    return total;
}

// The grid point of centre + k * step, |k| <= steps, where `power` is
// largest.
template <class F>
double bestOnGrid(const F& power, double centre, double step, int steps) {
    double best = centre;
    double bestPower = -1;
    for (int k = -steps; k <= steps; ++k) {
        const double f = centre + k * step;
        const double p = power(f);
        if (p > bestPower) {
            bestPower = p;
            best = f;
        }
    }
    return best;
}

// Frequencies are found to this many cycles per sample (0.0001 Hz at 8000
// Hz): far below what noise allows.
constexpr double kFrequencyTolerance = 1e-8;
// A wide search first looks at this part of the longest stretch alone.
constexpr std::size_t kCoarseShare = 4;
constexpr std::size_t kShortestCoarse = 32;

}  // namespace

double bestFrequency(std::span<const float> x, std::span<const Stretch> stretches, double* freq, int tones,
                     int which, double span) {
    std::size_t longest = 8;
    std::size_t total = 0;
    Stretch longestStretch{};
    for (const Stretch& s : stretches) {
        total += s.end - s.begin;
        if (s.end - s.begin > longest) {
            longest = s.end - s.begin;
            longestStretch = s;
        }
    }
    const double centre = freq[which];
    // The grid looks at the longest stretch alone when it holds a good part
    // of the samples (a mark run): as sharp, and far cheaper.
    const bool alone = longestStretch.end > longestStretch.begin && 4 * longest >= total;
    const std::span<const Stretch> gridStretches = alone ? std::span<const Stretch>(&longestStretch, 1) : stretches;
    const auto powerOver = [&](std::span<const Stretch> over) {
        return [&, over](double f) {
            freq[which] = f;
            return tones == 1 ? oneToneFitted(x, over, f) : fitTones(x, over, freq, tones).fitted;
        };
    };
    // A grid a quarter of the longest stretch's resolution apart finds the
    // main lobe. Over a wide span a grid over a quarter of that stretch,
    // four times coarser, finds it first.
    const double step = 0.25 / static_cast<double>(longest);
    int steps = static_cast<int>(std::ceil(span / step));
    double best = centre;
    const std::size_t coarseLength = longest / kCoarseShare;
    if (alone && steps > 2 * static_cast<int>(kCoarseShare) && coarseLength >= kShortestCoarse) {
        const Stretch piece{longestStretch.begin, longestStretch.begin + coarseLength};
        const double coarse = 0.25 / static_cast<double>(coarseLength);
        best = bestOnGrid(powerOver(std::span<const Stretch>(&piece, 1)), centre, coarse,
                          static_cast<int>(std::ceil(span / coarse)));
        steps = static_cast<int>(kCoarseShare);
    }
    best = bestOnGrid(powerOver(gridStretches), best, step, steps);
    // Its top, from the fit over every stretch.
    freq[which] = maximise(powerOver(stretches), best - step, best + step, kFrequencyTolerance, 60);
    return freq[which];
}

ToneModel fitModel(std::span<const float> x, Stretch stretch, const double* freq, int tones) {
    ToneModel model;
    model.origin = stretch.begin;
    model.tones = std::clamp(tones, 1, kMaxTones);
    for (int k = 0; k < model.tones; ++k) model.freq[k] = freq[k];
    FitSums sums;
    if (stretch.end > stretch.begin + 2 * static_cast<std::size_t>(model.tones) && stretch.end <= x.size()) {
        fitStretch(x, stretch, stepsOf(freq, model.tones), model.tones, sums, model.coefficients);
    }
    return model;
}

double ToneModel::at(std::size_t i) const {
    const double t = static_cast<double>(i) - static_cast<double>(origin);
    double v = 0;
    for (int k = 0; k < tones; ++k) {
        const double phase = 2.0 * std::numbers::pi * freq[k] * t;
        v += coefficients[2 * k] * std::cos(phase) + coefficients[2 * k + 1] * std::sin(phase);
    }
    return v;
}

double meanAmplitude(const FitSums& sums, int which) {
    if (sums.samples == 0) return 0;
    return std::sqrt(2.0 * sums.explained[which] / static_cast<double>(sums.samples));
}

double sampleStep(std::span<const float> x) {
    std::uint32_t bits = 0;
    for (const float v : x) {
        if (!(std::abs(v) < 1e9f)) return 1;
        const auto whole = static_cast<std::int64_t>(v);
        if (static_cast<float>(whole) != v) return 1;
        bits |= static_cast<std::uint32_t>(whole < 0 ? -whole : whole);
        if ((bits & 1u) != 0) return 1;  // an odd sample: the finest step
    }
    if (bits == 0) return 1;
    return static_cast<double>(std::min<std::uint32_t>(bits & (~bits + 1), 1u << 15));
}

namespace {

// Beyond this many steps of amplitude the rounding's effect on the
// fundamental is far under a thousandth of a decibel.
constexpr double kFineAmplitude = 512;
constexpr double kFullDither = 2;

// The fundamental of a sine of amplitude u (in steps) rounded to whole
// steps with noise of deviation s (in steps) added first: each threshold c
// between two steps adds (4 / pi) sqrt(1 - (c / u)^2) while the sine crosses
// it, and the noise blurs where it stands (averaged over a grid of the
// Gaussian's values).
double roundedSteps(double u, double s) {
    const auto crossing = [u](double c) {
        const double r = c / u;
        return std::abs(r) < 1 ? std::sqrt(1 - r * r) : 0.0;
    };
    constexpr int kNodes = 16;  // each side of the Gaussian's middle
    constexpr double kReach = 4;  // deviations
    const int nodes = s > 1e-3 ? kNodes : 0;
    double total = 0;
    double weights = 0;
    for (int j = -nodes; j <= nodes; ++j) {
        const double z = nodes == 0 ? 0.0 : kReach * j / nodes;
        const double weight = std::exp(-z * z / 2);
        const double shift = z * s;
        double sum = 0;
        for (double c = 0.5; c - std::abs(shift) < u; c += 1) sum += crossing(c - shift) + crossing(c + shift);
        total += weight * sum / 2;
        weights += weight;
    }
    return 4 / std::numbers::pi * total / weights;
}

}  // namespace

double roundedAmplitude(double a, double step, double sigma) {
    if (step <= 1 || a <= 0 || a / step > kFineAmplitude) return a;
    // Noise of two steps or more dithers the rounding away entirely (what
    // is left is under 1e-30 of the amplitude).
    if (!(sigma < kFullDither * step)) return a;
    return step * roundedSteps(a / step, sigma / step);
}

double unroundedAmplitude(double fitted, double step, double sigma) {
    if (step <= 1 || fitted <= 0 || fitted / step > kFineAmplitude) return fitted;
    // The rounded fundamental stays within a few per cent of the amplitude
    // once it is a step or more: a few rescalings settle it.
    double a = fitted;
    for (int i = 0; i < 12; ++i) {
        const double r = roundedAmplitude(a, step, sigma);
        if (r <= 0) return fitted;
        const double next = a * fitted / r;
        if (std::abs(next - a) < 1e-6 * a) return next;
        a = next;
    }
    return a;
}

}  // namespace sigcore
