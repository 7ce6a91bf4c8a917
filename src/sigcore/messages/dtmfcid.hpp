// Caller ID sent as DTMF digits before the first ring, in the framings in
// use: a start digit, the information, an end digit.
//
//   A<number>C   A<number>#   A<number>B   the calling number
//   D<number>C   D<number>#                the calling number, where D is the start digit
//   A<number>D<number>C                    calling number, then the redirecting number
//   B00C  B10C                             no number: unavailable, private
//   D<number>B00C  D<number>B10C           no calling number, the redirecting number
//   D1#  D2#  D3#                          no number: private, unavailable (international),
//                                          unavailable (technical reasons) (Denmark)
//   <number>#                              the calling number with no start digit: 3 to 20
//                                          decimal digits, at a sender's pace (no gap over
//                                          0.2 s), opening after a second without digits
//
// A message ends at its end digit, or after a second without digits; only
// a message closed by its end digit is valid. A B after a number ends the
// message unless code digits follow it, so such a message is held until the
// next digit or the second of silence. Digits outside a message are ignored,
// and so is a run of decimal digits that is not a <number># message (it is
// dropped without a message: plain digits, as a keypad sends them).
//
//     sigcore::DtmfCallerIdDecoder cid(rate, sink);    // emits MessageDecoded
//     sigcore::DtmfReceiver receiver(rate, cid);       // feeds it DtmfTone events
//     ... receiver.push(block); cid.advanceTo(receiver.samplesPushed()); ...
//     receiver.finish(); cid.finish();
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sigcore/messages/events.hpp"

namespace sigcore {

// The message in `digits` (its first digit the start digit, or a decimal
// digit for <number>#): type is the start digit (0 for none), raw the digits, fields "number", "number_absent"
// ("unavailable", "private", or the code as sent), "redirecting_number";
// complete and valid when the message ends with its end digit (digits
// after it are ignored). Sample positions are left at 0.
Message parseDtmfCallerId(std::string_view digits);

class DtmfCallerIdDecoder final : public EventSink {
public:
    // Digits further apart than this end a message.
    static constexpr double kSilenceSeconds = 1.0;
    // A message that grows longer than this is ended, invalid.
    static constexpr std::size_t kMaxDigits = 64;
    // A <number># message: its number's length, and the longest gap
    // between its digits.
    static constexpr std::size_t kMinLedDigits = 3;
    static constexpr std::size_t kMaxLedDigits = 20;
    static constexpr double kMaxLedGapSeconds = 0.2;

    // The output sink must outlive the decoder.
    DtmfCallerIdDecoder(int samplingRate, EventSink& out);

    // Takes DtmfTone events; others are ignored.
    void onEvent(const Event& event) override;

    // The stream has reached sample `position` with no further digit: a
    // message whose last digit ended more than a second earlier is emitted.
    void advanceTo(std::int64_t position);

    // The end of the stream: a message under way is emitted.
    void finish();

private:
    void emit();
    // The next digit of a <number># message under way: true when taken
    // (the message may then be complete and emitted); false when the run
    // is no such message and has been dropped.
    bool followsDigitLed(const DtmfTone& tone);

    EventSink& out_;
    std::int64_t silence_ = 0;  // kSilenceSeconds in samples
    std::int64_t maxLedGap_ = 0;  // kMaxLedGapSeconds in samples
    bool digitLed_ = false;       // digits_ holds a run that may be <number>#
    bool heardAny_ = false;
    std::int64_t lastHeard_ = 0;  // the end of the last digit heard, in a message or not
    std::string digits_;        // the message under way, empty for none
    std::int64_t start_ = 0;
    std::int64_t lastEnd_ = 0;
};

}  // namespace sigcore
