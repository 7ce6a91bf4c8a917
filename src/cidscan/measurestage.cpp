#include "cidscan/measurestage.hpp"

#include <utility>

namespace cidscan {

namespace {

// Batches in the pool: enough that neither thread waits on the other for
// a block's worth of uneven work, few enough to keep a live stream's
// messages prompt (a block of a live stream is 32 ms at 8000 Hz).
constexpr std::size_t kDepth = 8;

}  // namespace

MeasureStage::MeasureStage(std::size_t channels, std::size_t blockFrames, BatchConsumer consume)
    : pool_(kDepth), consume_(std::move(consume)) {
    for (Batch& batch : pool_) {
        batch.channels.resize(channels);
        for (ChannelBatch& c : batch.channels) c.samples.resize(blockFrames);
    }
    thread_ = std::thread([this] { run(); });
}

MeasureStage::~MeasureStage() {
    close();
    if (thread_.joinable()) thread_.join();
}

void MeasureStage::close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    filled_.notify_one();
}

Batch* MeasureStage::acquire() {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [this] { return halted_ || queued_ < pool_.size(); });
    if (halted_) return nullptr;
    Batch& batch = pool_[(head_ + queued_) % pool_.size()];
    lock.unlock();
    // The measurement thread is done with it: it no longer counts as queued.
    batch.end = false;
    for (ChannelBatch& c : batch.channels) {
        c.count = 0;
        c.digits.clear();
        c.messages.clear();
    }
    return &batch;
}

void MeasureStage::publish() {
    const std::lock_guard lock(mutex_);
    ++queued_;
    filled_.notify_one();
}

void MeasureStage::finish() {
    close();
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(error_);
}

void MeasureStage::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        filled_.wait(lock, [this] { return closed_ || queued_ > 0; });
        if (queued_ == 0) return;  // closed, and everything taken
        const Batch& batch = pool_[head_];
        lock.unlock();
        bool more = false;
        try {
            more = consume_(batch);
        } catch (...) {
            error_ = std::current_exception();
        }
        lock.lock();
        head_ = (head_ + 1) % pool_.size();
        --queued_;
        if (!more) {
            halted_ = true;
            freed_.notify_one();
            return;
        }
        freed_.notify_one();
    }
}

}  // namespace cidscan
