// The NTT whole-message decoder: the frame decoder's events gathered into
// one message per frame, names in UTF-8, the CRC verdict, cut-off frames.
#include <gtest/gtest.h>

#include <iconv.h>

#include <string>
#include <vector>

#include "cidprobe-ntt/nttframe.hpp"
#include "sigcore/messages/nttmessage.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Fields = std::vector<sigcore::MessageField>;

// UTF-8 to the 7-bit JIS X 0208 bytes of a caller name (EUC-JP with bit 7 cleared).
std::string jisOf(const std::string& utf8) {
    iconv_t cd = iconv_open("EUC-JP", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    for (char& c : out) c = static_cast<char>(c & 0x7F);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<sigcore::Message> decodeBurst(const Bytes& bytes, bool end = true) {
    sigcore::NttMessageDecoder decoder;
    sigcore::EventLog log;
    decoder.startBurst(log);
    std::int64_t pos = 500;
    for (const std::uint8_t b : bytes) {
        decoder.decodeByte(b, pos, pos + 80, log);
        pos += 80;
    }
    if (end) decoder.endBurst(pos, log);
    std::vector<sigcore::Message> out;
    for (const auto& e : log.events) {
        if (const auto* d = std::get_if<sigcore::MessageDecoded>(&e)) out.push_back(d->message);
    }
    return out;
}

TEST(NttMessage, NumberAndJapaneseNameInUtf8) {
    const Bytes frame =
        nttframe::build(concat({nttframe::param(0x02, "0312345678"), nttframe::param(0x07, jisOf("鈴木一郎"))}));
    const auto messages = decodeBurst(concat({frame, Bytes{0x00, 0x7f}}));
    ASSERT_EQ(messages.size(), 1u);
    const sigcore::Message& m = messages[0];
    EXPECT_EQ(m.standard, sigcore::Standard::V23Ntt);
    EXPECT_EQ(m.type, 0x40);
    EXPECT_TRUE(m.complete);
    EXPECT_TRUE(m.valid);
    EXPECT_EQ(m.raw, frame);
    EXPECT_EQ(m.startSample, 500);
    EXPECT_EQ(m.endSample, 500 + 80 * static_cast<std::int64_t>(frame.size()));
    EXPECT_EQ(m.checkReceived, nttframe::crcShown(frame));
    EXPECT_EQ(m.fields, (Fields{{"number", "0312345678"}, {"name", "鈴木一郎"}}));
}

TEST(NttMessage, ReasonsNumberInformationAndOtherParameters) {
    const Bytes frame = nttframe::build(concat({nttframe::param(0x04, "P"), nttframe::param(0x08, "O"),
                                                nttframe::param(0x21, "201"), nttframe::param(0x30, "AB"),
                                                nttframe::param(0x09, "1234"), nttframe::param(0x22, "109"),
                                                nttframe::param(0x31, "")}),
                                        0x41);
    const auto messages = decodeBurst(frame);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].valid);
    EXPECT_EQ(messages[0].type, 0x41);
    EXPECT_EQ(messages[0].fields, (Fields{{"number_absent", "private"},
                                         {"name_absent", "unavailable"},
                                         {"number_type", "national"},
                                         {"numbering_plan", "ISDN"},
                                         {"param_30", "4142"},
                                         {"called_number", "1234"},
                                         {"called_number_type", "international"},
                                         {"called_numbering_plan", "private"},
                                         {"param_31", ""}}));
}

TEST(NttMessage, DamagedCutOffAndReopenedFrames) {
    const Bytes frame = nttframe::build(nttframe::param(0x02, "0120444444"));
    Bytes damaged = frame;
    damaged.back() ^= 0x10;
    auto messages = decodeBurst(damaged);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].complete);
    EXPECT_FALSE(messages[0].valid);
    EXPECT_NE(messages[0].checkReceived, messages[0].checkComputed);

    // Cut off before the CRC: emitted at the end of the burst, not before.
    const Bytes cut(frame.begin(), frame.begin() + 12);
    EXPECT_TRUE(decodeBurst(cut, false).empty());
    messages = decodeBurst(cut);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].complete);
    EXPECT_FALSE(messages[0].valid);
    EXPECT_EQ(messages[0].raw, cut);

    // A refused opening (two wrong characters) is dropped from the raw bytes.
    messages = decodeBurst(concat({Bytes{0x55, 0x55, 0x07, 0x10, 0x02}, frame}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].valid);
    EXPECT_EQ(messages[0].raw, frame);

    // Noise that never opens a frame gives nothing.
    EXPECT_TRUE(decodeBurst(Bytes(40, 0x55)).empty());
}

}  // namespace
