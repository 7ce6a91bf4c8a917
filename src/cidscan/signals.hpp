// --measure: the line signals around the bursts of one channel (alert tones,
// ringing, the phone's acknowledgement, line reversals), found, told apart
// by what follows them, measured and handed out in time order.
//
// How the kinds are told apart:
//   - a 2130 + 2750 Hz alert followed within 500 ms of its end by a DTMF
//     A, B, C or D, with no other digit within 300 ms after it, is a CAS,
//     and that digit its acknowledgement ("ack");
//     with no digit, an alert whose next message is a Bell 202 burst is a
//     CAS too (call waiting is the only US use of the tones); any other
//     alert is a DT-AS;
//   - ringing of at most 350 ms followed within 2.5 s by a message that is
//     not an NTT frame (whose CAR rings briefly too) is an RP-AS; any other
//     ringing is a ring. A ring's off time is given when the next ring
//     begins before a message or 7 s of quiet;
//   - ringing that a burst starts under is no ringing (mains hum is
//     dropped so, or by its length);
//   - a line reversal is reported at once.
// An alert waits at most 3 s, ringing at most 7 s after its end for what
// follows; nothing waits at the end of the input.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "sigcore/measure/linesignal.hpp"
#include "sigcore/measure/samplering.hpp"
#include "sigcore/messages/events.hpp"
#include "sigcore/receivers/linesignals.hpp"

namespace cidscan {

class SignalTracker final : public sigcore::LineToneSink, public sigcore::EventSink {
public:
    // `ring` holds the channel's recent samples (pushed before this
    // tracker's own push). Needs a rate a DTMF receiver takes: the digits
    // of the channel's DTMF receiver come to onEvent, each block's after
    // its samples.
    SignalTracker(int rate, const sigcore::SampleRing& ring);

    void push(std::span<const std::int16_t> samples);
    void finish();

    // A message decoded on this channel: what decides a held alert or ring.
    void noteMessage(std::int64_t start, sigcore::Standard standard);
    // Whether `m` is a lone digit already reported as an acknowledgement.
    [[nodiscard]] bool isAck(const sigcore::Message& m) const;

    // Decides and measures what it can (everything at the end).
    void resolve(bool atEnd);
    // The earliest decided signal, or null.
    [[nodiscard]] const sigcore::LineSignal* front() const { return ready_.empty() ? nullptr : &ready_.front(); }
    void pop() { ready_.pop_front(); }
    // Every signal that starts before this position and can precede a
    // message decoded now is decided.
    [[nodiscard]] std::int64_t settledBefore() const;

    void onLineTone(const sigcore::LineTone& tone) override;
    void onEvent(const sigcore::Event& event) override;  // the DTMF receiver's digits

private:
    struct Held {
        sigcore::LineTone tone;
        std::optional<sigcore::DtmfTone> ack;
        bool digitsFollow = false;  // an alert followed by several digits: no ack
        std::optional<sigcore::LineSignal> measured;  // ringing, once measured
    };
    struct Noted {
        std::int64_t start;
        sigcore::Standard standard;
    };
    // Returns false while `h` must wait for what follows it.
    bool decideAlert(const Held& h, bool atEnd);
    bool decideLow(Held& h, bool atEnd);
    [[nodiscard]] const Noted* messageAfter(std::int64_t position) const;
    [[nodiscard]] sigcore::LineSignal measureAlert(const sigcore::LineTone& tone, sigcore::LineSignalKind kind) const;
    [[nodiscard]] sigcore::LineSignal measureAck(const sigcore::DtmfTone& tone) const;
    // The start of the ringing the receiver found at about `coarse`; none
    // while its samples are not all in.
    [[nodiscard]] std::optional<std::int64_t> ringStartNear(std::int64_t coarse, double hz, bool atEnd) const;
    // Edges, fundamental and peak of ringing, into `s`.
    void measureRing(const sigcore::LineTone& tone, sigcore::LineSignal& s) const;

    int rate_;
    const sigcore::SampleRing& ring_;
    sigcore::LineSignalReceiver tones_;
    std::int64_t pushed_ = 0;  // samples taken
    std::deque<Held> held_;
    std::deque<sigcore::LineSignal> ready_;
    std::deque<Noted> noted_;           // the last few messages
    std::deque<std::int64_t> ackStarts_;  // the last few acknowledgements
};

}  // namespace cidscan
