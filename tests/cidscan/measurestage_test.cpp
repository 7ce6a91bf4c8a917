#include "cidscan/measurestage.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using cidscan::Batch;
using cidscan::MeasureStage;

// Publishes `count` blocks numbered in their first sample, then the end;
// stops early when the stage does. Returns how many blocks went out.
int produce(MeasureStage& stage, int count) {
    int sent = 0;
    for (; sent < count; ++sent) {
        Batch* batch = stage.acquire();
        if (batch == nullptr) return sent;
        EXPECT_TRUE(batch->channels[1].messages.empty()) << "a reused batch comes back emptied";
        batch->channels[0].samples[0] = static_cast<std::int16_t>(sent);
        batch->channels[0].count = 1;
        batch->channels[1].messages.emplace_back();
        stage.publish();
    }
    if (Batch* batch = stage.acquire()) {
        batch->end = true;
        stage.publish();
    }
    return sent;
}

TEST(MeasureStage, TakesEveryBatchInOrderAndTheEndLast) {
    std::vector<int> taken;
    bool ended = false;
    MeasureStage stage(2, 16, [&](const Batch& b) {
        EXPECT_FALSE(ended);
        if (b.end) {
            ended = true;
        } else {
            EXPECT_EQ(b.channels[0].count, 1u);
            EXPECT_EQ(b.channels[1].messages.size(), 1u);
            taken.push_back(b.channels[0].samples[0]);
        }
        return true;
    });
    EXPECT_EQ(produce(stage, 1000), 1000);
    stage.finish();
    ASSERT_EQ(taken.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(taken[static_cast<std::size_t>(i)], static_cast<std::int16_t>(i));
    EXPECT_TRUE(ended);
}

// A handler that asks to stop (--once, a closed output) stops the decoding
// side too, and one that throws has its error come out of finish(); neither
// leaves the decoding thread waiting.
TEST(MeasureStage, StopsTheDecodingWhenTheMeasurementSideStopsOrFails) {
    int calls = 0;
    MeasureStage stopping(2, 4, [&](const Batch&) { return ++calls < 3; });
    EXPECT_LT(produce(stopping, 100000), 100000);
    stopping.finish();
    EXPECT_EQ(calls, 3);

    MeasureStage failing(2, 4, [](const Batch&) -> bool { throw std::runtime_error("measurement failed"); });
    EXPECT_LT(produce(failing, 100000), 100000);
    EXPECT_THROW(failing.finish(), std::runtime_error);
}

// The decoding side may fail half way: the stage then stops its thread
// when it goes, whatever is still queued.
TEST(MeasureStage, GoesWithoutFinishWhileBatchesAreQueued) {
    int taken = 0;
    {
        MeasureStage stage(1, 4, [&](const Batch&) {
            ++taken;
            return true;
        });
        for (int i = 0; i < 5; ++i) {
            ASSERT_NE(stage.acquire(), nullptr);
            stage.publish();
        }
    }
    EXPECT_LE(taken, 5);
}

}  // namespace
