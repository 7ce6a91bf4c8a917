// A program written outside the source tree against the installed headers
// and library alone: a decoder of its own behind an FskReceiver. A second of
// silence must give no event and never reach the decoder; a steady mark tone
// must be found as a burst whose decoder is started once.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <span>
#include <stdexcept>
#include <variant>
#include <vector>

#include "sigcore/receivers/receiver.hpp"

namespace {

// Counts what the receiver asks of it and expects nothing in particular.
class CountingDecoder final : public sigcore::MessageDecoder {
public:
    int bursts = 0;
    int bytes = 0;
    sigcore::NextByte startBurst(sigcore::EventSink&) override {
        ++bursts;
        return sigcore::NextByte::AnyByte;
    }
    sigcore::NextByte decodeByte(std::uint8_t, std::int64_t, std::int64_t, sigcore::EventSink&) override {
        ++bytes;
        return sigcore::NextByte::AnyByte;
    }
};

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

// Pushes `samples` in uneven blocks, as a live source delivers them.
void pushInBlocks(sigcore::FskReceiver& receiver, const std::vector<std::int16_t>& samples) {
    std::span<const std::int16_t> rest(samples);
    for (std::size_t block = 1; !rest.empty(); block = block * 3 % 997 + 1) {
        const std::size_t n = block < rest.size() ? block : rest.size();
        receiver.push(rest.first(n));
        rest = rest.subspan(n);
    }
}

}  // namespace

int main() {
    constexpr int rate = 8000;
    {
        sigcore::EventLog log;
        CountingDecoder decoder;
        sigcore::FskReceiver receiver(sigcore::kBell202, decoder, rate, log);
        pushInBlocks(receiver, std::vector<std::int16_t>(rate, 0));
        receiver.finish();
        check(receiver.samplesPushed() == rate, "every sample of the second is counted");
        check(log.events.empty(), "a second of silence gives no event");
        check(decoder.bursts == 0 && decoder.bytes == 0, "silence never reaches the decoder");
    }
    {
        // 300 ms of the Bell 202 mark tone at half scale, then silence.
        std::vector<std::int16_t> tone(rate, 0);
        for (int i = 0; i < rate * 3 / 10; ++i) {
            tone[static_cast<std::size_t>(i)] =
                static_cast<std::int16_t>(16000.0 * std::sin(2.0 * std::numbers::pi * sigcore::kBell202.markHz * i / rate));
        }
        sigcore::EventLog log;
        CountingDecoder decoder;
        sigcore::FskReceiver receiver(sigcore::kBell202, decoder, rate, log);
        pushInBlocks(receiver, tone);
        receiver.finish();
        const bool shape = log.events.size() >= 3 && std::holds_alternative<sigcore::BurstDetected>(log.events[0]) &&
                           std::holds_alternative<sigcore::MarkConfirmed>(log.events[1]) &&
                           std::holds_alternative<sigcore::BurstEnded>(log.events.back());
        check(shape, "a mark tone is detected, confirmed and ended as a burst");
        check(decoder.bursts == 1, "the decoder is started once for the burst");
    }
    {
        sigcore::EventLog log;
        CountingDecoder decoder;
        bool refused = false;
        try {
            sigcore::FskReceiver receiver(sigcore::kV23, decoder, sigcore::kLowestRate - 1, log);
        } catch (const std::invalid_argument&) {
            refused = true;
        }
        check(refused, "a rate below the lowest is refused");
    }
    if (failures == 0) std::puts("receiver consumer OK");
    return failures == 0 ? 0 : 1;
}
