// Serial component latencies over a pseudo-terminal pair, and the CPU time
// of an idle open port. Prints figures; not a test.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>
#include <vector>

#include "comm/MyComm32.h"

using namespace ristova;
using Clock = std::chrono::steady_clock;

namespace {

struct Pair {
    int master = -1, slave = -1;
    char name[PATH_MAX] = {};
    Pair() {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) std::perror("openpty");
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    ~Pair() {
        close(master);
        close(slave);
    }
};

// A component open on the slave side of a fresh pair.
struct Rig {
    Pair pair;
    PumpedPoster poster;
    TMyComport port{poster};
    explicit Rig(std::uint16_t readTimeout = 10) {
        port.SetCommPort(pair.name);
        port.SetReadTimeout(readTimeout);
    }
};

void Print(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) sum += v;
    std::printf("%-44s n=%zu  median %8.1f us  p90 %8.1f us  max %8.1f us  mean %8.1f us\n", what,
                us.size(), us[us.size() / 2], us[us.size() * 9 / 10], us.back(),
                sum / static_cast<double>(us.size()));
}

double Us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

void SendLatency(int rounds) {
    Rig rig;
    auto& [pair, poster, port] = rig;
    if (!port.OpenPort()) return;
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        port.SendData("Q(00)E", 6);
        pollfd p{pair.master, POLLIN, 0};
        poll(&p, 1, 1000);
        auto at = Clock::now();
        char buffer[16];
        read(pair.master, buffer, sizeof buffer);
        us.push_back(Us(at - start));
        // Past the worker's 50 ms pause, so each send finds it idle.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    Print("SendData -> first byte at far end", us);
}

void ReceiveLatency(int rounds, std::uint16_t readTimeout) {
    Rig rig(readTimeout);
    auto& [pair, poster, port] = rig;
    int got = 0;
    port.SetOnReceiveData([&](const char*, std::uint16_t n) { got += n; });
    if (!port.OpenPort()) return;
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        got = 0;
        auto start = Clock::now();
        write(pair.master, "S(00,00000000)E", 15);
        poster.PumpUntil([&] { return got >= 15; }, 1000);
        us.push_back(Us(Clock::now() - start));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    char what[80];
    std::snprintf(what, sizeof what, "bytes -> OnReceiveData (ReadTimeout %u ms)", readTimeout);
    Print(what, us);
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void IdleCpu(int seconds) {
    Rig rig;
    auto& [pair, poster, port] = rig;
    if (!port.OpenPort()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    double cpu = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    cpu = CpuSeconds() - cpu;
    getrusage(RUSAGE_SELF, &after);
    auto tv = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    std::printf(
        "idle open port over %d s: CPU %.1f us (clock), user+sys %.0f us (getrusage), "
        "context switches %ld\n",
        seconds, cpu * 1e6,
        tv(after.ru_utime) + tv(after.ru_stime) - tv(before.ru_utime) - tv(before.ru_stime),
        (after.ru_nvcsw + after.ru_nivcsw) - (before.ru_nvcsw + before.ru_nivcsw));
}

}  // namespace

int main() {
    SendLatency(100);
    ReceiveLatency(200, 0);
    ReceiveLatency(100, 10);
    IdleCpu(10);
    return 0;
}
