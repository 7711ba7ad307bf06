#pragma once
// The receive and transmit workers of TMyComport and what they share with
// the main thread. Each worker gets its descriptor, the stop event and (the
// receive worker) the notification window when it is made, and never
// touches the component afterwards.
#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "base/MainThreadPoster.h"
#include "comm/MyComm32.h"
#include "comm/SerialLine.h"

namespace ristova::comm {

inline constexpr std::size_t kReceiveBlockSize = 2048;
inline constexpr int kPauseAfterWriteMs = 50;

// Manual-reset stop event: an eventfd that stays readable once signalled,
// so both workers see it.
class StopEvent {
  public:
    StopEvent() = default;
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;
    bool Create();
    void Signal();
    bool IsSignalled() const;
    int Fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// A heap block with a zero byte after its data; one owner at a time.
struct Block {
    std::unique_ptr<char[]> data;
    std::uint16_t count = 0;
    // A transmit block's owner, told what became of it.
    SendDoneHandler done;
    // Null when memory is short.
    static std::unique_ptr<char[]> Allocate(std::size_t count);
};

// Stands for the component's hidden window: it runs the handler on the main
// thread, one call per block, and frees each block after the call. Calls
// queued after the component went away only free their block.
class NotificationWindow {
  public:
    explicit NotificationWindow(IMainThreadPoster& poster) : poster_(poster) {}
    // Main thread.
    void SetHandler(TReceiveDataEvent handler) { handler_ = std::move(handler); }
    void SetEndedHandler(std::function<void()> handler) { endedHandler_ = std::move(handler); }
    void Destroy() { destroyed_ = true; }
    // Main thread: a new open starts a new line; news of an older one is
    // dropped when it arrives.
    unsigned NewLine() {
        ended_ = false;
        return ++line_;
    }
    bool Ended() const { return ended_; }
    // Any thread. False when the call could not be queued; the block is then
    // freed here.
    static bool PostBlock(const std::shared_ptr<NotificationWindow>& window, Block block);
    // Any thread: a worker of that line ended by itself.
    static void PostEnded(const std::shared_ptr<NotificationWindow>& window, unsigned line);
    // Any thread: a transmit block's fate, stamped now; delivered on the main
    // thread in the order reported.
    static void PostSendFate(const std::shared_ptr<NotificationWindow>& window,
                             SendDoneHandler done, SendFate fate);
    // Main thread: delivers the fates reported so far, one at a time, so
    // that a handler that closes the port keeps the order.
    void DeliverSendFates();

  private:
    struct FateReport {
        SendDoneHandler done;
        SendFate fate;
        std::chrono::steady_clock::time_point at;
    };

    IMainThreadPoster& poster_;
    TReceiveDataEvent handler_;
    std::function<void()> endedHandler_;
    bool destroyed_ = false;
    bool ended_ = false;
    unsigned line_ = 0;
    std::mutex fatesMutex_;
    std::deque<FateReport> fates_;
    // A delivery call is queued on the poster.
    bool fatesPosted_ = false;
};

// What a worker needs to report that it ended by itself.
struct EndedReport {
    std::shared_ptr<NotificationWindow> window;
    unsigned line = 0;
};

// The read time-out lives with the device: ApplyLineSettings sets it and
// the receive worker's next read uses it.
using SharedReadTimeout = std::shared_ptr<std::atomic<std::uint16_t>>;

class WorkerThread {
  public:
    virtual ~WorkerThread();
    // Throws std::system_error when no thread can be made.
    void Start();
    // True once Execute has returned; waits at most timeoutMs.
    bool WaitEnded(int timeoutMs);
    void Join();

  protected:
    virtual void Execute() = 0;
    virtual void OnStart() {}
    // After Execute: tells the main thread unless the stop event ended it.
    void ReportEnd(int stopFd) const;

    EndedReport report_;

  private:
    std::thread thread_;
    std::promise<void> ended_;
    std::future<void> endedFuture_ = ended_.get_future();
};

class TReadThread : public WorkerThread {
  public:
    TReadThread(int fd, int stopFd, std::shared_ptr<NotificationWindow> window,
                SharedReadTimeout readTimeout, unsigned line = 0);
    ~TReadThread() override;

  private:
    enum WaitResult { kStop = 0, kLineEvent = 1, kReadDone = 2, kWaitFailed = -1 };

    void Execute() override;
    bool SetupReadEvent();
    bool HandleReadEvent();
    bool HandleReadData(const char* bytes, std::size_t count);
    bool SetupCommEvent();
    bool HandleCommEvent(bool collect);
    WaitResult WaitEvents();

    void StartRead();
    void PumpRead(short revents);
    bool ReadComplete() const;
    int ReadWaitMs() const;
    bool LineErrorsChanged();

    const int fd_;
    const int stopFd_;
    const std::shared_ptr<NotificationWindow> window_;
    const SharedReadTimeout readTimeout_;

    // The outstanding read: bytes so far, the time of the last one, and the
    // error that ended it (0 while none).
    char buffer_[kReceiveBlockSize];
    std::size_t count_ = 0;
    std::chrono::steady_clock::time_point lastByte_;
    int readError_ = 0;

    bool lineCounters_ = false;
    serial::LineErrorCounts counts_;
};

class TWriteThread : public WorkerThread {
  public:
    TWriteThread(int fd, int stopFd, EndedReport report = {});
    ~TWriteThread() override;
    // Main thread: queues a block; false once the worker has ended.
    bool Post(Block block);

  private:
    void Execute() override;
    void OnStart() override;
    bool WriteBlock(const char* block, std::size_t count);
    void Report(Block& block, SendFate fate) const;
    bool TakeNext(Block& block);
    void Pause();
    void CloseQueue();

    const int fd_;
    const int stopFd_;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::deque<Block> queue_;
    bool closed_ = false;
};

}  // namespace ristova::comm
