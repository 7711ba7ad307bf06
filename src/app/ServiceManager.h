#pragma once
// ristova-run and the system's service manager: how the runner is started
// and what it tells the manager. systemd on Linux (posix/ServiceManager.cpp:
// sd_notify), the service control manager on Windows
// (win32/ServiceManager.cpp).
namespace ristova::service {

using Body = int (*)(int argc, char** argv);

// Runs body as the service when the service manager started this process,
// else as a console program. The result is body's exit status.
int RunAsServiceOrConsole(Body body, int argc, char** argv);

// The runs are up; the loop still turns; the runner is stopping.
void NotifyReady();
void NotifyAlive();
void NotifyStopping();

}  // namespace ristova::service
