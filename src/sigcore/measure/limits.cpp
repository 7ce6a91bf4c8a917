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

// Bell 202 bit duration 833 +/- 50 us, as a bit rate.
constexpr double kSlowestBitRate = 1.0 / 883e-6;
constexpr double kFastestBitRate = 1.0 / 783e-6;

constexpr std::array kLimits{
    Limit{CheckStandard::Gr30, "mark_hz", 1188.0, 1212.0, kBellcoreQuoted},
    Limit{CheckStandard::Gr30, "space_hz", 2178.0, 2222.0, kBellcoreQuoted},
    Limit{CheckStandard::Gr30, "bit_rate", kSlowestBitRate, kFastestBitRate, kBellcoreQuoted},
    Limit{CheckStandard::Bt, "seizure_bits", 96.0, 315.0, kBtSummary},
    Limit{CheckStandard::Bt, "mark_bits", 55.0, 90.0, kBtSummary},
    Limit{CheckStandard::Dtmf, "low_dev_pct", -1.5, 1.5, kDtmfReceiver},
    Limit{CheckStandard::Dtmf, "high_dev_pct", -1.5, 1.5, kDtmfReceiver},
    // twist_db is high minus low group: the high group up to 8 dB weaker
    // (normal twist) or 4 dB stronger (reverse twist).
    Limit{CheckStandard::Dtmf, "twist_db", -8.0, 4.0, kDtmfReceiver},
    Limit{CheckStandard::Dtmf, "duration_ms", 50.0, std::nullopt, kDtmfTiming},
    Limit{CheckStandard::Dtmf, "gap_ms", 45.0, std::nullopt, kDtmfTiming},
};

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
    return std::nullopt;
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

std::span<const Limit> limitsOf(CheckStandard standard) {
    // The table is grouped by standard: its run of rows.
    std::size_t first = 0;
    while (first < kLimits.size() && kLimits[first].standard != standard) ++first;
    std::size_t last = first;
    while (last < kLimits.size() && kLimits[last].standard == standard) ++last;
    return std::span<const Limit>(kLimits).subspan(first, last - first);
}

CheckResult checkFsk(const FskMeasurement& m, double refDbm0, CheckStandard standard) {
    CheckResult out{standard, false, {}};
    if (!m.measured || isDtmfCheck(standard)) return out;
    for (const Limit& limit : limitsOf(standard)) {
        if (const auto value = fskValue(m, refDbm0, limit.item)) {
            out.items.push_back(judge(limit, std::string(limit.item), *value));
        }
    }
    out.pass = allPass(out.items);
    return out;
}

CheckResult checkDigits(std::span<const CheckedDigit> digits, int rate, double refDbm0, CheckStandard standard) {
    CheckResult out{standard, false, {}};
    if (!isDtmfCheck(standard) || rate <= 0) return out;
    bool everyMeasured = !digits.empty();
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (!digits[i].tones.measured) {
            everyMeasured = false;
            continue;
        }
        for (const Limit& limit : limitsOf(standard)) {
            if (const auto value = digitValue(digits[i], rate, refDbm0, limit.item)) {
                out.items.push_back(judge(limit, std::to_string(i + 1) + ":" + std::string(limit.item), *value));
            }
        }
    }
    out.pass = everyMeasured && allPass(out.items);
    return out;
}

}  // namespace sigcore
