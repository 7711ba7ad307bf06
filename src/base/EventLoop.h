#pragma once
// The headless runner's event loop: one thread waiting in poll() on
// descriptors (timer fds, the poster's eventfd, a signalfd). It is also the
// main-thread poster of everything that runs on it.
#include <sys/types.h>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/MainThreadPoster.h"

namespace ristova {

// A monotonic periodic timer as a descriptor (timerfd).
class IntervalTimer {
  public:
    IntervalTimer();  // throws std::system_error
    ~IntervalTimer();
    IntervalTimer(const IntervalTimer&) = delete;
    IntervalTimer& operator=(const IntervalTimer&) = delete;
    int Fd() const { return fd_; }
    void Start(int intervalMs);
    void Stop();
    bool Active() const { return active_; }
    // Expiries since the last read (0 when none; never blocks).
    std::uint64_t Read();

  private:
    int fd_ = -1;
    bool active_ = false;
};

class EventLoop : public IMainThreadPoster {
  public:
    // Blocks SIGTERM, SIGINT and SIGHUP in the calling thread (call it before
    // any other thread starts, so they inherit the mask) and takes them
    // through a signalfd: each ends Run(). Throws std::system_error.
    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Callable from any thread; false once the loop has ended.
    bool Post(std::function<void()> call) override;

    // Calls onReadable on the loop whenever fd is readable. The descriptor
    // stays the caller's.
    void Watch(int fd, std::function<void()> onReadable);
    void Unwatch(int fd);

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
        int fd;
        std::function<void()> call;
    };
    std::vector<Watched> watched_;
    int wakeFd_ = -1;
    int signalFd_ = -1;
    bool quit_ = false;
    int signal_ = 0;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool closed_ = false;
    std::function<void(const std::exception&)> onError_;
};

}  // namespace ristova
