// Line impairments applied to a rendered signal block by block: an echo (a
// delayed, attenuated copy of the signal), mains hum (a steady sine), a DC
// offset and symmetric clipping. Echo and hum act on the signal before the
// noise is added (applySignal), offset and clipping on the sum (applyOutput),
// as a line and a converter would.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sigcore {

struct Echo {
    double delayMs = 0.0;
    double gainDb = -20.0;  // the echo's level relative to the signal
};

struct Hum {
    double hz = 50.0;
    double peak = 0.0;  // peak amplitude, full scale 1.0
};

struct Impairments {
    std::optional<Echo> echo;
    std::optional<Hum> hum;
    double dcOffset = 0.0;  // added to every sample, full scale 1.0
    double clipLevel = 0.0; // samples are held within +-clipLevel; 0: no clipping
};

class LineImpairer {
public:
    // Allocates the echo's delay line here and nowhere else.
    LineImpairer(const Impairments& impairments, int rate);

    // Echo, then hum, on the next block of the signal.
    void applySignal(std::span<double> block);
    // Offset, then clipping; returns how many samples were clipped.
    std::size_t applyOutput(std::span<double> block) const;

private:
    Impairments impairments_;
    double rate_;
    std::vector<double> delay_;  // the last delay's worth of signal, a ring
    std::size_t delayPos_ = 0;
    double echoGain_ = 0.0;
    std::int64_t sample_ = 0;    // index of the next sample, for the hum's phase
};

}  // namespace sigcore
