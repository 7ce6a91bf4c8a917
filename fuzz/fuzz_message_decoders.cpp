// The whole-message decoders (US SDMF/MDMF and NTT frames) on any byte
// sequence with resets in between (the escape of decoderCalls), as the
// demodulator drives them; and the US message decoded straight from the
// bytes.
#include <cstddef>
#include <cstdint>

#include "fuzzsupport.hpp"
#include "messagecheck.hpp"
#include "sigcore/messages/nttmessage.hpp"
#include "sigcore/messages/usmessage.hpp"

namespace {

bool isExpectation(sigcore::NextByte next) {
    return next == sigcore::NextByte::MessageType || next == sigcore::NextByte::AnyByte ||
           next == sigcore::NextByte::SevenBitChar || next == sigcore::NextByte::EvenParityChar ||
           next == sigcore::NextByte::DigitChar;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fuzzsupport::require;
    sigcore::UsMessageDecoder us;
    sigcore::NttMessageDecoder ntt;
    sigcore::EventLog usLog;
    sigcore::EventLog nttLog;
    std::int64_t position = 0;
    bool started = false;
    for (const int value : fuzzsupport::decoderCalls(data, size)) {
        if (value < 0 || !started) {
            if (started) {
                us.endBurst(position, usLog);
                ntt.endBurst(position, nttLog);
            }
            require(us.startBurst(usLog) == sigcore::NextByte::MessageType, "a US burst starts with a type");
            require(isExpectation(ntt.startBurst(nttLog)), "the NTT decoder names an expectation");
            started = true;
            if (value < 0) continue;
        }
        const auto byte = static_cast<std::uint8_t>(value);
        require(isExpectation(us.decodeByte(byte, position, position + 10, usLog)), "US expectation");
        require(isExpectation(ntt.decodeByte(byte, position, position + 10, nttLog)), "NTT expectation");
        position += 10;
    }
    if (started) {
        us.endBurst(position, usLog);
        ntt.endBurst(position, nttLog);
    }
    for (const sigcore::Event& event : usLog.events) {
        const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event);
        require(decoded != nullptr, "the US decoder emits whole messages only");
        const sigcore::Message& m = decoded->message;
        fuzzsupport::checkMessage(m);
        require(m.standard == sigcore::Standard::Bell202, "a US message says so");
        require(sigcore::isUsMessageTypeCode(m.raw[0]), "a US message begins with its type");
        // The streaming decoder and the pure function agree.
        sigcore::Message again = sigcore::decodeUsMessage(m.raw);
        again.startSample = m.startSample;
        again.endSample = m.endSample;
        require(again == m, "streaming and whole-buffer decoding agree");
    }
    for (const sigcore::Event& event : nttLog.events) {
        const auto* decoded = std::get_if<sigcore::MessageDecoded>(&event);
        require(decoded != nullptr, "the NTT decoder emits whole messages only");
        fuzzsupport::checkMessage(decoded->message);
        require(decoded->message.standard == sigcore::Standard::V23Ntt, "an NTT message says so");
        require(decoded->message.raw.size() <= sigcore::kNttRawCapacity, "raw bytes are bounded");
    }
    if (size > 0) fuzzsupport::checkMessage(sigcore::decodeUsMessage(std::span<const std::uint8_t>(data, size)));
    return 0;
}
