#include "sigcore/senders/impair.hpp"

#include <cmath>
#include <numbers>

namespace sigcore {

LineImpairer::LineImpairer(const Impairments& impairments, int rate)
    : impairments_(impairments), rate_(static_cast<double>(rate)) {
    if (impairments_.echo) {
        const auto samples = static_cast<std::size_t>(std::llround(impairments_.echo->delayMs * rate_ / 1000.0));
        delay_.assign(samples, 0.0);
        echoGain_ = std::pow(10.0, impairments_.echo->gainDb / 20.0);
    }
}

void LineImpairer::applySignal(std::span<double> block) {
    if (impairments_.echo) {
        for (double& s : block) {
            if (delay_.empty()) {
                s += echoGain_ * s;  // no delay: the echo adds to the signal itself
                continue;
            }
            const double clean = s;
            s += echoGain_ * delay_[delayPos_];
            delay_[delayPos_] = clean;
            delayPos_ = delayPos_ + 1 == delay_.size() ? 0 : delayPos_ + 1;
        }
    }
    if (impairments_.hum) {
        const double step = 2.0 * std::numbers::pi * impairments_.hum->hz / rate_;
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] += impairments_.hum->peak * std::sin(step * static_cast<double>(sample_ + static_cast<std::int64_t>(i)));
        }
    }
    sample_ += static_cast<std::int64_t>(block.size());
}

std::size_t LineImpairer::applyOutput(std::span<double> block) const {
    const double limit = impairments_.clipLevel;
    std::size_t clipped = 0;
    for (double& s : block) {
        s += impairments_.dcOffset;
        if (limit > 0.0 && std::abs(s) > limit) {
            s = s > 0.0 ? limit : -limit;
            ++clipped;
        }
    }
    return clipped;
}

}  // namespace sigcore
