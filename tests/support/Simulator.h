#pragma once
// Runs the simulated relay controller (ristova-sim from the build root) for a
// test: starts it, reads the path of its terminal, reads back the commands
// it logged with their arrival times, and stops it.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace ristova::test {

struct SimulatorCommand {
    std::chrono::system_clock::time_point firstByte;  // arrival of its first byte
    std::string text;                                 // e.g. "O(00,01,1)E"
};

class SimulatorProcess {
  public:
    SimulatorProcess();
    ~SimulatorProcess();  // stops it
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts it with these options; a --log to a file of its own is added
    // unless the options have one. False (see Error()) when it did not come
    // up within five seconds.
    bool Start(const std::vector<std::string>& args = {});
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& LogPath() const { return logPath_; }
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return child_.Pid(); }
    bool Running();

    // SIGTERM and wait; the exit status as waitpid gives it, -1 when not running.
    int Stop();
    // Waits for it to end by itself (--hangup-after); false on time-out.
    bool WaitExit(int timeoutMs);

    // The commands logged so far, in order.
    std::vector<SimulatorCommand> Commands() const;
    // Waits until at least count commands are logged.
    bool WaitForCommands(std::size_t count, int timeoutMs) const;

    // ${RISTOVA_BUILD_DIR}/ristova-sim
    static std::string BinaryPath();

  private:
    ChildProcess child_;
    std::string dir_;
    std::string slavePath_;
    std::string logPath_;
    std::string error_;
};

}  // namespace ristova::test
