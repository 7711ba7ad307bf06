// The second ticker on Windows: a manual-reset waitable timer armed for the
// next whole second of the wall clock. Each arming is a relative wait worked
// out from the wall clock: an absolute one would wait out a clock set back,
// while this one fires within a second and then sees the new time. A wall
// clock that moved other than the steady clock did in between is a set clock.
#include "base/SecondTicker.h"

#include <windows.h>

#include <chrono>

#include "base/win32/Waits.h"

namespace ristova {

namespace {

using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStepTolerance{1000};

long long WallMs() {
    return std::chrono::duration_cast<milliseconds>(Wall::now().time_since_epoch()).count();
}

}  // namespace

struct SecondTicker::Native {
    long long dueSecond = 0;  // the whole second of the wall clock armed for
    long long armedWallMs = 0;
    Steady::time_point armedSteady;

    void Arm(HANDLE timer, long long nowMs) {
        dueSecond = nowMs / 1000 + 1;
        armedWallMs = nowMs;
        armedSteady = Steady::now();
        win32::ArmRelative(timer, milliseconds(dueSecond * 1000 - nowMs));
    }
};

SecondTicker::SecondTicker() : native_(std::make_unique<Native>()) {
    handle_ = win32::CreateManualTimer();
}

SecondTicker::~SecondTicker() {
    if (handle_ != kNoHandle) ::CloseHandle(handle_);
}

void SecondTicker::Start() {
    native_->Arm(handle_, WallMs());
    active_ = true;
}

void SecondTicker::Stop() {
    win32::DisarmTimer(handle_);
    active_ = false;
}

SecondTicker::Reading SecondTicker::Read() {
    Reading reading;
    if (!active_ || !win32::IsSignalled(handle_)) return reading;
    Native& n = *native_;
    const long long now = WallMs();
    const auto steadyMs =
        std::chrono::duration_cast<milliseconds>(Steady::now() - n.armedSteady).count();
    const long long drift = (now - n.armedWallMs) - steadyMs;
    reading.clockStepped = drift > kStepTolerance.count() || drift < -kStepTolerance.count();
    if (!reading.clockStepped && now < n.dueSecond * 1000) {
        // The steady clock ran ahead of the wall clock by a little: the
        // second has not begun yet.
        win32::ArmRelative(handle_, milliseconds(n.dueSecond * 1000 - now));
        return reading;
    }
    if (now >= n.dueSecond * 1000)
        reading.ticks = static_cast<std::uint64_t>(now / 1000 - n.dueSecond + 1);
    n.Arm(handle_, now);
    return reading;
}

}  // namespace ristova
