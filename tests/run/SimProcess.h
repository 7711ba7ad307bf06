#pragma once
// Runs the simulated controller ristova-sim as a child process; its first
// line on stdout names the terminal to open.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ristova::test {

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            std::string program = RISTOVA_SIM_PATH;
            argv.push_back(program.data());
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
        char line[4096];
        if (out_ != nullptr && std::fgets(line, sizeof line, out_) != nullptr) {
            port_ = line;
            while (!port_.empty() && (port_.back() == '\n' || port_.back() == '\r'))
                port_.pop_back();
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ != nullptr) std::fclose(out_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The terminal to open; empty when the simulator did not start.
    const std::string& Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
    std::string port_;
};

}  // namespace ristova::test
