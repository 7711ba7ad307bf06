#pragma once
// The headless runner's event loop: one thread waiting on native handles
// (timers, its own wake-up, the stop signals). It is also the main-thread
// poster of everything that runs on it. The waits are the platform's
// (posix/EventLoop.cpp); the queue and the dispatch are the same everywhere.
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/MainThreadPoster.h"
#include "base/NativeHandle.h"

namespace ristova {

// A monotonic periodic timer as a handle that becomes readable at each expiry.
class IntervalTimer {
  public:
    IntervalTimer();  // throws std::system_error
    ~IntervalTimer();
    IntervalTimer(const IntervalTimer&) = delete;
    IntervalTimer& operator=(const IntervalTimer&) = delete;
    NativeHandle Handle() const { return handle_; }
    void Start(int intervalMs);
    void Stop();
    bool Active() const { return active_; }
    // Expiries since the last read (0 when none; never blocks).
    std::uint64_t Read();

  private:
    NativeHandle handle_ = kNoHandle;
    bool active_ = false;
    // The schedule, for timers that count no expiries of their own.
    struct Native;
    std::unique_ptr<Native> native_;
};

// What the loop waits on: its wake-up, the stop signals and the watched
// handles.
class LoopWaiter {
  public:
    // Takes SIGTERM, SIGINT and SIGHUP (or the platform's equivalents) away
    // from their default action; each then ends a Wait. Throws
    // std::system_error.
    LoopWaiter();
    ~LoopWaiter();
    LoopWaiter(const LoopWaiter&) = delete;
    LoopWaiter& operator=(const LoopWaiter&) = delete;

    // Any thread: the next Wait returns with woken set.
    void Wake();

    struct Ready {
        int signal = 0;                     // a stop signal came (its number)
        bool woken = false;                 // Wake was called; cleared by this Wait
        std::vector<NativeHandle> handles;  // readable, hung up or failed, in watch order
    };
    // Blocks until one of them; throws std::system_error when the wait fails.
    Ready Wait(const std::vector<NativeHandle>& handles);

  private:
    NativeHandle wake_ = kNoHandle;
    NativeHandle signals_ = kNoHandle;
};

class EventLoop : public IMainThreadPoster {
  public:
    // Takes the stop signals in the calling thread (make it before any other
    // thread starts, so they inherit that); each ends Run(). Throws
    // std::system_error.
    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Callable from any thread; false once the loop has ended.
    bool Post(std::function<void()> call) override;

    // Calls onReadable on the loop whenever the handle is readable. The
    // handle stays the caller's.
    void Watch(NativeHandle handle, std::function<void()> onReadable);
    void Unwatch(NativeHandle handle);

    // Every watched and posted call runs through this guard: an exception
    // that leaves a call is handed to it and the loop goes on. Without one,
    // the exception ends Run().
    void SetOnError(std::function<void(const std::exception&)> onError);

    // Runs until Quit() or a signal; returns the signal number (0 for Quit).
    int Run();
    void Quit() { quit_ = true; }

  private:
    void RunPosted();
    void Call(const std::function<void()>& call);

    struct Watched {
        NativeHandle handle;
        std::function<void()> call;
    };
    std::vector<Watched> watched_;
    LoopWaiter waiter_;
    bool quit_ = false;
    int signal_ = 0;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool closed_ = false;
    std::function<void(const std::exception&)> onError_;
};

}  // namespace ristova
