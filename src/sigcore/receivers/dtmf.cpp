#include "sigcore/receivers/dtmf.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

#include "sigcore/dsp/simd.hpp"

namespace sigcore {

namespace {

constexpr std::array<double, 8> kFrequencies{697.0, 770.0, 852.0, 941.0, 1209.0, 1336.0, 1477.0, 1633.0};
constexpr std::array<char, 16> kDigits{'1', '2', '3', 'A', '4', '5', '6', 'B', '7', '8', '9', 'C', '*', '0', '#', 'D'};

// Half-block length at 8000 Hz; other rates scale it, so that a window
// always lasts 12.75 ms.
constexpr double kHalfBlockAt8000 = 51.0;

// Window tests.
constexpr double kMinAmplitude = 100.0;      // each tone, in sample units (about -50 dB full scale)
constexpr double kGroupDominance = 4.0;      // 6 dB over the other frequencies of the group
constexpr double kMinEnergyShare = 0.5;      // of the window's energy in the two tones
constexpr double kMaxHarmonicShare = 0.1;    // second harmonic against its fundamental
constexpr double kMaxWindowTwist = 15.85;    // 12 dB either way
// The rest of the band over the tone (its last kMaxToneAnalysisSeconds at
// most, Hann-weighted), probed every half bin from kFirstProbeHz to
// kLastProbeHz away from the pair and its second harmonics: no other
// component may reach kMaxOtherShare of the weaker tone's power while
// standing kMinPeakOverFloor above the median probe (noise alone, spread
// over the band, never does). Voiced speech and music put a pair of
// partials on a row and a column now and then, but always with other
// partials beside them: the fundamental, other harmonics, a bass note. A
// 12.75 ms window can't tell partials 100 Hz apart; a 40 ms tone can.
constexpr double kFirstProbeHz = 100.0;
constexpr double kLastProbeHz = 3000.0;
constexpr double kMaxOtherShare = 0.05;    // 13 dB below
// Unless the pair carries most of the tone's energy: talk-off pairs are two
// partials among others of like level and carry at most about 85 % of it. A
// digit keyed over speech carries more, and the partials of the speech come
// and go: over a dominant pair, a component counts only when it reaches
// kMaxSteadyOtherShare of the weaker tone in each half of the tone on its
// own, as a note held beside the pair does.
constexpr double kDominantPairShare = 0.9;
constexpr double kMaxSteadyOtherShare = 0.08;  // 11 dB below
constexpr double kMinPeakOverFloor = 20.0;   // 13 dB
constexpr double kProbeClearanceBins = 2.5;  // a Hann window's main lobe is 2 bins either side
constexpr double kMaxToneAnalysisSeconds = 0.08;
constexpr int kHistoryHalfBlocks = 24;  // 153 ms: the analysis, and the 25 ms of windows after a tone
constexpr int kMaxMissingWindows = 3;        // bridged inside a tone (a drop-out of up to 10 ms)

// Tone tests.
constexpr double kMinDurationSeconds = 0.032;
constexpr double kMaxFrequencyOffset = 0.025;  // relative
// Twist, the high group's level over the low group's: a line loses more of
// the high group, so the low group may be the stronger by more.
constexpr double kMaxLowStrongerDb = 8.5;
constexpr double kMaxHighStrongerDb = 4.5;

double power(const std::complex<double>& w) { return std::norm(w); }

// The eight fundamentals' sums side by side, for as wide a vector unit as
// the processor has.
using Eight = double __attribute__((vector_size(64)));

// Adds `count` samples to the fundamentals' sums (`re`, `im`: eight each)
// and to `energy`, and keeps them as doubles in `kept`; `cosRow` and
// `sinRow` point at the first sample's row of the tables, a row of
// `stride` values a sample. Each sum adds the same products in the same
// order as a scalar loop would; only the width differs among the clones.
// The table rows are loaded by memcpy: they are aligned only as doubles.
SIGCORE_VECTOR_CLONES
void accumulateHalf(const std::int16_t* samples, std::size_t count, const double* cosRow, const double* sinRow,
                    std::size_t stride, double* kept, double* re, double* im, double& energy) {
    Eight sumRe;
    Eight sumIm;
    std::memcpy(&sumRe, re, sizeof sumRe);
    std::memcpy(&sumIm, im, sizeof sumIm);
    double e = energy;
    for (std::size_t i = 0; i < count; ++i, cosRow += stride, sinRow += stride) {
        const double x = samples[i];
        Eight c;
        Eight s;
        std::memcpy(&c, cosRow, sizeof c);
        std::memcpy(&s, sinRow, sizeof s);
        sumRe += x * c;
        sumIm += x * s;
        e += x * x;
        kept[i] = x;
    }
    std::memcpy(re, &sumRe, sizeof sumRe);
    std::memcpy(im, &sumIm, sizeof sumIm);
    energy = e;
}


}  // namespace

char dtmfDigit(int row, int column) {
    if (row < 0 || row > 3 || column < 0 || column > 3) return 0;
    return kDigits[static_cast<std::size_t>(row * 4 + column)];
}

DtmfReceiver::DtmfReceiver(int samplingRate, EventSink& sink) : sink_(sink), rate_(samplingRate) {
    if (samplingRate < kDtmfLowestRate || samplingRate > kDtmfHighestRate) {
        throw std::invalid_argument("sampling rate out of range");
    }
    half_ = static_cast<int>(std::lround(kHalfBlockAt8000 * samplingRate / 8000.0));
    const auto h = static_cast<std::size_t>(half_);
    cosTable_.resize(kTones * h);
    sinTable_.resize(kTones * h);
    for (std::size_t k = 0; k < kTones; ++k) {
        frequency_[k] = kFrequencies[k % 8] * (k < 8 ? 1.0 : 2.0);
        const double w = 2.0 * std::numbers::pi * frequency_[k] / samplingRate;
        for (std::size_t m = 0; m < h; ++m) {
            cosTable_[m * kTones + k] = std::cos(w * static_cast<double>(m));
            sinTable_[m * kTones + k] = std::sin(w * static_cast<double>(m));
        }
        halfRotation_[k] = std::polar(1.0, -w * half_);
    }
    halfSamples_.assign(2 * h, 0.0);
    history_.assign(h * kHistoryHalfBlocks, 0.0);
    toneWindowed_.assign(2 * history_.size(), 0.0);  // the tone, then its two halves
    // Probes every half bin of the longest analysis, and a few to spare.
    probePowers_.assign(static_cast<std::size_t>((kLastProbeHz - kFirstProbeHz) * 2.0 * kMaxToneAnalysisSeconds) + 8, 0.0);
    probeFrequencies_.assign(probePowers_.size(), 0.0);
    probeSorted_.assign(probePowers_.size(), 0.0);
}

void DtmfReceiver::push(std::span<const std::int16_t> samples) {
    if (finished_) return;
    while (!samples.empty()) {
        // Up to the end of the half-block.
        const auto take = std::min(samples.size(), static_cast<std::size_t>(half_ - filled_));
        const auto row = static_cast<std::size_t>(filled_) * kTones;
        accumulateHalf(samples.data(), take, cosTable_.data() + row, sinTable_.data() + row, kTones,
                       halfSamples_.data() + half_ + filled_, re_.data(), im_.data(), energy_);
        pushed_ += static_cast<std::int64_t>(take);
        filled_ += static_cast<int>(take);
        samples = samples.subspan(take);
        if (filled_ == half_) endHalfBlock();
    }
}

std::complex<double> DtmfReceiver::halfCorrelation(std::size_t k, const double* samples) const {
    // The same sums, in the same order, as the fundamentals' in push().
    double re = 0.0;
    double im = 0.0;
    for (std::size_t m = 0; m < static_cast<std::size_t>(half_); ++m) {
        re += samples[m] * cosTable_[m * kTones + k];
        im += samples[m] * sinTable_[m * kTones + k];
    }
    return {re, -im};
}

void DtmfReceiver::finish() {
    if (finished_) return;
    // Silence completes the half-block under way and one more, so that the
    // last samples are seen in a whole window.
    const int pad = filled_ > 0 ? 2 * half_ - filled_ : half_;
    for (int i = 0; i < pad; ++i) {
        halfSamples_[static_cast<std::size_t>(half_ + filled_)] = 0.0;
        if (++filled_ == half_) endHalfBlock();
    }
    closeSegment();
    finished_ = true;
}

void DtmfReceiver::endHalfBlock() {
    const auto h = static_cast<std::size_t>(half_);
    // The half-block's correlations, sum of x[m] e^{-j w m}.
    Correlations current{};
    for (std::size_t k = 0; k < kFundamentals; ++k) current[k] = {re_[k], -im_[k]};
    const double currentEnergy = energy_;
    re_.fill(0.0);
    im_.fill(0.0);
    energy_ = 0.0;
    filled_ = 0;
    ++halfBlocks_;
    const std::size_t slot = static_cast<std::size_t>((halfBlocks_ - 1) % kHistoryHalfBlocks);
    std::copy_n(halfSamples_.begin() + half_, half_, history_.begin() + static_cast<std::ptrdiff_t>(slot * h));
    if (havePreviousHalf_) analyseWindow(current, currentEnergy);
    previousHalf_ = current;
    previousEnergy_ = currentEnergy;
    std::copy_n(halfSamples_.begin() + half_, half_, halfSamples_.begin());
    havePreviousHalf_ = true;
}

void DtmfReceiver::analyseWindow(const Correlations& current, double currentEnergy) {
    // The window of the previous half-block and this one, referred to the window's first sample.
    Correlations window{};
    for (std::size_t k = 0; k < kFundamentals; ++k) window[k] = previousHalf_[k] + halfRotation_[k] * current[k];
    const std::int64_t start = (halfBlocks_ - 2) * half_;
    const WindowPick pick = pickDigit(window, previousEnergy_ + currentEnergy);
    followTone(pick, window, start);
    std::copy_n(window.begin(), 8, previousWindow_.begin());
    havePreviousWindow_ = true;
    previousRow_ = pick.row;
    previousColumn_ = pick.column;
}

DtmfReceiver::WindowPick DtmfReceiver::pickDigit(const Correlations& window, double windowEnergy) {
    // Amplitudes: a steady tone of amplitude A on its frequency gives |W| = A N / 2.
    WindowPick pick;
    const double n = 2.0 * half_;
    std::array<double, kTones>& p = pick.power;
    for (std::size_t k = 0; k < kFundamentals; ++k) p[k] = power(window[k]);
    std::fill(p.begin() + kFundamentals, p.end(), 0.0);  // the harmonics', for a window that gets that far
    // Selects and tests without a branch on the powers: over noise their
    // order is random, and each such branch would be mispredicted half the
    // time.
    const auto best = [&](std::size_t from) {
        std::size_t top = from;
        for (std::size_t k = from; k < from + 4; ++k) top = p[k] > p[top] ? k : top;
        return top;
    };
    const std::size_t row = best(0);
    const std::size_t column = best(4);
    // Most windows of a stream fail here already.
    bool dominated = false;
    for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t top = k < 4 ? row : column;
        dominated = dominated | ((k != top) & (p[k] * kGroupDominance > p[top]));
    }
    if (dominated) return pick;
    const double rowAmplitude = 2.0 * std::sqrt(p[row]) / n;
    const double columnAmplitude = 2.0 * std::sqrt(p[column]) / n;
    if (rowAmplitude < kMinAmplitude || columnAmplitude < kMinAmplitude) return pick;
    // A tone of amplitude A holds A^2 N / 2 of the window's energy, that is 2 |W|^2 / N.
    if ((p[row] + p[column]) * 2.0 / n < kMinEnergyShare * windowEnergy) return pick;
    if (p[row] > kMaxWindowTwist * p[column] || p[column] > kMaxWindowTwist * p[row]) return pick;
    if (!harmonicsClear(row, column, p)) return pick;
    pick.row = static_cast<int>(row);
    pick.column = static_cast<int>(column - 4);
    pick.amplitude = rowAmplitude + columnAmplitude;
    return pick;
}

bool DtmfReceiver::harmonicsClear(std::size_t row, std::size_t column, std::array<double, kTones>& p) const {
    // Second harmonics, against the pair's power: a row's harmonic that
    // falls within 1.5 window bins of the column tone can't be told from
    // that tone and is not judged.
    for (const std::size_t k : {row + 8, column + 8}) {
        const std::complex<double> previous = halfCorrelation(k, halfSamples_.data());
        const std::complex<double> now = halfCorrelation(k, halfSamples_.data() + half_);
        p[k] = power(previous + halfRotation_[k] * now);
    }
    const double pairPower = p[row] + p[column];
    if (p[column + 8] > kMaxHarmonicShare * pairPower) return false;
    const double binWidth = rate_ / (2.0 * half_);
    return !(std::abs(frequency_[row + 8] - frequency_[column]) > 1.5 * binWidth &&
             p[row + 8] > kMaxHarmonicShare * pairPower);
}

double DtmfReceiver::weightedPower(std::span<const double> weighted, double frequency) const {
    // Goertzel's recursion.
    const double w = 2.0 * std::numbers::pi * frequency / rate_;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (const double x : weighted) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

std::span<const double> DtmfReceiver::windowTone(std::int64_t from, std::size_t count, std::size_t at) {
    const auto kept = static_cast<std::int64_t>(history_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const double weight =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count));
        toneWindowed_[at + i] = history_[static_cast<std::size_t>((from + static_cast<std::int64_t>(i)) % kept)] * weight;
    }
    return {toneWindowed_.data() + at, count};
}

bool DtmfReceiver::persists(std::span<const double> first, std::span<const double> second, double frequency,
                            double rowHz, double columnHz) const {
    for (const std::span<const double> half : {first, second}) {
        const double weaker = std::min(weightedPower(half, rowHz), weightedPower(half, columnHz));
        if (weightedPower(half, frequency) <= kMaxSteadyOtherShare * weaker) return false;
    }
    return true;
}

bool DtmfReceiver::toneStandsAlone(std::int64_t start, std::int64_t end, double rowHz, double columnHz) {
    // The tone's last samples, up to kMaxToneAnalysisSeconds of them, all still kept.
    const auto kept = static_cast<std::int64_t>(history_.size());
    const std::int64_t now = halfBlocks_ * half_;
    const std::int64_t from =
        std::max<std::int64_t>({start, end - std::llround(kMaxToneAnalysisSeconds * rate_), now - kept + 1});
    const std::int64_t to = std::min(end, now);
    if (to - from < 2 * half_) return true;
    const auto count = static_cast<std::size_t>(to - from);
    const std::span<const double> tone = windowTone(from, count, 0);
    const double rowPower = weightedPower(tone, rowHz);
    const double columnPower = weightedPower(tone, columnHz);
    const double limit = kMaxOtherShare * std::min(rowPower, columnPower);
    const double bin = static_cast<double>(rate_) / static_cast<double>(count);
    const double clearance = kProbeClearanceBins * bin;
    std::size_t probes = 0;
    double strongest = 0.0;
    for (double f = kFirstProbeHz; f <= kLastProbeHz && probes < probePowers_.size(); f += bin / 2.0) {
        bool near = false;
        for (const double partial : {rowHz, columnHz, 2.0 * rowHz, 2.0 * columnHz}) {
            near = near || std::abs(f - partial) < clearance;
        }
        if (near) continue;
        probeFrequencies_[probes] = f;
        probePowers_[probes] = weightedPower(tone, f);
        strongest = std::max(strongest, probePowers_[probes]);
        ++probes;
    }
    if (probes == 0 || strongest <= limit) return true;
    std::copy_n(probePowers_.begin(), probes, probeSorted_.begin());
    const auto middle = probeSorted_.begin() + static_cast<std::ptrdiff_t>(probes / 2);
    std::nth_element(probeSorted_.begin(), middle, probeSorted_.begin() + static_cast<std::ptrdiff_t>(probes));
    const double floor = *middle;
    // The pair's share of the weighted energy: a Hann-weighted tone of
    // amplitude A over n samples has energy 3 A^2 n / 16 and power (A n / 4)^2.
    double energy = 0.0;
    for (const double x : tone) energy += x * x;
    const bool dominant = 3.0 * (rowPower + columnPower) > kDominantPairShare * static_cast<double>(count) * energy;
    std::span<const double> first;
    std::span<const double> second;
    if (dominant) {
        first = windowTone(from, count / 2, count);
        second = windowTone(from + static_cast<std::int64_t>(count / 2), count - count / 2, count + count / 2);
    }
    for (std::size_t i = 0; i < probes; ++i) {
        if (probePowers_[i] <= limit || probePowers_[i] <= kMinPeakOverFloor * floor) continue;
        if (!dominant || persists(first, second, probeFrequencies_[i], rowHz, columnHz)) return false;
    }
    return true;
}

void DtmfReceiver::followTone(const WindowPick& pick, const Correlations& window, std::int64_t start) {
    const int r = pick.row;
    const int c = pick.column;
    Segment& s = segment_;
    if (s.row >= 0 && (r != s.row || c != s.column) && r >= 0) closeSegment();
    if (r < 0) {
        if (s.row >= 0 && ++s.missing > kMaxMissingWindows) closeSegment();
        return;
    }
    const auto row = static_cast<std::size_t>(r);
    const auto column = static_cast<std::size_t>(c) + 4;
    if (s.row < 0) {
        s = Segment{};
        s.row = r;
        s.column = c;
        s.firstStart = start;
        s.lastStrongStart = start;
    }
    s.missing = 0;
    if (s.windows < static_cast<int>(s.earlyStarts.size())) {
        s.earlyStarts[static_cast<std::size_t>(s.windows)] = start;
        s.earlyAmplitudes[static_cast<std::size_t>(s.windows)] = pick.amplitude;
    }
    ++s.windows;
    s.maxAmplitude = std::max(s.maxAmplitude, pick.amplitude);
    if (pick.amplitude >= 0.5 * s.maxAmplitude) s.lastStrongStart = start;
    s.rowPower += pick.power[row];
    s.columnPower += pick.power[column];
    // The phase advance from the previous window (one half-block earlier)
    // of the same digit, less the nominal advance.
    if (havePreviousWindow_ && previousRow_ == r && previousColumn_ == c) {
        s.rowAdvance += window[row] * std::conj(previousWindow_[row]) * halfRotation_[row];
        s.columnAdvance += window[column] * std::conj(previousWindow_[column]) * halfRotation_[column];
    }
}

void DtmfReceiver::closeSegment() {
    Segment& s = segment_;
    if (s.row < 0) return;
    const Segment done = s;
    s = Segment{};
    if (done.windows < 2 || std::abs(done.rowAdvance) == 0.0 || std::abs(done.columnAdvance) == 0.0) return;

    // Where the tone began: the first of the early windows that reaches
    // half of the strongest amplitude; it ended in the last such window.
    std::int64_t firstStrong = done.firstStart;
    const int early = std::min<int>(done.windows, static_cast<int>(done.earlyStarts.size()));
    for (int i = early - 1; i >= 0; --i) {
        if (done.earlyAmplitudes[static_cast<std::size_t>(i)] >= 0.5 * done.maxAmplitude) {
            firstStrong = done.earlyStarts[static_cast<std::size_t>(i)];
        }
    }
    // Only windows almost wholly inside the tone hold a candidate (the
    // edges of a tone spread its spectrum over the neighbouring
    // frequencies), so the tone starts about a quarter of a half-block after
    // the first and ends about 1.75 half-blocks after the start of the last:
    // n windows measure (n + 0.5) half-blocks.
    const std::int64_t start = firstStrong + half_ / 4;
    const std::int64_t end = done.lastStrongStart + (7 * half_) / 4;
    if (static_cast<double>(end - start) < kMinDurationSeconds * rate_) return;

    // Frequency offsets from the mean phase advance per half-block.
    const double hzPerRadian = rate_ / (2.0 * std::numbers::pi * half_);
    const std::size_t row = static_cast<std::size_t>(done.row);
    const std::size_t column = static_cast<std::size_t>(done.column) + 4;
    const double rowOffset = std::arg(done.rowAdvance) * hzPerRadian;
    const double columnOffset = std::arg(done.columnAdvance) * hzPerRadian;
    if (std::abs(rowOffset) > kMaxFrequencyOffset * frequency_[row]) return;
    if (std::abs(columnOffset) > kMaxFrequencyOffset * frequency_[column]) return;

    // Twist, with each level corrected for the window's response at its offset.
    const double n = 2.0 * half_;
    const auto response = [&](double offset) {
        const double x = std::numbers::pi * offset / rate_;
        if (std::abs(x) < 1e-12) return 1.0;
        const double r = std::sin(x * n) / (n * std::sin(x));
        return r * r;
    };
    const double rowLevel = done.rowPower / response(rowOffset);
    const double columnLevel = done.columnPower / response(columnOffset);
    const double twistDb = 10.0 * std::log10(columnLevel / rowLevel);
    if (twistDb > kMaxHighStrongerDb || twistDb < -kMaxLowStrongerDb) return;
    if (!toneStandsAlone(start, end, frequency_[row] + rowOffset, frequency_[column] + columnOffset)) return;

    sink_.onEvent(DtmfTone{dtmfDigit(done.row, done.column), start, end});
}

}  // namespace sigcore
