// The serial device on Windows: CreateFileW on the device, read and write,
// not shared, overlapped; GetCommState/SetCommState for the line, saved at
// open and put back at close; ClearCommError for the line errors, counted
// here since Windows only raises flags.
#include <windows.h>

#include <mutex>

#include "base/win32/Wide.h"
#include "comm/SerialLine.h"

namespace ristova::serial {

namespace {
// ERROR_NO_SUCH_DEVICE, which older headers lack.
constexpr DWORD kNoSuchDevice = 433;
}  // namespace

std::string SysStatus::Text() const {
    return error == 0 ? std::string() : win32::ErrorText(static_cast<DWORD>(error));
}

SysStatus SysStatus::Last() {
    const DWORD error = ::GetLastError();
    return SysStatus{error == 0 ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(error)};
}

bool IsDeviceGone(int error) {
    // A USB adapter pulled out fails the handle's calls with one of these;
    // none of them passes with a retry.
    switch (static_cast<DWORD>(error)) {
        case ERROR_INVALID_HANDLE:
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
        case kNoSuchDevice:
        case ERROR_BROKEN_PIPE:
        case ERROR_PIPE_NOT_CONNECTED:
            return true;
        default:
            return false;
    }
}

namespace {

constexpr std::uint64_t kSpeedTolerancePercent = 5;

PortOpenFailure FailureOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
        case kNoSuchDevice:
            return PortOpenFailure::NoDevice;
        // A port that another program holds open is refused as access.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return PortOpenFailure::Busy;
        default:
            return PortOpenFailure::Other;
    }
}

// Raw: binary, no flow control but what the settings add, nothing
// replaced or dropped, errors never abort reads.
void MakeRaw(DCB& dcb) {
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
}

}  // namespace

struct SerialDevice::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path;
    // The settings found at open, put back at close.
    DCB saved{};
    bool haveSaved = false;
    COMMTIMEOUTS savedTimeouts{};
    bool haveSavedTimeouts = false;
    // ClearCommError clears the flags it reports: every caller adds them
    // here, so that no thread takes another's errors.
    std::mutex errorsMutex;
    LineErrorCounts errors;
};

SerialDevice::SerialDevice(std::unique_ptr<Native> native) : native_(std::move(native)) {}

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, OpenRefusal& refusal) {
    auto native = std::make_unique<Native>();
    native->path = win32::WidePath(path);
    HANDLE h = ::CreateFileW(native->path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        refusal = {FailureOf(error), win32::ErrorText(error), false};
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetFileType(h) != FILE_TYPE_CHAR || !::GetCommState(h, &dcb)) {
        ::CloseHandle(h);
        refusal = {PortOpenFailure::NoDevice, "not a serial port", true};
        return nullptr;
    }
    native->handle = h;
    native->saved = dcb;
    native->haveSaved = true;
    native->haveSavedTimeouts = ::GetCommTimeouts(h, &native->savedTimeouts) != FALSE;
    ::SetupComm(h, 4096, 4096);
    MakeRaw(dcb);
    ::SetCommState(h, &dcb);
    // Bytes and errors left over from an earlier user of the line are not ours.
    ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    DWORD flags = 0;
    ::ClearCommError(h, &flags, nullptr);
    refusal = {};
    return std::unique_ptr<SerialDevice>(new SerialDevice(std::move(native)));
}

SerialDevice::~SerialDevice() {
    const HANDLE h = native_->handle;
    if (native_->haveSaved) ::SetCommState(h, &native_->saved);
    if (native_->haveSavedTimeouts) ::SetCommTimeouts(h, &native_->savedTimeouts);
    ::CloseHandle(h);
}

NativeHandle SerialDevice::Handle() const {
    return native_->handle;
}

LineApplied SerialDevice::ApplyLine(const LineSettings& line) {
    // Baud 0 and sizes or codes out of range have no meaning: refused as a
    // device would.
    if (line.baud == 0 || line.dataBits < 5 || line.dataBits > 8 || line.parity < 0 ||
        line.parity > 4 || line.stopBits < 0 || line.stopBits > 2)
        return {LineRefusal::Impossible, SysStatus{static_cast<int>(ERROR_INVALID_PARAMETER)}};
    const HANDLE h = native_->handle;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    LineApplied applied;
    if (!::GetCommState(h, &dcb)) applied.status = SysStatus::Last();
    MakeRaw(dcb);
    dcb.BaudRate = line.baud;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = static_cast<BYTE>(line.parity);  // none, odd, even, mark, space
    dcb.fParity = line.parity != 0;
    // One and a half stop bits is what a UART makes of two with five data
    // bits, and Windows takes only that pairing.
    dcb.StopBits = line.stopBits == 0   ? ONESTOPBIT
                   : line.dataBits == 5 ? ONE5STOPBITS
                                        : TWOSTOPBITS;
    if (line.rtsCts) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    if (line.xonXoff) {
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 1024;
        dcb.XoffLim = 1024;
    }
    if (!::SetCommState(h, &dcb)) {
        applied.status = SysStatus::Last();
        // A driver that refuses the whole state may refuse only the speed.
        DCB without = dcb;
        DCB now{};
        now.DCBlength = sizeof now;
        if (::GetCommState(h, &now)) {
            without.BaudRate = now.BaudRate;
            if (::SetCommState(h, &without)) return {LineRefusal::Speed, applied.status};
        }
        return {LineRefusal::Impossible, applied.status};
    }
    // A driver may take a rate and run at another; further off than a UART
    // tolerates, the line would only carry garbage.
    DCB back{};
    back.DCBlength = sizeof back;
    if (::GetCommState(h, &back)) {
        const std::uint64_t actual = back.BaudRate;
        const std::uint64_t off = actual > line.baud ? actual - line.baud : line.baud - actual;
        if (off * 100 > std::uint64_t{line.baud} * kSpeedTolerancePercent)
            applied.refused = LineRefusal::Speed;
    }
    return applied;
}

SysStatus SerialDevice::RaiseDtr() {
    if (!::EscapeCommFunction(native_->handle, SETDTR)) return SysStatus::Last();
    return {};
}

void SerialDevice::FlushInput() {
    // Also ends a pending read, so that a stopping worker wakes.
    ::PurgeComm(native_->handle, PURGE_RXABORT | PURGE_RXCLEAR);
}

void SerialDevice::FlushOutput() {
    ::PurgeComm(native_->handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

bool SerialDevice::GoneFrom(const std::string&) const {
    // The handle fails once its device is gone (an adapter pulled out). A
    // name does not lead elsewhere here, and the device namespace is not
    // asked: emulations list no port there.
    LineErrorCounts counts;
    const SysStatus st = ReadLineErrorCounts(counts);
    return !st.Ok() && IsDeviceGone(st.error);
}

SysStatus SerialDevice::ReadLineErrorCounts(LineErrorCounts& counts) const {
    Native& n = *native_;
    std::lock_guard lock(n.errorsMutex);
    DWORD flags = 0;
    if (!::ClearCommError(n.handle, &flags, nullptr)) return SysStatus::Last();
    if (flags & CE_FRAME) ++n.errors.frame;
    if (flags & CE_OVERRUN) ++n.errors.overrun;
    if (flags & CE_RXPARITY) ++n.errors.parity;
    if (flags & CE_BREAK) ++n.errors.brk;
    if (flags & CE_RXOVER) ++n.errors.bufOverrun;
    counts = n.errors;
    return {};
}

}  // namespace ristova::serial
