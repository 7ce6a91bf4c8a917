#include "cidgen/compose.hpp"

#include <cmath>

#include "sigcore/senders/levels.hpp"

namespace cidgen {

namespace {

constexpr double kFskLevelDbm0 = -13.5;
constexpr double kDtmfLevelDbm0 = -10.0;

bool isDtmf(Standard s) { return s == Standard::DtmfCid || s == Standard::Dtmf; }

sigcore::BuildResult callerIdMessage(const Options& o) {
    const auto& f = o.fields;
    switch (o.standard) {
    case Standard::UsSdmf: return sigcore::buildUsSdmf(f);
    case Standard::UsMdmf:
        return o.messageWaiting ? sigcore::buildUsMdmfMessageWaiting(*o.messageWaiting, f) : sigcore::buildUsMdmf(f);
    case Standard::UsVmwi: return sigcore::buildUsSdmfMessageWaiting(o.messageWaiting.value_or(true));
    case Standard::Etsi:
        return o.messageWaiting ? sigcore::buildEtsiMessageWaiting(*o.messageWaiting, f)
                                : sigcore::buildEtsiCallSetup(f);
    case Standard::Ntt: return sigcore::buildNttFrame(f);
    case Standard::DtmfCid: return sigcore::buildDtmfCallerId(f);
    case Standard::Dtmf: break;
    }
    return {};
}

bool printableAscii(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

// A field given that the chosen message has no place for, or "".
std::string unsentField(const Options& o) {
    const auto& f = o.fields;
    const bool vmwi = o.standard == Standard::UsVmwi;
    const bool sdmf = o.standard == Standard::UsSdmf;
    const bool dtmfCid = o.standard == Standard::DtmfCid;
    const bool waiting = o.messageWaiting.has_value() || vmwi;
    if (o.raw || o.digits) return "";  // sent as they are
    if (!f.name.empty() && (sdmf || dtmfCid || waiting)) return "--name";
    if (f.nameAbsent != 0 && (sdmf || dtmfCid || waiting)) return "--name-absent";
    if (!f.extra.empty() && (sdmf || dtmfCid || vmwi)) return "--param";
    if (!f.number.empty() && (vmwi || (waiting && o.standard != Standard::Etsi))) return "--number";
    if (f.numberAbsent != 0 && waiting) return "--number-absent";
    return "";
}

// What the options ask to send, checked against what the standard carries.
sigcore::BuildResult messageFor(const Options& o) {
    sigcore::BuildResult r;
    const bool dtmf = isDtmf(o.standard);
    if (o.raw && dtmf) {
        r.error = "--raw: DTMF sends digits; use --digits";
    } else if (o.digits && !dtmf) {
        r.error = "--digits: only with --standard dtmf or dtmf-cid";
    } else if (o.standard == Standard::Dtmf && !o.digits) {
        r.error = "--standard dtmf: --digits is needed";
    } else if (o.standard == Standard::Dtmf && o.badChecksum) {
        r.error = "--bad-checksum: plain DTMF digits have no check";
    } else if (o.messageWaiting && (o.standard == Standard::UsSdmf || o.standard == Standard::Ntt || dtmf)) {
        r.error = "--message-waiting: with us-vmwi, us-mdmf or etsi only";
    } else if (o.fields.callType && o.standard != Standard::UsMdmf && o.standard != Standard::Etsi) {
        r.error = "--call-type: with us-mdmf or etsi only";
    } else if (!o.fields.redirecting.empty() &&
               (o.standard == Standard::UsSdmf || o.standard == Standard::Ntt || o.standard == Standard::UsVmwi)) {
        r.error = "--redirecting: with us-mdmf, etsi or dtmf-cid only";
    } else if (const std::string field = unsentField(o); !field.empty() && o.standard != Standard::Dtmf) {
        r.error = field + ": this message has no place for it";
    } else if ((o.standard == Standard::UsMdmf) && !printableAscii(o.fields.name)) {
        r.error = "--name: US messages carry printable ASCII names only";
    } else if (o.standard == Standard::Dtmf && (!o.fields.number.empty() || !o.fields.name.empty())) {
        r.error = "--standard dtmf sends --digits only";
    } else if (!dtmf && (o.dtmfLowDeviationPercent != 0.0 || o.dtmfHighDeviationPercent != 0.0)) {
        r.error = "--dtmf-deviation: DTMF tones only (FSK: --mark-offset, --space-offset)";
    }
    if (!r.error.empty()) return r;
    if (o.raw) {
        r.bytes = *o.raw;
    } else if (o.digits) {
        r.bytes.assign(o.digits->begin(), o.digits->end());
    } else {
        r = callerIdMessage(o);
        if (!r.error.empty()) return r;
    }
    if (o.badChecksum) {
        if (o.standard == Standard::DtmfCid) {
            r.bytes.pop_back();  // the end digit: the message is cut off
        } else {
            sigcore::spoilCheck(r.bytes);
        }
    }
    return r;
}

std::int64_t msSamples(double ms, int rate) { return std::llround(ms * rate / 1000.0); }

}  // namespace

int defaultSeizureBits(Standard standard) { return standard == Standard::Ntt || isDtmf(standard) ? 0 : 300; }
int defaultMarkBits(Standard standard) {
    if (isDtmf(standard)) return 0;
    return standard == Standard::Ntt ? 240 : 180;
}

sigcore::Segment messageSegment(const Options& o, const Outgoing& m, double& power) {
    const bool dtmf = isDtmf(m.standard);
    const double level = o.levelDbm0.value_or(dtmf ? kDtmfLevelDbm0 : kFskLevelDbm0);
    // Twist splits evenly around the level: the first tone above it by half.
    const double firstPeak = sigcore::sinePeakFromDbm0(level + o.twistDb / 2.0, o.refDbm0);
    const double secondPeak = sigcore::sinePeakFromDbm0(level - o.twistDb / 2.0, o.refDbm0);
    const double both = sigcore::sinePower(firstPeak) + sigcore::sinePower(secondPeak);
    if (power == 0.0) power = dtmf ? both : both / 2.0;
    if (dtmf) {
        sigcore::DtmfSettings s;
        s.toneMs = o.digitMs;
        s.gapMs = o.digitGapMs;
        s.highPeak = firstPeak;
        s.lowPeak = secondPeak;
        s.lowScale = 1.0 + o.dtmfLowDeviationPercent / 100.0;
        s.highScale = 1.0 + o.dtmfHighDeviationPercent / 100.0;
        return sigcore::DtmfWriter(s, std::string(m.bytes.begin(), m.bytes.end()), o.rate);
    }
    sigcore::FskSettings s;
    s.tones = m.standard == Standard::Etsi || m.standard == Standard::Ntt ? sigcore::kV23Tones
                                                                           : sigcore::kBell202Tones;
    s.markPeak = firstPeak;
    s.spacePeak = secondPeak;
    s.markOffsetHz = o.markOffsetHz;
    s.spaceOffsetHz = o.spaceOffsetHz;
    s.rateErrorPercent = o.rateErrorPercent;
    s.seizureBits = o.seizureBits.value_or(defaultSeizureBits(m.standard));
    s.markBits = o.markBits.value_or(defaultMarkBits(m.standard));
    s.stopBits = o.stopBits;
    return sigcore::FskWriter(s, m.bytes, o.rate);
}

Composed composeMessages(const Options& o, std::span<const Outgoing> messages) {
    Composed c;
    for (const Outgoing& m : messages) {
        c.segments.emplace_back(sigcore::Silence{msSamples(o.leadMs, o.rate)});
        c.segments.push_back(messageSegment(o, m, c.tonePower));
        c.messages.push_back(m);
    }
    c.segments.emplace_back(sigcore::Silence{msSamples(o.tailMs, o.rate)});
    return c;
}

Composed compose(const Options& o) {
    sigcore::BuildResult built = messageFor(o);
    if (!built.error.empty()) {
        Composed c;
        c.error = built.error;
        return c;
    }
    const Outgoing one{o.standard, std::move(built.bytes)};
    if (o.sequence) {
        Sequence sequence = composeSequence(o, one);
        Composed c;
        c.messages.push_back(one);
        c.segments = std::move(sequence.segments);
        c.steps = std::move(sequence.steps);
        c.tonePower = sequence.tonePower;
        c.error = std::move(sequence.error);
        return c;
    }
    return composeMessages(o, std::span(&one, 1));
}

}  // namespace cidgen
