#include "comm/CommWorkers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "base/Codec.h"

namespace ristova::comm {

using Clock = std::chrono::steady_clock;

namespace {

void Log(const std::string& text) {
    WriteCommLog(text);
}
void LogTimed(const std::string& text) {
    WriteCommLogTimed(text);
}

}  // namespace

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

void WorkerThread::ReportEnd(const StopEvent& stop) const {
    if (report_.window && !stop.IsSignalled())
        NotificationWindow::PostEnded(report_.window, report_.line);
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

serial::SysStatus DeviceReader::WatchLineErrors() {
    if (const serial::SysStatus armed = ArmLineEvents(); !armed.Ok()) return armed;
    const serial::SysStatus st = device_.ReadLineErrorCounts(counts_);
    lineCounters_ = st.Ok();
    return st;
}

bool DeviceReader::LineErrorsChanged() {
    if (!lineCounters_) return false;
    LineErrorCounts now;
    if (!device_.ReadLineErrorCounts(now).Ok()) return false;
    return !(now == counts_);
}

serial::SysStatus DeviceReader::TakeLineErrors(LineErrorCounts& since) {
    LineErrorCounts now;
    const serial::SysStatus st = device_.ReadLineErrorCounts(now);
    if (!st.Ok()) return st;
    since = {now.frame - counts_.frame, now.overrun - counts_.overrun,
             now.parity - counts_.parity, now.brk - counts_.brk,
             now.bufOverrun - counts_.bufOverrun};
    counts_ = now;
    return st;
}

TReadThread::TReadThread(serial::SerialDevice& device, const StopEvent& stop,
                         std::shared_ptr<NotificationWindow> window, SharedReadTimeout readTimeout,
                         unsigned line)
    : device_(device),
      stop_(stop),
      window_(std::move(window)),
      reader_(device, stop, std::move(readTimeout)) {
    report_ = {window_, line};
}

TReadThread::~TReadThread() {
    Join();
}

void TReadThread::Execute() {
    LogTimed(" Begin Execute ReadTread");
    // The line-error "mask": the driver's error counters, where it keeps
    // them. A driver without them (pseudo-terminals) simply reports none.
    const serial::SysStatus st = reader_.WatchLineErrors();
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
            const DeviceReader::Wake wake = reader_.Wait();
            LogTimed(" Wait A ReadThread Event OK");
            if (wake == DeviceReader::Wake::Failed) {
                Log("Read WAIT_FAILED: ");
                break;
            }
            if (wake == DeviceReader::Wake::Stop) break;
            if (wake == DeviceReader::Wake::LineEvent) {
                if (!HandleCommEvent()) {
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
    device_.FlushInput();
    ReportEnd(stop_);
}

bool TReadThread::SetupReadEvent() {
    for (;;) {
        if (stop_.IsSignalled()) return false;
        reader_.StartRead();
        if (reader_.Count() == 0 && reader_.Error() != 0) {
            if (serial::IsDeviceGone(reader_.Error())) {
                Log("ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.");
            } else {
                Log("In SetupReadEvent,Unexpected ReadFile error: ");
            }
            return false;
        }
        if (!reader_.ReadComplete()) {
            LogTimed(" SetupReadEvent OK,Wait for Read Data.");
            return true;
        }
        LogTimed(" Some Data waiting for ReadFile");
        if (!HandleReadData(reader_.Data(), reader_.Count())) return false;
    }
}

bool TReadThread::HandleReadEvent() {
    // Bytes that came before a failure are delivered; the failure shows
    // again on the next read.
    if (reader_.Count() > 0) return HandleReadData(reader_.Data(), reader_.Count());
    if (serial::IsDeviceGone(reader_.Error())) {
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
    if (stop_.IsSignalled()) return false;
    if (reader_.LineErrorsChanged()) {
        // Errors since the last look: logged, and the worker goes on; a
        // noisy line must not silence the port until it is reopened.
        LogTimed(" Event (Error) waiting before WaitCommEvent.");
        HandleCommEvent();
        return true;
    }
    LogTimed(" SetupCommEvent Ok,Waiting for a CommEvent (Error) to occur.");
    return true;
}

bool TReadThread::HandleCommEvent() {
    LineErrorCounts since;
    const serial::SysStatus st = reader_.TakeLineErrors(since);
    if (!st.Ok()) {
        Log(serial::IsDeviceGone(st.error) ? "ERROR_INVALID_HANDLE, Likely closed the port."
                                           : "ClearCommError: ");
        return false;
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  " Line errors: frame %u, overrun %u, parity %u, break %u, buffer overrun %u",
                  since.frame, since.overrun, since.parity, since.brk, since.bufOverrun);
    LogTimed(text);
    return true;
}

// --------------------------------------------------------------- transmit

TWriteThread::TWriteThread(serial::SerialDevice& device, const StopEvent& stop, EndedReport report)
    : device_(device), stop_(stop), writer_(device, stop) {
    report_ = std::move(report);
}

TWriteThread::~TWriteThread() {
    Join();
}

void TWriteThread::OnStart() {
    RaiseWorkerPriority();
}

TWriteThread::Posted TWriteThread::Post(Block block) {
    Block replaced;
    bool replacing = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || !writer_.Valid()) return Posted::Closed;
        const std::uint32_t key = block.options.key;
        const auto same = key == 0
                              ? ordinary_.end()
                              : std::find_if(ordinary_.begin(), ordinary_.end(),
                                             [&](const Block& b) { return b.options.key == key; });
        if (same != ordinary_.end()) {
            replacing = true;
            replaced = std::move(*same);
            if (block.options.urgent) {
                ordinary_.erase(same);
                urgent_.push_back(std::move(block));
            } else {
                *same = std::move(block);
            }
        } else if (urgent_.size() + ordinary_.size() >= kMaxQueuedBlocks) {
            return Posted::Full;
        } else {
            (block.options.urgent ? urgent_ : ordinary_).push_back(std::move(block));
        }
    }
    if (replacing) Report(replaced, SendFate::Replaced);
    writer_.Wake();
    return Posted::Queued;
}

bool TWriteThread::TakeNext(Block& block) {
    std::lock_guard lock(mutex_);
    std::deque<Block>& from = urgent_.empty() ? ordinary_ : urgent_;
    if (from.empty()) return false;
    block = std::move(from.front());
    from.pop_front();
    return true;
}

void TWriteThread::CloseQueue() {
    std::deque<Block> left;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        left.swap(urgent_);
        std::move(ordinary_.begin(), ordinary_.end(), std::back_inserter(left));
        ordinary_.clear();
    }
    for (Block& block : left) Report(block, SendFate::Dropped);
}

void TWriteThread::Report(Block& block, SendFate fate) const {
    NotificationWindow::PostSendFate(report_.window, std::move(block.done), fate);
    block.done = nullptr;
}

void TWriteThread::Execute() {
    if (!writer_.Valid()) {
        Log("Unable to Create overlappedWrite Event: ");
    } else {
        for (;;) {
            Block block;
            if (!TakeNext(block)) {
                const DeviceWriter::WakeReason why = writer_.WaitForWork();
                if (why == DeviceWriter::WakeReason::Failed) {
                    Log("Write WAIT_FAILED: ");
                    break;
                }
                if (why == DeviceWriter::WakeReason::Stop) break;
                continue;
            }
            if (stop_.IsSignalled()) {
                Report(block, SendFate::Dropped);
                break;
            }
            LogTimed(" Writing to comm port");
            if (!WriteBlock(block.data.get(), block.count)) {
                // Cut short by a close, or refused by the device.
                Report(block, stop_.IsSignalled() ? SendFate::Dropped : SendFate::Failed);
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
    device_.FlushOutput();
    ReportEnd(stop_);
}

bool TWriteThread::WriteBlock(const char* block, std::size_t count) {
    const DeviceWriter::Written written = writer_.Write(block, count);
    switch (written.kind) {
        case DeviceWriter::Written::Done:
            // The block as text up to its first zero byte, as the code page
            // reads it.
            LogTimed(" Write OK:" +
                     codec::FromCodePage(std::string_view(block, std::strlen(block))));
            return true;
        case DeviceWriter::Written::Stopped:
            return false;
        case DeviceWriter::Written::WaitFailed:
            Log("Write WAIT_FAILED: ");
            return false;
        case DeviceWriter::Written::Gone:
            Log(written.waited ? "ERROR_INVALID_HANDLE, Likely  closed the port."
                               : "ERROR_INVALID_HANDLE, Likely closed the port.");
            return false;
        case DeviceWriter::Written::Refused:
            Log(written.waited ? "Error writing to CommFile while waiting"
                               : "Error to writing to CommFile");
            Log("Closing TAPI");
            return false;
    }
    return false;
}

void TWriteThread::Pause() {
    // Consecutive blocks leave at least 50 ms apart; the stop event cuts the
    // pause short.
    auto due = Clock::now() + std::chrono::milliseconds(kPauseAfterWriteMs);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        if (left <= 0) return;
        if (stop_.WaitFor(static_cast<int>(left))) return;
    }
}

}  // namespace ristova::comm
