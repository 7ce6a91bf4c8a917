#include "sigcore/measure/limits.hpp"

#include <array>

namespace sigcore {

namespace {

// Secondary sources: the standards' own texts could not be read here.
constexpr std::string_view kBellcoreQuoted =
    "secondary: Bellcore TR-NWT-000030 figures quoted in Club 100 BBS message 6814 (1996)";
constexpr std::string_view kDtmfTiming =
    "secondary: Multi-Tech support note on DTMF signalling timing requirements";
constexpr std::string_view kDtmfReceiver =
    "secondary: DTMF receiver requirements as given in Kuo, Lee and Tian, Real-Time Digital Signal Processing, 9.3";
constexpr std::string_view kBtSummary =
    "secondary: summary of SIN 227 posted to the TELECOM Digest (btclid.txt)";
constexpr std::string_view kFskTable =
    "secondary: Zarlink MT88E45 data sheet (2005), Table 4 FSK Signal Characteristics, from ANSI/TIA/EIA-716 "
    "and TIA/EIA-777, ETS 300 778-1 and -2, SIN 227 and SIN 242";
constexpr std::string_view kAlertTable =
    "secondary: Zarlink MT88E45 data sheet (2005), Table 3 CAS/DT-AS Characteristics, from SR-TSV-002476, "
    "ETS 300 778-2, SIN 227 and SIN 242";
constexpr std::string_view kEtsiTiming =
    "secondary: Dialogic CSP 8.4.1 help, Caller ID/Calling Name Information (In-band Signaling), timings T4 and T5";
constexpr std::string_view kRingTiming =
    "secondary: HP Journal article on HP TeleShare caller-ID detection (studylib.net doc 12969736)";
constexpr std::string_view kRockwell =
    "secondary: Rockwell caller-ID data sheet as posted to the TELECOM Digest (1991), carrier signal 130 +/- 25 ms";
constexpr std::string_view kOffHookTiming =
    "secondary: Zarlink MT88E45 data sheet (2005), Figure 16, Bellcore off-hook data transmission timing";
constexpr std::string_view kV23 =
    "ITU-T V.23, clause 3: a transmitter tolerance of 10 Hz on each forward-channel frequency (NTT's own "
    "reference was not found)";
constexpr std::string_view kDanishClip =
    "secondary: a page on Dutch and Danish CLIP (tucops.com), the Danish DTMF CLIP receiver";
constexpr std::string_view kDtmfCidTiming =
    "secondary: 'DTMF-based caller ID', a VoIP book's chapter (what-when-how.com), after ETS 300 659-1";

// A frequency `pct` per cent off `hz`.
constexpr double off(double hz, double pct) { return hz * (1.0 + pct / 100.0); }

// Levels given in dBm at the line are taken as dBm0 (the line a 0 dBr
// point).
constexpr std::array kLimits{
    Limit{CheckStandard::Gr30, "mark_hz", 1188.0, 1212.0, kBellcoreQuoted},
    Limit{CheckStandard::Gr30, "space_hz", 2178.0, 2222.0, kBellcoreQuoted},
    Limit{CheckStandard::Gr30, "bit_rate", 1188.0, 1212.0, kFskTable},
    Limit{CheckStandard::Gr30, "mark_dbm0", -36.20, -4.23, kFskTable},
    Limit{CheckStandard::Gr30, "space_dbm0", -36.20, -4.23, kFskTable},
    Limit{CheckStandard::Gr30, "snr_db", 25.0, std::nullopt, kFskTable},
    // The mark: 130 +/- 25 ms after ringing, 58 to 75 ms off hook (after
    // the alert or the acknowledgement), in bits at 1200 bit/s.
    Limit{CheckStandard::Gr30, "mark_bits", 126.0, 186.0, kRockwell, LineSignalKind::Ring},
    Limit{CheckStandard::Gr30, "mark_bits", 69.6, 90.0, kOffHookTiming, LineSignalKind::Cas},
    Limit{CheckStandard::Gr30, "mark_bits", 69.6, 90.0, kOffHookTiming, LineSignalKind::Ack},
    Limit{CheckStandard::Gr30, "after_signal_ms", 0.0, 500.0, kOffHookTiming, LineSignalKind::Ack},
    Limit{CheckStandard::Gr30, "after_signal_ms", 500.0, std::nullopt, kRingTiming, LineSignalKind::Ring},
    Limit{CheckStandard::Etsi, "mark_hz", off(1300, -1.5), off(1300, 1.5), kFskTable},
    Limit{CheckStandard::Etsi, "space_hz", off(2100, -1.5), off(2100, 1.5), kFskTable},
    Limit{CheckStandard::Etsi, "bit_rate", 1188.0, 1212.0, kFskTable},
    Limit{CheckStandard::Etsi, "mark_dbm0", -33.78, -5.78, kFskTable},
    Limit{CheckStandard::Etsi, "space_dbm0", -33.78, -5.78, kFskTable},
    Limit{CheckStandard::Etsi, "twist_db", -6.0, 6.0, kFskTable},
    Limit{CheckStandard::Etsi, "snr_db", 20.0, std::nullopt, kFskTable},
    Limit{CheckStandard::Etsi, "after_signal_ms", 45.0, 500.0, kEtsiTiming, LineSignalKind::DtAs},
    Limit{CheckStandard::Etsi, "after_signal_ms", 500.0, 2000.0, kEtsiTiming, LineSignalKind::Ring},
    Limit{CheckStandard::Bt, "seizure_bits", 96.0, 315.0, kBtSummary},
    Limit{CheckStandard::Bt, "mark_bits", 55.0, 90.0, kBtSummary},
    Limit{CheckStandard::Bt, "mark_dbm0", -37.78, -5.78, kFskTable},
    Limit{CheckStandard::Bt, "space_dbm0", -37.78, -5.78, kFskTable},
    Limit{CheckStandard::Bt, "after_signal_ms", 45.0, std::nullopt, kBtSummary, LineSignalKind::DtAs},
    Limit{CheckStandard::Ntt, "mark_hz", 1290.0, 1310.0, kV23},
    Limit{CheckStandard::Ntt, "space_hz", 2090.0, 2110.0, kV23},
    Limit{CheckStandard::Dtmf, "low_dev_pct", -1.5, 1.5, kDtmfReceiver},
    Limit{CheckStandard::Dtmf, "high_dev_pct", -1.5, 1.5, kDtmfReceiver},
    // twist_db is high minus low group: the high group up to 8 dB weaker
    // (normal twist) or 4 dB stronger (reverse twist).
    Limit{CheckStandard::Dtmf, "twist_db", -8.0, 4.0, kDtmfReceiver},
    Limit{CheckStandard::Dtmf, "duration_ms", 50.0, std::nullopt, kDtmfTiming},
    Limit{CheckStandard::Dtmf, "gap_ms", 45.0, std::nullopt, kDtmfTiming},
    // Each tone's level: a receiver must detect -28 to -4 dBm per tone.
    Limit{CheckStandard::Dtmf, "low_dbm0", -28.0, -4.0, kDanishClip},
    Limit{CheckStandard::Dtmf, "high_dbm0", -28.0, -4.0, kDanishClip},
    // The digits no sooner than 200 ms after the line reversal.
    Limit{CheckStandard::Dtmf, "after_signal_ms", 200.0, std::nullopt, kDtmfCidTiming,
          LineSignalKind::LineReversal},
};

// The alert tones (2130 + 2750 Hz) of one standard and kind: frequency
// tolerance in per cent, level range per tone, twist either way, duration.
struct AlertRow {
    CheckStandard standard;
    LineSignalKind kind;
    double tolerancePct;
    double minDbm0;
    double maxDbm0;
    double twistDb;
    double minMs;
    double maxMs;
    std::string_view source;
};

constexpr std::size_t kAlertItems = 6;

constexpr std::array<SignalLimit, kAlertItems> alertLimits(const AlertRow& r) {
    return {SignalLimit{r.standard, r.kind, "low_hz", off(2130, -r.tolerancePct), off(2130, r.tolerancePct), r.source},
            SignalLimit{r.standard, r.kind, "high_hz", off(2750, -r.tolerancePct), off(2750, r.tolerancePct), r.source},
            SignalLimit{r.standard, r.kind, "low_dbm0", r.minDbm0, r.maxDbm0, r.source},
            SignalLimit{r.standard, r.kind, "high_dbm0", r.minDbm0, r.maxDbm0, r.source},
            SignalLimit{r.standard, r.kind, "twist_db", -r.twistDb, r.twistDb, r.source},
            SignalLimit{r.standard, r.kind, "duration_ms", r.minMs, r.maxMs, r.source}};
}

// BT's idle-state alert (before an on-hook burst, DT-AS here) and its
// loop-state alert (CAS); Bellcore's CAS and ETSI's off-hook DT-AS (CAS
// here: the limits of ETSI's on-hook DT-AS were not found).
constexpr std::array kAlertRows{
    AlertRow{CheckStandard::Gr30, LineSignalKind::Cas, 0.5, -32.0, -14.0, 6.0, 75.0, 85.0, kAlertTable},
    AlertRow{CheckStandard::Etsi, LineSignalKind::Cas, 0.5, -32.78, -9.78, 6.0, 75.0, 85.0, kAlertTable},
    AlertRow{CheckStandard::Bt, LineSignalKind::DtAs, 1.1, -37.78, 0.22, 7.0, 88.0, 110.0, kAlertTable},
    AlertRow{CheckStandard::Bt, LineSignalKind::Cas, 0.6, -37.78, 0.22, 7.0, 80.0, 85.0, kAlertTable},
};

constexpr std::array kAckLimits{
    // The acknowledgement: DTMF D (or A from an ADSI phone), 55 to 65 ms.
    SignalLimit{CheckStandard::Gr30, LineSignalKind::Ack, "digit_valid", 1.0, 1.0, kOffHookTiming},
    SignalLimit{CheckStandard::Gr30, LineSignalKind::Ack, "duration_ms", 55.0, 65.0, kOffHookTiming},
};

// Every signal limit, grouped by standard (gr30, etsi, bt) like kLimits.
constexpr auto makeSignalLimits() {
    std::array<SignalLimit, kAlertRows.size() * kAlertItems + kAckLimits.size()> out{};
    std::size_t n = 0;
    const auto addAlerts = [&](CheckStandard standard) {
        for (const AlertRow& row : kAlertRows) {
            if (row.standard != standard) continue;
            for (const SignalLimit& limit : alertLimits(row)) out[n++] = limit;
        }
    };
    addAlerts(CheckStandard::Gr30);
    for (const SignalLimit& limit : kAckLimits) out[n++] = limit;
    addAlerts(CheckStandard::Etsi);
    addAlerts(CheckStandard::Bt);
    return out;
}

constexpr auto kSignalLimits = makeSignalLimits();

CheckItem judge(const Limit& limit, std::string name, double value) {
    CheckItem item{std::move(name), value, limit.min, limit.max, true};
    if (limit.min && value < *limit.min) item.pass = false;
    if (limit.max && value > *limit.max) item.pass = false;
    return item;
}

// The FSK measurement's value of `item`; nullopt when it has none.
std::optional<double> fskValue(const FskMeasurement& m, double refDbm0, std::string_view item) {
    if (item == "mark_hz") return m.markHz;
    if (item == "space_hz") return m.spaceHz;
    if (item == "mark_dbm0") return m.markDbfs + refDbm0;
    if (item == "space_dbm0") return m.spaceDbfs + refDbm0;
    if (item == "twist_db") return m.twistDb;
    if (item == "bit_rate") return m.bitRate;
    if (item == "seizure_bits") return m.seizureBits;
    if (item == "mark_bits") return m.markBits;
    if (item == "snr_db") return m.snrDb;
    return std::nullopt;
}

// Whether the acknowledgement digit is one the standard allows.
bool validAck(CheckStandard standard, char digit) {
    if (standard == CheckStandard::Gr30) return digit == 'D' || digit == 'A';
    return false;
}

std::optional<double> signalValue(const LineSignal& s, double refDbm0, CheckStandard standard,
                                  std::string_view item) {
    const LineSignalMeasurement& m = s.measure;
    const auto plusRef = [refDbm0](const std::optional<double>& dbfs) {
        return dbfs ? std::optional<double>(*dbfs + refDbm0) : std::nullopt;
    };
    if (item == "low_hz") return m.lowHz;
    if (item == "high_hz") return m.highHz;
    if (item == "low_dbm0") return plusRef(m.lowDbfs);
    if (item == "high_dbm0") return plusRef(m.highDbfs);
    if (item == "twist_db") return m.twistDb;
    if (item == "duration_ms") return m.durationMs;
    if (item == "digit_valid" && m.digit) return validAck(standard, *m.digit) ? 1.0 : 0.0;
    return std::nullopt;
}

// The run of rows of one standard in a table grouped by standard.
template <typename Row, std::size_t N>
std::span<const Row> runOf(const std::array<Row, N>& table, CheckStandard standard) {
    std::size_t first = 0;
    while (first < table.size() && table[first].standard != standard) ++first;
    std::size_t last = first;
    while (last < table.size() && table[last].standard == standard) ++last;
    return std::span<const Row>(table).subspan(first, last - first);
}

std::optional<double> digitValue(const CheckedDigit& d, int rate, double refDbm0, std::string_view item) {
    const DigitMeasurement& t = d.tones;
    double lowHz = 0;
    double highHz = 0;
    const bool nominal = dtmfNominal(d.digit, lowHz, highHz);
    if (item == "low_dev_pct" && nominal) return 100.0 * (t.lowHz - lowHz) / lowHz;
    if (item == "high_dev_pct" && nominal) return 100.0 * (t.highHz - highHz) / highHz;
    if (item == "low_dbm0") return t.lowDbfs + refDbm0;
    if (item == "high_dbm0") return t.highDbfs + refDbm0;
    if (item == "twist_db") return t.twistDb;
    if (item == "duration_ms") return 1000.0 * (t.end - t.start) / rate;
    if (item == "gap_ms" && d.gap) return 1000.0 * *d.gap / rate;
    return std::nullopt;
}

bool allPass(const std::vector<CheckItem>& items) {
    if (items.empty()) return false;
    for (const CheckItem& item : items) {
        if (!item.pass) return false;
    }
    return true;
}

}  // namespace

std::optional<CheckStandard> parseCheckStandard(std::string_view name) {
    if (name == "gr30") return CheckStandard::Gr30;
    if (name == "etsi") return CheckStandard::Etsi;
    if (name == "bt") return CheckStandard::Bt;
    if (name == "ntt") return CheckStandard::Ntt;
    if (name == "dtmf") return CheckStandard::Dtmf;
    return std::nullopt;
}

std::string_view checkStandardName(CheckStandard standard) {
    switch (standard) {
    case CheckStandard::Gr30: return "gr30";
    case CheckStandard::Etsi: return "etsi";
    case CheckStandard::Bt: return "bt";
    case CheckStandard::Ntt: return "ntt";
    case CheckStandard::Dtmf: return "dtmf";
    }
    return "gr30";
}

bool isDtmfCheck(CheckStandard standard) { return standard == CheckStandard::Dtmf; }

std::span<const Limit> limitsOf(CheckStandard standard) { return runOf(kLimits, standard); }

std::span<const SignalLimit> signalLimitsOf(CheckStandard standard) { return runOf(kSignalLimits, standard); }

bool hasSignalLimits(LineSignalKind kind, CheckStandard standard) {
    for (const SignalLimit& limit : signalLimitsOf(standard)) {
        if (limit.kind == kind) return true;
    }
    return false;
}

CheckResult checkFsk(const FskMeasurement& m, double refDbm0, CheckStandard standard, std::optional<SignalGap> gap) {
    CheckResult out{standard, false, {}};
    if (!m.measured || isDtmfCheck(standard)) return out;
    for (const Limit& limit : limitsOf(standard)) {
        // A limit about what follows one kind of signal needs that signal.
        if (limit.after && (!gap || gap->kind != *limit.after)) continue;
        std::optional<double> value;
        if (limit.item == "after_signal_ms") {
            if (gap) value = gap->ms;
        } else {
            value = fskValue(m, refDbm0, limit.item);
        }
        if (!value) continue;
        CheckItem item = judge(limit, std::string(limit.item), *value);
        // A seizure one bit shorter or longer reads the same: it passes
        // when either count lies within the limits.
        if (!item.pass && limit.item == "seizure_bits" && m.seizureDoubt != 0) {
            item.pass = judge(limit, item.name, *value + m.seizureDoubt).pass;
        }
        out.items.push_back(std::move(item));
    }
    out.pass = allPass(out.items);
    return out;
}

CheckResult checkSignal(const LineSignal& signal, double refDbm0, CheckStandard standard) {
    CheckResult out{standard, false, {}};
    for (const SignalLimit& limit : signalLimitsOf(standard)) {
        if (limit.kind != signal.kind) continue;
        if (const auto value = signalValue(signal, refDbm0, standard, limit.item)) {
            const Limit bounds{limit.standard, limit.item, limit.min, limit.max, limit.source};
            out.items.push_back(judge(bounds, std::string(limit.item), *value));
        }
    }
    out.pass = allPass(out.items);
    return out;
}

CheckResult checkDigits(std::span<const CheckedDigit> digits, int rate, double refDbm0, CheckStandard standard,
                        std::optional<SignalGap> gap) {
    CheckResult out{standard, false, {}};
    if (!isDtmfCheck(standard) || rate <= 0) return out;
    bool everyMeasured = !digits.empty();
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (!digits[i].tones.measured) {
            everyMeasured = false;
            continue;
        }
        for (const Limit& limit : limitsOf(standard)) {
            if (limit.after) continue;  // about the digits as a whole, below
            if (const auto value = digitValue(digits[i], rate, refDbm0, limit.item)) {
                out.items.push_back(judge(limit, std::to_string(i + 1) + ":" + std::string(limit.item), *value));
            }
        }
    }
    // The time from the last line signal to the first digit, where the
    // standard limits it after that kind of signal.
    for (const Limit& limit : limitsOf(standard)) {
        if (limit.after && gap && gap->kind == *limit.after && limit.item == "after_signal_ms") {
            out.items.push_back(judge(limit, std::string(limit.item), gap->ms));
        }
    }
    out.pass = everyMeasured && allPass(out.items);
    return out;
}

}  // namespace sigcore
