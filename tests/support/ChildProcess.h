#pragma once
// A program started by a test. It inherits no descriptor of the test runner
// but the ones given here (stdin from /dev/null, stdout to a pipe when asked,
// stderr shared), dies with the test process even when that crashes, and is
// killed when this object goes: a test that fails never leaves it holding
// ctest's output pipe open until the time-out.
#include <sys/types.h>

#include <string>
#include <vector>

namespace ristova::test {

// How long a program may take to come up: its first start on a fresh
// machine reads everything from a cold disk and builds caches. Waits for a
// program to start end as soon as it has; only one that never does waits
// this long.
inline constexpr int kProgramStartMs = 60000;

class ChildProcess {
  public:
    struct Options {
        bool captureStdout = false;
        bool stderrToStdout = false;  // with captureStdout: both on the one pipe
        const char* workingDir = nullptr;              // the test's own when null
        const std::vector<std::string>* env = nullptr;  // the test's own when null
    };

    ChildProcess() = default;
    ~ChildProcess();  // SIGKILL and wait when still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False with Error() set when it could not be started.
    bool Start(const std::vector<std::string>& argv, const Options& options);
    bool Start(const std::vector<std::string>& argv) { return Start(argv, Options{}); }
    // The first line on its stdout without the line end; false when none came
    // within timeoutMs or stdout closed first.
    bool ReadLine(std::string& line, int timeoutMs);

    pid_t Pid() const { return pid_; }
    const std::string& Error() const { return error_; }
    bool Running();
    // The status as waitpid gives it, -1 when it had been reaped already.
    int Status() const { return status_; }
    // Whether it has its own handler for the signal (from /proc); false
    // once it has ended.
    bool Catches(int signal);
    // Waits for it to end by itself; false on time-out.
    bool WaitExit(int timeoutMs);
    // SIGTERM, then SIGKILL when it is still there after graceMs; Status().
    int Stop(int graceMs = 5000);

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string pending_;
    std::string error_;
};

}  // namespace ristova::test
