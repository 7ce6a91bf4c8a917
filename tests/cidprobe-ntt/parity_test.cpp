// The alignment scoring of the NTT detector: the parity test that replaces
// the US type-code test, judged on decisions laid into the histories.
#include "cidprobe-ntt/nttprobe.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sigcore/receivers/demod.hpp"
#include "sigcore/dsp/history.hpp"

namespace {

constexpr int kRate = 8000;
constexpr int kLead = 40;   // mark decisions ahead of the start bit
constexpr int kTail = 60;   // mark decisions after the last data bit

struct Scored {
    int characters = 0;  // while characters with parity are expected
    int crcBytes = 0;    // for the CRC bytes after ETX
};

// Lays a clean byte (start bit, eight data bits, then mark) into the
// histories at 8000 Hz, with the data bit `undecided` (0..7, or -1 for none)
// made of undecided decisions, and scores candidate 0 from the start bit's
// reference point.
Scored scoreByte(std::uint8_t byte, int undecided = -1) {
    sigcore::DemodState state;
    sigcore::demodInit(state, 80, kRate, sigcore::kV23.baud);
    const double bitLength = state.bitLength;
    const int frameSamples = static_cast<int>(9 * bitLength) + kTail;
    for (int s = 0; s < kLead; ++s) {
        sigcore::energyPush(state.energy, 0.0, 0.0);
        sigcore::decisionPush(state.decisions, sigcore::kMark);
    }
    for (int s = 0; s < frameSamples; ++s) {
        const int bit = static_cast<int>(s / bitLength);  // 0 start bit, 1..8 data bits
        std::uint8_t d = sigcore::kMark;
        if (bit == 0) {
            d = sigcore::kSpace;
        } else if (bit <= 8) {
            d = (byte >> (bit - 1)) & 1u ? sigcore::kMark : sigcore::kSpace;
            if (bit - 1 == undecided) d = sigcore::kUndecided;
        }
        sigcore::energyPush(state.energy, 0.0, 0.0);
        sigcore::decisionPush(state.decisions, d);
    }
    const auto newest = static_cast<std::uint32_t>(kLead + frameSamples - 1);
    const int base = kLead + state.startOffset;

    const sigcore::NttReportDecoder decoder;
    Scored scored;
    state.expected = sigcore::kParityChars;
    scored.characters = sigcore::demodScoreCandidate(state, decoder, newest, base, 0);
    state.expected = sigcore::kPlainBytes;
    scored.crcBytes = sigcore::demodScoreCandidate(state, decoder, newest, base, 0);
    return scored;
}

}  // namespace

TEST(NttParityTest, OddNumberOfMarkVotesLosesTenForCharactersOnly) {
    // Three mark votes among the eight data votes: odd parity.
    const Scored odd = scoreByte(0x07);
    EXPECT_GT(odd.crcBytes, 0);
    EXPECT_EQ(odd.characters, odd.crcBytes - 10);
    // One vote more: even parity, no penalty.
    const Scored even = scoreByte(0x0F);
    EXPECT_EQ(even.characters, even.crcBytes);
}

TEST(NttParityTest, NoTypeCodeOrBitSevenTest) {
    // DLE with its parity bit: bit 7 a mark vote, not a US message type; a
    // clean even-parity character scores the full 100 either way.
    const Scored dle = scoreByte(0x90);
    EXPECT_EQ(dle.characters, 100);
    EXPECT_EQ(dle.crcBytes, 100);
}

TEST(NttParityTest, UndecidedVoteIsNotPenalisedByIt) {
    // Data bit 2 undecided, three mark votes among the others.
    const Scored scored = scoreByte(0x0B, 2);
    EXPECT_EQ(scored.characters, scored.crcBytes);
    // It loses by the undecided-vote rule instead: 100 at the point and the
    // neighbour differences around it.
    EXPECT_LT(scored.crcBytes, scoreByte(0x0B).crcBytes - 100);
}

TEST(NttParityTest, DecoderScoresTheFirstByteAsACharacter) {
    sigcore::NttReportDecoder decoder;
    sigcore::EventLog events;
    EXPECT_EQ(decoder.startBurst(events), sigcore::NextByte::EvenParityChar);
    EXPECT_TRUE(events.events.empty());
}
