#include "sigcore/measure/phasefit.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sigcore/measure/tonefit.hpp"

namespace sigcore {

namespace {

// A burst is taken to keep its phase when one phase running through it
// explains this part of what it would if it kept it exactly.
constexpr double kKeptPhase = 0.98;
// The one-phase fit looks for the space this far from the runs' own fits
// (in steps of kPhaseGridHz), and its frequencies stand when within it.
constexpr double kKeptPhaseHz = 10.0;
constexpr double kPhaseGridHz = 1.0;
// A peak that explains this much is the burst's own, whether or not it
// keeps its phase to the sample.
constexpr double kOwnPeak = 0.9;
// The part of the runs whose phase must pick their first sample clearly
// (within a quarter of a sample's turn) for the fit to be tried: bursts
// that keep their phase reach 0.74 to 1 (at 48000 Hz and 20 dB SNR the
// least), senders that switch tone within a sample 0.3 to 0.4.
constexpr double kSureShare = 0.6;
// A first peak under this is not worth moving first samples for.
constexpr double kHopelessPeak = 0.5;
// Rounds of fitting the one phase and moving runs' first samples.
constexpr int kPhaseRounds = 4;

// The one-phase fit's sums at frequencies `w` (radians per sample, mark and
// space): P = sum c e^(-i phase), and its first and second derivatives'
// sums.
struct PhaseSums {
    std::complex<double> p;
    std::complex<double> g[2];
    std::complex<double> h[3];  // mark-mark, space-space, mark-space
};

// Calls term(k, c e^(-i phase)) for every point k in order at frequencies
// `w`: each sample's phase is the last one's turned by the last one's step.
template <typename Term>
void eachTerm(const std::vector<PhasePoint>& points, const double w[2], Term term) {
    if (points.empty()) return;
    std::complex<double> turn = std::polar(1.0, -(w[0] * points[0].inMark + w[1] * points[0].inSpace));
    const std::complex<double> step[2] = {std::polar(1.0, -w[1]), std::polar(1.0, -w[0])};
    for (std::size_t k = 0; k < points.size(); ++k) {
        term(k, points[k].value * turn);
        turn *= step[points[k].mark ? 1 : 0];
    }
}

PhaseSums phaseSums(const std::vector<PhasePoint>& points, const double w[2]) {
    PhaseSums s;
    eachTerm(points, w, [&](std::size_t k, std::complex<double> e) {
        const PhasePoint& q = points[k];
        s.p += e;
        s.g[0] += q.inMark * e;
        s.g[1] += q.inSpace * e;
        s.h[0] += q.inMark * q.inMark * e;
        s.h[1] += q.inSpace * q.inSpace * e;
        s.h[2] += q.inMark * q.inSpace * e;
    });
    return s;
}

// P alone, for trials that only compare how much P explains.
std::complex<double> phaseSum(const std::vector<PhasePoint>& points, const double w[2]) {
    std::complex<double> p;
    eachTerm(points, w, [&](std::size_t, std::complex<double> e) { p += e; });
    return p;
}

double wrapped(double a) { return std::remainder(a, 2 * std::numbers::pi); }

// Where each run's tone takes over, to the sample, for a sender whose phase
// runs on from sample to sample by the step of the tone of the bit the
// sample lies in (a phase accumulator), as a first guess: the first sample
// of a run lies within two samples of its edge on the grid, and is the one
// that carries the phase of the run before on to the phase the run's own
// fit finds. False when a run is too short to fit on its own, or too few
// runs pick their first sample clearly.
bool phaseRunStarts(std::span<const float> x, std::span<const ToneRun> runs, const double freq[2],
                    std::vector<PhaseRun>& out) {
    out.clear();
    for (const ToneRun& r : runs) {
        const double origin = std::ceil(r.begin);
        const double end = std::min(std::ceil(r.end), static_cast<double>(x.size()));
        if (origin < 0 || end - origin < 5) return false;
        const double* f = &freq[r.mark ? 0 : 1];
        const ToneModel m = fitModel(x, {static_cast<std::size_t>(origin + 1), static_cast<std::size_t>(end - 1)}, f, 1);
        // The fit's phase is at its own first sample; carried back to the run's.
        const double phase = std::atan2(-m.coefficients[1], m.coefficients[0]) - 2 * std::numbers::pi * *f;
        out.push_back({origin, phase, origin});
    }
    std::size_t sure = 0;
    for (std::size_t j = 1; j < out.size(); ++j) {
        const double before = 2 * std::numbers::pi * freq[runs[j - 1].mark ? 0 : 1];
        const double own = 2 * std::numbers::pi * freq[runs[j].mark ? 0 : 1];
        double best = 4;
        for (double b = out[j].origin - 2; b <= out[j].origin + 2; ++b) {
            const double predicted = out[j - 1].phase + before * (b - out[j - 1].origin) + own * (out[j].origin - b);
            const double miss = std::abs(wrapped(out[j].phase - predicted));
            if (miss < best && b > out[j - 1].first) {
                best = miss;
                out[j].first = b;
            }
        }
        if (best < std::abs(wrapped(before - own)) / 4) ++sure;
    }
    // A sender that switches tone within a sample (its phase carried on in
    // continuous time) leaves most runs' phases between two samples' worth:
    // no burst for this fit, and not worth its cost.
    return static_cast<double>(sure) >= kSureShare * static_cast<double>(out.size() - 1);
}

// The one-phase fit's samples for the runs' first samples as they stand;
// returns |P| of a burst that kept its phase exactly.
double phasePoints(std::span<const float> x, std::span<const ToneRun> runs, const std::vector<PhaseRun>& starts,
                   const double amplitude[2], std::vector<PhasePoint>& points) {
    points.clear();
    // A DC offset is no tone: the burst's mean is taken off first.
    const double begin = starts.front().first;
    const double end = std::min(std::ceil(runs.back().end), static_cast<double>(x.size()));
    double dc = 0;
    for (double n = begin; n < end; ++n) dc += x[static_cast<std::size_t>(n)];
    dc /= std::max(1.0, end - begin);
    double counted[2] = {0, 0};
    double full = 0;
    for (std::size_t j = 0; j < runs.size(); ++j) {
        const int tone = runs[j].mark ? 0 : 1;
        const double a = amplitude[tone];
        const double last = j + 1 < runs.size() ? starts[j + 1].first : std::ceil(runs[j].end);
        for (double n = starts[j].first; n < std::min(last, static_cast<double>(x.size())); ++n) {
            points.push_back({a * (x[static_cast<std::size_t>(n)] - dc), counted[0], counted[1], tone == 0});
            full += a * a / 2;
            counted[tone] += 1;
        }
    }
    // Counted from the burst's middle, the sums keep well scaled.
    for (PhasePoint& q : points) {
        q.inMark -= counted[0] / 2;
        q.inSpace -= counted[1] / 2;
    }
    return full;
}

// Newton's method on |P|^2 from `w`, each step taken only while it gains;
// false when `w` is not near a peak.
bool phasePeak(const std::vector<PhasePoint>& points, double w[2], PhaseSums& s) {
    s = phaseSums(points, w);
    for (int iteration = 0; iteration < 12; ++iteration) {
        const std::complex<double> cp = std::conj(s.p);
        const double grad[2] = {2 * (cp * s.g[0]).imag(), 2 * (cp * s.g[1]).imag()};
        const double h00 = 2 * std::norm(s.g[0]) - 2 * (cp * s.h[0]).real();
        const double h11 = 2 * std::norm(s.g[1]) - 2 * (cp * s.h[1]).real();
        const double h01 = 2 * (std::conj(s.g[0]) * s.g[1]).real() - 2 * (cp * s.h[2]).real();
        const double det = h00 * h11 - h01 * h01;
        if (!(h00 < 0 && det > 0)) return false;
        double step[2] = {-(h11 * grad[0] - h01 * grad[1]) / det, -(h00 * grad[1] - h01 * grad[0]) / det};
        bool gained = false;
        for (int halving = 0; halving < 6 && !gained; ++halving) {
            const double next[2] = {w[0] + step[0], w[1] + step[1]};
            if (std::norm(phaseSum(points, next)) >= std::norm(s.p)) {
                w[0] = next[0];
                w[1] = next[1];
                s = phaseSums(points, w);
                gained = true;
            } else {
                step[0] /= 2;
                step[1] /= 2;
            }
        }
        if (!gained || std::max(std::abs(step[0]), std::abs(step[1])) < 1e-10) break;
    }
    return true;
}

// Moves runs' first samples by one where the one phase then explains more
// of the whole burst. A run's first sample moved on by one turns every
// later sample by the two tones' steps' difference, so each choice is
// judged by all the burst after it and before it, not by the run's few
// samples. Returns how many moved.
int settleStarts(const std::vector<PhasePoint>& points, std::span<const ToneRun> runs, const double w[2],
                 std::vector<PhaseRun>& starts, std::vector<std::complex<double>>& tail) {
    const std::size_t n = points.size();
    tail.assign(n + 1, 0.0);
    // Each sample's own term first, summed from the end below.
    eachTerm(points, w, [&](std::size_t k, std::complex<double> e) { tail[k] = e; });
    for (std::size_t k = n; k-- > 0;) tail[k] += tail[k + 1];
    std::complex<double> p = tail[0];
    std::complex<double> turned = 1;  // what earlier moves did to the samples from here on
    int moves = 0;
    for (std::size_t j = 1; j < runs.size(); ++j) {
        const auto k = static_cast<std::size_t>(starts[j].first - starts[0].first);
        if (k >= n) break;
        const double delta = w[runs[j - 1].mark ? 0 : 1] - w[runs[j].mark ? 0 : 1];
        const std::complex<double> from = turned * tail[k];
        const std::complex<double> after = turned * tail[k + 1];
        const double next = j + 1 < runs.size() ? starts[j + 1].first : starts[j].first + 3;
        // Later by one: the run before takes the first sample; earlier by
        // one: this run takes the sample before it.
        const std::complex<double> later = p - after + std::polar(1.0, -delta) * after;
        const std::complex<double> earlier = p - from + std::polar(1.0, delta) * from;
        const double stay = std::norm(p) * (1 + 1e-12);
        if (starts[j].first + 1 < next && std::norm(later) > std::max(stay, std::norm(earlier))) {
            p = later;
            turned *= std::polar(1.0, -delta);
            starts[j].first += 1;
            ++moves;
        } else if (starts[j].first - 1 > starts[j - 1].first && std::norm(earlier) > stay) {
            p = earlier;
            turned *= std::polar(1.0, delta);
            starts[j].first -= 1;
            ++moves;
        }
    }
    return moves;
}

// The space's peak looked for on a grid about `w` (the runs' own fits may
// put the space, in short runs, a few hertz off).
void spaceOnGrid(const std::vector<PhasePoint>& points, int rate, double w[2]) {
    const double centre = w[1];
    double best = -1;
    for (double hz = -kKeptPhaseHz; hz <= kKeptPhaseHz; hz += kPhaseGridHz) {
        const double tried[2] = {w[0], centre + 2 * std::numbers::pi * hz / rate};
        const double power = std::norm(phaseSum(points, tried));
        if (power > best) {
            best = power;
            w[1] = tried[1];
        }
    }
}

}  // namespace

// Where each run's tone takes over first, then rounds of the frequencies'
// peak and of moving those first samples, until none moves; returns the
// part of a burst that kept its phase exactly that the fit explains.
double OnePhaseFit::settle(std::span<const float> x, std::span<const ToneRun> runs, const double amplitude[2],
                           int rate, bool grid, double w[2]) {
    const double freq[2] = {w[0] / (2 * std::numbers::pi), w[1] / (2 * std::numbers::pi)};
    if (!phaseRunStarts(x, runs, freq, starts_)) return 0;
    PhaseSums s;
    double full = 0;
    for (int round = 0; round < kPhaseRounds; ++round) {
        full = phasePoints(x, runs, starts_, amplitude, points_);
        if (points_.size() < 64 || full <= 0) return 0;
        if (round == 0 && grid) spaceOnGrid(points_, rate, w);
        if (!phasePeak(points_, w, s)) return 0;
        // Moving first samples gains a few hundredths: a peak this far
        // below is no burst that keeps its phase.
        if (std::abs(s.p) < kHopelessPeak * full) break;
        if (settleStarts(points_, runs, w, starts_, tail_) == 0) break;
    }
    return std::abs(s.p) / full;
}

bool OnePhaseFit::fit(std::span<const float> x, std::span<const ToneRun> runs, const double amplitude[2], int rate,
                      double freq[2]) {
    if (runs.empty()) return false;
    // From the runs' own frequencies first; only when that finds no peak
    // near what a burst that keeps its phase gives (a peak of 0.9 or more
    // is the burst's own, whose sender switches tone between samples), from
    // the best of a grid of spaces about them.
    const double start[2] = {2 * std::numbers::pi * freq[0], 2 * std::numbers::pi * freq[1]};
    double w[2] = {start[0], start[1]};
    const double first = settle(x, runs, amplitude, rate, false, w);
    if (first >= kOwnPeak && first < kKeptPhase) return false;
    if (first < kKeptPhase) {
        w[0] = start[0];
        w[1] = start[1];
        if (settle(x, runs, amplitude, rate, true, w) < kKeptPhase) return false;
    }
    const double found[2] = {w[0] / (2 * std::numbers::pi), w[1] / (2 * std::numbers::pi)};
    if (std::abs(found[0] - freq[0]) * rate > kKeptPhaseHz || std::abs(found[1] - freq[1]) * rate > kKeptPhaseHz) {
        return false;
    }
    freq[0] = found[0];
    freq[1] = found[1];
    return true;
}

}  // namespace sigcore
