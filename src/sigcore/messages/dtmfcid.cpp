#include "sigcore/messages/dtmfcid.hpp"

#include <cmath>
#include <vector>

namespace sigcore {

namespace {

bool isStartDigit(char d) { return d == 'A' || d == 'B' || d == 'D'; }
bool isEndDigit(char d) { return d == 'C' || d == '#'; }
bool isInformationDigit(char d) { return (d >= '0' && d <= '9') || d == '*'; }
bool isDecimal(char d) { return d >= '0' && d <= '9'; }

// A message with no start digit: kMinLedDigits to kMaxLedDigits decimal
// digits and #. Anything else is not such a message.
Message parseDigitLed(std::string_view digits, Message message) {
    const std::size_t end = digits.find('#');
    message.raw.assign(digits.begin(), digits.end());
    if (end == std::string_view::npos || end < DtmfCallerIdDecoder::kMinLedDigits ||
        end > DtmfCallerIdDecoder::kMaxLedDigits) {
        return message;
    }
    for (std::size_t i = 0; i < end; ++i) {
        if (!isDecimal(digits[i])) return message;
    }
    message.raw.assign(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(end + 1));
    message.complete = true;
    message.valid = true;
    message.fields.push_back({"number", std::string(digits.substr(0, end))});
    return message;
}

// One part of a message: the digit that opened it and the digits it holds.
struct Part {
    char code = 0;
    std::string digits;
};

// The reason a code gives for the missing number.
std::string absenceText(char code, const std::string& digits) {
    if (code == 'B' || digits.size() == 2) {
        if (digits == "00") return "unavailable";
        if (digits == "10") return "private";
    } else if (code == 'D') {
        if (digits == "1") return "private";
        if (digits == "2" || digits == "3") return "unavailable";
    }
    return digits;
}

}  // namespace

Message parseDtmfCallerId(std::string_view digits) {
    Message message;
    message.standard = Standard::DtmfCallerId;
    if (!digits.empty() && isDecimal(digits[0])) return parseDigitLed(digits, message);
    if (digits.empty() || !isStartDigit(digits[0])) {
        message.raw.assign(digits.begin(), digits.end());
        return message;
    }
    message.type = static_cast<std::uint8_t>(digits[0]);
    std::vector<Part> parts{Part{digits[0], {}}};
    std::size_t used = 1;
    bool ended = false;
    for (; used < digits.size() && !ended; ++used) {
        const char d = digits[used];
        const Part& current = parts.back();
        const bool holdsNumber = (current.code == 'A' || current.code == 'D') && !current.digits.empty();
        if (d == 'B' && holdsNumber) {
            // B after a number either ends the message (A<number>B) or opens
            // its information code (D<redirecting>B10C): the next digit says
            // which, and with no next digit it is the end.
            const bool codeFollows = used + 1 < digits.size() && isInformationDigit(digits[used + 1]);
            if (codeFollows) {
                parts.push_back(Part{d, {}});
            } else {
                ended = true;
            }
        } else if (isInformationDigit(d)) {
            parts.back().digits += d;
        } else if (isEndDigit(d)) {
            ended = true;
        } else if (isStartDigit(d)) {
            parts.push_back(Part{d, {}});
        }
    }
    message.raw.assign(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(used));
    message.complete = ended;
    message.valid = ended;

    // An information code after the numbers says the calling number is
    // absent: a D number before it is then the redirecting number, not the
    // calling number that a message opened by D otherwise carries.
    bool numberAbsent = false;
    for (const Part& part : parts) numberAbsent = numberAbsent || (part.code == 'B' && !part.digits.empty());
    bool haveNumber = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Part& part = parts[i];
        if (part.digits.empty()) continue;
        if (part.code == 'D' && numberAbsent) {
            message.fields.push_back({"redirecting_number", part.digits});
        } else if (part.code == 'B' || (part.code == 'D' && i == 0 && part.digits.size() <= 2)) {
            message.fields.push_back({"number_absent", absenceText(part.code, part.digits)});
        } else if (part.code == 'D' && haveNumber) {
            message.fields.push_back({"redirecting_number", part.digits});
        } else if (!haveNumber) {
            message.fields.push_back({"number", part.digits});
            haveNumber = true;
        }
    }
    return message;
}

DtmfCallerIdDecoder::DtmfCallerIdDecoder(int samplingRate, EventSink& out)
    : out_(out),
      silence_(std::llround(kSilenceSeconds * samplingRate)),
      maxLedGap_(std::llround(kMaxLedGapSeconds * samplingRate)) {
    digits_.reserve(kMaxDigits + 1);
}

void DtmfCallerIdDecoder::onEvent(const Event& event) {
    const auto* tone = std::get_if<DtmfTone>(&event);
    if (tone == nullptr) return;
    const bool afterSilence = !heardAny_ || tone->start - lastHeard_ > silence_;
    heardAny_ = true;
    lastHeard_ = tone->end;
    if (!digits_.empty() && tone->start - lastEnd_ > silence_) emit();
    if (digitLed_ && followsDigitLed(*tone)) return;
    // A message held at a B that ends it unless a code follows: any digit
    // but a code digit closes it, and that digit is taken on its own.
    if (!digits_.empty() && digits_.back() == 'B' && !isInformationDigit(tone->digit) &&
        parseDtmfCallerId(digits_).complete) {
        emit();
    }
    if (digits_.empty()) {
        if (isDecimal(tone->digit) && afterSilence) {
            // Perhaps a number with no start digit, ended by #.
            digitLed_ = true;
            start_ = tone->start;
            digits_ += tone->digit;
            lastEnd_ = tone->end;
            return;
        }
        if (!isStartDigit(tone->digit)) return;
        start_ = tone->start;
    }
    digits_ += tone->digit;
    lastEnd_ = tone->end;
    if (digits_.size() >= kMaxDigits) {
        emit();
    } else if (digits_.size() > 1 && tone->digit != 'B' && parseDtmfCallerId(digits_).complete) {
        emit();
    }
}

bool DtmfCallerIdDecoder::followsDigitLed(const DtmfTone& tone) {
    const bool paced = tone.start - lastEnd_ <= maxLedGap_;
    if (paced && isDecimal(tone.digit) && digits_.size() < kMaxLedDigits) {
        digits_ += tone.digit;
        lastEnd_ = tone.end;
        return true;
    }
    if (paced && tone.digit == '#' && digits_.size() >= kMinLedDigits) {
        digits_ += tone.digit;
        lastEnd_ = tone.end;
        emit();
        return true;
    }
    // Not such a message: dropped unheard. The digit may still open a
    // message of its own (a start digit), but a digit run goes on ignored.
    digits_.clear();
    digitLed_ = false;
    return false;
}

void DtmfCallerIdDecoder::advanceTo(std::int64_t position) {
    if (!digits_.empty() && position - lastEnd_ > silence_) emit();
}

void DtmfCallerIdDecoder::finish() {
    if (!digits_.empty()) emit();
}

void DtmfCallerIdDecoder::emit() {
    MessageDecoded decoded{parseDtmfCallerId(digits_)};
    if (digitLed_ && !decoded.message.complete) {
        // Digits that never reached their #: plain digits, not a message.
        digits_.clear();
        digitLed_ = false;
        return;
    }
    digitLed_ = false;
    decoded.message.startSample = start_;
    decoded.message.endSample = lastEnd_;
    digits_.clear();
    out_.onEvent(decoded);
}

}  // namespace sigcore
