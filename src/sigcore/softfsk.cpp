#include "sigcore/softfsk.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <vector>

namespace sigcore {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Second-order section, transposed direct form II.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double z1 = 0.0, z2 = 0.0;

    double step(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
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

// The energy of one tone over the last `window` samples: a sliding sum of
// the samples turned by the tone's phasor, kept exact by subtracting the very
// product that was added.
class SlidingTone {
public:
    SlidingTone(int toneHz, int rate, int window) : ring_(static_cast<std::size_t>(window)), scale_(1.0 / window) {
        const int period = rate / std::gcd(toneHz, rate);
        phasor_.resize(static_cast<std::size_t>(period));
        for (int i = 0; i < period; ++i) {
            const double angle = -2 * kPi * static_cast<double>(toneHz) * i / rate;
            phasor_[static_cast<std::size_t>(i)] = {std::cos(angle), std::sin(angle)};
        }
    }

    double step(double x) {
        const std::complex<double> product = x * phasor_[phase_];
        phase_ = phase_ + 1 == phasor_.size() ? 0 : phase_ + 1;
        previous_ = sum_;
        sum_ += product - ring_[slot_];
        ring_[slot_] = product;
        slot_ = slot_ + 1 == ring_.size() ? 0 : slot_ + 1;
        return std::norm(sum_) * scale_ * scale_;
    }

    // How the window's sum turned since the previous sample: for a steady
    // tone, its angle is the tone's offset from this one, in radians per sample.
    [[nodiscard]] std::complex<double> turn() const { return sum_ * std::conj(previous_); }

private:
    std::vector<std::complex<double>> phasor_;
    std::vector<std::complex<double>> ring_;
    std::size_t phase_ = 0;
    std::size_t slot_ = 0;
    std::complex<double> sum_{};
    std::complex<double> previous_{};
    double scale_;
};

// The largest offset of the mark tone from the plan's taken for this plan.
constexpr double kLargestOffsetHz = 75.0;

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
};

// Passes events on, but holds back a message whose check failed, for the
// receiver to try its repair once the decoder's call has returned.
class HoldingSink final : public EventSink {
public:
    explicit HoldingSink(EventSink& out) : out_(out) {}
    void onEvent(const Event& event) override {
        if (holdFailed) {
            if (const auto* decoded = std::get_if<MessageDecoded>(&event)) {
                if (!decoded->message.valid && decoded->message.complete) {
                    held = decoded->message;
                    return;
                }
            }
        }
        out_.onEvent(event);
    }
    bool holdFailed = false;
    std::optional<Message> held;

private:
    EventSink& out_;
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

struct SoftFskReceiver::Impl {
    MessageDecoder& decoder;
    EventSink& out;
    HoldingSink sink;
    SoftFskOptions options;
    double bitTime;  // nominal samples per bit
    int window;      // matched filter length, one bit
    Biquad highPass;
    Biquad lowPass;
    bool useLowPass;
    SlidingTone mark;
    SlidingTone space;
    double floorEnergy;
    int markSamples;
    double samplingRate;

    // The soft values of the last samples, for deciding a byte once all of
    // it is in: a power of two of them, more than a byte at the slowest rate.
    std::vector<double> softRing;
    std::size_t ringMask;

    std::int64_t n = -1;  // index of the newest sample
    double previousSoft = 0.0;
    Phase phase = Phase::Idle;

    // Idle: the current run of clear mark.
    int run = 0;
    double runEnergy = 0.0;
    std::complex<double> runTurn{};  // the mark filter's turns over the run

    // Inside a burst.
    double markRef = 1.0;    // mean mark energy of the opening mark run
    double bitLength = 0.0;  // samples per bit, tracked across the burst
    double edge = 0.0;       // where the soft value crossed zero at this byte's start bit
    double decideAt = 0.0;   // when every candidate's stop bit is in
    // A falling edge counts as a start bit's only after a clear mark: noise
    // around a rising edge's zero crossing must not start a byte.
    bool armed = false;
    int lowCarrier = 0;
    int framingErrors = 0;
    std::vector<ReceivedByte> bytes;

    Impl(const TonePlan& plan, MessageDecoder& d, int rate, EventSink& s, const SoftFskOptions& o)
        : decoder(d),
          out(s),
          sink(s),
          options(o),
          bitTime(static_cast<double>(rate) / plan.baud),
          window(std::max(2, static_cast<int>(std::lround(bitTime)))),
          highPass(butterworth(true, 500.0, rate)),
          lowPass(butterworth(false, 2900.0, rate)),
          useLowPass(2900.0 < 0.45 * rate),
          mark(plan.markHz, rate, window),
          space(plan.spaceHz, rate, window),
          floorEnergy(o.floorAmplitude * o.floorAmplitude * 0.25),
          markSamples(static_cast<int>(o.markSeconds * rate)),
          samplingRate(rate) {
        std::size_t size = 64;
        while (static_cast<double>(size) < 16 * bitTime + 16) size *= 2;
        softRing.assign(size, 0.0);
        ringMask = size - 1;
        sink.holdFailed = o.repair;
        bytes.reserve(512);
    }

    double softAt(std::int64_t i) const { return softRing[static_cast<std::size_t>(i) & ringMask]; }

    // The soft value at fractional sample position t, linear between samples.
    double softAt(double t) const {
        const auto i = static_cast<std::int64_t>(std::floor(t));
        const double f = t - static_cast<double>(i);
        return softAt(i) + (softAt(i + 1) - softAt(i)) * f;
    }

    void startBurst(std::int64_t runStart) {
        markRef = runEnergy / run;
        sink.onEvent(BurstDetected{runStart});
        sink.onEvent(MarkConfirmed{n});
        decoder.startBurst(sink);
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
        run = 0;
        runEnergy = 0.0;
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
            if (fixed && fixed->valid) {
                fixed->repaired = true;
                out.onEvent(MessageDecoded{std::move(*fixed)});
                return;
            }
            replay(0, -1);  // back to the state of the bytes as received
        }
        out.onEvent(MessageDecoded{std::move(failed)});
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
            const double expected = edge + shift + k * length;
            double nearest = -1.0;
            const auto last = static_cast<std::int64_t>(std::ceil(expected + 0.5 * length));
            for (auto i = static_cast<std::int64_t>(std::floor(expected - 0.5 * length)); i < last; ++i) {
                const double before = softAt(i) * direction;
                const double after = softAt(i + 1) * direction;
                if (before > 0.0 || after <= 0.0) continue;
                const double at = static_cast<double>(i) + before / (before - after);
                if (nearest < 0.0 || std::abs(at - expected) < std::abs(nearest - expected)) nearest = at;
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

    // Decides the byte that began at `edge`: of the bit lengths and phases
    // near the tracked ones, the one whose ten sampling points are the most
    // certain, with a space start bit and a mark stop bit.
    void decideByte() {
        double bestScore = -1e9;
        double bestLength = bitLength;
        double bestShift = 0.0;
        for (int l = -4; l <= 4; ++l) {
            const double length = bitLength * (1.0 + 0.01 * l);
            for (int p = -2; p <= 2; ++p) {
                const double shift = 0.1 * p * length;
                double score = 0.0;
                for (int k = 0; k < 10; ++k) {
                    const double v = softAt(edge + shift + (k + 0.5) * length);
                    score += k == 0 ? -v : (k == 9 ? v : std::abs(v));
                }
                // Prefer the tracked timing, the length most: an echo slows
                // the line's rise after a run of space, and a length fitted
                // freely to the ten points shortens there and misreads the
                // bit before the stop bit.
                score -= 0.15 * std::abs(l) + 0.1 * std::abs(p);
                if (score > bestScore) {
                    bestScore = score;
                    bestLength = length;
                    bestShift = shift;
                }
            }
        }
        ReceivedByte byte;
        for (int k = 1; k <= 8; ++k) {
            const double v = softAt(edge + bestShift + (k + 0.5) * bestLength);
            if (v > 0.0) byte.value = static_cast<std::uint8_t>(byte.value | (1u << (k - 1)));
            byte.confidence[static_cast<std::size_t>(k - 1)] = std::abs(v);
        }
        const double stopCenter = edge + bestShift + 9.5 * bestLength;
        const bool stopOk = softAt(stopCenter) > 0.0;
        const bool startOk = softAt(edge + bestShift + 0.5 * bestLength) < 0.0;
        // The edge as the soft value shows it lies half a window after the
        // line's transition.
        byte.start = static_cast<std::int64_t>(edge) - window / 2;
        byte.end = static_cast<std::int64_t>(edge + 10 * bestLength) - window / 2;
        phase = Phase::AwaitStart;
        if (!startOk) return;  // a spike, not a start bit
        framingErrors = stopOk ? 0 : framingErrors + 1;
        // The bit rate follows the length that the good bytes' transitions
        // show (the fit above is held near the tracked length and would
        // follow an off-nominal rate too slowly).
        if (stopOk) {
            const double measured = transitionLength(byte.value, bestShift, bestLength);
            bitLength = std::clamp(0.8 * bitLength + 0.2 * (measured > 0.0 ? measured : bestLength), bitTime * 0.94,
                                   bitTime * 1.06);
        }
        if (framingErrors >= 2) {
            endBurst(byte.end);
            return;
        }
        bytes.push_back(byte);
        decoder.decodeByte(byte.value, byte.start, byte.end, sink);
        if (sink.held) repairHeld();
        if (phase != Phase::AwaitStart) return;
        // The next start bit may already be in: look for its edge from the
        // middle of the stop bit on. A single stop bit between two spaces may
        // never look clearly mark; it has been read as mark, which arms the
        // search.
        armed = stopOk;
        for (auto i = static_cast<std::int64_t>(std::ceil(stopCenter)); i <= n; ++i) {
            const double before = softAt(i - 1);
            const double after = softAt(i);
            if (before > kArm) armed = true;
            if (armed && before > 0.0 && after <= 0.0) {
                beginByte(static_cast<double>(i - 1) + before / (before - after));
                return;
            }
        }
    }

    void idleStep(double em, double es) {
        const bool clearMark = em > floorEnergy && em > 3.0 * es;
        if (!clearMark) {
            run = 0;
            runEnergy = 0.0;
            runTurn = 0.0;
            return;
        }
        ++run;
        runEnergy += em;
        runTurn += mark.turn();
        if (run < markSamples) return;
        // The mark must be this plan's: a tone further off than the largest
        // offset a line gives belongs to another standard's plan (Bell 202's
        // 1200 Hz mark lies 100 Hz from V.23's 1300 Hz).
        const double offsetHz = std::arg(runTurn) * samplingRate / (2 * kPi);
        if (std::abs(offsetHz) > kLargestOffsetHz) {
            run = 0;
            runEnergy = 0.0;
            runTurn = 0.0;
            return;
        }
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

    void step(std::int16_t raw) {
        ++n;
        double x = highPass.step(raw);
        if (useLowPass) x = lowPass.step(x);
        const double em = mark.step(x);
        const double es = space.step(x);
        const double soft = (em - es) / (em + es + 1e-9);
        softRing[static_cast<std::size_t>(n) & ringMask] = soft;
        if (phase == Phase::Idle) {
            idleStep(em, es);
        } else {
            burstStep(em, es, soft);
        }
        previousSoft = soft;
    }
};

SoftFskReceiver::SoftFskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                                 const SoftFskOptions& options) {
    if (!receiverAcceptsRate(samplingRate)) throw std::invalid_argument("sampling rate out of range");
    if (!(options.markSeconds >= 0.01 && options.markSeconds <= 1.0)) {
        throw std::invalid_argument("mark duration out of range");
    }
    impl_ = std::make_unique<Impl>(plan, decoder, samplingRate, sink, options);
}

SoftFskReceiver::~SoftFskReceiver() = default;

void SoftFskReceiver::push(std::span<const std::int16_t> samples) {
    Impl& r = *impl_;
    for (const std::int16_t x : samples) r.step(x);
}

void SoftFskReceiver::finish() {
    Impl& r = *impl_;
    if (r.phase != Phase::Idle) r.endBurst(r.n + 1);
}

std::int64_t SoftFskReceiver::samplesPushed() const { return impl_->n + 1; }

}  // namespace sigcore
