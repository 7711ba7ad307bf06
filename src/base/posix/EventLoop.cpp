// The event loop's waits on POSIX: poll over a signalfd, an eventfd and the
// watched descriptors; timerfd for the interval timer.
#include "base/EventLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace ristova {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    // A closed terminal or ssh session is a stop like any other.
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

// The timerfd counts the expiries itself.
struct IntervalTimer::Native {};

IntervalTimer::IntervalTimer() {
    handle_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (handle_ < 0) Fail("timerfd_create");
}

IntervalTimer::~IntervalTimer() {
    if (handle_ >= 0) close(handle_);
}

void IntervalTimer::Start(int intervalMs) {
    itimerspec when{};
    when.it_interval.tv_sec = intervalMs / 1000;
    when.it_interval.tv_nsec = (intervalMs % 1000) * 1'000'000L;
    when.it_value = when.it_interval;
    if (timerfd_settime(handle_, 0, &when, nullptr) != 0) Fail("timerfd_settime");
    active_ = true;
}

void IntervalTimer::Stop() {
    itimerspec off{};
    timerfd_settime(handle_, 0, &off, nullptr);
    active_ = false;
}

std::uint64_t IntervalTimer::Read() {
    std::uint64_t count = 0;
    if (read(handle_, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) return 0;
    return count;
}

LoopWaiter::LoopWaiter() {
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) Fail("eventfd");
    const sigset_t set = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        close(wake_);
        Fail("pthread_sigmask");
    }
    signals_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0) {
        close(wake_);
        Fail("signalfd");
    }
}

LoopWaiter::~LoopWaiter() {
    close(signals_);
    close(wake_);
}

void LoopWaiter::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

LoopWaiter::Ready LoopWaiter::Wait(const std::vector<NativeHandle>& handles) {
    Ready ready;
    std::vector<pollfd> fds{{signals_, POLLIN, 0}, {wake_, POLLIN, 0}};
    for (NativeHandle handle : handles) fds.push_back({handle, POLLIN, 0});
    while (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno != EINTR) Fail("poll");
    }
    if (fds[0].revents & POLLIN) {
        signalfd_siginfo info{};
        if (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            ready.signal = static_cast<int>(info.ssi_signo);
            return ready;
        }
    }
    if (fds[1].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = read(wake_, &count, sizeof count);
        ready.woken = true;
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
        if (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) ready.handles.push_back(fds[i].fd);
    }
    return ready;
}

}  // namespace ristova
