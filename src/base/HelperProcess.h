#pragma once
// A helper program of our own that this process starts and talks to over one
// two-way channel (its standard input and output); its standard error is
// ours. It inherits nothing else, and it dies with the thread that started
// it, so a crashed program leaves no helper behind. Every wait is bounded and
// can be cut short by a stop handle. The spawn and the channel are the
// platform's (posix/HelperProcess.cpp).
#include <string>
#include <string_view>
#include <vector>

#include "base/NativeHandle.h"

namespace ristova {

// How a program's file name ends: ".exe" on Windows, where the spawn does
// not add it.
#ifdef _WIN32
inline constexpr std::string_view kProgramSuffix = ".exe";
#else
inline constexpr std::string_view kProgramSuffix = "";
#endif

class HelperProcess {
  public:
    HelperProcess() = default;
    ~HelperProcess();  // Kill
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // argv[0] is the program's path. Returns once the program runs, so that
    // from then on the helper holds nothing of this process's: no port, no
    // lock. False, with Error(), when it could not be started.
    bool Start(const std::vector<std::string>& argv);
    bool Started() const { return process_ != kNoHandle; }

    enum class Io {
        Done,      // all written; some bytes read
        TimedOut,  // the time was up first
        Ended,     // the helper closed the channel or ended
        Stopped,   // the stop handle became readable
    };
    // Writes all of bytes within timeoutMs.
    Io Write(std::string_view bytes, int timeoutMs, NativeHandle stop = kNoHandle);
    // Appends what the helper has written, waiting up to timeoutMs for it.
    Io Read(std::string& into, int timeoutMs, NativeHandle stop = kNoHandle);

    // Ends it at once and collects it; nothing when none runs.
    void Kill();
    // How it ended, once Kill collected it: "exit status 1", "signal 11
    // (Segmentation fault)". One that had closed the channel had ended by
    // itself already, so the kill does not hide its own end.
    const std::string& EndText() const { return endText_; }
    const std::string& Error() const { return error_; }

  private:
    // The platform's part of Start, for a non-empty argv and nothing running.
    bool Spawn(const std::vector<std::string>& argv);

    NativeHandle process_ = kNoHandle;  // the process id here
    NativeHandle channel_ = kNoHandle;
    std::string endText_;
    std::string error_;
};

}  // namespace ristova
