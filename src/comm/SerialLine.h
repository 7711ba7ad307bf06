#pragma once
// The termios side of a serial device, behind a small interface so that the
// component and its workers never see struct termios. Every call returns a
// status and keeps errno, so a failure is a value.
#include <cstdint>
#include <memory>
#include <string>

// Declared only: SerialLinux.cpp sees the kernel's struct, the rest glibc's.
struct termios;

namespace ristova::serial {

struct SysStatus {
    int error = 0;  // errno; 0 is success
    bool Ok() const { return error == 0; }
    std::string Text() const;
    static SysStatus FromErrno();
};

// True for the errors that mean the device has gone away (hang-up, unplug,
// closed descriptor); the workers end on them instead of retrying.
bool IsDeviceGone(int error);

struct LineSettings {
    std::uint32_t baud = 9600;
    int dataBits = 8;  // 5..8
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool rtsCts = false;
    bool xonXoff = false;
};

// The line settings found at open, restored at close.
class SavedLine {
  public:
    SavedLine();
    ~SavedLine();
    SavedLine(const SavedLine&) = delete;
    SavedLine& operator=(const SavedLine&) = delete;
    SysStatus Save(int fd);
    // Does nothing when nothing was saved.
    void Restore(int fd);

  private:
    struct Data;
    std::unique_ptr<Data> data_;
};

// open(O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC) plus flock(LOCK_EX|LOCK_NB); the
// descriptor is closed again when the lock is refused. Returns -1 on failure.
int OpenLocked(const std::string& path, SysStatus& status);
bool IsTerminal(int fd);
SysStatus SetExclusive(int fd, bool on);

// Raw mode (cfmakeraw, CLOCAL|CREAD, VMIN = VTIME = 0); it clears the cooked
// defaults of a terminal, which a serial line must never have.
SysStatus MakeRaw(int fd);
// Puts the line into tio: sizes, parity, stop bits and a standard speed are
// set, flow control is only added. False for settings no line can have.
bool ComposeLine(termios& tio, const LineSettings& line);
// What a line did not take. Flags that a device ignores (a pseudo-terminal
// keeps 8 bits without parity) do not count: only settings that no line can
// have, and a speed the device does not run at.
enum class LineRefusal { None, Impossible, Speed };
struct LineApplied {
    LineRefusal refused = LineRefusal::None;
    SysStatus status;  // the failed call, if any
};
// Reads the current settings and adds to them: flow control that is already
// on stays on. Sizes, parity, stop bits and speed are set as given; the
// speed is read back, since a device may take the call and run at another.
LineApplied ApplyLine(int fd, const LineSettings& line);
// TIOCMBIS; fails harmlessly on pseudo-terminals.
SysStatus RaiseDtr(int fd);
void FlushInput(int fd);
void FlushOutput(int fd);

// Line error counters (TIOCGICOUNT); not every driver has them.
struct LineErrorCounts {
    std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    bool operator==(const LineErrorCounts&) const = default;
};
// ENOTTY/EINVAL when the driver keeps no counters.
SysStatus ReadLineErrorCounts(int fd, LineErrorCounts& counts);
bool IsUnsupported(int error);

// Speeds through termios2 (any rate, BOTHER), in a file of its own since
// <asm/termbits.h> and glibc's <termios.h> cannot meet.
SysStatus SetAnyBaud(int fd, std::uint32_t baud);
SysStatus ReadBaud(int fd, std::uint32_t& baud);

}  // namespace ristova::serial
