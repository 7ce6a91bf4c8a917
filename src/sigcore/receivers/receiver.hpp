// The streaming FSK caller-ID receiver: the library's public interface.
//
// A receiver is built for one tone plan, one message decoder, one sampling
// rate and one event sink. Samples go in as they arrive, in blocks of any
// size (push); the band-pass filter, the tone correlators and the
// demodulator run over them, the decoder turns the bytes into message
// events, and every event reaches the sink as soon as it is known. At the
// end of the input, finish() lets the last filtered samples through and
// ends a burst still under way.
//
//     sigcore::EventLog events;                  // or any EventSink
//     cidprobe::SdmfReportDecoder decoder;       // or any MessageDecoder
//     sigcore::FskReceiver receiver(sigcore::kBell202, decoder, 8000, events);
//     while (<samples arrive>) receiver.push(block);
//     receiver.finish();
//
// The decoder and the sink must outlive the receiver. Positions in events
// are sample indices of the pushed stream, from 0. The filter needs up to
// 1023 samples beyond a sample before it is demodulated: on a live stream the
// events of a burst follow its end by that much plus about 13 bits.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/events.hpp"

namespace sigcore {

// The tones and bit rate of an FSK standard.
struct TonePlan {
    std::string_view name;
    int markHz = 0;
    int spaceHz = 0;
    int baud = 0;
};

// Bell 202, as US caller ID sends it.
inline constexpr TonePlan kBell202{"bell202", 1200, 2200, 1200};
// ITU-T V.23 forward channel, as NTT caller ID sends it.
inline constexpr TonePlan kV23{"v23", 1300, 2100, 1200};
inline constexpr std::array<TonePlan, 2> kTonePlans{kBell202, kV23};

// Sampling rates the receiver accepts, in Hz.
inline constexpr int kLowestRate = 2000;
inline constexpr int kHighestRate = 384000;

// The detection threshold: 0 (least sensitive) to 100; 80 unless told.
inline constexpr int kDefaultSensitivity = 80;

bool receiverAcceptsRate(int samplingRate);

struct ReceiverOptions {
    int sensitivity = kDefaultSensitivity;
    // Uninterrupted mark that confirms a burst. 55 ms finds the bursts sent
    // before the first ring; call-waiting and off-hook caller ID send only 20
    // to 70 ms of mark, which a shorter setting (down to 0.02) also finds, at
    // the price of more false starts in noise for the decoder to reject.
    double markSeconds = 0.055;
};

// One tone plan of a receiver that runs several over the same samples, with
// its decoder and its sink.
struct ReceiverPlan {
    const TonePlan& plan;
    MessageDecoder& decoder;
    EventSink& sink;
};

class FskReceiver {
public:
    // Throws std::invalid_argument when the rate is outside kLowestRate ..
    // kHighestRate or the sensitivity outside 0..100.
    FskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                int sensitivity = kDefaultSensitivity);
    // Also throws std::invalid_argument for a mark shorter than 0.02 s or longer than 1 s.
    FskReceiver(const TonePlan& plan, MessageDecoder& decoder, int samplingRate, EventSink& sink,
                const ReceiverOptions& options);
    // Several tone plans over the same stream: the band-pass filter runs
    // once, each plan's demodulator and decoder on its output, exactly as a
    // receiver of that plan alone would (the plans' events of one filter
    // block come plan after plan). Also throws for an empty list.
    FskReceiver(std::span<const ReceiverPlan> plans, int samplingRate, int sensitivity = kDefaultSensitivity);
    FskReceiver(std::span<const ReceiverPlan> plans, int samplingRate, const ReceiverOptions& options);
    ~FskReceiver();
    FskReceiver(const FskReceiver&) = delete;
    FskReceiver& operator=(const FskReceiver&) = delete;

    // Raw samples of the stream, in order, any number at a time. Allocates nothing.
    void push(std::span<const std::int16_t> samples);

    // Only the first `count` samples are demodulated; later ones still feed
    // the filter (a file whose header names fewer samples than it holds).
    void limitSamples(std::int64_t count);

    // The end of the stream: the samples still inside the filter are
    // demodulated and a burst under way ends at the last sample. Pushing
    // after finish() is not allowed.
    void finish();

    [[nodiscard]] std::int64_t samplesPushed() const;
    [[nodiscard]] int samplingRate() const;

private:
    struct Lane;
    struct Chain;
    std::unique_ptr<Chain> chain_;
};

}  // namespace sigcore
