// The event loop's waits on Windows: WaitForMultipleObjects over a manual-
// reset stop event (Ctrl+C, a closed console, a service's stop), an
// auto-reset wake event and the watched handles; a waitable timer for the
// interval timer. Watched handles stay signalled until they are read, as a
// readable descriptor does.
#include "base/EventLoop.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <system_error>

#include "base/win32/Waits.h"

#ifndef SIGHUP
#define SIGHUP 1
#endif

namespace ristova {

namespace {

using Steady = std::chrono::steady_clock;

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which older headers lack.
constexpr DWORD kHighResolutionTimer = 0x2;

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

// One per process, as the signals are.
HANDLE StopEvent() {
    static HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}
std::atomic<int> pendingSignal{0};
// Set once a loop waiter has seen the stop, so that a console close waits
// for the shutdown steps before the system ends the process.
HANDLE StoppedEvent() {
    static HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
            win32::RaiseStopSignal(SIGINT);
            return TRUE;
        case CTRL_BREAK_EVENT:
            win32::RaiseStopSignal(SIGTERM);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends when this returns: give the loop its shutdown
            // steps first (the system allows some 5 s).
            win32::RaiseStopSignal(SIGHUP);
            ::WaitForSingleObject(StoppedEvent(), 4500);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

namespace win32 {

HANDLE CreateManualTimer() {
    // High resolution where the system has it (Windows 10 1803 on): the
    // expiry is then not rounded up to the next 15.6 ms clock tick.
    HANDLE timer = ::CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET | kHighResolutionTimer,
        TIMER_ALL_ACCESS);
    if (timer == nullptr)
        timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET,
                                         TIMER_ALL_ACCESS);
    if (timer == nullptr) Fail("CreateWaitableTimer");
    return timer;
}

void ArmRelative(HANDLE timer, Steady::duration after) {
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(after).count() / 100;
    LARGE_INTEGER due{};
    // Negative: relative, on the steady interrupt time. At least one tick.
    due.QuadPart = -(ticks > 0 ? ticks : 1);
    if (!::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) Fail("SetWaitableTimer");
}

void RaiseStopSignal(int signal) {
    pendingSignal.store(signal);
    ::SetEvent(StopEvent());
}

void DisarmTimer(HANDLE timer) {
    // CancelWaitableTimer keeps a signalled timer signalled; arming it far
    // ahead resets it first.
    LARGE_INTEGER later{};
    later.QuadPart = -10'000'000LL * 3600 * 24 * 365;
    ::SetWaitableTimer(timer, &later, 0, nullptr, nullptr, FALSE);
    ::CancelWaitableTimer(timer);
}

bool IsSignalled(HANDLE handle) {
    return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

}  // namespace win32

// The interval timer keeps its schedule on the steady clock and re-arms for
// the next expiry at each read.
struct IntervalTimer::Native {
    Steady::duration interval{};
    Steady::time_point next;
};

IntervalTimer::IntervalTimer() : native_(std::make_unique<Native>()) {
    handle_ = win32::CreateManualTimer();
}

IntervalTimer::~IntervalTimer() {
    if (handle_ != kNoHandle) ::CloseHandle(handle_);
}

void IntervalTimer::Start(int intervalMs) {
    native_->interval = std::chrono::milliseconds(intervalMs > 0 ? intervalMs : 1);
    native_->next = Steady::now() + native_->interval;
    win32::ArmRelative(handle_, native_->interval);
    active_ = true;
}

void IntervalTimer::Stop() {
    win32::DisarmTimer(handle_);
    active_ = false;
}

std::uint64_t IntervalTimer::Read() {
    if (!active_ || !win32::IsSignalled(handle_)) return 0;
    const Steady::time_point now = Steady::now();
    std::uint64_t count = 0;
    while (native_->next <= now) {
        native_->next += native_->interval;
        ++count;
    }
    win32::ArmRelative(handle_, native_->next - now);
    return count;
}

LoopWaiter::LoopWaiter() {
    wake_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (wake_ == nullptr) Fail("CreateEvent");
    signals_ = StopEvent();
    if (signals_ == nullptr) {
        ::CloseHandle(wake_);
        Fail("CreateEvent");
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

LoopWaiter::~LoopWaiter() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    ::CloseHandle(wake_);
    ::SetEvent(StoppedEvent());
}

void LoopWaiter::Wake() {
    ::SetEvent(wake_);
}

LoopWaiter::Ready LoopWaiter::Wait(const std::vector<NativeHandle>& handles) {
    Ready ready;
    std::vector<HANDLE> all{signals_, wake_};
    all.insert(all.end(), handles.begin(), handles.end());
    if (all.size() > MAXIMUM_WAIT_OBJECTS) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        Fail("WaitForMultipleObjects: too many handles");
    }
    const DWORD r =
        ::WaitForMultipleObjects(static_cast<DWORD>(all.size()), all.data(), FALSE, INFINITE);
    if (r == WAIT_FAILED) Fail("WaitForMultipleObjects");
    if (win32::IsSignalled(signals_)) {
        ::ResetEvent(signals_);
        ready.signal = pendingSignal.exchange(0);
        if (ready.signal == 0) ready.signal = SIGTERM;
        return ready;
    }
    // Only the lowest signalled index is reported; the others are asked.
    ready.woken = r == WAIT_OBJECT_0 + 1 || win32::IsSignalled(wake_);
    for (HANDLE handle : handles)
        if (win32::IsSignalled(handle)) ready.handles.push_back(handle);
    return ready;
}

}  // namespace ristova
