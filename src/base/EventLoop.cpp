#include "base/EventLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
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

IntervalTimer::IntervalTimer() {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) Fail("timerfd_create");
}

IntervalTimer::~IntervalTimer() {
    if (fd_ >= 0) close(fd_);
}

void IntervalTimer::Start(int intervalMs) {
    itimerspec when{};
    when.it_interval.tv_sec = intervalMs / 1000;
    when.it_interval.tv_nsec = (intervalMs % 1000) * 1'000'000L;
    when.it_value = when.it_interval;
    if (timerfd_settime(fd_, 0, &when, nullptr) != 0) Fail("timerfd_settime");
    active_ = true;
}

void IntervalTimer::Stop() {
    itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
    active_ = false;
}

std::uint64_t IntervalTimer::Read() {
    std::uint64_t count = 0;
    if (read(fd_, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) return 0;
    return count;
}

EventLoop::EventLoop() {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) Fail("eventfd");
    const sigset_t set = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) Fail("pthread_sigmask");
    signalFd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd_ < 0) {
        close(wakeFd_);
        Fail("signalfd");
    }
}

EventLoop::~EventLoop() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    close(signalFd_);
    close(wakeFd_);
}

bool EventLoop::Post(std::function<void()> call) {
    if (!call) return false;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(std::move(call));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    return true;
}

void EventLoop::Watch(int fd, std::function<void()> onReadable) {
    Unwatch(fd);
    watched_.push_back({fd, std::move(onReadable)});
}

void EventLoop::Unwatch(int fd) {
    std::erase_if(watched_, [fd](const Watched& w) { return w.fd == fd; });
}

void EventLoop::RunPosted() {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
    // Only what is queued now: a call that posts again runs on the next round.
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(queue_);
    }
    for (auto& call : calls) Call(call);
}

void EventLoop::SetOnError(std::function<void(const std::exception&)> onError) {
    onError_ = std::move(onError);
}

void EventLoop::Call(const std::function<void()>& call) {
    if (!onError_) {
        call();
        return;
    }
    try {
        call();
    } catch (const std::exception& e) {
        onError_(e);
    }
}

int EventLoop::Run() {
    quit_ = false;
    signal_ = 0;
    while (!quit_) {
        std::vector<pollfd> fds{{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        for (const Watched& w : watched_) fds.push_back({w.fd, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            Fail("poll");
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                signal_ = static_cast<int>(info.ssi_signo);
                break;
            }
        }
        if (fds[1].revents & POLLIN) RunPosted();
        // A handler may change the watch list; call by descriptor.
        for (std::size_t i = 2; i < fds.size() && !quit_; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            auto found = std::find_if(watched_.begin(), watched_.end(),
                                      [&](const Watched& w) { return w.fd == fds[i].fd; });
            if (found == watched_.end()) continue;
            std::function<void()> call = found->call;
            Call(call);
        }
    }
    return signal_;
}

}  // namespace ristova
