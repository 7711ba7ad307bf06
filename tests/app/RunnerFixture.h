#pragma once
// What the tests of the built ristova-run share: a program folder as the
// window would leave it, and starting and reading the runner.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "run/EngineFixture.h"
#include "support/ChildProcess.h"

namespace ristova::test {

inline std::string RunnerPath() {
    const char* dir = std::getenv("RISTOVA_BUILD_DIR");
    return std::string(dir ? dir : ".") + "/ristova-run";
}

inline std::string TimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

inline Date Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

inline int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Lines up to the first that holds `text` (that one included).
inline bool ReadUntil(ChildProcess& child, const std::string& text,
                      std::vector<std::string>& lines, int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!child.ReadLine(line, 200)) continue;
        lines.push_back(line);
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

// The runner keeps the wall clock, and these tests plan a few seconds ahead:
// near midnight those seconds would fall into tomorrow, so wait for it.
inline void ClearOfMidnight(int seconds = 60) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int left = 86400 - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
    if (left < seconds) std::this_thread::sleep_for(std::chrono::seconds(left + 2));
}

class RunnerFixture : public EngineFixture {
  public:
    RunnerFixture() { ClearOfMidnight(); }
    // The decoder plug-in, the controller on the simulator's terminal, a
    // plan (relay 2 on at `due` unless other rows are given).
    void MakeFolder(const std::string& port, std::time_t due, std::vector<PlanRow> rows = {}) {
        ::mkdir(dir.File("PowerDll").c_str(), 0755);
        [[maybe_unused]] int rc =
            ::symlink((std::string(RISTOVA_PLUGIN_DIR) + "SimRelay.so").c_str(),
                      dir.File("PowerDll/SimRelay.so").c_str());
        WriteController(4, port);
        if (rows.empty()) rows = {{"2", TimeText(due), "接通"}};
        WritePlan(rows);
    }
    bool StartRunner(ChildProcess& runner, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {RunnerPath(), "--folder", dir.Path()});
        ChildProcess::Options o;
        o.captureStdout = true;
        o.stderrToStdout = true;
        return runner.Start(args, o);
    }
};

}  // namespace ristova::test
