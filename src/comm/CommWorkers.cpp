#include "comm/CommWorkers.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "base/Codec.h"

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

void Log(const std::string& text) {
    WriteCommLog(text);
}
void LogTimed(const std::string& text) {
    WriteCommLogTimed(text);
}

}  // namespace

StopEvent::~StopEvent() {
    if (fd_ >= 0) close(fd_);
}

bool StopEvent::Create() {
    fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd_ >= 0;
}

void StopEvent::Signal() {
    std::uint64_t one = 1;
    // Never read back, so it stays signalled for both workers.
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool StopEvent::IsSignalled() const {
    return Readable(fd_);
}

std::unique_ptr<char[]> Block::Allocate(std::size_t count) {
    return std::unique_ptr<char[]>(new (std::nothrow) char[count + 1]());
}

bool NotificationWindow::PostBlock(const std::shared_ptr<NotificationWindow>& window, Block block) {
    // std::function wants a copyable call; the shared holder is still the
    // block's only owner: the queued call.
    auto held = std::make_shared<Block>(std::move(block));
    return window->poster_.Post([window, held] {
        if (!window->destroyed_ && window->handler_) {
            // A copy, so that a handler that replaces itself stays valid.
            TReceiveDataEvent handler = window->handler_;
            handler(held->data.get(), held->count);
        }
        held->data.reset();
    });
}

void NotificationWindow::PostEnded(const std::shared_ptr<NotificationWindow>& window,
                                   unsigned line) {
    window->poster_.Post([window, line] {
        if (window->destroyed_ || line != window->line_ || window->ended_) return;
        window->ended_ = true;
        if (window->endedHandler_) {
            std::function<void()> handler = window->endedHandler_;
            handler();
        }
    });
}

void NotificationWindow::PostSendFate(const std::shared_ptr<NotificationWindow>& window,
                                      SendDoneHandler done, SendFate fate) {
    if (!window || !done) return;
    std::lock_guard lock(window->fatesMutex_);
    window->fates_.push_back({std::move(done), fate, Clock::now()});
    // One delivery call serves every report queued before it runs; a call
    // that could not be queued is tried again with the next report, and
    // ClosePort delivers in any case.
    if (!window->fatesPosted_) {
        window->fatesPosted_ = window->poster_.Post([window] {
            if (!window->destroyed_) window->DeliverSendFates();
        });
    }
}

void NotificationWindow::DeliverSendFates() {
    for (;;) {
        FateReport report;
        {
            std::lock_guard lock(fatesMutex_);
            fatesPosted_ = false;
            if (fates_.empty()) return;
            report = std::move(fates_.front());
            fates_.pop_front();
        }
        report.done(report.fate, report.at);
    }
}

void WorkerThread::ReportEnd(int stopFd) const {
    if (report_.window && !Readable(stopFd)) NotificationWindow::PostEnded(report_.window, report_.line);
}

WorkerThread::~WorkerThread() {
    Join();
}

void WorkerThread::Start() {
    thread_ = std::thread([this] {
        OnStart();
        Execute();
        ended_.set_value();
    });
}

bool WorkerThread::WaitEnded(int timeoutMs) {
    if (!thread_.joinable()) return true;
    return endedFuture_.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
}

void WorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
}

// ---------------------------------------------------------------- receive

TReadThread::TReadThread(int fd, int stopFd, std::shared_ptr<NotificationWindow> window,
                         SharedReadTimeout readTimeout, unsigned line)
    : fd_(fd), stopFd_(stopFd), window_(std::move(window)), readTimeout_(std::move(readTimeout)) {
    report_ = {window_, line};
}

TReadThread::~TReadThread() {
    Join();
}

void TReadThread::Execute() {
    LogTimed(" Begin Execute ReadTread");
    // The line-error "mask": the driver's error counters, where it keeps
    // them. A driver without them (pseudo-terminals) simply reports none.
    serial::SysStatus st = serial::ReadLineErrorCounts(fd_, counts_);
    lineCounters_ = st.Ok();
    if (!st.Ok() && serial::IsDeviceGone(st.error)) {
        Log("不能SetCommMask: ");
    } else if (!SetupCommEvent()) {
        Log("不能设置通讯事件SetupCommEvent1: ");
    } else if (!SetupReadEvent()) {
        Log("Unable to SetupReadEvent: ");
    } else {
        LogTimed(" Set Read Thread OK");
        for (;;) {
            LogTimed(" Begin Wait 3 Read Events");
            WaitResult result = WaitEvents();
            LogTimed(" Wait A ReadThread Event OK");
            if (result == kWaitFailed) {
                Log("Read WAIT_FAILED: ");
                break;
            }
            if (result == kStop) break;
            if (result == kLineEvent) {
                if (!HandleCommEvent(true)) {
                    Log("Unable HandleCommEvent: ");
                    break;
                }
                if (!SetupCommEvent()) {
                    Log("Unable to SetupCommEvent2: ");
                    break;
                }
                continue;
            }
            if (!HandleReadEvent()) {
                Log("不能处理ReadEvent: ");
                break;
            }
            if (!SetupReadEvent()) break;
        }
    }
    LogTimed(" Read thread shutting down");
    serial::FlushInput(fd_);
    ReportEnd(stopFd_);
}

void TReadThread::StartRead() {
    count_ = 0;
    readError_ = 0;
}

void TReadThread::PumpRead(short revents) {
    if (readError_ != 0) return;
    bool gotAny = false;
    while (count_ < kReceiveBlockSize) {
        ssize_t n = read(fd_, buffer_ + count_, kReceiveBlockSize - count_);
        if (n > 0) {
            count_ += static_cast<std::size_t>(n);
            lastByte_ = Clock::now();
            gotAny = true;
            continue;
        }
        if (n == 0) {
            // With VMIN = VTIME = 0 an empty line also reads 0, so only a 0
            // right after poll reported the line readable means hung up.
            if (revents != 0 && !gotAny) readError_ = EIO;
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            readError_ = errno;
        } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !gotAny) {
            // Hang-up or error with nothing to read: waiting again would
            // spin, so the device counts as gone.
            readError_ = EIO;
        }
        break;
    }
}

bool TReadThread::ReadComplete() const {
    if (count_ >= kReceiveBlockSize || readError_ != 0) return true;
    if (count_ == 0) return false;
    std::uint16_t timeout = readTimeout_->load();
    return timeout == 0 || Clock::now() - lastByte_ >= std::chrono::milliseconds(timeout);
}

int TReadThread::ReadWaitMs() const {
    // Without limit until the first byte, then until the line has been
    // silent for the read time-out.
    if (ReadComplete()) return 0;
    if (count_ == 0) return -1;
    auto due = lastByte_ + std::chrono::milliseconds(readTimeout_->load());
    auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool TReadThread::LineErrorsChanged() {
    if (!lineCounters_) return false;
    serial::LineErrorCounts now;
    if (!serial::ReadLineErrorCounts(fd_, now).Ok()) return false;
    return !(now == counts_);
}

TReadThread::WaitResult TReadThread::WaitEvents() {
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        bool complete = ReadComplete();
        int r = poll(fds, complete ? 1 : 2, ReadWaitMs());
        if (r < 0) {
            if (errno == EINTR) continue;
            return kWaitFailed;
        }
        // The order of these tests is the precedence: stop, line errors,
        // data.
        if (fds[0].revents & POLLIN) return kStop;
        if (fds[0].revents & (POLLERR | POLLNVAL)) return kWaitFailed;
        if (!complete && fds[1].revents) PumpRead(fds[1].revents);
        if (LineErrorsChanged()) return kLineEvent;
        if (ReadComplete()) return kReadDone;
    }
}

bool TReadThread::SetupReadEvent() {
    for (;;) {
        if (Readable(stopFd_)) return false;
        StartRead();
        PumpRead(0);
        if (count_ == 0 && readError_ != 0) {
            if (serial::IsDeviceGone(readError_)) {
                Log("ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.");
            } else {
                Log("In SetupReadEvent,Unexpected ReadFile error: ");
            }
            return false;
        }
        if (!ReadComplete()) {
            LogTimed(" SetupReadEvent OK,Wait for Read Data.");
            return true;
        }
        LogTimed(" Some Data waiting for ReadFile");
        if (!HandleReadData(buffer_, count_)) return false;
    }
}

bool TReadThread::HandleReadEvent() {
    // Bytes that came before a failure are delivered; the failure shows
    // again on the next read.
    if (count_ > 0) return HandleReadData(buffer_, count_);
    if (serial::IsDeviceGone(readError_)) {
        Log("In HandleReadEvent,ERROR_INVALID_HANDLE,Likely closed the port.");
    } else {
        Log("Unexpected GetOverlappedResult Read Error: ");
    }
    return false;
}

bool TReadThread::HandleReadData(const char* bytes, std::size_t count) {
    if (count == 0) return false;
    LogTimed(" HandleReadData OK,Got something from Comm port!!!");
    Block block;
    block.data = Block::Allocate(count);
    if (!block.data) {
        Log("Errer LocalAlloc: ");
        return false;
    }
    std::memcpy(block.data.get(), bytes, count);
    block.count = static_cast<std::uint16_t>(count);
    return NotificationWindow::PostBlock(window_, std::move(block));
}

bool TReadThread::SetupCommEvent() {
    if (Readable(stopFd_)) return false;
    if (LineErrorsChanged()) {
        // Errors since the last look: logged, and the worker goes on; a
        // noisy line must not silence the port until it is reopened.
        LogTimed(" Event (Error) waiting before WaitCommEvent.");
        HandleCommEvent(false);
        return true;
    }
    LogTimed(" SetupCommEvent Ok,Waiting for a CommEvent (Error) to occur.");
    return true;
}

bool TReadThread::HandleCommEvent(bool /*collect*/) {
    serial::LineErrorCounts now;
    serial::SysStatus st = serial::ReadLineErrorCounts(fd_, now);
    if (!st.Ok()) {
        Log(serial::IsDeviceGone(st.error) ? "ERROR_INVALID_HANDLE, Likely closed the port."
                                           : "ClearCommError: ");
        return false;
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  " Line errors: frame %u, overrun %u, parity %u, break %u, buffer overrun %u",
                  now.frame - counts_.frame, now.overrun - counts_.overrun,
                  now.parity - counts_.parity, now.brk - counts_.brk,
                  now.bufOverrun - counts_.bufOverrun);
    LogTimed(text);
    counts_ = now;
    return true;
}

// --------------------------------------------------------------- transmit

TWriteThread::TWriteThread(int fd, int stopFd, EndedReport report)
    : fd_(fd), stopFd_(stopFd), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    report_ = std::move(report);
}

TWriteThread::~TWriteThread() {
    Join();
    if (wakeFd_ >= 0) close(wakeFd_);
}

void TWriteThread::OnStart() {
    // One step above normal; refused without the right, which is harmless.
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice - 1);
}

bool TWriteThread::Post(Block block) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || wakeFd_ < 0) return false;
        queue_.push_back(std::move(block));
    }
    std::uint64_t one = 1;
    while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    return true;
}

bool TWriteThread::TakeNext(Block& block) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    block = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void TWriteThread::CloseQueue() {
    std::deque<Block> left;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        left.swap(queue_);
    }
    for (Block& block : left) Report(block, SendFate::Dropped);
}

void TWriteThread::Report(Block& block, SendFate fate) const {
    NotificationWindow::PostSendFate(report_.window, std::move(block.done), fate);
    block.done = nullptr;
}

void TWriteThread::Execute() {
    if (wakeFd_ < 0) {
        Log("Unable to Create overlappedWrite Event: ");
    } else {
        for (;;) {
            Block block;
            if (!TakeNext(block)) {
                pollfd fds[2] = {{stopFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
                int r = poll(fds, 2, -1);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0 || (fds[0].revents & (POLLERR | POLLNVAL))) {
                    Log("Write WAIT_FAILED: ");
                    break;
                }
                if (fds[0].revents & POLLIN) break;
                if (fds[1].revents & POLLIN) Drain(wakeFd_);
                continue;
            }
            if (Readable(stopFd_)) {
                Report(block, SendFate::Dropped);
                break;
            }
            LogTimed(" Writing to comm port");
            if (!WriteBlock(block.data.get(), block.count)) {
                // Cut short by a close, or refused by the device.
                Report(block, Readable(stopFd_) ? SendFate::Dropped : SendFate::Failed);
                break;
            }
            // Told before the pause, so that the owner learns of the write
            // when it happened.
            Report(block, SendFate::Written);
            block.data.reset();
            Pause();
        }
    }
    CloseQueue();
    LogTimed(" Write thread shutting down");
    serial::FlushOutput(fd_);
    ReportEnd(stopFd_);
}

bool TWriteThread::WriteBlock(const char* block, std::size_t count) {
    std::size_t offset = 0;
    std::size_t remaining = count;
    bool waited = false;
    do {
        ssize_t n = write(fd_, block + offset, remaining);
        if (n < 0) {
            int error = errno;
            if (error == EINTR) continue;
            if (error == EAGAIN) {
                // Pending: wait for room or the stop event, nothing else.
                pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLOUT, 0}};
                int r = poll(fds, 2, -1);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0 || (fds[0].revents & (POLLERR | POLLNVAL))) {
                    Log("Write WAIT_FAILED: ");
                    return false;
                }
                if (fds[0].revents & POLLIN) return false;
                if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) &&
                    !(fds[1].revents & POLLOUT)) {
                    Log("ERROR_INVALID_HANDLE, Likely  closed the port.");
                    return false;
                }
                waited = true;
                continue;
            }
            if (serial::IsDeviceGone(error)) {
                Log(waited ? "ERROR_INVALID_HANDLE, Likely  closed the port."
                           : "ERROR_INVALID_HANDLE, Likely closed the port.");
            } else {
                Log(waited ? "Error writing to CommFile while waiting"
                           : "Error to writing to CommFile");
                Log("Closing TAPI");
            }
            return false;
        }
        offset += static_cast<std::size_t>(n);
        remaining -= static_cast<std::size_t>(n);
        waited = false;
    } while (remaining > 0);
    // The block as text up to its first zero byte, as the code page reads it.
    LogTimed(" Write OK:" + codec::FromCodePage(std::string_view(block, std::strlen(block))));
    return true;
}

void TWriteThread::Pause() {
    // Consecutive blocks leave at least 50 ms apart; the stop event cuts the
    // pause short.
    auto due = Clock::now() + std::chrono::milliseconds(kPauseAfterWriteMs);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        if (left <= 0) return;
        pollfd p{stopFd_, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0) return;
    }
}

}  // namespace ristova::comm
