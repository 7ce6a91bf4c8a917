#include "sigcore/senders/dtmf.hpp"

#include <array>
#include <cmath>
#include <numbers>

namespace sigcore {

namespace {

constexpr std::array<double, 4> kLow{697.0, 770.0, 852.0, 941.0};
constexpr std::array<double, 4> kHigh{1209.0, 1336.0, 1477.0, 1633.0};
constexpr std::string_view kKeypad = "123A456B789C*0#D";  // row by row

std::int64_t samplesOf(double ms, double rate) { return static_cast<std::int64_t>(std::llround(ms * rate / 1000.0)); }

}  // namespace

std::optional<std::pair<double, double>> dtmfFrequencies(char digit) {
    const std::size_t at = kKeypad.find(digit);
    if (digit == 0 || at == std::string_view::npos) return std::nullopt;
    return std::pair{kLow[at / 4], kHigh[at % 4]};
}

DtmfWriter::DtmfWriter(const DtmfSettings& settings, std::string_view digits, int rate)
    : settings_(settings), digits_(digits), rate_(static_cast<double>(rate)) {
    tone_ = samplesOf(settings_.toneMs, rate_);
    gap_ = samplesOf(settings_.gapMs, rate_);
    const auto count = static_cast<std::int64_t>(digits_.size());
    total_ = count == 0 ? 0 : count * tone_ + (count - 1) * gap_;
}

std::size_t DtmfWriter::write(std::span<double> out) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const std::int64_t period = tone_ + gap_;
    std::size_t written = 0;
    for (; written < out.size() && next_ < total_; ++written, ++next_) {
        const std::int64_t index = period > 0 ? next_ / period : 0;
        const std::int64_t within = period > 0 ? next_ % period : 0;
        const auto pair = dtmfFrequencies(digits_[static_cast<std::size_t>(index)]);
        double value = 0.0;
        if (within < tone_ && pair) {
            // Each tone starts at phase 0 at the start of its digit.
            const double t = static_cast<double>(within) / rate_;
            value = settings_.lowPeak * std::sin(kTwoPi * pair->first * settings_.lowScale * t) +
                    settings_.highPeak * std::sin(kTwoPi * pair->second * settings_.highScale * t);
        }
        out[written] = value;
    }
    return written;
}

}  // namespace sigcore
