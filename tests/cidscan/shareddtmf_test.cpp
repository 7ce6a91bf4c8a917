#include "cidscan/shareddtmf.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Digits of 80 ms with 80 ms gaps, the last one cut off by the end of the
// stream (so that the receiver's end decides it).
std::vector<std::int16_t> digits(const std::string& keys, int rate) {
    static const std::string layout = "123A456B789C*0#D";
    const double rows[] = {697.0, 770.0, 852.0, 941.0};
    const double columns[] = {1209.0, 1336.0, 1477.0, 1633.0};
    const auto tone = static_cast<std::size_t>(0.08 * rate);
    std::vector<std::int16_t> x;
    for (const char key : keys) {
        const auto at = layout.find(key);
        for (std::size_t i = 0; i < tone; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double v = 6000.0 * (std::sin(2 * std::numbers::pi * rows[at / 4] * t) +
                                       std::sin(2 * std::numbers::pi * columns[at % 4] * t));
            x.push_back(static_cast<std::int16_t>(std::lround(v)));
        }
        x.insert(x.end(), tone, 0);
    }
    x.resize(x.size() - tone - tone / 2);
    return x;
}

class Digits final : public sigcore::EventSink {
public:
    void onEvent(const sigcore::Event& event) override {
        if (const auto* tone = std::get_if<sigcore::DtmfTone>(&event)) tones.push_back(*tone);
    }
    std::vector<sigcore::DtmfTone> tones;
};

// Each listener of one shared receiver hears what a receiver of its own
// hears, whichever of them pushes a block first, over blocks of every size.
TEST(SharedDtmf, EachListenerHearsWhatItsOwnReceiverWould) {
    const int rate = 8000;
    const std::vector<std::int16_t> x = digits("159#0*D", rate);
    for (const std::size_t block : {1UL, 37UL, 160UL, 4096UL}) {
        Digits alone;
        sigcore::DtmfReceiver own(rate, alone);
        Digits first;
        Digits second;
        cidscan::SharedDtmf shared(rate);
        const std::size_t a = shared.listen(first);
        const std::size_t b = shared.listen(second);
        for (std::size_t at = 0; at < x.size(); at += block) {
            const std::span<const std::int16_t> part(x.data() + at, std::min(block, x.size() - at));
            own.push(part);
            shared.push(a, part);
            shared.push(b, part);
            ASSERT_EQ(first.tones, second.tones);
            ASSERT_EQ(shared.samplesPushed(a), own.samplesPushed());
            ASSERT_EQ(shared.samplesPushed(b), own.samplesPushed());
        }
        own.finish();
        shared.finish(b);  // the other one leads at the end
        shared.finish(a);
        EXPECT_EQ(first.tones, alone.tones) << "blocks of " << block;
        EXPECT_EQ(second.tones, alone.tones) << "blocks of " << block;
        EXPECT_EQ(alone.tones.size(), 7U);
    }
}

// A listener more than a block behind would miss digits: refused.
TEST(SharedDtmf, ListenerTwoBlocksBehindIsRefused) {
    Digits first;
    Digits second;
    cidscan::SharedDtmf shared(8000);
    const std::size_t a = shared.listen(first);
    const std::size_t b = shared.listen(second);
    const std::vector<std::int16_t> x(100, 0);
    shared.push(a, x);
    shared.push(a, x);
    EXPECT_THROW(shared.push(b, x), std::logic_error);
}

}  // namespace
