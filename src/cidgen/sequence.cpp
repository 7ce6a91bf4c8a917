#include "cidgen/sequence.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "cidgen/compose.hpp"
#include "cidgen/options.hpp"
#include "sigcore/senders/dtmf.hpp"
#include "sigcore/senders/levels.hpp"

namespace cidgen {

namespace {

enum class Alert { None, DualTone, RingPulse, Ring, Car };

constexpr double kReversalPeak = 0.5;   // the step's height, full scale 1.0
constexpr double kReversalDecayMs = 10.0;
constexpr double kAlertToneHz[2] = {2130.0, 2750.0};
constexpr double kAlertLevelDbm0 = -13.5;
constexpr double kLeastRingGapMs = 200.0;  // data end to a ring kept on the cadence
// Call waiting: the subscriber's 440 Hz tone, and the phone's DTMF
// acknowledgement after the CAS.
constexpr double kSasHz = 440.0;
constexpr double kSasMs = 300.0;
constexpr double kSasLevelDbm0 = -13.0;
constexpr double kAckMs = 60.0;
constexpr double kAckDelayMs = 50.0;
constexpr double kAckLevelDbm0 = -10.0;

// A preset's shape and nominal timings (ms); the options adjust them.
struct Plan {
    Preset preset;
    const char* name;
    bool fsk = true;            // false: DTMF caller ID
    bool reversal = false;      // a line reversal opens the sequence
    double reversalMs = 0.0;    // from the reversal to what follows
    Alert alert = Alert::None;
    double alertMs = 0.0;       // dual tone or ring pulse; Car: the whole CAR
    double gapMs = 0.0;         // from the alert's end to the data
    double ringHz = 25.0;
    double ringOnMs = 1000.0;
    double ringOffMs = 4000.0;
    bool nextRingOnCadence = false;  // the ring after the data keeps the cadence
    double afterMs = 500.0;     // else: from the data's end to the ring
    int ringsAfter = 1;         // ring bursts after the data
    double ringAfterOnMs = 0.0; // their length, 0: the cadence's
    std::optional<int> seizureBits;
    std::optional<int> markBits;
    double alertLevelDbm0 = kAlertLevelDbm0;  // each tone of the CAS or DT-AS
};

constexpr std::array<Plan, 8> kPlans{{
    {Preset::UsOnHook, "us-onhook", true, false, 0, Alert::Ring, 0, 500, 20, 2000, 4000, true, 0, 1, 0, {}, {}},
    {Preset::UsCallWaiting, "us-cw", true, false, 0, Alert::DualTone, 80, 250, 20, 2000, 4000, false, 0, 0, 0, 0,
     80, -15.0},
    {Preset::EtsiDtas, "etsi-dtas", true, true, 150, Alert::DualTone, 100, 100, 25, 1000, 4000, false, 300, 1, 0, {},
     {}},
    {Preset::EtsiRpas, "etsi-rpas", true, false, 0, Alert::RingPulse, 250, 800, 25, 1000, 4000, false, 300, 1, 0, {},
     {}},
    {Preset::EtsiRing, "etsi-ring", true, false, 0, Alert::Ring, 0, 800, 25, 1000, 4000, true, 0, 1, 0, {}, {}},
    {Preset::Bt, "bt", true, true, 150, Alert::DualTone, 100, 60, 25, 400, 200, false, 250, 2, 0, {}, 80},
    {Preset::Ntt, "ntt", true, false, 0, Alert::Car, 1500, 500, 16, 500, 500, false, 500, 1, 1000, {}, {}},
    // The data at least 200 ms after the reversal, the ring 200 to 500 ms after the data.
    {Preset::DtmfBeforeRing, "dtmf", false, true, 0, Alert::None, 0, 300, 25, 1000, 4000, false, 300, 1, 0, {}, {}},
}};


const Plan& planFor(Preset p) {
    for (const Plan& plan : kPlans) {
        if (plan.preset == p) return plan;
    }
    return kPlans[0];
}

std::int64_t msSamples(double ms, int rate) { return std::llround(ms * rate / 1000.0); }

// Segments appended with their rows of the timing table.
struct Builder {
    Sequence& out;
    int rate;
    std::int64_t at = 0;

    void add(sigcore::Segment segment, std::string what, std::string_view signal = {}) {
        const std::int64_t n = sigcore::segmentSamples(segment);
        if (n <= 0) return;
        out.steps.push_back({at, at + n, std::move(what), signal});
        at += n;
        out.segments.push_back(std::move(segment));
    }
    void silence(double ms, std::string what) { add(sigcore::Silence{msSamples(ms, rate)}, std::move(what)); }
    void ring(double hz, double peak, double ms, std::string what, std::string_view signal = "ring") {
        add(sigcore::Tones{hz, peak, 0.0, 0.0, msSamples(ms, rate), rate}, std::move(what), signal);
    }
};

std::string number(double value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%g", value);
    return text.data();
}

// Call waiting: the 440 Hz tone the subscriber hears, the CAS, then the gap
// to the data, with the phone's acknowledgement in it when one is asked for
// (composeSequence checks that it fits).
void addCallWaiting(Builder& b, const Options& o, double casPeak, double casMs, double gapMs) {
    const double sasPeak = sigcore::sinePeakFromDbm0(o.sasLevelDbm0.value_or(kSasLevelDbm0), o.refDbm0);
    b.add(sigcore::Tones{kSasHz, sasPeak, 0.0, 0.0, msSamples(o.sasMs.value_or(kSasMs), b.rate), b.rate},
          "SAS " + number(kSasHz) + " Hz");
    b.add(sigcore::Tones{kAlertToneHz[0], casPeak, kAlertToneHz[1], casPeak, msSamples(casMs, b.rate), b.rate},
          "CAS 2130+2750 Hz", "cas");
    if (!o.ack) {
        b.silence(gapMs, "gap for the acknowledgement (not rendered)");
        return;
    }
    const auto tones = sigcore::dtmfFrequencies(*o.ack);
    const double peak = sigcore::sinePeakFromDbm0(kAckLevelDbm0, o.refDbm0);
    const std::int64_t delay = msSamples(o.ackDelayMs.value_or(kAckDelayMs), b.rate);
    const std::int64_t ack = msSamples(o.ackMs.value_or(kAckMs), b.rate);
    b.add(sigcore::Silence{delay}, "pause before the acknowledgement");
    b.add(sigcore::Tones{tones->first, peak, tones->second, peak, ack, b.rate},
          std::string("acknowledgement DTMF ") + *o.ack + " (" + number(tones->first) + "+" + number(tones->second) +
              " Hz)",
          "ack");
    b.add(sigcore::Silence{msSamples(gapMs, b.rate) - delay - ack}, "gap to the data");
}

// What comes before the data: reversal, alert, gap.
void addLead(Builder& b, const Plan& p, const Options& o, double ringPeak, double& ringEndMs) {
    const double ringHz = o.ringHz.value_or(p.ringHz);
    const double on = o.ringCadence ? o.ringCadence->first : p.ringOnMs;
    const double off = o.ringCadence ? o.ringCadence->second : p.ringOffMs;
    const double alertMs = o.alertMs.value_or(p.alertMs);
    const std::string ringText = " (" + number(ringHz) + " Hz)";
    const double gapMs = o.gapMs.value_or(p.gapMs);
    if (p.reversal) {
        // With no alert the step's decay runs through the gap to the data.
        const double ms = p.alert == Alert::None ? gapMs : o.reversalMs.value_or(p.reversalMs);
        b.add(sigcore::LineStep{kReversalPeak, kReversalDecayMs, msSamples(ms, b.rate), b.rate},
              p.alert == Alert::None ? "line reversal (a decaying step) and the gap" : "line reversal (a decaying step)",
              "line-reversal");
    }
    switch (p.alert) {
    case Alert::None: break;
    case Alert::DualTone: {
        const double peak = sigcore::sinePeakFromDbm0(o.levelDbm0.value_or(p.alertLevelDbm0), o.refDbm0);
        if (p.preset == Preset::UsCallWaiting) {
            addCallWaiting(b, o, peak, alertMs, gapMs);
            ringEndMs = 0.0;  // no ringing follows
            return;
        }
        b.add(sigcore::Tones{kAlertToneHz[0], peak, kAlertToneHz[1], peak, msSamples(alertMs, b.rate), b.rate},
              "DT-AS 2130+2750 Hz", "dt-as");
        break;
    }
    case Alert::RingPulse: b.ring(ringHz, ringPeak, alertMs, "RP-AS ring pulse" + ringText, "rp-as"); break;
    case Alert::Ring: b.ring(ringHz, ringPeak, o.alertMs.value_or(on), "first ring" + ringText); break;
    case Alert::Car:
        for (double t = 0.0; t < alertMs;) {
            const double burst = std::min(on, alertMs - t);
            b.ring(ringHz, ringPeak, burst, "CAR ring" + ringText);
            t += burst;
            if (t >= alertMs) break;
            const double pause = std::min(off, alertMs - t);
            b.silence(pause, "CAR pause");
            t += pause;
        }
        break;
    }
    ringEndMs = 1000.0 * static_cast<double>(b.at) / b.rate;
    if (p.alert == Alert::None && p.reversal) return;
    b.silence(gapMs, "gap");
}

// The ringing after the data.
void addTrail(Builder& b, const Plan& p, const Options& o, double ringPeak, double ringEndMs) {
    const double ringHz = o.ringHz.value_or(p.ringHz);
    const double on = o.ringCadence ? o.ringCadence->first : p.ringOnMs;
    const double off = o.ringCadence ? o.ringCadence->second : p.ringOffMs;
    if (p.ringsAfter == 0) return;
    const double nowMs = 1000.0 * static_cast<double>(b.at) / b.rate;
    const double wait = o.ringAfterMs                ? *o.ringAfterMs
                        : p.nextRingOnCadence        ? std::max(ringEndMs + off - nowMs, kLeastRingGapMs)
                                                     : p.afterMs;
    b.silence(wait, "pause before the ringing");
    const double length = p.ringAfterOnMs > 0.0 ? p.ringAfterOnMs : on;
    for (int i = 0; i < p.ringsAfter; ++i) {
        if (i > 0) b.silence(off, "ring pause");
        b.ring(ringHz, ringPeak, length, "ring (" + number(ringHz) + " Hz)");
    }
}

// Why the options a preset does not use, or an acknowledgement that does
// not fit its gap, cannot be rendered; empty when all can.
std::string sequenceOptionError(const Plan& p, const Options& o) {
    if (o.reversalMs && !(p.reversal && p.alert != Alert::None)) {
        return "--reversal-ms: only with --sequence etsi-dtas or bt (dtmf: --gap-ms)";
    }
    if (o.ringAfterMs && p.ringsAfter == 0) return std::string("--ring-after-ms: ") + p.name + " sends no ringing";
    if (p.preset != Preset::UsCallWaiting) {
        if (o.sasMs || o.sasLevelDbm0 || o.ack || o.ackDelayMs || o.ackMs) {
            return "--sas-ms, --sas-level, --ack, --ack-delay-ms and --ack-ms: only with --sequence us-cw";
        }
        return {};
    }
    if ((o.ackDelayMs || o.ackMs) && !o.ack) return o.ackMs ? "--ack-ms: needs --ack" : "--ack-delay-ms: needs --ack";
    if (!o.ack) return {};
    const double ackMs = o.ackMs.value_or(kAckMs);
    const std::int64_t gap = msSamples(o.gapMs.value_or(p.gapMs), o.rate);
    if (msSamples(o.ackDelayMs.value_or(kAckDelayMs), o.rate) + msSamples(ackMs, o.rate) > gap) {
        return "--ack-delay-ms: the acknowledgement (" + number(ackMs) + " ms) must end within --gap-ms (" +
               number(o.gapMs.value_or(p.gapMs)) + " ms)";
    }
    return {};
}

}  // namespace

std::optional<Preset> presetNamed(std::string_view text) {
    for (const Plan& p : kPlans) {
        if (text == p.name) return p.preset;
    }
    return std::nullopt;
}

const char* presetName(Preset preset) { return planFor(preset).name; }

Standard presetStandard(Preset preset) {
    switch (preset) {
    case Preset::UsOnHook:
    case Preset::UsCallWaiting: return Standard::UsMdmf;
    case Preset::Ntt: return Standard::Ntt;
    case Preset::DtmfBeforeRing: return Standard::DtmfCid;
    default: return Standard::Etsi;
    }
}

Sequence composeSequence(const Options& options, const Outgoing& message) {
    Sequence s;
    const Plan& p = planFor(*options.sequence);
    const bool dtmf = message.standard == Standard::DtmfCid || message.standard == Standard::Dtmf;
    if (dtmf == p.fsk) {
        s.error = std::string("--sequence ") + p.name + ": takes " +
                  (p.fsk ? "an FSK standard (us-*, etsi, ntt)" : "--standard dtmf-cid or dtmf");
        return s;
    }
    s.error = sequenceOptionError(p, options);
    if (!s.error.empty()) return s;
    Options o = options;
    if (!o.seizureBits && p.seizureBits) o.seizureBits = p.seizureBits;
    if (!o.markBits && p.markBits) o.markBits = p.markBits;
    const double ringPeak = sigcore::sinePeakFromDbfs(o.ringLevelDbfs);
    Builder b{s, o.rate};
    b.silence(o.leadMs, "silence");
    double ringEndMs = 0.0;
    addLead(b, p, o, ringPeak, ringEndMs);
    b.add(messageSegment(o, message, s.tonePower), dtmf ? "DTMF caller ID digits" : "FSK burst (seizure, mark, message)");
    addTrail(b, p, o, ringPeak, ringEndMs);
    b.silence(o.tailMs, "silence");
    return s;
}

std::string describeSteps(const std::vector<Step>& steps, int rate) {
    std::string text = "segment  start_ms    end_ms  what\n";
    std::array<char, 64> line{};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        std::snprintf(line.data(), line.size(), "%7zu %9.3f %9.3f  ", i + 1,
                      1000.0 * static_cast<double>(steps[i].start) / rate,
                      1000.0 * static_cast<double>(steps[i].end) / rate);
        text += line.data();
        text += steps[i].what;
        text += '\n';
    }
    return text;
}

}  // namespace cidgen
