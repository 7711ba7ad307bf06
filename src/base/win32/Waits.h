#pragma once
// What the Windows backends share about waiting (win32/EventLoop.cpp): the
// process's stop request, and manual-reset waitable timers that stay
// signalled until they are read, as a readable descriptor does.
#include <windows.h>

#include <chrono>

namespace ristova::win32 {

// Any thread: the current and the next loop Wait end with this signal
// number (SIGINT, SIGTERM, SIGHUP), as a console's Ctrl+C or close and a
// service's stop control do.
void RaiseStopSignal(int signal);

// Throws std::system_error.
HANDLE CreateManualTimer();
// Signalled after the time on the steady interrupt clock, which a set wall
// clock does not move; at least one tick. Throws std::system_error.
void ArmRelative(HANDLE timer, std::chrono::steady_clock::duration after);
// Not signalled, and not armed.
void DisarmTimer(HANDLE timer);
// Without waiting. An auto-reset object is reset by asking.
bool IsSignalled(HANDLE handle);

}  // namespace ristova::win32
