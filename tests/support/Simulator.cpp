#include "support/Simulator.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace ristova::test {

namespace {

bool ParseTimestamp(const std::string& text, std::chrono::system_clock::time_point& out) {
    std::tm utc{};
    long micros = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%6ld", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &micros) != 7) {
        return false;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    out = std::chrono::system_clock::from_time_t(timegm(&utc)) + std::chrono::microseconds(micros);
    return true;
}

}  // namespace

SimulatorProcess::SimulatorProcess() {
    char pattern[] = "/tmp/ristova-sim-XXXXXX";
    if (mkdtemp(pattern)) dir_ = pattern;
}

SimulatorProcess::~SimulatorProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string SimulatorProcess::BinaryPath() {
    if (const char* dir = std::getenv("RISTOVA_BUILD_DIR"); dir && *dir) {
        return std::string(dir) + "/ristova-sim";
    }
    // Test programs and the simulator both land in the build root.
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path(".") : self.parent_path()).string() + "/ristova-sim";
}

bool SimulatorProcess::Start(const std::vector<std::string>& args) {
    Stop();
    slavePath_.clear();
    std::vector<std::string> argv{BinaryPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    logPath_.clear();
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--log") logPath_ = args[i + 1];
    }
    if (logPath_.empty()) {
        logPath_ = dir_ + "/commands.log";
        argv.push_back("--log");
        argv.push_back(logPath_);
    }
    ChildProcess::Options options;
    options.captureStdout = true;
    if (!child_.Start(argv, options)) {
        error_ = child_.Error();
        return false;
    }
    // The first line is the terminal's path.
    if (!child_.ReadLine(slavePath_, kProgramStartMs)) {
        slavePath_.clear();
        error_ = "ristova-sim did not report its terminal (" + BinaryPath() + ")";
        Stop();
        return false;
    }
    return true;
}

bool SimulatorProcess::Running() {
    return child_.Running();
}

int SimulatorProcess::Stop() {
    return child_.Stop();
}

bool SimulatorProcess::WaitExit(int timeoutMs) {
    return child_.WaitExit(timeoutMs);
}

std::vector<SimulatorCommand> SimulatorProcess::Commands() const {
    std::vector<SimulatorCommand> commands;
    std::ifstream in(logPath_, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A last line without its line end is still being written.
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = all.substr(start, end - start);
        auto blank = line.find(' ');
        SimulatorCommand command;
        if (blank == std::string::npos ||
            !ParseTimestamp(line.substr(0, blank), command.firstByte)) {
            continue;
        }
        command.text = line.substr(blank + 1);
        commands.push_back(command);
    }
    return commands;
}

bool SimulatorProcess::WaitForCommands(std::size_t count, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Commands().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace ristova::test
