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

Composed compose(const Options& o) {
    Composed c;
    sigcore::BuildResult built = messageFor(o);
    if (!built.error.empty()) {
        c.error = built.error;
        return c;
    }
    c.message = std::move(built.bytes);
    const bool dtmf = isDtmf(o.standard);
    const double level = o.levelDbm0.value_or(dtmf ? kDtmfLevelDbm0 : kFskLevelDbm0);
    // Twist splits evenly around the level: the first tone above it by half.
    const double firstPeak = sigcore::sinePeakFromDbm0(level + o.twistDb / 2.0, o.refDbm0);
    const double secondPeak = sigcore::sinePeakFromDbm0(level - o.twistDb / 2.0, o.refDbm0);
    c.segments.emplace_back(sigcore::Silence{msSamples(o.leadMs, o.rate)});
    if (dtmf) {
        sigcore::DtmfSettings s;
        s.toneMs = o.digitMs;
        s.gapMs = o.digitGapMs;
        s.highPeak = firstPeak;
        s.lowPeak = secondPeak;
        const std::string digits(c.message.begin(), c.message.end());
        c.segments.emplace_back(sigcore::DtmfWriter(s, digits, o.rate));
        c.tonePower = sigcore::sinePower(firstPeak) + sigcore::sinePower(secondPeak);
    } else {
        sigcore::FskSettings s;
        s.tones = o.standard == Standard::Etsi || o.standard == Standard::Ntt ? sigcore::kV23Tones
                                                                               : sigcore::kBell202Tones;
        s.markPeak = firstPeak;
        s.spacePeak = secondPeak;
        s.markOffsetHz = o.markOffsetHz;
        s.spaceOffsetHz = o.spaceOffsetHz;
        s.rateErrorPercent = o.rateErrorPercent;
        s.seizureBits = o.seizureBits.value_or(defaultSeizureBits(o.standard));
        s.markBits = o.markBits.value_or(defaultMarkBits(o.standard));
        s.stopBits = o.stopBits;
        c.segments.emplace_back(sigcore::FskWriter(s, c.message, o.rate));
        c.tonePower = (sigcore::sinePower(firstPeak) + sigcore::sinePower(secondPeak)) / 2.0;
    }
    c.segments.emplace_back(sigcore::Silence{msSamples(o.tailMs, o.rate)});
    return c;
}

}  // namespace cidgen
