#include "app/LineOutput.h"

#include <chrono>
#include <thread>

#include "base/StreamReady.h"

namespace ristova {

void LineOutput::Write(std::string line) {
    std::lock_guard lock(mutex_);
    DrainLocked();
    if (waiting_.empty() && StreamTakesLineNow(stream_)) {
        std::fputs(line.c_str(), stream_);
        std::fflush(stream_);
        return;
    }
    if (waiting_.size() >= kMaxWaitingLines) {
        ++dropped_;
        return;
    }
    waiting_.push_back(std::move(line));
}

void LineOutput::Drain() {
    std::lock_guard lock(mutex_);
    DrainLocked();
}

void LineOutput::DrainLocked() {
    while (!waiting_.empty() && StreamTakesLineNow(stream_)) {
        std::fputs(waiting_.front().c_str(), stream_);
        std::fflush(stream_);
        waiting_.pop_front();
    }
}

void LineOutput::Finish(int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock lock(mutex_);
    for (DrainLocked(); !waiting_.empty() && std::chrono::steady_clock::now() < deadline;
         DrainLocked()) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.lock();
    }
    dropped_ += waiting_.size();
    waiting_.clear();
}

std::uint64_t LineOutput::TakeDropped() {
    std::lock_guard lock(mutex_);
    const std::uint64_t dropped = dropped_;
    dropped_ = 0;
    return dropped;
}

}  // namespace ristova
