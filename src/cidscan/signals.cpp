#include "cidscan/signals.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "sigcore/measure/dtmfmeasure.hpp"
#include "sigcore/measure/tonefit.hpp"

namespace cidscan {

namespace {

constexpr double kAckWindowSeconds = 0.5;
// An acknowledgement is one digit: another this soon after it makes the
// digits DTMF caller ID.
constexpr double kAckAloneSeconds = 0.3;
constexpr double kAlertHoldSeconds = 3.0;
// Up to 4 s of ringing and this wait stay within the 12 s a channel keeps.
constexpr double kRingHoldSeconds = 7.0;
constexpr double kRpAsMaxSeconds = 0.35;
constexpr double kRpAsBeforeSeconds = 2.5;
constexpr double kAlertHz[2] = {2130.0, 2750.0};
// The receiver's alert edges are its 5 ms blocks'.
constexpr sigcore::TonePairSearch kAlertSearch{0.008, 60.0, 0.03};
constexpr std::size_t kKept = 8;
// Ringing: looked at this far beyond the receiver's edges; its fundamental
// searched this far from the zero crossings' estimate; its level where this
// share of its samples stays under; the noise around it from this long.
constexpr double kRingMarginSeconds = 0.05;
constexpr double kRingCrestShare = 0.95;
constexpr double kNoiseSeconds = 0.03;
constexpr double kRingSearchHz = 2.0;

bool isAckDigit(char d) { return d >= 'A' && d <= 'D'; }

// The power about `mean` of x[from, from + count).
double powerOf(const std::vector<float>& x, double mean, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < x.size(); ++i) sum += (x[i] - mean) * (x[i] - mean);
    return count == 0 ? 0 : sum / static_cast<double>(count);
}

// Where ringing of `period` samples begins and ends in `x`: where its power,
// averaged over one period centred on the sample, crosses halfway between
// `ringPower` and `noisePower`. A step in the envelope crosses halfway at
// the step, whatever the noise, clipping or phase.
struct Edges {
    std::size_t begin = 0;
    std::size_t end = 0;
};
std::optional<Edges> ringEdges(const std::vector<float>& x, double mean, std::size_t period, double ringPower,
                               double noisePower) {
    std::vector<double> sums(x.size() + 1, 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) sums[i + 1] = sums[i] + (x[i] - mean) * (x[i] - mean);
    const std::size_t half = period / 2;
    const double level = (ringPower + noisePower) / 2;
    const auto above = [&](std::size_t i) {
        const std::size_t lo = i > half ? i - half : 0;
        const std::size_t hi = std::min(x.size(), i + half + 1);
        return sums[hi] - sums[lo] >= level * static_cast<double>(hi - lo);
    };
    std::size_t begin = 0;
    while (begin < x.size() && !above(begin)) ++begin;
    std::size_t end = x.size();
    while (end > begin && !above(end - 1)) --end;
    if (end <= begin) return std::nullopt;
    return Edges{begin, end};
}

// A measured tone pair's frequencies, levels and edges into the signal.
void takeTones(sigcore::LineSignal& s, const sigcore::DigitMeasurement& m, int rate) {
    if (!m.measured) return;
    s.startSample = std::llround(m.start);
    s.endSample = std::llround(m.end);
    s.measure.lowHz = m.lowHz;
    s.measure.highHz = m.highHz;
    s.measure.lowDbfs = m.lowDbfs;
    s.measure.highDbfs = m.highDbfs;
    s.measure.twistDb = m.twistDb;
    s.measure.durationMs = 1000.0 * (m.end - m.start) / rate;
}

}  // namespace

SignalTracker::SignalTracker(int rate, const sigcore::SampleRing& ring) : rate_(rate), ring_(ring), tones_(rate, *this) {}

void SignalTracker::push(std::span<const std::int16_t> samples) {
    tones_.push(samples);
    pushed_ += static_cast<std::int64_t>(samples.size());
}

void SignalTracker::finish() { tones_.finish(); }

void SignalTracker::onLineTone(const sigcore::LineTone& tone) {
    // The two paths close their runs at different delays: kept in start order.
    auto at = held_.end();
    while (at != held_.begin() && std::prev(at)->tone.start > tone.start) --at;
    held_.insert(at, Held{tone, std::nullopt, false, std::nullopt});
}

void SignalTracker::onEvent(const sigcore::Event& event) {
    const auto* digit = std::get_if<sigcore::DtmfTone>(&event);
    if (digit == nullptr) return;
    const auto window = static_cast<std::int64_t>(kAckWindowSeconds * rate_);
    const auto alone = static_cast<std::int64_t>(kAckAloneSeconds * rate_);
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
        Held& h = *it;
        if (h.tone.kind != sigcore::LineToneKind::Alert) continue;
        if (h.ack && digit->start >= h.ack->end && digit->start - h.ack->end <= alone) {
            // More digits: DTMF caller ID after a DT-AS, not an acknowledgement.
            h.ack.reset();
            h.digitsFollow = true;
        } else if (!h.ack && !h.digitsFollow && isAckDigit(digit->digit) && digit->start >= h.tone.end &&
                   digit->start - h.tone.end <= window) {
            h.ack = *digit;
        }
        return;
    }
}

void SignalTracker::noteMessage(std::int64_t start, sigcore::Standard standard) {
    if (noted_.size() >= kKept) noted_.pop_front();
    noted_.push_back({start, standard});
}

bool SignalTracker::isAck(const sigcore::Message& m) const {
    const bool dtmf = m.standard == sigcore::Standard::DtmfCallerId || m.standard == sigcore::Standard::Dtmf;
    if (!dtmf || m.tones.size() != 1) return false;
    const auto slack = static_cast<std::int64_t>(0.01 * rate_);
    return std::any_of(ackStarts_.begin(), ackStarts_.end(),
                       [&](std::int64_t s) { return std::abs(s - m.tones.front().start) <= slack; });
}

const SignalTracker::Noted* SignalTracker::messageAfter(std::int64_t position) const {
    for (const Noted& n : noted_) {
        if (n.start >= position) return &n;
    }
    return nullptr;
}

void SignalTracker::resolve(bool atEnd) {
    while (!held_.empty()) {
        Held& h = held_.front();
        const bool decided = h.tone.kind == sigcore::LineToneKind::Alert ? decideAlert(h, atEnd) : decideLow(h, atEnd);
        if (!decided) return;
        held_.pop_front();
    }
}

bool SignalTracker::decideAlert(const Held& h, bool atEnd) {
    const std::int64_t now = pushed_;
    const auto margin = static_cast<std::int64_t>(std::ceil(sigcore::kDigitMarginSeconds * rate_));
    if (h.ack) {
        // Alone: no digit follows it soon (the receiver tells a digit about
        // 25 ms after its end).
        const auto settled = h.ack->end + static_cast<std::int64_t>((kAckAloneSeconds + 0.05) * rate_);
        if (!atEnd && (ring_.end() < h.ack->end + margin || now < settled)) return false;
        ready_.push_back(measureAlert(h.tone, sigcore::LineSignalKind::Cas));
        ready_.push_back(measureAck(*h.ack));
        if (ackStarts_.size() >= kKept) ackStarts_.pop_front();
        ackStarts_.push_back(h.ack->start);
        return true;
    }
    // A message decoded after the alert: any acknowledgement came before
    // its burst and has been heard.
    sigcore::LineSignalKind kind = sigcore::LineSignalKind::DtAs;
    const Noted* next = messageAfter(h.tone.end);
    if (next != nullptr && next->start - h.tone.end <= static_cast<std::int64_t>(kAlertHoldSeconds * rate_)) {
        if (next->standard == sigcore::Standard::Bell202) kind = sigcore::LineSignalKind::Cas;
    } else if (!atEnd && now < h.tone.end + static_cast<std::int64_t>(kAlertHoldSeconds * rate_)) {
        return false;
    }
    ready_.push_back(measureAlert(h.tone, kind));
    return true;
}

bool SignalTracker::decideLow(Held& h, bool atEnd) {
    if (h.tone.kind == sigcore::LineToneKind::LineReversal) {
        ready_.push_back({sigcore::LineSignalKind::LineReversal, h.tone.start, h.tone.end, {}});
        return true;
    }
    // Under a burst: hum or another low-frequency sound, not ringing.
    if (std::any_of(noted_.begin(), noted_.end(),
                    [&](const Noted& n) { return n.start >= h.tone.start && n.start < h.tone.end; })) {
        return true;
    }
    if (!h.measured) {
        // Measured once, while it waits for what follows.
        sigcore::LineSignal m{sigcore::LineSignalKind::Ring, h.tone.start, h.tone.end, {}};
        // The receiver's values, kept where the samples are no longer held.
        m.measure.ringHz = h.tone.hz;
        m.measure.onMs = 1000.0 * static_cast<double>(h.tone.end - h.tone.start) / rate_;
        m.measure.durationMs = *m.measure.onMs;
        measureRing(h.tone, m);
        h.measured = m;
    }
    sigcore::LineSignal s = *h.measured;
    const double onMs = *s.measure.onMs;
    // The next ring, held or under way.
    std::int64_t nextRing = -1;
    for (const Held& other : held_) {
        if (other.tone.kind == sigcore::LineToneKind::Ringing && other.tone.start >= h.tone.end) {
            nextRing = other.tone.start;
            break;
        }
    }
    if (nextRing < 0 && tones_.lowRunStart() >= h.tone.end) nextRing = tones_.lowRunStart();
    if (nextRing >= 0) {
        // Where it begins, taken from the samples like this ring's edges.
        const std::optional<std::int64_t> start = ringStartNear(nextRing, h.tone.hz, atEnd);
        if (!start) return false;
        nextRing = *start;
    }
    std::int64_t off = -1;
    const Noted* next = messageAfter(h.tone.end);
    if (next != nullptr && (nextRing < 0 || next->start < nextRing)) {
        const bool shortRing = onMs <= 1000.0 * kRpAsMaxSeconds;
        const bool soon = next->start - s.endSample <= static_cast<std::int64_t>(kRpAsBeforeSeconds * rate_);
        if (shortRing && soon && next->standard != sigcore::Standard::V23Ntt) s.kind = sigcore::LineSignalKind::RpAs;
    } else if (nextRing >= 0) {
        off = nextRing;
    } else if (!atEnd && tones_.samplesPushed() < h.tone.end + static_cast<std::int64_t>(kRingHoldSeconds * rate_)) {
        return false;
    }
    if (off >= 0) s.measure.offMs = 1000.0 * static_cast<double>(off - s.endSample) / rate_;
    ready_.push_back(s);
    return true;
}

void SignalTracker::measureRing(const sigcore::LineTone& tone, sigcore::LineSignal& s) const {
    // The receiver's edges lag where its DC blocker's memory outlasts the
    // ringing: taken again from the samples.
    std::vector<float> x;
    const auto margin = static_cast<std::size_t>(kRingMarginSeconds * rate_);
    const std::int64_t first = ring_.copy(tone.start - static_cast<std::int64_t>(margin),
                                          tone.end + static_cast<std::int64_t>(margin), x);
    if (x.size() <= 2 * margin) return;
    // The wave's middle: a clipped wave's too.
    const auto [low, high] = std::minmax_element(x.begin(), x.end());
    const double mean = (static_cast<double>(*low) + static_cast<double>(*high)) / 2.0;
    const auto period = static_cast<std::size_t>(rate_ / tone.hz);
    const auto noiseLength = static_cast<std::size_t>(kNoiseSeconds * rate_);
    const double noise = std::min(powerOf(x, mean, 0, noiseLength), powerOf(x, mean, x.size() - noiseLength, noiseLength));
    const std::size_t inside = x.size() - 2 * margin;
    const double power = inside > 2 * period ? powerOf(x, mean, margin + period / 2, inside - period)
                                             : powerOf(x, mean, margin, inside);
    const std::optional<Edges> edges = ringEdges(x, mean, period, power, noise);
    if (!edges) return;
    const auto [begin, end] = *edges;
    s.startSample = first + static_cast<std::int64_t>(begin);
    s.endSample = first + static_cast<std::int64_t>(end);
    // The fundamental that explains most of the wave, clipped or not.
    const sigcore::Stretch all{begin, end};
    double freq[1] = {tone.hz / rate_};
    sigcore::bestFrequency(x, std::span<const sigcore::Stretch>(&all, 1), freq, 1, 0, kRingSearchHz / rate_);
    s.measure.ringHz = freq[0] * rate_;
    // Its peak: the level most of the wave's crests reach, which noise on
    // them hardly moves (a sine is within 0.03 dB of its peak 5 % of the
    // time; a clipped wave longer).
    std::vector<float> crest(x.begin() + static_cast<std::ptrdiff_t>(begin), x.begin() + static_cast<std::ptrdiff_t>(end));
    for (float& v : crest) v = static_cast<float>(std::abs(v - mean));
    const auto at = crest.begin() + static_cast<std::ptrdiff_t>(kRingCrestShare * static_cast<double>(crest.size()));
    std::nth_element(crest.begin(), at, crest.end());
    s.measure.ringDbfs = 20.0 * std::log10(std::max(static_cast<double>(*at), 1.0) / 32768.0);
    s.measure.onMs = 1000.0 * static_cast<double>(s.endSample - s.startSample) / rate_;
    s.measure.durationMs = *s.measure.onMs;
}

std::optional<std::int64_t> SignalTracker::ringStartNear(std::int64_t coarse, double hz, bool atEnd) const {
    const auto margin = static_cast<std::int64_t>(kRingMarginSeconds * rate_);
    const auto period = static_cast<std::int64_t>(rate_ / hz);
    // Half a period of the ring in, and the margin beyond it.
    const std::int64_t to = coarse + 2 * margin + period;
    if (!atEnd && ring_.end() < to) return std::nullopt;
    std::vector<float> x;
    const std::int64_t first = ring_.copy(coarse - margin, to, x);
    const auto head = static_cast<std::size_t>(std::max<std::int64_t>(0, coarse - first));
    if (x.size() <= head + static_cast<std::size_t>(period)) return coarse;
    const auto [low, high] = std::minmax_element(x.begin(), x.end());
    const double mean = (static_cast<double>(*low) + static_cast<double>(*high)) / 2.0;
    const auto noiseLength = std::min(head, static_cast<std::size_t>(kNoiseSeconds * rate_));
    const double noise = powerOf(x, mean, 0, noiseLength);
    const auto in = head + static_cast<std::size_t>(period / 2);
    const double power = powerOf(x, mean, in, x.size() - in);
    const std::optional<Edges> edges = ringEdges(x, mean, static_cast<std::size_t>(period), power, noise);
    return edges ? first + static_cast<std::int64_t>(edges->begin) : coarse;
}

std::int64_t SignalTracker::settledBefore() const {
    // A low-frequency run under way when a message is decoded lies under
    // its burst (ringing never does: it is dropped), so only alerts count.
    const std::int64_t settled = tones_.alertsSettledBefore();
    return held_.empty() ? settled : std::min(settled, held_.front().tone.start);
}

sigcore::LineSignal SignalTracker::measureAlert(const sigcore::LineTone& tone, sigcore::LineSignalKind kind) const {
    sigcore::LineSignal s{kind, tone.start, tone.end, {}};
    std::vector<float> x;
    const auto margin = static_cast<std::int64_t>(kAlertSearch.marginSeconds * rate_);
    const std::int64_t first = ring_.copy(tone.start - margin, tone.end + margin, x);
    const sigcore::DigitMeasurement m =
        sigcore::measureTonePair(x, first, rate_, kAlertHz, tone.start, tone.end, kAlertSearch);
    s.measure.durationMs = 1000.0 * static_cast<double>(tone.end - tone.start) / rate_;
    takeTones(s, m, rate_);
    return s;
}

sigcore::LineSignal SignalTracker::measureAck(const sigcore::DtmfTone& tone) const {
    sigcore::LineSignal s{sigcore::LineSignalKind::Ack, tone.start, tone.end, {}};
    s.measure.digit = tone.digit;
    s.measure.durationMs = 1000.0 * static_cast<double>(tone.end - tone.start) / rate_;
    std::vector<float> x;
    const auto margin = static_cast<std::int64_t>(sigcore::kDigitMarginSeconds * rate_);
    const std::int64_t first = ring_.copy(tone.start - margin, tone.end + margin, x);
    const sigcore::DigitMeasurement m = sigcore::measureDigit(x, first, rate_, tone.digit, tone.start, tone.end);
    takeTones(s, m, rate_);
    return s;
}

}  // namespace cidscan
