// The tones of an FSK burst whose sender keeps its phase from sample to
// sample (a phase accumulator, as most DSP senders are): the burst is one
// signal whose phase runs at the mark's rate in mark bits and the space's in
// space bits, so every run of either tone tells of both frequencies, far
// more than runs fitted each with a phase of their own (the space comes in
// runs of a bit or a few).
#pragma once

#include <complex>
#include <span>
#include <vector>

namespace sigcore {

// A run of bits of one tone, [begin, end) in samples of the analysed signal.
struct ToneRun {
    double begin = 0;
    double end = 0;
    bool mark = true;
};

// A sample of the burst as the one-phase fit sees it: the sample weighted
// by its tone's amplitude, and the samples of each tone before it (counted
// from the burst's middle).
struct PhasePoint {
    double value = 0;
    double inMark = 0;
    double inSpace = 0;
    bool mark = true;  // the sample's own tone, whose step leads to the next
};

// A run of one tone as the one-phase fit sees it: its first sample, the
// phase fitted on its own at that sample, and where it starts for the fit.
struct PhaseRun {
    double origin = 0;
    double phase = 0;
    double first = 0;
};

// Fits both tones as one phase through the burst, keeping its work arrays
// from one burst to the next.
class OnePhaseFit {
public:
    // `runs` are the burst's bits in time order, `amplitude` each tone's
    // (mark, space) and `freq` each tone's frequency in cycles per sample as
    // the runs' own fits found it. When the burst keeps its phase to the
    // sample (one phase explains 0.98 of the power it would if it kept it
    // exactly) and the fit's frequencies lie within 10 Hz of those, they
    // replace `freq` and the result is true.
    bool fit(std::span<const float> x, std::span<const ToneRun> runs, const double amplitude[2], int rate,
             double freq[2]);

private:
    double settle(std::span<const float> x, std::span<const ToneRun> runs, const double amplitude[2], int rate,
                  bool grid, double w[2]);

    std::vector<PhasePoint> points_;
    std::vector<PhaseRun> starts_;
    std::vector<std::complex<double>> tail_;
};

}  // namespace sigcore
