// systemd: a Type=notify unit hears READY, WATCHDOG and STOPPING; a runner
// started from a shell sends them nowhere.
#include "app/ServiceManager.h"

#include <systemd/sd-daemon.h>

namespace ristova::service {

int RunAsServiceOrConsole(Body body, int argc, char** argv) {
    return body(argc, argv);
}

void NotifyReady() {
    sd_notify(0, "READY=1");
}

void NotifyAlive() {
    sd_notify(0, "WATCHDOG=1");
}

void NotifyStopping() {
    sd_notify(0, "STOPPING=1");
}

}  // namespace ristova::service
