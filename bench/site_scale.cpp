// How one ristova-run keeps time with a whole site: 1, 4 and 16 controllers
// of 8 relays, each on a simulated board of its own, each with a plan of one
// action a second for 60 s. Per controller: from the start of the second to
// the first byte at its board (median and worst), actions missed and sent
// twice; for the process: its CPU share and its peak RSS.
// Usage: bench_site_scale [SECONDS] [COUNTS...]   (defaults: 60, 1 4 16)
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "SimController.h"
#include "base/Codec.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"
#include "support/ChildProcess.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

using namespace ristova;
using Wall = std::chrono::system_clock;

namespace {

constexpr int kRelays = 8;

std::string BuildDir() {
    const char* dir = std::getenv("RISTOVA_BUILD_DIR");
    return dir ? std::string(dir) + "/" : std::string("./");
}

std::string TimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// utime + stime of a process, in seconds; and its peak resident size in kB.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long PeakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

struct Figures {
    double medianMs = 0, worstMs = 0;
    int missed = 0, doubled = 0;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int RunSite(int controllers, int seconds) {
    test::TempDir dir;
    const std::string folder = dir.Path();
    ::mkdir((folder + "PowerDll").c_str(), 0755);
    if (::symlink((BuildDir() + "PowerDll/SimRelay.so").c_str(),
                  (folder + "PowerDll/SimRelay.so").c_str()) != 0)
        return 1;
    std::vector<std::unique_ptr<test::SimulatorProcess>> sims;
    std::string listed;
    // The plan starts once every board and the runner are up.
    const std::time_t first = std::time(nullptr) + 6 + controllers / 4;
    for (int c = 0; c < controllers; ++c) {
        auto sim = std::make_unique<test::SimulatorProcess>();
        if (!sim->Start({"--relays", std::to_string(kRelays)})) {
            std::fprintf(stderr, "simulator %d: %s\n", c, sim->Error().c_str());
            return 1;
        }
        const std::string name = "ctl" + std::to_string(c + 1);
        bench::WriteSimController(folder + name + ".PSW", sim->SlavePath(), kRelays);
        std::string plan;
        for (int s = 0; s < seconds; ++s) {
            // Each second one relay, in turn; on and off alternate per pass.
            const int relay = s % kRelays + 1;
            const bool on = (s / kRelays) % 2 == 0;
            plan += std::to_string(s + 1) + "^^" + std::to_string(relay) + "^^" +
                    TimeText(first + s) + "^^" + (on ? "接通" : "断开") + "^^^^^^\r\n";
        }
        ::mkdir((folder + name).c_str(), 0755);
        WriteFileAtomically(folder + name + "/计划表.tab", codec::ToCodePage(plan));
        listed += (listed.empty() ? "" : ",") + name + ".PSW";
        sims.push_back(std::move(sim));
    }
    const std::string settings = folder + "系统参数.INI";
    WriteIniText(settings, "LOAD", "chk4Level", "NO");
    WriteIniText(settings, "LOAD", "chkStartON", "NO");
    WriteIniText(settings, "RUN", "RestoreOnStart", "NO");
    if (controllers == 1)
        WriteIniText(settings, "RUN", "sPowerFn", listed);
    else
        WriteIniText(settings, "RUN", "Controllers", listed);

    test::ChildProcess runner;
    test::ChildProcess::Options o;
    o.captureStdout = true;
    o.stderrToStdout = true;
    if (!runner.Start({BuildDir() + "ristova-run", "--folder", folder}, o)) return 1;
    // Its lines are read as they come: a full pipe would hold the runner up.
    std::atomic<bool> reading{true};
    std::thread drain([&] {
        std::string line;
        while (reading) runner.ReadLine(line, 200);
    });
    // Measured over the plan's seconds only.
    std::this_thread::sleep_until(Wall::from_time_t(first - 1));
    const double cpuStart = CpuSeconds(runner.Pid());
    std::this_thread::sleep_until(Wall::from_time_t(first + seconds + 1));
    const double cpu = CpuSeconds(runner.Pid()) - cpuStart;
    const long peak = PeakKb(runner.Pid());
    kill(runner.Pid(), SIGTERM);
    runner.WaitExit(10000);
    reading = false;
    drain.join();

    std::vector<double> medians, all;
    Figures total;
    for (int c = 0; c < controllers; ++c) {
        // Each planned second: its command's first arrival, and how often it came.
        std::map<std::time_t, std::vector<double>> arrivals;
        for (const test::SimulatorCommand& cmd : sims[c]->Commands()) {
            if (cmd.text[0] != 'O') continue;
            const auto at = cmd.firstByte;
            const std::time_t second = Wall::to_time_t(at);
            const double ms =
                std::chrono::duration<double, std::milli>(at - Wall::from_time_t(second)).count();
            arrivals[second].push_back(ms);
        }
        std::vector<double> late;
        for (int s = 0; s < seconds; ++s) {
            const auto found = arrivals.find(first + s);
            if (found == arrivals.end()) {
                ++total.missed;
                continue;
            }
            if (found->second.size() > 1) ++total.doubled;
            late.push_back(found->second.front());
        }
        medians.push_back(Median(late));
        for (double ms : late) {
            all.push_back(ms);
            total.worstMs = std::max(total.worstMs, ms);
        }
    }
    std::sort(medians.begin(), medians.end());
    std::printf("%3d controllers: median %6.2f ms (per controller %5.2f .. %5.2f), worst %7.2f ms, "
                "missed %d, doubled %d, CPU %5.2f %% of a core, peak RSS %ld kB\n",
                controllers, Median(all), medians.front(), medians.back(), total.worstMs,
                total.missed, total.doubled, 100.0 * cpu / seconds, peak);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 60;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(std::max(1, std::atoi(argv[i])));
    if (counts.empty()) counts = {1, 4, 16};
    std::printf("bench_site_scale: %d s of one action a second per controller, %d relays each\n",
                seconds, kRelays);
    for (int n : counts)
        if (RunSite(n, seconds) != 0) return 1;
    return 0;
}
