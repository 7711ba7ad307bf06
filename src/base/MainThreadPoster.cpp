#include "base/MainThreadPoster.h"

#include <chrono>

namespace ristova {

bool PumpedPoster::Post(std::function<void()> call) {
    if (!call) return false;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(call));
    }
    cv_.notify_all();
    return true;
}

int PumpedPoster::Pump() {
    // Only what is queued now: a call that posts again runs on the next pump.
    // One at a time, so that a call that throws leaves the rest queued.
    std::size_t pending;
    {
        std::lock_guard lock(mutex_);
        pending = queue_.size();
    }
    int ran = 0;
    for (; pending > 0; --pending) {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex_);
            call = std::move(queue_.front());
            queue_.pop_front();
        }
        call();
        ++ran;
    }
    return ran;
}

int PumpedPoster::PumpFor(int timeoutMs) {
    {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return !queue_.empty(); });
    }
    return Pump();
}

bool PumpedPoster::PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Pump();
    while (!pred()) {
        {
            std::unique_lock lock(mutex_);
            // A queue that never runs dry must not keep us past the deadline.
            if (!cv_.wait_until(lock, deadline, [this] { return !queue_.empty(); }) ||
                std::chrono::steady_clock::now() >= deadline) {
                lock.unlock();
                return pred();
            }
        }
        Pump();
    }
    return true;
}

}  // namespace ristova
