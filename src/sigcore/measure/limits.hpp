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
#include "sigcore/measure/linesignal.hpp"

namespace sigcore {

enum class CheckStandard { Gr30, Etsi, Bt, Ntt, Dtmf };

// One limit: the measured item (named as in the measurement's JSON) and its
// allowed range; an absent bound is no bound. A limit with `after` applies
// only when the last line signal before the burst was of that kind (the
// time from it, "after_signal_ms", or a length that differs on and off
// hook).
struct Limit {
    CheckStandard standard;
    std::string_view item;
    std::optional<double> min;
    std::optional<double> max;
    std::string_view source;
    std::optional<LineSignalKind> after = std::nullopt;
};

// One limit on a line signal of one kind: items "low_hz", "high_hz",
// "low_dbm0", "high_dbm0", "twist_db", "duration_ms", and for an
// acknowledgement "digit_valid" (1 when the digit is one the standard
// allows, else 0).
struct SignalLimit {
    CheckStandard standard;
    LineSignalKind kind;
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

// Every limit on line signals known for the standard, in the order they are
// checked; `signalLimitsOf(s, kind)` only those on that kind.
[[nodiscard]] std::span<const SignalLimit> signalLimitsOf(CheckStandard standard);
[[nodiscard]] bool hasSignalLimits(LineSignalKind kind, CheckStandard standard);

// The last line signal before a burst: its kind and the time from its end
// to the burst's first bit.
struct SignalGap {
    LineSignalKind kind = LineSignalKind::DtAs;
    double ms = 0;
};

// An FSK burst's measurement judged against an FSK standard; levels in dBm0
// are the dBFS levels plus `refDbm0`. With `gap`, the time after the last
// signal is judged too where the standard limits it after that kind of
// signal. A burst that was not measured, or a DTMF standard, gives no items
// and fails.
[[nodiscard]] CheckResult checkFsk(const FskMeasurement& m, double refDbm0, CheckStandard standard,
                                   std::optional<SignalGap> gap = std::nullopt);

// A line signal judged by the limits of its kind in the standard; levels in
// dBm0 are the dBFS levels plus `refDbm0`. A signal whose kind the standard
// has no limits for (see hasSignalLimits), or that lacks every value its
// limits are about, gives no items and fails.
[[nodiscard]] CheckResult checkSignal(const LineSignal& signal, double refDbm0, CheckStandard standard);

// A digit with the gap after it (samples; absent for the last digit).
struct CheckedDigit {
    char digit = 0;
    DigitMeasurement tones;
    std::optional<double> gap;
};

// DTMF digits judged against the DTMF limits; items are named
// "<index>:<item>" (index from 1). A digit not measured fails. With `gap`
// (the last signal before the first digit), "after_signal_ms" is judged
// too where the standard limits it after that kind of signal.
[[nodiscard]] CheckResult checkDigits(std::span<const CheckedDigit> digits, int rate, double refDbm0,
                                      CheckStandard standard, std::optional<SignalGap> gap = std::nullopt);

}  // namespace sigcore
