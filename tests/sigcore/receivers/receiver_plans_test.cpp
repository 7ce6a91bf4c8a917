// A receiver of several tone plans gives each plan exactly the events a
// receiver of that plan alone gives, with the report decoders and with the
// whole-message decoders, on a US and an NTT burst at two rates.
#include <gtest/gtest.h>

#include <vector>

#include "cidprobe-ntt/nttframe.hpp"
#include "cidprobe/fsksynth.hpp"
#include "cidprobe/sdmf.hpp"
#include "sigcore/messages/nttdecoder.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/receivers/receiver.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace {

std::vector<std::int16_t> twoBursts(int rate) {
    fsksynth::Modulator mod;
    mod.rate = rate;
    fsksynth::appendSilence(mod, rate / 5);
    fsksynth::appendBurst(mod, fsksynth::sdmfMessage("01020304", "5551234"), 180, 10, 1);
    fsksynth::appendSilence(mod, rate / 3);
    mod.tones = fsksynth::Tones{1300.0, 2100.0, 1200.0};
    fsksynth::appendBurst(mod, nttframe::build(nttframe::param(0x02, "0312345678")), 180, 10, 4);
    fsksynth::appendSilence(mod, rate / 5);
    return mod.samples;
}

void feed(sigcore::FskReceiver& receiver, const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); i += 777) {
        receiver.push(std::span<const std::int16_t>(samples.data() + i, std::min<std::size_t>(777, samples.size() - i)));
    }
    receiver.finish();
}

template <class UsDecoder, class NttDecoder>
void expectSameAsAlone(int rate, std::size_t expectedMessages) {
    const std::vector<std::int16_t> samples = twoBursts(rate);
    UsDecoder usAlone;
    NttDecoder nttAlone;
    sigcore::EventLog usAloneLog;
    sigcore::EventLog nttAloneLog;
    {
        sigcore::FskReceiver us(sigcore::kBell202, usAlone, rate, usAloneLog);
        feed(us, samples);
        sigcore::FskReceiver ntt(sigcore::kV23, nttAlone, rate, nttAloneLog);
        feed(ntt, samples);
    }
    UsDecoder usShared;
    NttDecoder nttShared;
    sigcore::EventLog usLog;
    sigcore::EventLog nttLog;
    const std::vector<sigcore::ReceiverPlan> plans{{sigcore::kBell202, usShared, usLog},
                                                   {sigcore::kV23, nttShared, nttLog}};
    sigcore::FskReceiver both(plans, rate);
    feed(both, samples);
    EXPECT_EQ(usLog.events, usAloneLog.events) << rate;
    EXPECT_EQ(nttLog.events, nttAloneLog.events) << rate;
    std::size_t messages = 0;
    for (const auto* log : {&usLog, &nttLog}) {
        for (const auto& e : log->events) messages += std::holds_alternative<sigcore::MessageDecoded>(e) ? 1u : 0u;
    }
    EXPECT_EQ(messages, expectedMessages);
    EXPECT_GT(usLog.events.size(), 3u);
    EXPECT_GT(nttLog.events.size(), 3u);
}

TEST(ReceiverPlans, EachPlanSeesWhatItWouldAlone) {
    for (const int rate : {8000, 22050}) {
        expectSameAsAlone<cidprobe::SdmfReportDecoder, sigcore::NttReportDecoder>(rate, 0);
        expectSameAsAlone<sigcore::UsMessageDecoder, sigcore::NttMessageDecoder>(rate, 2);
    }
    EXPECT_THROW(sigcore::FskReceiver(std::span<const sigcore::ReceiverPlan>{}, 8000), std::invalid_argument);
}

}  // namespace
