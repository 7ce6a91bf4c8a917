// Signal levels as the generators take them. A full-scale sine (peak 1.0)
// is 0 dBFS; on the digital side of a line it stands for a level in dBm0,
// +3.14 dBm0 by the G.711 convention, or another reference when a system
// is calibrated differently.
#pragma once

#include <cmath>

namespace sigcore {

// The level a full-scale sine stands for under G.711 (its digital milliwatt
// is 3.14 dB below full scale).
inline constexpr double kG711FullScaleDbm0 = 3.14;

// Peak amplitude (full scale 1.0) of a sine at `dbfs`.
[[nodiscard]] inline double sinePeakFromDbfs(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

// Peak amplitude of a sine at `dbm0`, when a full-scale sine is `fullScaleDbm0`.
[[nodiscard]] inline double sinePeakFromDbm0(double dbm0, double fullScaleDbm0 = kG711FullScaleDbm0) {
    return sinePeakFromDbfs(dbm0 - fullScaleDbm0);
}

// Mean power of a sine of peak `peak` (full-scale sine: 0.5).
[[nodiscard]] inline double sinePower(double peak) { return peak * peak / 2.0; }

}  // namespace sigcore
