#pragma once
// A pseudo-terminal pair for serial tests: the component opens SlavePath(),
// the test plays the far end on the master. On Windows the slave is a COM
// port (SlavePath() "COM11") that a Linux helper links to a fresh
// pseudo-terminal, and the master is that helper's socket
// (support/win32/PtyPair.cpp, support/win32/far_end.py); closing the master
// hangs the line up there too.
#ifndef _WIN32
#include <termios.h>
#endif

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
#ifndef _WIN32
    int Master() const { return master_; }
    int Slave() const { return slave_; }
#endif

    void Write(const std::string& bytes);
    // Reads from the master until `count` bytes came or timeoutMs passed.
    std::string Read(std::size_t count, int timeoutMs);
    // Waits for the first byte; its arrival time, or nullopt-like max() on
    // time-out. The byte is read.
    std::chrono::steady_clock::time_point WaitFirstByte(int timeoutMs, char* byte = nullptr);
#ifndef _WIN32
    // The settings as the terminal holds them (read on the slave side).
    termios SlaveSettings() const;
#endif
    // The far end hangs up.
    void CloseMaster();

  private:
#ifdef _WIN32
    std::uintptr_t master_ = ~std::uintptr_t{0};  // the helper's socket
#else
    int master_ = -1;
    int slave_ = -1;
#endif
    std::string slavePath_;
};

}  // namespace ristova::test
