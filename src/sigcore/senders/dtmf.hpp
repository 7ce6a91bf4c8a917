// DTMF digit writer: each digit a low-group and a high-group sine of their
// own levels for a set time, with a set silence between digits.
//
//     sigcore::DtmfSettings settings;                // 70 ms tones, 70 ms gaps
//     sigcore::DtmfWriter dtmf(settings, "A0123456789C", 8000);
//     while (std::size_t n = dtmf.write(block)) consume(std::span(block).first(n));
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace sigcore {

// The low and high frequencies of a digit ('0'-'9', '*', '#', 'A'-'D'),
// nullopt for another character.
[[nodiscard]] std::optional<std::pair<double, double>> dtmfFrequencies(char digit);

struct DtmfSettings {
    double toneMs = 70.0;
    double gapMs = 70.0;
    double lowPeak = 0.2;   // peak amplitudes, full scale 1.0
    double highPeak = 0.2;
    double lowScale = 1.0;  // each group's frequencies times this (a deviation from nominal)
    double highScale = 1.0;
};

class DtmfWriter {
public:
    // Characters that are no DTMF digit are sent as silence of a digit's
    // length; callers check with dtmfFrequencies first.
    DtmfWriter(const DtmfSettings& settings, std::string_view digits, int rate);

    // The digits' tones and the gaps between them (none after the last).
    [[nodiscard]] std::int64_t totalSamples() const { return total_; }
    // Samples of one tone and of one gap.
    [[nodiscard]] std::int64_t toneSamples() const { return tone_; }
    [[nodiscard]] std::int64_t gapSamples() const { return gap_; }

    // Writes the next samples into `out`; returns how many, fewer than
    // out.size() only at the end.
    std::size_t write(std::span<double> out);

private:
    DtmfSettings settings_;
    std::string digits_;
    double rate_ = 8000.0;
    std::int64_t tone_ = 0;
    std::int64_t gap_ = 0;
    std::int64_t total_ = 0;
    std::int64_t next_ = 0;
};

}  // namespace sigcore
