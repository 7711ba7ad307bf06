// The second ticker on Linux: a CLOCK_REALTIME timerfd with absolute expiries,
// cancelled when the clock is set.
#include "base/SecondTicker.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

namespace ristova {

// The timerfd keeps the schedule itself.
struct SecondTicker::Native {};

SecondTicker::SecondTicker() {
    handle_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
}

SecondTicker::~SecondTicker() {
    if (handle_ >= 0) close(handle_);
}

void SecondTicker::Start() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    itimerspec when{};
    when.it_interval.tv_sec = 1;
    when.it_value.tv_sec = now.tv_sec + 1;
    // CANCEL_ON_SET: a set clock wakes the reader, who re-arms on the new
    // time instead of waiting out the old schedule.
    if (timerfd_settime(handle_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "timerfd_settime");
    active_ = true;
}

void SecondTicker::Stop() {
    itimerspec off{};
    timerfd_settime(handle_, 0, &off, nullptr);
    active_ = false;
}

SecondTicker::Reading SecondTicker::Read() {
    Reading reading;
    std::uint64_t count = 0;
    ssize_t n = read(handle_, &count, sizeof count);
    if (n == static_cast<ssize_t>(sizeof count)) {
        reading.ticks = count;
    } else if (n < 0 && errno == ECANCELED) {
        reading.clockStepped = true;
        if (active_) Start();
    }
    return reading;
}

}  // namespace ristova
