#include "cidscan/lanes.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "sigcore/messages/dtmfcid.hpp"
#include "sigcore/messages/etsimessage.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/receivers/softfsk.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace cidscan {

namespace {

// Lets through only the whole messages of the decoder it stands for while
// that decoder is the one chosen for the burst.
class ChosenOnly final : public sigcore::EventSink {
public:
    ChosenOnly(sigcore::EventSink& out, const bool& chosen) : out_(out), chosen_(chosen) {}
    void onEvent(const sigcore::Event& event) override {
        if (chosen_ && std::holds_alternative<sigcore::MessageDecoded>(event)) out_.onEvent(event);
    }

private:
    sigcore::EventSink& out_;
    const bool& chosen_;
};

// NTT frames and ETSI messages share the V.23 tones. Both decoders read every
// byte; the burst's first byte says whose messages count: an NTT frame opens
// with DLE (0x10, with its parity bit 0x90), an ETSI message with its type.
class V23Decoder final : public sigcore::MessageDecoder {
public:
    V23Decoder(bool ntt, bool etsi) : nttWanted_(ntt), etsiWanted_(etsi) {}

    sigcore::NextByte startBurst(sigcore::EventSink& sink) override {
        first_ = true;
        nttChosen_ = false;
        etsiChosen_ = false;
        ChosenOnly toNtt(sink, nttChosen_);
        ChosenOnly toEtsi(sink, etsiChosen_);
        ntt_.startBurst(toNtt);
        etsi_.startBurst(toEtsi);
        return sigcore::NextByte::AnyByte;
    }

    sigcore::NextByte decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end,
                                 sigcore::EventSink& sink) override {
        if (first_) {
            first_ = false;
            const bool dle = (byte & 0x7Fu) == 0x10;
            nttChosen_ = nttWanted_ && dle;
            etsiChosen_ = etsiWanted_ && !dle;
        }
        ChosenOnly toNtt(sink, nttChosen_);
        ChosenOnly toEtsi(sink, etsiChosen_);
        const sigcore::NextByte nttNext = ntt_.decodeByte(byte, start, end, toNtt);
        const sigcore::NextByte etsiNext = etsi_.decodeByte(byte, start, end, toEtsi);
        return nttChosen_ ? nttNext : etsiNext;
    }

    void endBurst(std::int64_t position, sigcore::EventSink& sink) override {
        ChosenOnly toNtt(sink, nttChosen_);
        ChosenOnly toEtsi(sink, etsiChosen_);
        ntt_.endBurst(position, toNtt);
        etsi_.endBurst(position, toEtsi);
    }

private:
    bool nttWanted_;
    bool etsiWanted_;
    bool first_ = true;
    bool nttChosen_ = false;
    bool etsiChosen_ = false;
    sigcore::NttMessageDecoder ntt_;
    sigcore::EtsiMessageDecoder etsi_;
};

// The FSK standard families, each a tone plan with its decoder, through one
// line receiver: its line filter runs once for all of them.
class FskLane final : public Lane {
public:
    struct Family {
        const sigcore::TonePlan& plan;
        std::unique_ptr<sigcore::MessageDecoder> decoder;
    };

    FskLane(std::vector<Family> families, int rate, int sensitivity, sigcore::EventSink& catcher)
        : families_(std::move(families)), receiver_(plansOf(families_, catcher), rate, optionsFor(sensitivity)) {}
    void push(std::span<const std::int16_t> samples) override { receiver_.push(samples); }
    void finish() override { receiver_.finish(); }

private:
    static std::vector<sigcore::ReceiverPlan> plansOf(const std::vector<Family>& families, sigcore::EventSink& catcher) {
        std::vector<sigcore::ReceiverPlan> plans;
        for (const Family& f : families) plans.push_back({f.plan, *f.decoder, catcher});
        return plans;
    }
    // Sensitivity 0..100 moves the weakest tone peak taken for a signal
    // from -12 dBFS to -60 dBFS; 80 gives about -50 dBFS.
    static sigcore::SoftFskOptions optionsFor(int sensitivity) {
        sigcore::SoftFskOptions options;
        options.floorAmplitude = 32768.0 * 0.5 * std::pow(2.0, -0.08 * sensitivity) / 2.0;
        return options;
    }
    std::vector<Family> families_;
    sigcore::SoftFskReceiver receiver_;
};

// Plain DTMF digits: a message per run of digits, closed by a second without
// a digit or by the end of the input.
class DigitRuns final : public sigcore::EventSink {
public:
    DigitRuns(int rate, sigcore::EventSink& out) : gap_(rate), out_(out) {}
    void onEvent(const sigcore::Event& event) override {
        const auto* tone = std::get_if<sigcore::DtmfTone>(&event);
        if (tone == nullptr) return;
        if (!run_.tones.empty() && tone->start - run_.endSample > gap_) finish();
        if (run_.tones.empty()) run_.startSample = tone->start;
        run_.endSample = tone->end;
        run_.tones.push_back({tone->digit, tone->start, tone->end});
        run_.raw.push_back(static_cast<std::uint8_t>(tone->digit));
    }
    void advanceTo(std::int64_t position) {
        if (!run_.tones.empty() && position - run_.endSample > gap_) finish();
    }
    void finish() {
        if (run_.tones.empty()) return;
        sigcore::Message m = std::move(run_);
        run_ = sigcore::Message{};
        m.standard = sigcore::Standard::Dtmf;
        m.complete = true;
        m.valid = true;
        m.fields.push_back({"digits", std::string(m.raw.begin(), m.raw.end())});
        out_.onEvent(sigcore::MessageDecoded{std::move(m)});
    }

private:
    std::int64_t gap_;
    sigcore::EventSink& out_;
    sigcore::Message run_;
};

// Keeps the receiver's last tones on their way to the message decoder and
// gives a message that carries no tones of its own (DTMF caller ID) those
// within it, so that its digits can be measured.
class ToneKeeper {
public:
    class Tones final : public sigcore::EventSink {
    public:
        Tones(ToneKeeper& keeper, sigcore::EventSink& decoder) : keeper_(keeper), decoder_(decoder) {}
        void onEvent(const sigcore::Event& event) override {
            if (const auto* tone = std::get_if<sigcore::DtmfTone>(&event)) {
                if (keeper_.tones_.size() >= kKept) keeper_.tones_.erase(keeper_.tones_.begin());
                keeper_.tones_.push_back({tone->digit, tone->start, tone->end});
            }
            decoder_.onEvent(event);
        }

    private:
        ToneKeeper& keeper_;
        sigcore::EventSink& decoder_;
    };
    class Messages final : public sigcore::EventSink {
    public:
        Messages(ToneKeeper& keeper, sigcore::EventSink& out) : keeper_(keeper), out_(out) {}
        void onEvent(const sigcore::Event& event) override {
            const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event);
            if (decoded == nullptr || !decoded->message.tones.empty()) {
                out_.onEvent(event);
                return;
            }
            sigcore::MessageDecoded copy = *decoded;
            for (const sigcore::MessageTone& t : keeper_.tones_) {
                if (t.start >= copy.message.startSample && t.end <= copy.message.endSample) copy.message.tones.push_back(t);
            }
            out_.onEvent(copy);
        }

    private:
        ToneKeeper& keeper_;
        sigcore::EventSink& out_;
    };

private:
    // More than a message's digits.
    static constexpr std::size_t kKept = 256;
    std::vector<sigcore::MessageTone> tones_;
};

// DTMF digits into messages: DTMF caller ID's framing (DtmfCallerIdDecoder)
// or plain digit runs (DigitRuns). `Messages` takes the receiver's tones and
// hears how far the stream has gone and when it ends. The receiver is the
// channel's, shared with its line-signal tracker, or the lane's own.
template <typename Messages>
class DtmfLane final : public Lane {
public:
    DtmfLane(int rate, sigcore::EventSink& catcher, SharedDtmf* shared)
        : toCatcher_(keeper_, catcher), messages_(rate, toCatcher_), toMessages_(keeper_, messages_),
          own_(shared != nullptr ? nullptr : std::make_unique<SharedDtmf>(rate)),
          digits_(shared != nullptr ? *shared : *own_), listener_(digits_.listen(toMessages_)) {}
    void push(std::span<const std::int16_t> samples) override {
        digits_.push(listener_, samples);
        messages_.advanceTo(digits_.samplesPushed(listener_));
    }
    void finish() override {
        digits_.finish(listener_);
        messages_.finish();
    }

private:
    ToneKeeper keeper_;
    ToneKeeper::Messages toCatcher_;
    Messages messages_;
    ToneKeeper::Tones toMessages_;
    std::unique_ptr<SharedDtmf> own_;
    SharedDtmf& digits_;
    std::size_t listener_;
};

}  // namespace

std::vector<std::unique_ptr<Lane>> makeLanes(StandardChoice standards, int samplingRate, int sensitivity,
                                             sigcore::EventSink& catcher, SharedDtmf* dtmf) {
    const bool all = standards == StandardChoice::All;
    const bool us = all || standards == StandardChoice::Us;
    const bool ntt = all || standards == StandardChoice::Ntt || standards == StandardChoice::V23;
    const bool etsi = all || standards == StandardChoice::Etsi || standards == StandardChoice::V23;
    // The DTMF receivers need the rates a DTMF receiver can tell the tones at.
    const bool dtmfRate = samplingRate >= sigcore::kDtmfLowestRate && samplingRate <= sigcore::kDtmfHighestRate;
    const bool dtmfCid = dtmfRate && (all || standards == StandardChoice::DtmfCid);
    std::vector<std::unique_ptr<Lane>> lanes;
    std::vector<FskLane::Family> families;
    if (us) families.push_back({sigcore::kBell202, std::make_unique<sigcore::UsMessageDecoder>()});
    if (ntt || etsi) families.push_back({sigcore::kV23, std::make_unique<V23Decoder>(ntt, etsi)});
    if (!families.empty()) lanes.push_back(std::make_unique<FskLane>(std::move(families), samplingRate, sensitivity, catcher));
    if (dtmfCid) lanes.push_back(std::make_unique<DtmfLane<sigcore::DtmfCallerIdDecoder>>(samplingRate, catcher, dtmf));
    if (dtmfRate && standards == StandardChoice::Dtmf) lanes.push_back(std::make_unique<DtmfLane<DigitRuns>>(samplingRate, catcher, dtmf));
    return lanes;
}

}  // namespace cidscan
