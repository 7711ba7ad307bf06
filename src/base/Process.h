#pragma once
// What the running process is, as the platform tells it
// (posix/Process.cpp).
namespace ristova {

// The process's id, as the system's tools show it.
long ProcessId();

}  // namespace ristova
