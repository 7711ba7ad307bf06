#pragma once
// What the latency benchmarks of a running ristova-run share: the board's
// log read for a command's first byte, a plan of one timed command a second
// on relays 5 to 8, and the timed commands' figures per phase.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "SimController.h"
#include "app/ModuleStartup.h"
#include "base/Codec.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "support/ChildProcess.h"
#include "support/Simulator.h"

namespace ristova::bench {

using Wall = std::chrono::system_clock;

inline double Ms(Wall::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline int CommandRelay(const std::string& frame) {
    return frame.size() >= 8 && frame[0] == 'O' ? std::atoi(frame.substr(5, 2).c_str()) : 0;
}

inline int LocalDaySecond(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + std::min(local.tm_sec, 59);
}

inline std::string Summary(std::vector<double> v) {
    if (v.empty()) return "no samples";
    std::sort(v.begin(), v.end());
    const auto over10 = std::count_if(v.begin(), v.end(), [](double ms) { return ms > 10; });
    char text[128];
    std::snprintf(text, sizeof text, "median %.2f ms, worst %.2f ms (%zu samples, %td over 10 ms)",
                  v[v.size() / 2], v.back(), v.size(), over10);
    return text;
}

// The first byte of `frame` logged by the board from command number `from` on.
inline bool WaitArrival(const test::SimulatorProcess& sim, const std::string& frame,
                        std::size_t from, int timeoutMs, Wall::time_point& at) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<test::SimulatorCommand> commands = sim.Commands();
        for (std::size_t i = from; i < commands.size(); ++i) {
            if (commands[i].text != frame) continue;
            at = commands[i].firstByte;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// One timed command in each of `seconds` seconds from `first` on, relays 5
// to 8 in turn, written as the plan of the folder's controller folder.
class TimedPlan {
  public:
    TimedPlan(const std::string& planFolder, std::time_t first, int seconds)
        : first_(first), seconds_(seconds) {
        std::string text;
        for (int k = 0; k < seconds; ++k) {
            const int second = LocalDaySecond(first + k);
            const int relay = 5 + k % 4;
            const bool on = (k / 4) % 2 == 0;
            planned_[second] = Command(relay, on);
            text += std::to_string(k + 1) + "^^" + std::to_string(relay) + "^^" +
                    SecondsToTimeText(second) + "^^" + (on ? "接通" : "断开") + "^^^^^^\r\n";
        }
        ForceDirectories(planFolder);
        WriteFileAtomically(IncludeTrailingSeparator(planFolder) + "计划表.tab",
                            codec::ToCodePage(text));
    }

    struct Phase {
        const char* name;
        Wall::time_point start, end;
    };

    // Per phase, the seconds wholly inside it: from the start of the second
    // to the first byte, and the commands missed and sent twice. False when
    // any was missed or doubled.
    bool Print(const test::SimulatorProcess& sim, const std::vector<Phase>& phases) const {
        std::map<std::time_t, std::vector<Wall::time_point>> arrivals;
        for (const test::SimulatorCommand& c : sim.Commands()) {
            if (CommandRelay(c.text) < 5) continue;
            const std::time_t start =
                Wall::to_time_t(std::chrono::floor<std::chrono::seconds>(c.firstByte));
            auto it = planned_.find(LocalDaySecond(start));
            if (it != planned_.end() && it->second == c.text)
                arrivals[start].push_back(c.firstByte);
        }
        bool allOnTime = true;
        for (const Phase& p : phases) {
            std::vector<double> latency;
            int seconds = 0, missed = 0, doubled = 0;
            for (std::time_t s = Wall::to_time_t(p.start); s <= Wall::to_time_t(p.end); ++s) {
                if (Wall::from_time_t(s) < p.start || Wall::from_time_t(s + 1) > p.end) continue;
                if (s < first_ || s >= first_ + seconds_) continue;
                ++seconds;
                auto it = arrivals.find(s);
                if (it == arrivals.end()) {
                    ++missed;
                    continue;
                }
                doubled += it->second.size() > 1;
                latency.push_back(Ms(it->second.front() - Wall::from_time_t(s)));
            }
            allOnTime = allOnTime && missed == 0 && doubled == 0;
            std::printf("  %-34s %2d s: %s; missed %d, sent twice %d\n", p.name, seconds,
                        Summary(latency).c_str(), missed, doubled);
        }
        return allOnTime;
    }

  private:
    std::time_t first_;
    int seconds_;
    std::map<int, std::string> planned_;  // local second of day -> frame
};

// A folder of its own for a benchmarked ristova-run: the simulated board
// (with a descriptor of its terminal, to switch relays behind the runner's
// back), its decoder, the controller kControllerFile with manual switching
// allowed. Everything goes with it.
class RunnerSite {
  public:
    static constexpr const char* kControllerFile = "模拟.PSW";
    static constexpr const char* kPlanFolder = "模拟";

    ~RunnerSite() {
        runner.Stop();
        if (board >= 0) ::close(board);
        if (!folder.empty()) [[maybe_unused]]
            int rc = std::system(("rm -rf '" + folder + "'").c_str());
    }
    // False, with a message on standard error, when it cannot be made.
    bool Prepare(int relays) {
        buildDir_ = ExecutableFolder();
        for (const char* needed : {"ristova-run", "ristova-sim", "PowerDll/SimRelay.so"}) {
            if (!FileExists(buildDir_ + needed)) {
                std::fprintf(stderr, "needs %s beside this program\n", needed);
                return false;
            }
        }
        if (!sim.Start({"--relays", std::to_string(relays)})) {
            std::fprintf(stderr, "%s\n", sim.Error().c_str());
            return false;
        }
        // Opened before the runner, which locks its own descriptor only.
        board = ::open(sim.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        char folderTemplate[] = "/tmp/ristova-bench-XXXXXX";
        if (board < 0 || ::mkdtemp(folderTemplate) == nullptr) return false;
        folder = std::string(folderTemplate) + "/";
        ::mkdir((folder + "PowerDll").c_str(), 0755);
        [[maybe_unused]] int linked = ::symlink((buildDir_ + "PowerDll/SimRelay.so").c_str(),
                                                (folder + "PowerDll/SimRelay.so").c_str());
        WriteSimController(folder + kControllerFile, sim.SlavePath(), relays);
        settingsFile = folder + kSettingsFileBaseName;
        WriteIniText(settingsFile, "RUN", "sPowerFn", kControllerFile);
        settings::WriteSwitch(settingsFile, settings::kChkManOperate, true);
        runLog = folder + "run.log";
        return true;
    }
    // ristova-run on the folder, its output into runLog.
    bool StartRunner() {
        if (runner.Start({"/bin/sh", "-c", "exec \"$0\" --folder \"$1\" >\"$2\" 2>&1",
                          buildDir_ + "ristova-run", folder, runLog}))
            return true;
        std::fprintf(stderr, "ristova-run: %s\n", runner.Error().c_str());
        return false;
    }
    void PrintRunLog(const char* why) const {
        std::fprintf(stderr, "%s; the runner's output:\n", why);
        [[maybe_unused]] int rc = std::system(("cat '" + runLog + "' >&2").c_str());
    }
    // Writes a switch frame to the board behind the runner's back.
    bool WriteToBoard(const std::string& frame) const {
        return ::write(board, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    }

    test::SimulatorProcess sim;
    test::ChildProcess runner;
    int board = -1;
    std::string folder;
    std::string settingsFile;
    std::string runLog;

  private:
    std::string buildDir_;
};

}  // namespace ristova::bench
