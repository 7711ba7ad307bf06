#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace ristova::test {

ChildProcess::~ChildProcess() {
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (out_ >= 0) close(out_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const Options& options) {
    if (Running()) Stop();
    if (out_ >= 0) close(out_);
    out_ = -1;
    pending_.clear();
    error_.clear();
    status_ = -1;
    // Everything the child needs is made before fork: only async-signal-safe
    // calls happen between fork and exec.
    std::vector<std::string> args = argv, env;
    std::vector<char*> cargs, cenv;
    for (std::string& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    if (options.env) {
        env = *options.env;
        for (std::string& e : env) cenv.push_back(e.data());
        cenv.push_back(nullptr);
    }
    int out[2] = {-1, -1};
    if (options.captureStdout && pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    const int nullIn = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // A crashed test takes its children with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (nullIn >= 0) dup2(nullIn, STDIN_FILENO);
        if (out[1] >= 0) dup2(out[1], STDOUT_FILENO);
        if (out[1] >= 0 && options.stderrToStdout) dup2(out[1], STDERR_FILENO);
        close_range(3, ~0U, 0);
        if (options.workingDir && chdir(options.workingDir) != 0) _exit(127);
        if (options.env)
            execve(cargs[0], cargs.data(), cenv.data());
        else
            execv(cargs[0], cargs.data());
        _exit(127);
    }
    const int forkError = errno;
    if (nullIn >= 0) close(nullIn);
    if (out[1] >= 0) close(out[1]);
    out_ = out[0];
    if (pid_ < 0) {
        error_ = std::strerror(forkError);
        if (out_ >= 0) close(out_);
        out_ = -1;
        return false;
    }
    return true;
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending_.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char buffer[256];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t lf = pending_.find('\n');
    line = pending_.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pending_.erase(0, lf + 1);
    return true;
}

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool ChildProcess::Catches(int signal) {
    if (!Running()) return false;
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) != 0) continue;
        const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
        return (caught >> (signal - 1) & 1) != 0;
    }
    return false;
}

bool ChildProcess::WaitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int ChildProcess::Stop(int graceMs) {
    if (!Running()) return -1;
    kill(pid_, SIGTERM);
    if (!WaitExit(graceMs)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
    }
    return status_;
}

}  // namespace ristova::test
