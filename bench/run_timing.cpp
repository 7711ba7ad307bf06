// How punctually the run engine sends timed commands, with the real clock,
// the real serial component and the simulated controller (ristova-sim),
// which logs the arrival of the first byte of every command it receives and
// answers the state queries. The check tick is driven as the window drives
// it: a timer descriptor that wakes at each whole second, watched by the
// event loop. After the one-action seconds come two bursts: 8 and then 32
// relays due in the same second, spread by the transmit worker's pause.
//
// Usage: bench_run_timing [seconds]   (default 70, at least 60)
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "SimController.h"
#include "base/AppContext.h"
#include "base/Codec.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/StatusBar.h"
#include "base/TextUtils.h"
#include "base/MainThreadPoster.h"
#include "base/SecondTicker.h"
#include "comm/MyComm32.h"
#include "run/Journal.h"
#include "run/RunPage.h"
#include "run/Site.h"

using namespace ristova;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kRelays = 32;   // the board; the one-action seconds use relays 1 to 8
constexpr int kCycled = 8;

// Posted calls wake the loop through a descriptor, as the window's do.
class EventFdPoster : public IMainThreadPoster {
  public:
    EventFdPoster() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventFdPoster() override { close(fd_); }
    int Fd() const { return fd_; }
    bool Post(std::function<void()> call) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(call));
        }
        std::uint64_t one = 1;
        return write(fd_, &one, sizeof one) == sizeof one;
    }
    void Pump() {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof count);
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(queue_);
        }
        for (auto& call : calls) call();
    }

  private:
    int fd_;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

using bench::Command;
using bench::Hex;

double CpuSeconds(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A command as the simulator's log has it: "<UTC time> <command>".
struct Arrival {
    timespec at;
    std::string frame;
};

std::vector<Arrival> ReadSimulatorLog(const std::string& path) {
    std::vector<Arrival> arrivals;
    std::FILE* log = std::fopen(path.c_str(), "r");
    if (log == nullptr) return arrivals;
    char line[512];
    while (std::fgets(line, sizeof line, log) != nullptr) {
        tm utc{};
        long micros = 0;
        char frame[256];
        if (std::sscanf(line, "%d-%d-%dT%d:%d:%d.%ld %255s", &utc.tm_year, &utc.tm_mon,
                        &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &micros,
                        frame) != 8 ||
            frame[0] != 'O') {
            continue;
        }
        utc.tm_year -= 1900;
        utc.tm_mon -= 1;
        arrivals.push_back({timespec{timegm(&utc), micros * 1000}, frame});
    }
    std::fclose(log);
    return arrivals;
}

// Starts the simulator; its first line on stdout names its terminal.
pid_t StartSimulator(const std::string& program, const std::string& logPath, std::string& port) {
    int out[2];
    if (pipe(out) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(program.c_str(), program.c_str(), "--relays", std::to_string(kRelays).c_str(),
              "--log", logPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[4096] = {};
    std::FILE* text = fdopen(out[0], "r");
    if (text != nullptr && std::fgets(line, sizeof line, text) != nullptr) {
        port = line;
        while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
    }
    return pid;
}

int LocalDaySecond(time_t t) {
    tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + std::min(local.tm_sec, 59);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(k, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = std::max(60, argc > 1 ? std::atoi(argv[1]) : 70);
    const std::string buildDir = ExecutableFolder();
    const std::string simulator = buildDir + "ristova-sim";
    if (!FileExists(simulator) || !FileExists(buildDir + "PowerDll/SimRelay.so")) {
        std::fprintf(stderr, "needs ristova-sim and PowerDll/SimRelay.so beside this program\n");
        return 1;
    }

    char folderTemplate[] = "/tmp/ristova-bench-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) return 1;
    const std::string appPath = std::string(folderTemplate) + "/";

    std::string simPort;
    const std::string simLog = appPath + "sim.log";
    pid_t sim = StartSimulator(simulator, simLog, simPort);
    if (sim <= 0 || simPort.empty()) {
        std::fprintf(stderr, "ristova-sim did not start\n");
        return 1;
    }

    // The controller: 8 relays of the simulator, its decoder, its query.
    const std::string controller = appPath + "模拟.PSW";
    bench::WriteSimController(controller, simPort, kRelays);
    const std::string settingsFile = appPath + "系统参数.INI";
    WriteIniText(settingsFile, "RUN", "sPowerFn", "模拟.PSW");

    // One action in each of the consecutive seconds, from 3 s from now on.
    const time_t first = time(nullptr) + 3;
    std::map<int, std::string> planned;  // local second of day -> frame
    std::string planText;
    int row = 0;
    auto addRow = [&](int relay, int second, bool on) {
        planText += std::to_string(++row) + "^^" + std::to_string(relay) + "^^" +
                    SecondsToTimeText(second) + "^^" + (on ? "接通" : "断开") + "^^^^^^\r\n";
    };
    for (int k = 0; k < seconds; ++k) {
        const int second = LocalDaySecond(first + k);
        const int relay = k % kCycled + 1;
        const bool on = (k / kCycled) % 2 == 0;
        planned[second] = Command(relay, on);
        addRow(relay, second, on);
    }
    // The bursts, well apart: 8 relays switch on, then all 32 switch off.
    const time_t burst8 = first + seconds + 2;
    const time_t burst32 = burst8 + 3;
    for (int r = 1; r <= 8; ++r) addRow(r, LocalDaySecond(burst8), true);
    for (int r = 1; r <= 32; ++r) addRow(r, LocalDaySecond(burst32), false);
    mkdir((appPath + "模拟").c_str(), 0755);
    WriteFileAtomically(appPath + "模拟/计划表.tab", codec::ToCodePage(planText));

    SystemClock clock;
    SystemSleeper sleeper;
    EventFdPoster poster;
    StatusBar status;
    SettingsBoxes boxes;
    boxes.chk4Level = false;
    boxes.chkAutoDelete = false;
    boxes.chkStartON = false;
    AppContext ctx{appPath, buildDir + "PowerDll/", settingsFile, clock, sleeper, poster, status,
                   boxes};
    TMyComport com1(poster);
    run::Site site(ctx, com1);
    run::RunPage engine(ctx, site);
    // Journaled as the window journals, so its cost shows in the figures.
    run::Journal journal(appPath, settingsFile);
    engine.Events().Add(&journal);
    engine.FillRunDeviceList();
    engine.SetLastRunDate(clock.Now().date);
    engine.btnRunClick();
    if (!site.Runs().front()->Port().IsOpen()) {
        std::fprintf(stderr, "the run port did not open: %s\n", engine.lbCom().c_str());
        return 1;
    }

    // The window's event loop: posted calls, the check tick's descriptor
    // and two millisecond timers.
    SecondTicker ticker;
    ticker.Start();
    const double cpuStart = CpuSeconds(RUSAGE_SELF);
    const auto wallStart = Steady::now();
    const auto end = Steady::now() + std::chrono::seconds(seconds + 10);
    auto nextRun = Steady::now() + std::chrono::milliseconds(200);
    auto nextClock = Steady::now() + std::chrono::milliseconds(1000);
    while (Steady::now() < end) {
        const auto due = std::min(nextRun, nextClock);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Steady::now()).count();
        pollfd fds[2] = {{ticker.Handle(), POLLIN, 0}, {poster.Fd(), POLLIN, 0}};
        poll(fds, 2, left < 0 ? 0 : static_cast<int>(left));
        if (fds[0].revents & POLLIN) {
            const SecondTicker::Reading reading = ticker.Read();
            if (reading.ticks > 0 || reading.clockStepped) engine.tmCheckTimer();
        }
        if (fds[1].revents & POLLIN) poster.Pump();
        const auto now = Steady::now();
        if (now >= nextRun) {
            engine.tmRunTimer();
            nextRun += std::chrono::milliseconds(200);
        }
        if (now >= nextClock) {
            engine.Timer1Timer();
            nextClock += std::chrono::milliseconds(1000);
        }
    }
    const double wall = std::chrono::duration<double>(Steady::now() - wallStart).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuStart;
    engine.btnStopClick();
    journal.Flush();
    engine.Events().Remove(&journal);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    // Each frame belongs to the second it arrived in (latencies are far
    // below a second); a planned second without its frame is missed. The
    // bursts are told apart by their start.
    std::map<int, int> count;
    std::vector<double> latencies;
    int wrong = 0;
    struct Burst {
        time_t start;
        int frames = 0;
        double firstMs = -1, lastMs = -1;
    } bursts[2] = {{burst8}, {burst32}};
    for (const Arrival& a : ReadSimulatorLog(simLog)) {
        Burst* burst = a.at.tv_sec >= burst32 ? &bursts[1] : a.at.tv_sec >= burst8 ? &bursts[0] : nullptr;
        if (burst != nullptr) {
            const double ms = (a.at.tv_sec - burst->start) * 1000.0 + a.at.tv_nsec / 1e6;
            if (burst->frames++ == 0) burst->firstMs = ms;
            burst->lastMs = ms;
            continue;
        }
        const int second = LocalDaySecond(a.at.tv_sec);
        auto it = planned.find(second);
        if (it == planned.end() || it->second != a.frame) {
            ++wrong;
            continue;
        }
        if (++count[second] == 1) latencies.push_back(static_cast<double>(a.at.tv_nsec) / 1e6);
    }
    int missed = 0, doubled = 0;
    for (const auto& [second, frame] : planned) {
        const int n = count.count(second) ? count[second] : 0;
        missed += n == 0;
        doubled += n > 1;
    }
    std::printf("timed commands: %d planned in consecutive seconds, %zu on time\n", seconds,
                latencies.size());
    std::printf("latency from the start of the second to the first byte at the far end:\n");
    std::printf("  median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()));
    std::printf("missed %d, sent twice %d, out of place %d\n", missed, doubled, wrong);
    for (const Burst& b : bursts) {
        std::printf("burst of %d relays due in one second: %d sent, first after %.2f ms, last after %.1f ms\n",
                    &b == &bursts[0] ? 8 : 32, b.frames, b.firstMs, b.lastMs);
    }
    std::printf("relay states decoded at the end: %s\n", engine.sJDQState().c_str());
    std::printf("journal: %llu rows written, %llu dropped\n",
                static_cast<unsigned long long>(journal.Written()),
                static_cast<unsigned long long>(journal.Dropped()));
    std::printf("engine CPU share: %.2f %% of one core over %.1f s\n", 100.0 * cpu / wall, wall);
    std::string cleanup = "rm -rf '" + appPath + "'";
    [[maybe_unused]] int rc = std::system(cleanup.c_str());
    return missed == 0 && doubled == 0 ? 0 : 2;
}
