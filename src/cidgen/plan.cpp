#include "cidgen/plan.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>
#include <vector>

#include "cidgen/compose.hpp"
#include "cidgen/options.hpp"
#include "cidgen/run.hpp"
#include "cidgen/sequence.hpp"
#include "cidgen/soundfile.hpp"
#include "sigcore/messages/dtmfcid.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/messages/messagetext.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace cidgen {

namespace {

// What a receiver inside the standard's limits must do with a file.
enum class Expect { Display, Reject, Either };

const char* expectName(Expect e) {
    switch (e) {
    case Expect::Display: return "display";
    case Expect::Reject: return "reject";
    case Expect::Either: return "either";
    }
    return "either";
}

// One line condition: the changes from the nominal signal, and where the
// limit it tests comes from (man/cidgen.1 lists them).
struct Condition {
    std::string_view name;
    double level = 0.0;  // dBm0
    double twist = 0.0;
    double markOffset = 0.0;
    double spaceOffset = 0.0;
    double rateError = 0.0;
    double snr = 0.0;  // 0: no noise
    Expect expect = Expect::Display;
};

// One file of a plan: the options it is made with and what it means.
struct Entry {
    std::string shortName;
    Options options;
    Expect expect = Expect::Display;
    nlohmann::ordered_json conditions;
    std::string spoil;  // negative plan: how the message was spoiled
};

constexpr double kNominalDbm0 = -13.5;

// Level, twist, frequency, bit rate and noise at the limits ("display") and
// beyond them ("either"). US Bell 202: mark 1200 +/- 12 Hz, space 2200 +/- 22 Hz.
constexpr Condition kGr30[] = {
    {"nominal", kNominalDbm0},
    // Levels and noise as cidscan --check gr30 judges them: -36.2 to
    // -4.23 dBm0, at least 25 dB SNR.
    {"level-min", -36.2},
    {"level-max", -4.23},
    {"level-below", -45.0, 0, 0, 0, 0, 0, Expect::Either},
    {"twist-mark-high", kNominalDbm0, 6.0},
    {"twist-space-high", kNominalDbm0, -6.0},
    {"twist-beyond", kNominalDbm0, 14.0, 0, 0, 0, 0, Expect::Either},
    {"mark-low", kNominalDbm0, 0, -12.0},
    {"mark-high", kNominalDbm0, 0, 12.0},
    {"space-low", kNominalDbm0, 0, 0, -22.0},
    {"space-high", kNominalDbm0, 0, 0, 22.0},
    {"freq-beyond", kNominalDbm0, 0, -40.0, 60.0, 0, 0, Expect::Either},
    {"rate-slow", kNominalDbm0, 0, 0, 0, -1.0},
    {"rate-fast", kNominalDbm0, 0, 0, 0, 1.0},
    {"rate-beyond", kNominalDbm0, 0, 0, 0, 5.0, 0, Expect::Either},
    {"snr-min", kNominalDbm0, 0, 0, 0, 0, 25.0},
    {"snr-beyond", kNominalDbm0, 0, 0, 0, 0, 6.0, Expect::Either},
};

// ETSI V.23: mark 1300 +/- 16 Hz, space 2100 +/- 16 Hz.
constexpr Condition kEtsi[] = {
    {"nominal", kNominalDbm0},
    // Levels as cidscan --check etsi judges them: -33.78 to -5.78 dBm0.
    {"level-min", -33.78},
    {"level-max", -5.78},
    {"level-below", -50.0, 0, 0, 0, 0, 0, Expect::Either},
    {"twist-mark-high", kNominalDbm0, 6.0},
    {"twist-space-high", kNominalDbm0, -6.0},
    {"twist-beyond", kNominalDbm0, 14.0, 0, 0, 0, 0, Expect::Either},
    {"mark-low", kNominalDbm0, 0, -16.0},
    {"mark-high", kNominalDbm0, 0, 16.0},
    {"space-low", kNominalDbm0, 0, 0, -16.0},
    {"space-high", kNominalDbm0, 0, 0, 16.0},
    {"freq-beyond", kNominalDbm0, 0, -40.0, 60.0, 0, 0, Expect::Either},
    {"rate-slow", kNominalDbm0, 0, 0, 0, -1.0},
    {"rate-fast", kNominalDbm0, 0, 0, 0, 1.0},
    {"rate-beyond", kNominalDbm0, 0, 0, 0, 5.0, 0, Expect::Either},
    {"snr-min", kNominalDbm0, 0, 0, 0, 0, 20.0},
    {"snr-beyond", kNominalDbm0, 0, 0, 0, 0, 6.0, Expect::Either},
};

// NTT frames over V.23: the same tones and bit rate as ETSI, and no receiver
// limits of NTT's own could be found, so the ETSI conditions serve.
constexpr const auto& kNtt = kEtsi;

// One DTMF caller-ID condition: each tone's level, the twist (high group
// minus low), each group's deviation from its nominal frequencies, the
// lengths of a digit and of the pause after it, the noise.
struct DtmfCondition {
    std::string_view name;
    double level = 0.0;  // dBm0, each tone
    double twist = 0.0;
    double lowDeviation = 0.0;  // per cent
    double highDeviation = 0.0;
    double digitMs = 70.0;
    double gapMs = 70.0;
    double snr = 0.0;  // 0: no noise
    Expect expect = Expect::Display;
};

constexpr double kDtmfNominalDbm0 = -10.0;

// Deviation +/- 1.5 %, twist -8 to +4 dB, digits of 50 ms and pauses of
// 45 ms at least: the general DTMF receiver conditions; each tone from -28
// to -4 dBm0, the levels cidscan --check dtmf takes from a caller-ID
// receiver's requirements.
constexpr DtmfCondition kDtmfCid[] = {
    {"nominal", kDtmfNominalDbm0},
    {"level-min", -28.0},
    {"level-max", -4.0},
    {"level-below", -45.0, 0, 0, 0, 70, 70, 0, Expect::Either},
    {"twist-high", kDtmfNominalDbm0, 4.0},
    {"twist-low", kDtmfNominalDbm0, -8.0},
    {"twist-beyond", kDtmfNominalDbm0, -14.0, 0, 0, 70, 70, 0, Expect::Either},
    {"freq-low", kDtmfNominalDbm0, 0, -1.5, -1.5},
    {"freq-high", kDtmfNominalDbm0, 0, 1.5, 1.5},
    {"freq-beyond", kDtmfNominalDbm0, 0, 3.5, -3.5, 70, 70, 0, Expect::Either},
    {"digit-short", kDtmfNominalDbm0, 0, 0, 0, 50.0},
    {"gap-short", kDtmfNominalDbm0, 0, 0, 0, 70, 45.0},
    {"digit-beyond", kDtmfNominalDbm0, 0, 0, 0, 30.0, 30.0, 0, Expect::Either},
    {"snr-min", kDtmfNominalDbm0, 0, 0, 0, 70, 70, 20.0},
    {"snr-beyond", kDtmfNominalDbm0, 0, 0, 0, 70, 70, 6.0, Expect::Either},
};

// One call-sequence condition: a preset with one of its timings (or the
// burst's seizure or mark) moved to the limit a source gives (man/cidgen.1
// numbers the sources; "unverified" where none was found). Unset: the
// preset's own value.
struct SequenceCondition {
    std::string_view name;
    Preset preset;
    std::optional<double> alertMs;
    std::optional<double> gapMs;
    std::optional<double> reversalMs;
    std::optional<int> seizureBits;  // unset: the preset's, else the standard's
    std::optional<int> markBits;
    bool ack = false;  // us-cw: the phone acknowledges with a D
    std::string_view limit;
    Expect expect = Expect::Display;
    double ringOnMs = 0.0;  // with ringOffMs: the cadence (ntt: the CAR's); 0: the preset's
    double ringOffMs = 0.0;
    std::optional<double> ringAfterMs{};
};

// The data 500 to 2000 ms after the first ring [2]; call waiting: the CAS
// 80 +/- 5 ms, the data 0 to 500 ms after the acknowledgement (a D of 60 ms,
// 50 ms after the CAS, so the gap from the CAS is 110 to 610 ms), the mark
// 58 to 75 ms (70 to 90 bits) [3]. The call-waiting burst has no seizure and
// its level is the CAS's, -15 dBm0.
constexpr SequenceCondition kGr30Sequences[] = {
    {"onhook-gap-min", Preset::UsOnHook, {}, 500.0, {}, 300, 180, false, "data 500 ms after the first ring [2]"},
    {"onhook-gap-max", Preset::UsOnHook, {}, 2000.0, {}, 300, 180, false, "data 2000 ms after the first ring [2]"},
    {"cw-cas-short", Preset::UsCallWaiting, 75.0, {}, {}, 0, 80, true, "CAS 75 ms [3]"},
    {"cw-cas-long", Preset::UsCallWaiting, 85.0, {}, {}, 0, 80, true, "CAS 85 ms [3]"},
    {"cw-data-soonest", Preset::UsCallWaiting, {}, 110.0, {}, 0, 80, true, "data 0 ms after the acknowledgement [3]"},
    {"cw-data-latest", Preset::UsCallWaiting, {}, 610.0, {}, 0, 80, true, "data 500 ms after the acknowledgement [3]"},
    {"cw-mark-short", Preset::UsCallWaiting, {}, {}, {}, 0, 70, true, "mark 70 bits, 58 ms [3]"},
    {"cw-mark-long", Preset::UsCallWaiting, {}, {}, {}, 0, 90, true, "mark 90 bits, 75 ms [3]"},
};

// Data 45 to 500 ms after the DT-AS, 500 to 2000 ms after the first ring
// [2]; after the RP-AS the same 500 to 2000 ms (unverified).
constexpr SequenceCondition kEtsiSequences[] = {
    {"dtas-gap-min", Preset::EtsiDtas, {}, 45.0, {}, {}, {}, false, "data 45 ms after the DT-AS [2]"},
    {"dtas-gap-max", Preset::EtsiDtas, {}, 500.0, {}, {}, {}, false, "data 500 ms after the DT-AS [2]"},
    {"ring-gap-min", Preset::EtsiRing, {}, 500.0, {}, {}, {}, false, "data 500 ms after the first ring [2]"},
    {"ring-gap-max", Preset::EtsiRing, {}, 2000.0, {}, {}, {}, false, "data 2000 ms after the first ring [2]"},
    {"rpas-gap-min", Preset::EtsiRpas, {}, 500.0, {}, {}, {}, false, "data 500 ms after the RP-AS (unverified)"},
    {"rpas-gap-max", Preset::EtsiRpas, {}, 2000.0, {}, {}, {}, false, "data 2000 ms after the RP-AS (unverified)"},
};

// BT: at least 100 ms from the line reversal to the DT-AS, the DT-AS 88 to
// 110 ms, at least 45 ms to the data, 96 to 315 seizure and 55 to 90 mark
// bits [5]; then a short DT-AS, gap and mark beyond them.
constexpr SequenceCondition kBtSequences[] = {
    {"nominal", Preset::Bt, {}, {}, {}, 300, 80, false, "the preset's timings [5]"},
    {"reversal-min", Preset::Bt, {}, {}, 100.0, 300, 80, false, "DT-AS 100 ms after the line reversal [5]"},
    {"dtas-short", Preset::Bt, 88.0, {}, {}, 300, 80, false, "DT-AS 88 ms [5]"},
    {"dtas-long", Preset::Bt, 110.0, {}, {}, 300, 80, false, "DT-AS 110 ms [5]"},
    {"gap-min", Preset::Bt, {}, 45.0, {}, 300, 80, false, "data 45 ms after the DT-AS [5]"},
    {"seizure-min", Preset::Bt, {}, {}, {}, 96, 80, false, "96 seizure bits [5]"},
    {"seizure-max", Preset::Bt, {}, {}, {}, 315, 80, false, "315 seizure bits [5]"},
    {"mark-min", Preset::Bt, {}, {}, {}, 300, 55, false, "55 mark bits [5]"},
    {"mark-max", Preset::Bt, {}, {}, {}, 300, 90, false, "90 mark bits [5]"},
    {"dtas-beyond", Preset::Bt, 70.0, {}, {}, 300, 80, false, "DT-AS 70 ms, below 88 ms [5]", Expect::Either},
    {"gap-beyond", Preset::Bt, {}, 20.0, {}, 300, 80, false, "data 20 ms after the DT-AS, below 45 ms [5]",
     Expect::Either},
    {"mark-beyond", Preset::Bt, {}, {}, {}, 300, 30, false, "30 mark bits, below 55 [5]", Expect::Either},
};

// NTT: the CAR 250 to 600 ms on and off [10], up to 6 s long [7].
constexpr SequenceCondition kNttSequences[] = {
    {"car-cadence-short", Preset::Ntt, {}, {}, {}, {}, {}, false, "CAR 250 ms on, 250 ms off [10]",
     Expect::Display, 250.0, 250.0},
    {"car-cadence-long", Preset::Ntt, {}, {}, {}, {}, {}, false, "CAR 600 ms on, 600 ms off [10]",
     Expect::Display, 600.0, 600.0},
    {"car-longest", Preset::Ntt, 6000.0, {}, {}, {}, {}, false, "CAR for 6 s before the answer [7]"},
};

// DTMF caller ID: the digits at least 200 ms after the line reversal, the
// first ring 200 to 500 ms after them [6].
constexpr SequenceCondition kDtmfSequences[] = {
    {"reversal-gap-min", Preset::DtmfBeforeRing, {}, 200.0, {}, {}, {}, false, "digits 200 ms after the reversal [6]"},
    {"ring-after-min", Preset::DtmfBeforeRing, {}, {}, {}, {}, {}, false, "ring 200 ms after the digits [6]",
     Expect::Display, 0.0, 0.0, 200.0},
    {"ring-after-max", Preset::DtmfBeforeRing, {}, {}, {}, {}, {}, false, "ring 500 ms after the digits [6]",
     Expect::Display, 0.0, 0.0, 500.0},
};

// The message every plan sends, with a fixed date so that plans repeat.
Options baseOptions(Standard standard) {
    Options o;
    o.standard = standard;
    o.standardGiven = true;
    o.fields.date = "1208";
    o.fields.time = "1530";
    o.fields.number = "2015550123";
    if (standard == Standard::Ntt) {
        o.fields.name = "\u5c71\u7530";  // a JIS X 0208 name
    } else if (standard != Standard::UsSdmf && standard != Standard::DtmfCid) {
        o.fields.name = "SMITH JOHN";
    }
    return o;
}

Entry conditionEntry(Standard standard, const Condition& c) {
    Entry e;
    e.shortName = c.name;
    e.options = baseOptions(standard);
    Options& o = e.options;
    o.levelDbm0 = c.level;
    o.twistDb = c.twist;
    o.markOffsetHz = c.markOffset;
    o.spaceOffsetHz = c.spaceOffset;
    o.rateErrorPercent = c.rateError;
    if (c.snr != 0.0) o.snrDb = c.snr;
    e.expect = c.expect;
    e.conditions = {{"level_dbm0", c.level},       {"twist_db", c.twist},
                    {"mark_offset_hz", c.markOffset}, {"space_offset_hz", c.spaceOffset},
                    {"rate_error_pct", c.rateError}};
    e.conditions["snr_db"] = c.snr != 0.0 ? nlohmann::ordered_json(c.snr) : nlohmann::ordered_json(nullptr);
    // What a measurement of the file should find besides the changes above.
    e.conditions["seizure_bits"] = defaultSeizureBits(standard);
    e.conditions["mark_bits"] = defaultMarkBits(standard);
    e.conditions["stop_bits"] = o.stopBits;
    e.conditions["lead_ms"] = o.leadMs;
    return e;
}

Entry dtmfEntry(const DtmfCondition& c);

// The nominal burst inside a call sequence; the sequence's own signals and
// the burst's place are added to the manifest line when the file is made.
Entry sequenceEntry(const SequenceCondition& c) {
    const Standard standard = presetStandard(c.preset);
    const bool callWaiting = c.preset == Preset::UsCallWaiting;
    const bool dtmf = standard == Standard::DtmfCid;
    Entry e = dtmf ? dtmfEntry(DtmfCondition{c.name, kDtmfNominalDbm0})
                   : conditionEntry(standard, {c.name, callWaiting ? -15.0 : kNominalDbm0});
    Options& o = e.options;
    o.sequence = c.preset;
    o.alertMs = c.alertMs;
    o.gapMs = c.gapMs;
    o.reversalMs = c.reversalMs;
    o.ringAfterMs = c.ringAfterMs;
    if (c.ringOnMs > 0.0) o.ringCadence = std::pair{c.ringOnMs, c.ringOffMs};
    if (!dtmf) {
        o.seizureBits = c.seizureBits.value_or(defaultSeizureBits(standard));
        o.markBits = c.markBits.value_or(defaultMarkBits(standard));
        e.conditions["seizure_bits"] = *o.seizureBits;
        e.conditions["mark_bits"] = *o.markBits;
    }
    if (c.ack) o.ack = 'D';
    e.expect = c.expect;
    const auto optional = [](std::optional<double> v) {
        return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
    };
    e.conditions["sequence"] = {
        {"preset", presetName(c.preset)},
        {"alert_ms", optional(c.alertMs)},
        {"gap_ms", optional(c.gapMs)},
        {"reversal_ms", optional(c.reversalMs)},
        {"ring_cadence_ms", c.ringOnMs > 0.0 ? nlohmann::ordered_json{c.ringOnMs, c.ringOffMs} : nullptr},
        {"ring_after_ms", optional(c.ringAfterMs)},
        {"ack", c.ack ? nlohmann::ordered_json("D") : nlohmann::ordered_json(nullptr)},
        {"limit", c.limit}};
    return e;
}

Entry dtmfEntry(const DtmfCondition& c) {
    Entry e;
    e.shortName = c.name;
    e.options = baseOptions(Standard::DtmfCid);
    Options& o = e.options;
    o.levelDbm0 = c.level;
    o.twistDb = c.twist;
    o.dtmfLowDeviationPercent = c.lowDeviation;
    o.dtmfHighDeviationPercent = c.highDeviation;
    o.digitMs = c.digitMs;
    o.digitGapMs = c.gapMs;
    if (c.snr != 0.0) o.snrDb = c.snr;
    e.expect = c.expect;
    e.conditions = {{"level_dbm0", c.level},         {"twist_db", c.twist},       {"low_dev_pct", c.lowDeviation},
                    {"high_dev_pct", c.highDeviation}, {"digit_ms", c.digitMs},    {"gap_ms", c.gapMs}};
    e.conditions["snr_db"] = c.snr != 0.0 ? nlohmann::ordered_json(c.snr) : nlohmann::ordered_json(nullptr);
    e.conditions["ref_dbm0"] = o.refDbm0;
    e.conditions["lead_ms"] = o.leadMs;
    return e;
}

// The message's check byte made right again after its bytes were changed.
void fixChecksum(std::vector<std::uint8_t>& bytes) {
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    bytes.back() = static_cast<std::uint8_t>(0x100U - (sum & 0xffU));
}

// Bad checksum, cut-off and wrong length for each FSK standard with a
// length byte and a sum check.
std::vector<Entry> negativeEntries() {
    struct Named {
        std::string_view name;
        Standard standard;
    };
    constexpr Named kStandards[] = {{"us-sdmf", Standard::UsSdmf}, {"us-mdmf", Standard::UsMdmf},
                                    {"etsi", Standard::Etsi}};
    std::vector<Entry> entries;
    for (const Named& s : kStandards) {
        const std::vector<std::uint8_t> good = compose(baseOptions(s.standard)).messages.at(0).bytes;
        for (const std::string_view spoil : {"bad-checksum", "cut-off", "wrong-length"}) {
            Entry e;
            e.shortName = std::string(s.name) + "-" + std::string(spoil);
            e.options = baseOptions(s.standard);
            e.expect = Expect::Reject;
            e.spoil = spoil;
            std::vector<std::uint8_t> bytes = good;
            if (spoil == "bad-checksum") {
                bytes.back() = static_cast<std::uint8_t>(bytes.back() ^ 0x01U);
            } else if (spoil == "cut-off") {
                bytes.resize(bytes.size() / 2);
            } else {
                bytes[1] = static_cast<std::uint8_t>(bytes[1] - 2U);  // shorter than the body sent
                fixChecksum(bytes);
            }
            e.options.raw = bytes;
            e.options.fields = {};
            e.conditions = {{"spoil", spoil}};
            entries.push_back(std::move(e));
        }
    }
    return entries;
}

// An NTT frame with a spoiled CRC or cut off, and DTMF caller ID without its
// end digit.
void addNttAndDtmfNegatives(std::vector<Entry>& entries) {
    const std::vector<std::uint8_t> frame = compose(baseOptions(Standard::Ntt)).messages.at(0).bytes;
    for (const std::string_view spoil : {"bad-crc", "cut-off"}) {
        Entry e;
        e.shortName = "ntt-" + std::string(spoil);
        e.options = baseOptions(Standard::Ntt);
        e.expect = Expect::Reject;
        std::vector<std::uint8_t> bytes = frame;
        if (spoil == "bad-crc") {
            bytes.back() = static_cast<std::uint8_t>(bytes.back() ^ 0x01U);
        } else {
            bytes.resize(bytes.size() / 2);
        }
        e.options.raw = bytes;
        e.options.fields = {};
        e.conditions = {{"spoil", spoil}};
        entries.push_back(std::move(e));
    }
    Entry e;
    e.shortName = "dtmf-cid-cut-off";
    e.options = baseOptions(Standard::DtmfCid);
    const std::vector<std::uint8_t> digits = compose(e.options).messages.at(0).bytes;
    e.options.digits = std::string(digits.begin(), digits.end() - 1);  // no end digit
    e.options.fields = {};
    e.expect = Expect::Reject;
    e.conditions = {{"spoil", "cut-off"}};
    entries.push_back(std::move(e));
}

std::optional<std::vector<Entry>> planEntries(std::string_view name) {
    std::vector<Entry> entries;
    if (name == "gr30") {
        for (const Condition& c : kGr30) entries.push_back(conditionEntry(Standard::UsMdmf, c));
        for (const SequenceCondition& c : kGr30Sequences) entries.push_back(sequenceEntry(c));
    } else if (name == "etsi") {
        for (const Condition& c : kEtsi) entries.push_back(conditionEntry(Standard::Etsi, c));
        for (const SequenceCondition& c : kEtsiSequences) entries.push_back(sequenceEntry(c));
    } else if (name == "bt") {
        for (const SequenceCondition& c : kBtSequences) entries.push_back(sequenceEntry(c));
    } else if (name == "ntt") {
        for (const Condition& c : kNtt) entries.push_back(conditionEntry(Standard::Ntt, c));
        for (const SequenceCondition& c : kNttSequences) entries.push_back(sequenceEntry(c));
    } else if (name == "dtmf-cid") {
        for (const DtmfCondition& c : kDtmfCid) entries.push_back(dtmfEntry(c));
        for (const SequenceCondition& c : kDtmfSequences) entries.push_back(sequenceEntry(c));
    } else if (name == "negative") {
        entries = negativeEntries();
        addNttAndDtmfNegatives(entries);
    } else {
        return std::nullopt;
    }
    return entries;
}

// An NTT frame's bytes (parity bits included) through the frame decoder, as
// a receiver hands them over.
sigcore::Message nttMessage(std::span<const std::uint8_t> bytes) {
    sigcore::NttMessageDecoder decoder;
    sigcore::EventLog log;
    static_cast<void>(decoder.startBurst(log));
    for (const std::uint8_t b : bytes) static_cast<void>(decoder.decodeByte(b, 0, 0, log));
    decoder.endBurst(0, log);
    for (const sigcore::Event& event : log.events) {
        if (const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event)) return decoded->message;
    }
    return {};
}

// The message as cidscan --json shows it: standard, type, validity, raw
// bytes and fields, decoded from the bytes sent.
nlohmann::ordered_json messageJson(Standard standard, std::span<const std::uint8_t> bytes) {
    sigcore::Message m;
    const char* name = "bell202";
    if (standard == Standard::Etsi) {
        m = sigcore::parseEtsiMessage(bytes);
        name = "v23-etsi";
    } else if (standard == Standard::Ntt) {
        m = nttMessage(bytes);
        name = "v23-ntt";
    } else if (standard == Standard::DtmfCid) {
        m = sigcore::parseDtmfCallerId(std::string(bytes.begin(), bytes.end()));
        name = "dtmf-cid";
    } else {
        m = sigcore::decodeUsMessage(bytes);
    }
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (const sigcore::MessageField& f : m.fields) fields[f.key] = f.value;
    return {{"standard", name},
            {"type", m.type},
            {"valid", m.valid},
            {"complete", m.complete},
            {"raw", sigcore::hexBytes(m.raw)},
            {"fields", std::move(fields)}};
}

double msAt(std::int64_t sample, int rate) { return 1000.0 * static_cast<double>(sample) / rate; }

double dbfs(double peak) { return 20.0 * std::log10(peak); }

// What cidscan --measure should find of one line signal of the sequence.
nlohmann::ordered_json signalJson(const Step& step, const sigcore::Segment& segment, int rate) {
    nlohmann::ordered_json s = {{"signal", step.signal}, {"start_ms", msAt(step.start, rate)}};
    if (step.signal == "line-reversal") return s;  // an instant
    s["end_ms"] = msAt(step.end, rate);
    const auto* tones = std::get_if<sigcore::Tones>(&segment);
    if (tones == nullptr) return s;
    if (tones->secondPeak == 0.0) {
        s["ring_hz"] = tones->firstHz;
        s["ring_dbfs"] = dbfs(tones->firstPeak);
    } else {
        s["low_hz"] = tones->firstHz;
        s["high_hz"] = tones->secondHz;
        s["low_dbfs"] = dbfs(tones->firstPeak);
        s["high_dbfs"] = dbfs(tones->secondPeak);
    }
    return s;
}

// A sequence's signals, where its burst starts and how long after the last
// signal, into the manifest line's conditions.
void addSequenceTimes(const Composed& composed, int rate, nlohmann::ordered_json& conditions) {
    nlohmann::ordered_json signals = nlohmann::ordered_json::array();
    std::optional<std::int64_t> lastEnd;
    for (std::size_t i = 0; i < composed.steps.size() && i < composed.segments.size(); ++i) {
        const Step& step = composed.steps[i];
        const bool burst = std::holds_alternative<sigcore::FskWriter>(composed.segments[i]) ||
                           std::holds_alternative<sigcore::DtmfWriter>(composed.segments[i]);
        if (burst && !conditions.contains("burst_ms")) {
            conditions["burst_ms"] = msAt(step.start, rate);
            conditions["after_signal_ms"] = lastEnd ? nlohmann::ordered_json(msAt(step.start - *lastEnd, rate))
                                                    : nlohmann::ordered_json(nullptr);
        }
        if (step.signal.empty()) continue;
        signals.push_back(signalJson(step, composed.segments[i], rate));
        if (!conditions.contains("burst_ms")) lastEnd = step.signal == "line-reversal" ? step.start : step.end;
    }
    conditions["signals"] = std::move(signals);
}

// A plan's files in memory, ready to write.
struct Rendered {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;  // name, bytes
    std::string manifest;
};

bool render(const std::vector<Entry>& entries, Rendered& out, std::string& error) {
    int number = 0;
    for (const Entry& e : entries) {
        Composed composed = compose(e.options);
        if (!composed.error.empty()) {
            error = e.shortName + ": " + composed.error;
            return false;
        }
        std::string prefix = std::to_string(++number);
        prefix.insert(0, prefix.size() < 3 ? 3 - prefix.size() : 0, '0');
        const std::string file = prefix + "-" + e.shortName + ".wav";
        nlohmann::ordered_json line;
        line["file"] = file;
        line["conditions"] = e.conditions;
        if (e.options.sequence) addSequenceTimes(composed, e.options.rate, line["conditions"]);
        line["message"] = messageJson(e.options.standard, composed.messages.at(0).bytes);
        line["expect"] = expectName(e.expect);
        std::vector<unsigned char> bytes;
        std::size_t clipped = 0;
        if (!renderSound(e.options, std::move(composed), SoundFormat{}, bytes, clipped, error)) {
            error = file + ": " + error;
            return false;
        }
        out.files.emplace_back(file, std::move(bytes));
        out.manifest += line.dump() + "\n";
    }
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "cidgen: --plan: %s\n", message.c_str());
    return kExitFailed;
}

// DIR must be absent (it is made) or empty, unless --force.
bool prepareDirectory(const std::filesystem::path& dir, bool force, std::string& error) {
    std::error_code ec;
    if (std::filesystem::exists(dir, ec)) {
        if (!std::filesystem::is_directory(dir, ec)) {
            error = escaped(dir.string()) + ": not a directory";
            return false;
        }
        const bool empty = !ec && (force || std::filesystem::is_empty(dir, ec));
        if (!ec && !empty) {
            error = escaped(dir.string()) + ": not empty (--force writes the plan's files over any of the same names)";
            return false;
        }
        if (!ec) return true;
    } else if (!ec && std::filesystem::create_directory(dir, ec)) {
        return true;
    }
    error = escaped(dir.string()) + ": " + ec.message();
    return false;
}

}  // namespace

int runPlan(std::span<const char* const> args) {
    std::vector<std::string_view> rest;
    bool force = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--force") {
            force = true;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.size() != 2) return fail("usage: cidgen --plan gr30|etsi|bt|ntt|dtmf-cid|negative DIR [--force]");
    const auto entries = planEntries(rest[0]);
    if (!entries) return fail(escaped(rest[0]) + ": no such plan (gr30, etsi, bt, ntt, dtmf-cid, negative)");
    const std::filesystem::path dir(rest[1]);
    std::string error;
    Rendered rendered;
    if (!render(*entries, rendered, error)) return fail(error + "; nothing was written");
    if (!prepareDirectory(dir, force, error)) return fail(error + "; nothing was written");
    std::size_t written = 0;
    for (const auto& [name, bytes] : rendered.files) {
        if (!writeWhole((dir / name).string(), bytes, error)) {
            return fail(error + "; " + std::to_string(written) + " of " + std::to_string(rendered.files.size()) +
                        " files were written, and no manifest");
        }
        ++written;
    }
    const std::string& m = rendered.manifest;
    const std::span<const unsigned char> text(reinterpret_cast<const unsigned char*>(m.data()), m.size());
    if (!writeWhole((dir / "manifest.jsonl").string(), text, error)) {
        return fail(error + "; every sound file was written, but not the manifest");
    }
    std::printf("%zu files and manifest.jsonl written to %s\n", written, escaped(dir.string()).c_str());
    return kExitOk;
}

}  // namespace cidgen
