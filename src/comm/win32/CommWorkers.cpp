// The workers' waits on Windows: WaitForMultipleObjects on the stop event
// and the overlapped requests' events. The receive worker keeps one read of
// up to a block outstanding, ended by the inter-character time-out of
// SetCommTimeouts, and one WaitCommEvent for line errors, armed again
// whenever it ends without an event (as it does on lines without modem
// signals under some emulations).
#include <windows.h>

#include <cerrno>

#include "comm/CommWorkers.h"

namespace ristova::comm {

namespace {

constexpr DWORD kLineEvents = EV_ERR | EV_BREAK;

// Ends a request that may still be outstanding and waits for it, so that
// its record and buffer can go.
void Cancel(HANDLE device, OVERLAPPED& request) {
    ::CancelIoEx(device, &request);
    DWORD n = 0;
    ::GetOverlappedResult(device, &request, &n, TRUE);
}

}  // namespace

StopEvent::~StopEvent() {
    if (handle_ != kNoHandle) ::CloseHandle(handle_);
}

bool StopEvent::Create() {
    handle_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return handle_ != nullptr;
}

void StopEvent::Signal() {
    ::SetEvent(handle_);
}

bool StopEvent::IsSignalled() const {
    return ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0;
}

bool StopEvent::WaitFor(int timeoutMs) const {
    return ::WaitForSingleObject(handle_, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

void RaiseWorkerPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

// ---------------------------------------------------------------- receive

struct DeviceReader::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;
    SharedReadTimeout readTimeout;
    // The time-out the device has now; none set yet at first.
    int appliedTimeout = -1;

    // The outstanding read.
    OVERLAPPED read{};
    char buffer[kReceiveBlockSize];
    DWORD count = 0;
    int readError = 0;
    bool reading = false;  // pending

    // The outstanding line-event wait.
    OVERLAPPED lineWait{};
    DWORD mask = 0;
    bool waiting = false;


    ~Native() {
        if (reading) Cancel(handle, read);
        if (waiting) {
            // A new mask ends a pending WaitCommEvent everywhere; not every
            // driver cancels it otherwise.
            ::SetCommMask(handle, 0);
            Cancel(handle, lineWait);
        }
        if (read.hEvent != nullptr) ::CloseHandle(read.hEvent);
        if (lineWait.hEvent != nullptr) ::CloseHandle(lineWait.hEvent);
    }
    void ApplyTimeout();
    void Issue();
    // The pending read ended; false when it is to be issued again.
    bool Collect();
    bool ArmLineWait();
};

void DeviceReader::Native::ApplyTimeout() {
    const int timeout = readTimeout->load();
    if (timeout == appliedTimeout) return;
    // No limit for the first byte; then the read ends when the line has
    // been silent for longer than the time-out, or the block is full. Time-out
    // 0 ("what has arrived, at once") is the shortest silence there is: an
    // interval of 0 would mean none at all, and the documented "return at
    // once" setting (MAXDWORD, MAXDWORD, n) is not kept by every emulation.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = static_cast<DWORD>(timeout > 0 ? timeout : 1);
    if (::SetCommTimeouts(handle, &t)) appliedTimeout = timeout;
}

void DeviceReader::Native::Issue() {
    ApplyTimeout();
    count = 0;
    readError = 0;
    ::ResetEvent(read.hEvent);
    DWORD n = 0;
    if (::ReadFile(handle, buffer, sizeof buffer, &n, &read)) {
        count = n;
        return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING)
        reading = true;
    else
        readError = static_cast<int>(error);
}

bool DeviceReader::Native::Collect() {
    reading = false;
    DWORD n = 0;
    if (::GetOverlappedResult(handle, &read, &n, FALSE)) {
        count = n;
        return true;
    }
    const DWORD error = ::GetLastError();
    // Some emulations end a read by its time-out with ERROR_TIMEOUT; the
    // bytes it got are still the read's.
    if (error == ERROR_TIMEOUT) {
        count = static_cast<DWORD>(read.InternalHigh);
        return count > 0;
    }
    count = 0;
    readError = static_cast<int>(error);
    return true;
}

bool DeviceReader::Native::ArmLineWait() {
    mask = 0;
    ::ResetEvent(lineWait.hEvent);
    if (::WaitCommEvent(handle, &mask, &lineWait)) return (mask & kLineEvents) != 0;
    // Pending is the usual answer; a line whose events cannot be waited for
    // still carries data, and is asked again on the next wait.
    waiting = ::GetLastError() == ERROR_IO_PENDING;
    return false;
}

DeviceReader::DeviceReader(const serial::SerialDevice& device, const StopEvent& stop,
                           SharedReadTimeout readTimeout)
    : device_(device), native_(std::make_unique<Native>()) {
    native_->handle = device.Handle();
    native_->stop = stop.Handle();
    native_->readTimeout = std::move(readTimeout);
    native_->read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    native_->lineWait.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

DeviceReader::~DeviceReader() = default;

serial::SysStatus DeviceReader::ArmLineEvents() {
    Native& n = *native_;
    if (n.read.hEvent == nullptr || n.lineWait.hEvent == nullptr) return serial::SysStatus::Last();
    if (!::SetCommMask(n.handle, kLineEvents)) return serial::SysStatus::Last();
    return {};
}

void DeviceReader::StartRead() {
    native_->Issue();
}

bool DeviceReader::ReadComplete() const {
    return !native_->reading;
}

const char* DeviceReader::Data() const {
    return native_->buffer;
}

std::size_t DeviceReader::Count() const {
    return native_->count;
}

int DeviceReader::Error() const {
    return native_->readError;
}

DeviceReader::Wake DeviceReader::Wait() {
    Native& n = *native_;
    for (;;) {
        if (lineCounters_ && !n.waiting && n.ArmLineWait()) return Wake::LineEvent;
        if (!n.reading) {
            // The read ended while a line event was being handled.
            return ::WaitForSingleObject(n.stop, 0) == WAIT_OBJECT_0 ? Wake::Stop : Wake::ReadDone;
        }
        // The order is the precedence: stop, line events, data.
        HANDLE waits[3];
        DWORD count = 0;
        waits[count++] = n.stop;
        if (n.waiting) waits[count++] = n.lineWait.hEvent;
        waits[count++] = n.read.hEvent;
        const DWORD r = ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0) return Wake::Stop;
        if (r >= WAIT_OBJECT_0 + count) return Wake::Failed;
        if (waits[r - WAIT_OBJECT_0] == n.lineWait.hEvent) {
            n.waiting = false;
            DWORD ignored = 0;
            if (::GetOverlappedResult(n.handle, &n.lineWait, &ignored, FALSE)) {
                if ((n.mask & kLineEvents) != 0 && LineErrorsChanged()) return Wake::LineEvent;
            } else if (const int error = static_cast<int>(::GetLastError());
                       serial::IsDeviceGone(error)) {
                // The device went away under the wait: the read reports it.
                Cancel(n.handle, n.read);
                n.reading = false;
                n.count = 0;
                n.readError = error;
                return Wake::ReadDone;
            }
            // Ended without an event (or with one already taken): armed
            // again at the top.
            continue;
        }
        if (!n.Collect()) {
            n.Issue();
            continue;
        }
        return LineErrorsChanged() ? Wake::LineEvent : Wake::ReadDone;
    }
}

// --------------------------------------------------------------- transmit

struct DeviceWriter::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;
    HANDLE wake = nullptr;  // auto-reset: a block was queued
    OVERLAPPED write{};

    ~Native() {
        if (wake != nullptr) ::CloseHandle(wake);
        if (write.hEvent != nullptr) ::CloseHandle(write.hEvent);
    }
};

DeviceWriter::DeviceWriter(const serial::SerialDevice& device, const StopEvent& stop)
    : native_(std::make_unique<Native>()) {
    native_->handle = device.Handle();
    native_->stop = stop.Handle();
    native_->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    native_->write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

DeviceWriter::~DeviceWriter() = default;

bool DeviceWriter::Valid() const {
    return native_->wake != nullptr && native_->write.hEvent != nullptr;
}

void DeviceWriter::Wake() {
    ::SetEvent(native_->wake);
}

DeviceWriter::WakeReason DeviceWriter::WaitForWork() {
    HANDLE waits[2] = {native_->stop, native_->wake};
    const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0) return WakeReason::Stop;
    if (r == WAIT_OBJECT_0 + 1) return WakeReason::Queued;
    return WakeReason::Failed;
}

DeviceWriter::Written DeviceWriter::Write(const char* data, std::size_t count) {
    Native& n = *native_;
    std::size_t offset = 0;
    bool waited = false;
    while (offset < count) {
        ::ResetEvent(n.write.hEvent);
        n.write.Offset = n.write.OffsetHigh = 0;
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(count - offset);
        if (!::WriteFile(n.handle, data + offset, chunk, &written, &n.write)) {
            DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING)
                return {serial::IsDeviceGone(static_cast<int>(error)) ? Written::Gone
                                                                      : Written::Refused,
                        waited};
            // Pending: wait for the device or the stop event, nothing else.
            waited = true;
            HANDLE waits[2] = {n.stop, n.write.hEvent};
            const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0) {
                Cancel(n.handle, n.write);
                return {Written::Stopped, waited};
            }
            if (r != WAIT_OBJECT_0 + 1) {
                Cancel(n.handle, n.write);
                return {Written::WaitFailed, waited};
            }
            if (!::GetOverlappedResult(n.handle, &n.write, &written, TRUE)) {
                error = ::GetLastError();
                if (error == ERROR_OPERATION_ABORTED &&
                    ::WaitForSingleObject(n.stop, 0) == WAIT_OBJECT_0)
                    return {Written::Stopped, waited};
                if (error != ERROR_TIMEOUT)
                    return {serial::IsDeviceGone(static_cast<int>(error)) ? Written::Gone
                                                                          : Written::Refused,
                            waited};
            }
        }
        // A device that takes nothing would keep this loop turning.
        if (written == 0) return {Written::Refused, waited};
        offset += written;
        waited = false;
    }
    return {Written::Done, false};
}

}  // namespace ristova::comm
