// With --measure, the measurement side of a scan (each channel's sample
// ring, line-signal tracker, the fits of every message and their delivery)
// runs on a thread of its own beside the decoding. The decoding thread
// hands it, block by block, the samples and what the channel's receivers
// found in them (DTMF digits, whole messages); it does with them what one
// thread would have done, in the same order, so the output is the same
// byte for byte and the two halves of the work overlap.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sigcore/messages/events.hpp"

namespace cidscan {

// What one channel's decoding found in one block.
struct ChannelBatch {
    std::vector<std::int16_t> samples;  // sized to the block; `count` of them hold samples
    std::size_t count = 0;
    std::vector<sigcore::DtmfTone> digits;    // for the line-signal tracker
    std::vector<sigcore::Message> messages;  // in the order they were decoded
};

// One block of every channel, or the end of the input: the messages and
// digits the receivers gave when they finished.
struct Batch {
    std::vector<ChannelBatch> channels;
    bool end = false;
};

// Takes a batch on the measurement thread; returns false when the scan is
// to stop (the handler said so).
using BatchConsumer = std::function<bool(const Batch&)>;

// A fixed pool of batches between the decoding thread (which fills them)
// and the measurement thread (which takes them in order). Nothing is
// allocated per block once the pool is made.
class MeasureStage {
public:
    MeasureStage(std::size_t channels, std::size_t blockFrames, BatchConsumer consume);
    MeasureStage(const MeasureStage&) = delete;
    MeasureStage& operator=(const MeasureStage&) = delete;
    // Stops the thread (what is still queued is dropped) unless finish() ran.
    ~MeasureStage();

    // The next batch to fill, emptied; null once the measurement side has
    // stopped. Waits while every batch is queued.
    Batch* acquire();
    // Hands the batch from acquire() on.
    void publish();
    // Waits until every published batch is taken; rethrows what the
    // measurement thread threw.
    void finish();

private:
    void run();
    void close();

    std::vector<Batch> pool_;
    BatchConsumer consume_;
    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable freed_;
    std::size_t head_ = 0;   // the oldest queued batch
    std::size_t queued_ = 0;
    bool closed_ = false;    // nothing more will be published
    bool halted_ = false;    // the measurement thread stopped taking batches
    std::exception_ptr error_;
    std::thread thread_;     // last: starts once the rest is made
};

}  // namespace cidscan
