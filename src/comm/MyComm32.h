#pragma once
// TMyComport: one serial device, a receive worker and a transmit worker.
// All members are called on the main thread; received blocks come back to
// the main thread through the poster, one call per block, in order.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/MainThreadPoster.h"
#include "base/NativeHandle.h"

namespace ristova {

enum TComPortDataBits { db5BITS = 0, db6BITS = 1, db7BITS = 2, db8BITS = 3 };
enum TComPortStopBits { sb1BITS = 0, sb1HALFBITS = 1, sb2BITS = 2 };
enum TComPortParity { ptNONE = 0, ptODD = 1, ptEVEN = 2, ptMARK = 3, ptSPACE = 4 };
enum TComPortHwHandshaking { hhNONE = 0, hhRTSCTS = 1 };
enum TComPortSwHandshaking { shNONE = 0, shXONXOFF = 1 };

// Buffer is valid only during the call; a zero byte follows its data.
using TReceiveDataEvent = std::function<void(const char* Buffer, std::uint16_t BufferLength)>;

// What became of a block that SendData queued: written whole, discarded
// unwritten by a close, refused by the device, or replaced while it waited by
// a newer block of the same key.
enum class SendFate { Written, Dropped, Failed, Replaced };
// Called on the main thread exactly once for each block that SendData queued
// with it, in the order the blocks were settled; at is when the block was
// written or given up. ClosePort delivers every fate still owed before it
// returns.
using SendDoneHandler =
    std::function<void(SendFate fate, std::chrono::steady_clock::time_point at)>;

// How a block waits for the writer. Urgent blocks (the plan's) go ahead of
// every waiting ordinary one (requests); each kind keeps its own order.
struct SendOptions {
    bool urgent = false;
    // Not 0: a waiting ordinary block of the same key is replaced by this
    // one, the latest wins. An ordinary block takes the replaced one's place;
    // an urgent one is never replaced.
    std::uint32_t key = 0;
};

// At most this many blocks wait for the writer: four times a full burst of
// a 32-relay board (its second's plan commands, start-on, restore or
// re-assert, and the query), some 16 s of line at 9600 baud with the pause
// after each block. What waits longer than that is no longer timely, and a
// flood must not grow the memory.
inline constexpr std::size_t kMaxQueuedBlocks = 256;

// Whether Send queued the block.
enum class SendStatus { Queued, Failed, QueueFull };

// The open line ended without ClosePort: a worker found the device gone or
// could not write. Called on the main thread, once per open.
using TLineEndedEvent = std::function<void()>;

// Writes a line to the process-wide log when a log name is set; lines are
// kept whole when several threads write.
void WriteCommLog(const std::string& text);
// The same, with the time of day in front of the text.
void WriteCommLogTimed(const std::string& text);

// Why a port could not be opened, as the operator can act on it. Settings:
// the line cannot take its settings (LastError() says which).
enum class PortOpenFailure { None, NoDevice, Busy, NoPermission, Settings, Other };
PortOpenFailure OpenFailureOfErrno(int error);
// "端口不存在", "端口被其它程序占用", "没有权限打开端口,请把用户加入dialout组",
// "串口参数无效"; for Other the old text that names both causes.
const char* OpenFailureText(PortOpenFailure failure);

class TMyComport {
  public:
    explicit TMyComport(IMainThreadPoster& poster);
    ~TMyComport();  // closes an open port
    TMyComport(const TMyComport&) = delete;
    TMyComport& operator=(const TMyComport&) = delete;

    bool OpenPort();
    void ClosePort();
    bool SendData(const void* data, std::uint16_t length);
    // The same; onDone hears the block's fate when SendData returned true,
    // and is never called when it returned false.
    bool SendData(const void* data, std::uint16_t length, SendDoneHandler onDone);
    // The same with a place in the queue; QueueFull when kMaxQueuedBlocks
    // wait already (nothing was queued, onDone is not called).
    SendStatus Send(const void* data, std::uint16_t length, SendDoneHandler onDone,
                    SendOptions options);
    void ApplyLineSettings();

    const std::string& CommPort() const;
    void SetCommPort(const std::string& name);
    std::uint32_t ComPortBaudRate() const;
    void SetComPortBaudRate(std::uint32_t baud);
    TComPortDataBits ComPortDataBits() const;
    void SetComPortDataBits(TComPortDataBits v);
    TComPortStopBits ComPortStopBits() const;
    void SetComPortStopBits(TComPortStopBits v);
    TComPortParity ComPortParity() const;
    void SetComPortParity(TComPortParity v);
    TComPortHwHandshaking ComPortHwHandshaking() const;
    void SetComPortHwHandshaking(TComPortHwHandshaking v);
    TComPortSwHandshaking ComPortSwHandshaking() const;
    void SetComPortSwHandshaking(TComPortSwHandshaking v);
    // The device's handle; kNoHandle exactly while the port is closed.
    NativeHandle CommFileHandle() const;
    bool IsOpen() const { return CommFileHandle() != kNoHandle; }
    std::uint16_t ReadTimeout() const;
    void SetReadTimeout(std::uint16_t ms);
    bool EnableDTROnOpen() const;
    void SetEnableDTROnOpen(bool on);
    const std::string& CommsLogFileName() const;
    void SetCommsLogFileName(const std::string& name);
    void SetOnReceiveData(TReceiveDataEvent handler);
    void SetOnLineEnded(TLineEndedEvent handler);
    // True from the line-ended call until the next ClosePort or OpenPort.
    bool LineEnded() const;
    // The open port's device node is no longer there (unplugged, or a link
    // that now leads nowhere). False while closed.
    bool DeviceGone() const;

    // Why the last OpenPort failed, as the system put it (for Settings the
    // operator's text, e.g. "波特率无效:0"); empty after a success.
    const std::string& LastError() const;
    // The kind of the last OpenPort failure; None after a success.
    PortOpenFailure LastOpenFailure() const;
    // The last failure as the operator reads it: LastError() for Settings,
    // else OpenFailureText.
    std::string OpenFailureReason() const;
    // Settings that the owner found unusable before they reached the port (a
    // value of a controller file): while not empty, OpenPort fails with this
    // as its reason and leaves the device alone.
    void SetSettingsProblem(std::string reason);

    // The device path that a port name stands for ("COM3" is /dev/ttyS2, on
    // Windows \\.\COM3).
    static std::string DevicePath(const std::string& commPort);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ristova
