// Whole-message decoder of the NTT caller-ID frame over V.23: the frame
// decoder (decodeNttByte) runs byte by byte as for the report, and its
// events are gathered into one MessageDecoded per frame, emitted when the
// CRC verdict is known or, for a frame cut off before it, at the end of
// the burst.
//
//     sigcore::NttMessageDecoder decoder;
//     sigcore::FskReceiver receiver(sigcore::kV23, decoder, rate, sink);
//
// Field keys and values (UTF-8 text): number, number_absent ("private",
// "unavailable", "payphone", "service conflict" or "code XX"), name
// (converted from JIS X 0208), name_absent, called_number, number_type and
// numbering_plan (from the extended number information), and param_XX (the
// characters of a parameter of any other type XX, in hex).
//
// The frame decoder takes an opening with one wrong character for the right
// one; in a frame whose CRC passes, `raw` holds the opening as every frame
// sends it (DLE SOH header DLE STX with their parity bits), and a frame whose
// received opening differed from it is marked `repaired`.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "sigcore/messages/decoder.hpp"
#include "sigcore/messages/nttdecoder.hpp"

namespace sigcore {

// Bytes of one frame kept for the message's raw bytes: more than a frame
// can hold (opening, a 129-byte body with doubled DLEs, closing and CRC).
inline constexpr std::size_t kNttRawCapacity = 512;

class NttMessageDecoder final : public MessageDecoder {
public:
    NttMessageDecoder();
    ~NttMessageDecoder() override;
    NttMessageDecoder(const NttMessageDecoder&) = delete;
    NttMessageDecoder& operator=(const NttMessageDecoder&) = delete;

    NextByte startBurst(EventSink& sink) override;
    NextByte decodeByte(std::uint8_t byte, std::int64_t start, std::int64_t end, EventSink& sink) override;
    void endBurst(std::int64_t position, EventSink& sink) override;

    // What the frame's events have gathered; defined in the .cpp.
    struct Gatherer;

private:
    void emit(EventSink& sink);

    NttDecoder frame_;
    std::unique_ptr<Gatherer> gatherer_;
};

}  // namespace sigcore
