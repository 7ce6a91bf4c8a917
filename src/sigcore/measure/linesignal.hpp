// The signals a line sends around a caller-ID burst (alert tones, ringing,
// the phone's acknowledgement, a line reversal) as found in a recording, with
// what was measured of each.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sigcore {

enum class LineSignalKind {
    DtAs,          // dual-tone alert (2130 + 2750 Hz) before an on-hook burst
    Cas,           // the same tones as the call-waiting (off-hook) alert
    Ack,           // the phone's DTMF acknowledgement after a CAS
    Ring,          // ringing, as recorded across the line
    RpAs,          // the short ring-pulse alert
    LineReversal,  // a step or click where the line's polarity turns
};

// The name cidscan writes: "dt-as", "cas", "ack", "ring", "rp-as",
// "line-reversal".
[[nodiscard]] constexpr std::string_view lineSignalName(LineSignalKind kind) {
    switch (kind) {
    case LineSignalKind::DtAs: return "dt-as";
    case LineSignalKind::Cas: return "cas";
    case LineSignalKind::Ack: return "ack";
    case LineSignalKind::Ring: return "ring";
    case LineSignalKind::RpAs: return "rp-as";
    case LineSignalKind::LineReversal: return "line-reversal";
    }
    return "signal";
}

// What was measured of a signal; a value the signal has no use for (or that
// could not be measured) is absent. Levels in dBFS (a full-scale sine is
// 0 dBFS), times in milliseconds.
struct LineSignalMeasurement {
    // Dual tones: the alert's two tones or the acknowledgement's digit.
    std::optional<double> lowHz;
    std::optional<double> highHz;
    std::optional<double> lowDbfs;
    std::optional<double> highDbfs;
    std::optional<double> twistDb;  // highDbfs - lowDbfs
    std::optional<char> digit;      // the acknowledgement's DTMF digit
    // Ringing: its fundamental, its level, and its cadence (the first on
    // period and the silence after it, when the recording shows one).
    std::optional<double> ringHz;
    std::optional<double> ringDbfs;
    std::optional<double> onMs;
    std::optional<double> offMs;
    double durationMs = 0;  // from start to end
};

// One signal found in a channel: stream positions in samples, the end being
// the first sample after it.
struct LineSignal {
    LineSignalKind kind = LineSignalKind::DtAs;
    std::int64_t startSample = 0;
    std::int64_t endSample = 0;
    LineSignalMeasurement measure;
};

}  // namespace sigcore
