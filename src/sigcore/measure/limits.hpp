// The limits a caller-ID signal is judged against, one table per standard,
// and the check of a measurement against them. Each limit names where it
// comes from; a limit whose source could not be found is not in the table.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sigcore/measure/dtmfmeasure.hpp"
#include "sigcore/measure/fskmeasure.hpp"

namespace sigcore {

enum class CheckStandard { Gr30, Etsi, Bt, Ntt, Dtmf };

// One limit: the measured item (named as in the measurement's JSON) and its
// allowed range; an absent bound is no bound.
struct Limit {
    CheckStandard standard;
    std::string_view item;
    std::optional<double> min;
    std::optional<double> max;
    std::string_view source;
};

struct CheckItem {
    std::string name;
    double value = 0;
    std::optional<double> min;
    std::optional<double> max;
    bool pass = false;
};

struct CheckResult {
    CheckStandard standard = CheckStandard::Gr30;
    bool pass = false;  // every item passed, and there was at least one
    std::vector<CheckItem> items;
};

[[nodiscard]] std::optional<CheckStandard> parseCheckStandard(std::string_view name);
[[nodiscard]] std::string_view checkStandardName(CheckStandard standard);
// Whether the standard's limits are about DTMF digits rather than an FSK burst.
[[nodiscard]] bool isDtmfCheck(CheckStandard standard);
// Every limit known for the standard, in the order they are checked; empty
// when none could be sourced.
[[nodiscard]] std::span<const Limit> limitsOf(CheckStandard standard);

// An FSK burst's measurement judged against an FSK standard; levels in dBm0
// are the dBFS levels plus `refDbm0`. A burst that was not measured, or a
// DTMF standard, gives no items and fails.
[[nodiscard]] CheckResult checkFsk(const FskMeasurement& m, double refDbm0, CheckStandard standard);

// A digit with the gap after it (samples; absent for the last digit).
struct CheckedDigit {
    char digit = 0;
    DigitMeasurement tones;
    std::optional<double> gap;
};

// DTMF digits judged against the DTMF limits; items are named
// "<index>:<item>" (index from 1). A digit not measured fails.
[[nodiscard]] CheckResult checkDigits(std::span<const CheckedDigit> digits, int rate, double refDbm0,
                                      CheckStandard standard);

}  // namespace sigcore
