#pragma once
// A handle that becomes readable at the start of every second of the wall
// clock, and also when the wall clock is set. Both event loops (the window's
// and the headless runner's) wait on Handle(); neither drifts, because each
// expiry is an absolute time. The timer is the platform's
// (posix/SecondTicker.cpp, win32/SecondTicker.cpp).
#include <cstdint>
#include <memory>

#include "base/NativeHandle.h"

namespace ristova {

class SecondTicker {
  public:
    struct Reading {
        std::uint64_t ticks = 0;    // seconds that began since the last Read
        bool clockStepped = false;  // the wall clock was set meanwhile
    };

    // Throws std::system_error when the kernel gives no timer.
    SecondTicker();
    ~SecondTicker();
    SecondTicker(const SecondTicker&) = delete;
    SecondTicker& operator=(const SecondTicker&) = delete;

    NativeHandle Handle() const { return handle_; }
    // Arms for the next whole second and every second after it.
    void Start();
    void Stop();
    bool Active() const { return active_; }
    // Call when Handle() is readable (never blocks). A set clock re-arms.
    Reading Read();

  private:
    NativeHandle handle_ = kNoHandle;
    bool active_ = false;
    // The schedule, for timers that keep none of their own.
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace ristova
