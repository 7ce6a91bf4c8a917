// The streaming DTMF receiver: samples go in as they arrive, and each
// accepted digit reaches the sink as a DtmfTone event once its tone has
// ended.
//
//     sigcore::EventLog events;                    // or any EventSink
//     sigcore::DtmfReceiver receiver(8000, events);
//     while (<samples arrive>) receiver.push(block);
//     receiver.finish();
//
// How it listens: the stream is cut into half-blocks of about 6.4 ms, and
// each pair of neighbouring half-blocks (a 12.75 ms window, a new one every
// half-block) is correlated with the eight DTMF frequencies and their second
// harmonics. A window holds a candidate digit when the strongest frequency of
// each group stands 6 dB above the others of its group, both tones are loud
// enough, they carry at least half of the window's energy, neither tone's
// second harmonic reaches a tenth of the pair's power, and the twist is
// within 12 dB. Candidate windows of one digit form a tone (up to three
// missing windows, a drop-out of up to 10 ms, are bridged); at its end the
// tone is accepted when
//   - it lasted at least 32 ms (tones of 40 ms and more pass, 25 ms and less
//     never);
//   - each frequency, measured from the phase advance between windows over
//     the whole tone, is within 2.5% of nominal (1.5% always passes, 3.5%
//     never);
//   - the high-group tone is at most 4.5 dB stronger than the low-group tone
//     and at most 8.5 dB weaker (4 and 8 dB always pass: the twist of -8 to
//     +4 dB, high minus low, that a DTMF receiver must accept), with the
//     levels corrected for the frequency offsets.
//   - nothing else of note sounds with the pair: over the tone (its last
//     80 ms at most, kept for this), no other component from 100 to 3000 Hz,
//     away from the pair and its second harmonics, reaches 13 dB below the
//     weaker tone while standing 13 dB above the band's median; when the
//     pair carries over 90 % of the tone's energy, a component counts only
//     when it reaches 11 dB below the weaker tone in each half of the tone.
//     Music and voiced speech put partials on a row and a column now and
//     then, but with other partials of like level beside them; noise spreads
//     over the whole band; speech over a keyed digit comes and goes.
// A repeated digit needs a gap of 25 ms or more between its tones. A digit
// is reported about 25 ms after its tone ends.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "sigcore/messages/events.hpp"

namespace sigcore {

// Sampling rates the DTMF receiver accepts, in Hz.
inline constexpr int kDtmfLowestRate = 8000;
inline constexpr int kDtmfHighestRate = 192000;

// The digit of a row (0..3: 697, 770, 852, 941 Hz) and a column (0..3:
// 1209, 1336, 1477, 1633 Hz).
char dtmfDigit(int row, int column);

class DtmfReceiver {
public:
    // Throws std::invalid_argument when the rate is outside
    // kDtmfLowestRate .. kDtmfHighestRate. The sink must outlive the receiver.
    DtmfReceiver(int samplingRate, EventSink& sink);

    // Raw samples of the stream, in order, any number at a time. Allocates nothing.
    void push(std::span<const std::int16_t> samples);

    // The end of the stream: the last samples are analysed and a tone still
    // under way ends there. Pushing after finish() is ignored.
    void finish();

    [[nodiscard]] std::int64_t samplesPushed() const { return pushed_; }
    [[nodiscard]] int samplingRate() const { return rate_; }

private:
    static constexpr int kTones = 16;  // eight frequencies, then their second harmonics
    // The eight frequencies are correlated as the samples come; their
    // harmonics only for a window that passes every other test.
    static constexpr std::size_t kFundamentals = 8;

    // A tone under way: the candidate windows of one digit.
    struct Segment {
        int row = -1;  // -1: no tone under way
        int column = -1;
        int missing = 0;  // windows in a row without this digit
        std::int64_t firstStart = 0;
        std::int64_t lastStrongStart = 0;
        std::array<std::int64_t, 3> earlyStarts{};    // the first windows' starts
        std::array<double, 3> earlyAmplitudes{};      // and amplitudes
        int windows = 0;
        double maxAmplitude = 0.0;
        std::complex<double> rowAdvance;     // summed phase advance of the row tone per half-block
        std::complex<double> columnAdvance;  // and of the column tone
        double rowPower = 0.0;
        double columnPower = 0.0;
    };

    // The eight fundamentals' correlations (the harmonics' are worked out
    // apart). The arrays each half-block makes are filled whole, with no
    // zeroing before: the compiler clears 128 bytes or more with a string
    // instruction, whose start-up cost, several times a half-block, was a
    // measurable share of the receiver's time.
    using Correlations = std::array<std::complex<double>, kFundamentals>;

    // What a window's tests found: the candidate digit (row -1 for none),
    // the tones' summed amplitude and the powers the tests measured.
    struct WindowPick {
        int row = -1;
        int column = -1;
        double amplitude = 0.0;
        std::array<double, kTones> power;  // filled whole by pickDigit
    };

    // The half-block is complete: its window with the previous one is analysed.
    void endHalfBlock();
    // The window of the previous half-block and this one (`current`, with
    // `currentEnergy`): its tests, then the tone under way.
    void analyseWindow(const Correlations& current, double currentEnergy);
    // The window tests on the window's correlations.
    [[nodiscard]] WindowPick pickDigit(const Correlations& window, double windowEnergy);
    // Whether neither tone's second harmonic is too strong; fills in their powers.
    [[nodiscard]] bool harmonicsClear(std::size_t row, std::size_t column, std::array<double, kTones>& p) const;
    // The power at `frequency` of weighted samples.
    [[nodiscard]] double weightedPower(std::span<const double> weighted, double frequency) const;
    // Hann-weights `count` kept samples from sample `from` into toneWindowed_ at `at`.
    std::span<const double> windowTone(std::int64_t from, std::size_t count, std::size_t at);
    // Whether the component at `frequency` reaches kMaxOtherShare of the
    // weaker tone in both halves of the tone.
    [[nodiscard]] bool persists(std::span<const double> first, std::span<const double> second, double frequency,
                                double rowHz, double columnHz) const;
    // Whether nothing else in the band comes near the weaker tone over the
    // tone's samples (start..end, its frequencies as measured).
    [[nodiscard]] bool toneStandsAlone(std::int64_t start, std::int64_t end, double rowHz, double columnHz);
    // The window's candidate joins, starts, breaks or ends the tone under way.
    void followTone(const WindowPick& pick, const Correlations& window, std::int64_t start);
    // Tone k's correlation over the half-block of samples at `samples`.
    [[nodiscard]] std::complex<double> halfCorrelation(std::size_t k, const double* samples) const;
    void closeSegment();

    EventSink& sink_;
    int rate_ = 0;
    int half_ = 0;  // samples per half-block; a window is two of them
    // Storage that starts on a cache line: the per-sample loop loads each
    // table row's eight fundamentals at once, and a load that straddles
    // two lines costs two.
    template <typename T>
    struct LineAligned {
        using value_type = T;
        static constexpr std::align_val_t kLine{64};
        LineAligned() = default;
        template <typename U>
        LineAligned(const LineAligned<U>&) {}  // implicit, as allocators convert
        T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kLine)); }
        void deallocate(T* p, std::size_t) { ::operator delete(p, kLine); }
        bool operator==(const LineAligned&) const = default;
    };
    std::vector<double, LineAligned<double>> cosTable_;  // half_ rows of kTones values
    std::vector<double, LineAligned<double>> sinTable_;
    std::array<std::complex<double>, kTones> halfRotation_{};  // e^{-j w half}
    std::array<double, kTones> frequency_{};

    std::array<double, kFundamentals> re_{};
    std::array<double, kFundamentals> im_{};
    double energy_ = 0.0;
    int filled_ = 0;
    std::vector<double> halfSamples_;  // the previous half-block's samples, then this one's
    std::vector<double> history_;      // the last kHistoryHalfBlocks half-blocks, sample s at s % size
    std::vector<double> toneWindowed_;  // a tone's samples, Hann-weighted, then each half of them
    std::vector<double> probePowers_;   // the powers toneStandsAlone probes
    std::vector<double> probeFrequencies_;  // at these frequencies
    std::vector<double> probeSorted_;       // the powers, partly sorted for their median

    bool havePreviousHalf_ = false;
    Correlations previousHalf_{};
    double previousEnergy_ = 0.0;
    bool havePreviousWindow_ = false;
    int previousRow_ = -1;  // the previous window's candidate digit, -1 for none
    int previousColumn_ = -1;
    std::array<std::complex<double>, 8> previousWindow_{};

    std::int64_t pushed_ = 0;
    std::int64_t halfBlocks_ = 0;  // half-blocks completed
    bool finished_ = false;
    Segment segment_;
};

}  // namespace sigcore
