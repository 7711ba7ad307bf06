#pragma once
// A pseudo-terminal pair for serial tests: the component opens SlavePath(),
// the test plays the far end on the master.
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace ristova::test {

class PtyPair {
  public:
    PtyPair();  // fails the current test when no pair can be made
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    int Slave() const { return slave_; }

    void Write(const std::string& bytes);
    // Reads from the master until `count` bytes came or timeoutMs passed.
    std::string Read(std::size_t count, int timeoutMs);
    // Waits for the first byte; its arrival time, or nullopt-like max() on
    // time-out. The byte is read.
    std::chrono::steady_clock::time_point WaitFirstByte(int timeoutMs, char* byte = nullptr);
    // The settings as the terminal holds them (read on the slave side).
    termios SlaveSettings() const;
    // The far end hangs up.
    void CloseMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace ristova::test
