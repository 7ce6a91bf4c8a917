// A second FSK receiver, built for real lines rather than for the detectors'
// report: one-bit matched filters for both tones, a soft decision equalised
// for twist, bit timing recovered from each start bit's edge with sub-sample
// resolution and tracked across the byte, and repair of the one least certain
// bit of a message whose check fails. Same interface and decoder contract as
// FskReceiver: the decoder's expectation (a message type, a character, a
// digit, even parity) picks among nearly as certain timings of a byte and
// decides the bits the line left uncertain (never one it sent clearly), and
// its check decides what a message is. A byte needs a space start bit and
// the carrier under it; after a message that passes its check, decoding goes
// on while the carrier lasts, for a further message in it. A message checked
// by an 8-bit sum (US, ETSI) in which two doubtful bits of the same weight
// could have cancelled is not valid, and a repair counts only when the
// flipped bit was doubtful and leaves no such pair.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/events.hpp"
#include "sigcore/receivers/receiver.hpp"

namespace sigcore {

struct SoftFskOptions {
    // Uninterrupted mark that opens a burst (call-waiting caller ID sends
    // about 80 bits, ETSI off-hook 55).
    double markSeconds = 0.015;
    // Weakest tone amplitude, on the 16-bit scale, taken for a signal: about
    // -55 dBFS.
    double floorAmplitude = 60.0;
    // Repair one bit of a message whose check fails, when that makes it pass.
    bool repair = true;
};

class SoftFskReceiver {
public:
    // Throws std::invalid_argument for a rate outside kLowestRate ..
    // kHighestRate or a mark outside 0.01 .. 1 s.
    SoftFskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                    const SoftFskOptions& options = {});
    // Several tone plans over the same stream: the line filter runs once,
    // each plan's tone filters, bit decisions and decoder on its output,
    // exactly as a receiver of that plan alone would (the plans' events of
    // one block of samples come plan after plan), except that a burst two
    // plans read gives one message: of two messages of different plans that
    // overlap on the line, only the one whose plan's tones lie nearer the
    // tones measured under it goes out, once no other plan's can come
    // (a message waits for that at most a quarter second of stream). Also
    // throws for an empty list.
    SoftFskReceiver(std::span<const ReceiverPlan> plans, int samplingRate, const SoftFskOptions& options = {});
    ~SoftFskReceiver();
    SoftFskReceiver(const SoftFskReceiver&) = delete;
    SoftFskReceiver& operator=(const SoftFskReceiver&) = delete;

    // Samples of the stream in order, any number at a time. Allocates nothing
    // between bursts; a burst keeps its bytes for the repair.
    void push(std::span<const std::int16_t> samples);
    // The end of the stream: a byte whose stop bit the end cut off is still
    // decided, then a burst under way ends at the last sample.
    void finish();

    [[nodiscard]] std::int64_t samplesPushed() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sigcore
