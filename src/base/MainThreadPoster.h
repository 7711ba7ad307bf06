#pragma once
// Runs a function on the main thread, in the order posted. The window posts
// through a queued Qt invocation; tests use PumpedPoster and pump it.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace ristova {

class IMainThreadPoster {
  public:
    virtual ~IMainThreadPoster() = default;
    // Callable from any thread. False when the call cannot be queued.
    virtual bool Post(std::function<void()> call) = 0;
};

// A queue that a test (or any loop) drains on its own thread.
class PumpedPoster : public IMainThreadPoster {
  public:
    bool Post(std::function<void()> call) override;
    // Runs every queued call; returns how many ran.
    int Pump();
    // Waits up to timeoutMs for at least one call, then pumps.
    int PumpFor(int timeoutMs);
    // Pumps until pred() holds or timeoutMs passed; returns pred().
    bool PumpUntil(const std::function<bool()>& pred, int timeoutMs);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace ristova
