#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sigcore/dsp/history.hpp"

namespace {

using sigcore::DecisionHistory;
using sigcore::EnergyHistory;

TEST(History, WrapsAfter1024Pushes) {
    EnergyHistory e;
    sigcore::energyInit(e, 1024);
    DecisionHistory d;
    sigcore::decisionInit(d, 1024, 2);
    for (int i = 0; i < 1025; ++i) {
        sigcore::energyPush(e, i, -i);
        sigcore::decisionPush(d, static_cast<std::uint8_t>(i % 2));
    }
    EXPECT_EQ(e.newest, 0);
    EXPECT_EQ(d.newest, 0);
    EXPECT_EQ(sigcore::energyAt(e, 0).mark, 1024.0);
    EXPECT_EQ(sigcore::energyAt(e, -1).mark, 1023.0);  // slot 1023
    EXPECT_EQ(sigcore::energyAt(e, -1023).mark, 1.0);
    EXPECT_EQ(sigcore::energyAt(e, -1).space, -1023.0);
    EXPECT_EQ(sigcore::decisionAt(d, 0), 0);
    EXPECT_EQ(sigcore::decisionAt(d, -1), 1);
    EXPECT_EQ(sigcore::energyAt(e, 5000).mark, e.records[0].mark);  // above the last slot reads slot 0
}

TEST(History, EveryVoteIsUndecidedBeforeTheFirstSample) {
    DecisionHistory d;
    sigcore::decisionInit(d, 1024, 2);
    for (const int center : {0, -1, -500, -1023}) EXPECT_EQ(sigcore::majorityVote(d, center, 2), 255);
    EXPECT_EQ(sigcore::decisionAt(d, 0), 255);
}

TEST(History, MajorityVotes) {
    auto voteOf = [](std::vector<std::uint8_t> window) {
        DecisionHistory d;
        sigcore::decisionInit(d, 1024, 2);
        for (const auto v : window) sigcore::decisionPush(d, v);
        return sigcore::majorityVote(d, -2, 2);
    };
    EXPECT_EQ(voteOf({1, 1, 0, 0, 255}), 255);
    EXPECT_EQ(voteOf({255, 255, 1, 255, 255}), 1);
    EXPECT_EQ(voteOf({0, 1, 0, 1, 0}), 0);
    DecisionHistory d;
    sigcore::decisionInit(d, 1024, 0);
    sigcore::decisionPush(d, 1);
    EXPECT_EQ(sigcore::majorityVote(d, 0, -1), 255);  // empty window
}

TEST(History, KeptVotesMatchTheWindowCount) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> pick(0, 2);
    for (const int halfWidth : {1, 2, 6, 27}) {
        DecisionHistory d;
        sigcore::decisionInit(d, 1024, halfWidth);
        for (int i = 0; i < 3000; ++i) {
            const int p = pick(rng);
            sigcore::decisionPush(d, static_cast<std::uint8_t>(p == 2 ? 255 : p));
            if (i < 40) continue;
            for (int offset = -halfWidth; offset >= -900; offset -= 37) {
                ASSERT_EQ(sigcore::keptVote(d, offset), sigcore::majorityVote(d, offset, halfWidth))
                    << "halfWidth " << halfWidth << " sample " << i << " offset " << offset;
            }
        }
    }
}

TEST(History, SizeFollowsTheLookBack) {
    EXPECT_EQ(sigcore::historySizeFor(100), 1024);
    EXPECT_EQ(sigcore::historySizeFor(1023), 1024);
    EXPECT_EQ(sigcore::historySizeFor(1024), 2048);
    EXPECT_EQ(sigcore::historySizeFor(4300), 8192);
}

}  // namespace
