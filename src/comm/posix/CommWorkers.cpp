// The workers' waits on POSIX: poll on the device and an eventfd that is the
// stop event. The line has VMIN = VTIME = 0, so the inter-character time-out
// is kept here against the steady clock.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "comm/CommWorkers.h"

namespace ristova::comm {

using Clock = std::chrono::steady_clock;

namespace {

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

void Drain(int eventFd) {
    std::uint64_t value;
    while (read(eventFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

void Raise(int eventFd) {
    std::uint64_t one = 1;
    while (write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

}  // namespace

StopEvent::~StopEvent() {
    if (handle_ >= 0) close(handle_);
}

bool StopEvent::Create() {
    handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return handle_ >= 0;
}

void StopEvent::Signal() {
    // Never read back, so it stays signalled for both workers.
    Raise(handle_);
}

bool StopEvent::IsSignalled() const {
    return Readable(handle_);
}

bool StopEvent::WaitFor(int timeoutMs) const {
    pollfd p{handle_, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

void RaiseWorkerPriority() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice - 1);
}

// ---------------------------------------------------------------- receive

struct DeviceReader::Native {
    int fd = -1;
    int stopFd = -1;
    SharedReadTimeout readTimeout;

    // The outstanding read: bytes so far, the time of the last one, and the
    // error that ended it (0 while none).
    char buffer[kReceiveBlockSize];
    std::size_t count = 0;
    Clock::time_point lastByte;
    int readError = 0;


    void Pump(short revents);
    int WaitMs() const;
};

DeviceReader::DeviceReader(const serial::SerialDevice& device, const StopEvent& stop,
                           SharedReadTimeout readTimeout)
    : device_(device), native_(std::make_unique<Native>()) {
    native_->fd = device.Handle();
    native_->stopFd = stop.Handle();
    native_->readTimeout = std::move(readTimeout);
}

DeviceReader::~DeviceReader() = default;

serial::SysStatus DeviceReader::ArmLineEvents() {
    // The counters need no asking; Wait looks at them.
    return {};
}

void DeviceReader::StartRead() {
    native_->count = 0;
    native_->readError = 0;
    native_->Pump(0);
}

void DeviceReader::Native::Pump(short revents) {
    if (readError != 0) return;
    bool gotAny = false;
    while (count < kReceiveBlockSize) {
        ssize_t n = read(fd, buffer + count, kReceiveBlockSize - count);
        if (n > 0) {
            count += static_cast<std::size_t>(n);
            lastByte = Clock::now();
            gotAny = true;
            continue;
        }
        if (n == 0) {
            // With VMIN = VTIME = 0 an empty line also reads 0, so only a 0
            // right after poll reported the line readable means hung up.
            if (revents != 0 && !gotAny) readError = EIO;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            readError = errno;
        } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !gotAny) {
            // Hang-up or error with nothing to read: waiting again would
            // spin, so the device counts as gone.
            readError = EIO;
        }
        break;
    }
}

bool DeviceReader::ReadComplete() const {
    const Native& n = *native_;
    if (n.count >= kReceiveBlockSize || n.readError != 0) return true;
    if (n.count == 0) return false;
    std::uint16_t timeout = n.readTimeout->load();
    return timeout == 0 || Clock::now() - n.lastByte >= std::chrono::milliseconds(timeout);
}

int DeviceReader::Native::WaitMs() const {
    // Without limit until the first byte, then until the line has been
    // silent for the read time-out.
    auto due = lastByte + std::chrono::milliseconds(readTimeout->load());
    auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
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
        pollfd fds[2] = {{n.stopFd, POLLIN, 0}, {n.fd, POLLIN, 0}};
        const bool complete = ReadComplete();
        const int waitMs = complete ? 0 : n.count == 0 ? -1 : n.WaitMs();
        int r = poll(fds, complete ? 1 : 2, waitMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Wake::Failed;
        }
        // The order of these tests is the precedence: stop, line errors,
        // data.
        if (fds[0].revents & POLLIN) return Wake::Stop;
        if (fds[0].revents & (POLLERR | POLLNVAL)) return Wake::Failed;
        if (!complete && fds[1].revents) n.Pump(fds[1].revents);
        if (LineErrorsChanged()) return Wake::LineEvent;
        if (ReadComplete()) return Wake::ReadDone;
    }
}

// --------------------------------------------------------------- transmit

struct DeviceWriter::Native {
    int fd = -1;
    int stopFd = -1;
    // Raised when a block is queued.
    int wakeFd = -1;
};

DeviceWriter::DeviceWriter(const serial::SerialDevice& device, const StopEvent& stop)
    : native_(std::make_unique<Native>()) {
    native_->fd = device.Handle();
    native_->stopFd = stop.Handle();
    native_->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DeviceWriter::~DeviceWriter() {
    if (native_->wakeFd >= 0) close(native_->wakeFd);
}

bool DeviceWriter::Valid() const {
    return native_->wakeFd >= 0;
}

void DeviceWriter::Wake() {
    Raise(native_->wakeFd);
}

DeviceWriter::WakeReason DeviceWriter::WaitForWork() {
    pollfd fds[2] = {{native_->stopFd, POLLIN, 0}, {native_->wakeFd, POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) return WakeReason::Queued;
    if (r < 0 || (fds[0].revents & (POLLERR | POLLNVAL))) return WakeReason::Failed;
    if (fds[0].revents & POLLIN) return WakeReason::Stop;
    if (fds[1].revents & POLLIN) Drain(native_->wakeFd);
    return WakeReason::Queued;
}

DeviceWriter::Written DeviceWriter::Write(const char* data, std::size_t count) {
    const int fd = native_->fd;
    std::size_t offset = 0;
    std::size_t remaining = count;
    bool waited = false;
    do {
        ssize_t n = write(fd, data + offset, remaining);
        if (n < 0) {
            int error = errno;
            if (error == EINTR) continue;
            if (error == EAGAIN) {
                // Pending: wait for room or the stop event, nothing else.
                pollfd fds[2] = {{native_->stopFd, POLLIN, 0}, {fd, POLLOUT, 0}};
                int r = poll(fds, 2, -1);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0 || (fds[0].revents & (POLLERR | POLLNVAL)))
                    return {Written::WaitFailed, waited};
                if (fds[0].revents & POLLIN) return {Written::Stopped, waited};
                if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) &&
                    !(fds[1].revents & POLLOUT))
                    return {Written::Gone, true};
                waited = true;
                continue;
            }
            return {serial::IsDeviceGone(error) ? Written::Gone : Written::Refused, waited};
        }
        offset += static_cast<std::size_t>(n);
        remaining -= static_cast<std::size_t>(n);
        waited = false;
    } while (remaining > 0);
    return {Written::Done, false};
}

}  // namespace ristova::comm
