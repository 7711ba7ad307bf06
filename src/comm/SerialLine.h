#pragma once
// What TMyComport asks of the platform's serial device: opening it for this
// process alone, its line settings, and giving it back as it was found. The
// component never sees the platform's types; comm/posix/ implements this
// with termios, a Windows backend would with CreateFileA and SetCommState.
// Every call returns a status that keeps the system's error number, so a
// failure is a value.
#include <cstdint>
#include <memory>
#include <string>

#include "base/NativeHandle.h"
#include "comm/MyComm32.h"

namespace ristova::serial {

struct SysStatus {
    int error = 0;  // the system's error number; 0 is success
    bool Ok() const { return error == 0; }
    std::string Text() const;
    // The calling thread's last system error (never 0).
    static SysStatus Last();
};

// True for the errors that mean the device has gone away (hang-up, unplug,
// closed handle); the workers end on them instead of retrying.
bool IsDeviceGone(int error);

struct LineSettings {
    std::uint32_t baud = 9600;
    int dataBits = 8;  // 5..8
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool rtsCts = false;
    bool xonXoff = false;
};

// What a line did not take. Flags that a device ignores (a pseudo-terminal
// keeps 8 bits without parity) do not count: only settings that no line can
// have, and a speed the device does not run at.
enum class LineRefusal { None, Impossible, Speed };
struct LineApplied {
    LineRefusal refused = LineRefusal::None;
    SysStatus status;  // the failed call, if any
};

// Line error counters; not every driver keeps them.
struct LineErrorCounts {
    std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    bool operator==(const LineErrorCounts&) const = default;
};

// Why a device did not open.
struct OpenRefusal {
    PortOpenFailure failure = PortOpenFailure::None;
    std::string text;        // as the system put it
    bool notSerial = false;  // it opened, but is no serial line
};

// One open serial device, held by this process alone.
class SerialDevice {
  public:
    // Opens the device for this process alone and checks that it is a serial
    // line; then saves its settings, makes it raw (nothing translated,
    // reads never wait) and drops the input an earlier user left. Null, with
    // refusal filled in, when it cannot be had.
    static std::unique_ptr<SerialDevice> Open(const std::string& path, OpenRefusal& refusal);
    // Puts the saved settings back and gives the device up.
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    NativeHandle Handle() const;
    // Sets sizes, parity, stop bits and speed as given and adds flow
    // control (flow control that is already on stays on). The speed is read
    // back, since a device may take the call and run at another.
    LineApplied ApplyLine(const LineSettings& line);
    // Fails harmlessly on lines without modem control.
    SysStatus RaiseDtr();
    void FlushInput();
    void FlushOutput();
    // The device node at path is no longer the one that was opened
    // (unplugged, or a name that now leads elsewhere or nowhere).
    bool GoneFrom(const std::string& path) const;
    // Fails when the driver keeps no counters.
    SysStatus ReadLineErrorCounts(LineErrorCounts& counts) const;

  private:
    struct Native;
    explicit SerialDevice(std::unique_ptr<Native> native);
    std::unique_ptr<Native> native_;
};

}  // namespace ristova::serial
