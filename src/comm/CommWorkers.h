#pragma once
// The receive and transmit workers of TMyComport and what they share with
// the main thread. Each worker gets the device, the stop event and the
// notification window when it is made, and never touches the component
// afterwards. What the workers do is the same everywhere; how they wait on
// the device and the stop event is the platform's (StopEvent, DeviceReader
// and DeviceWriter: posix/CommWorkers.cpp).
#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "base/MainThreadPoster.h"
#include "base/NativeHandle.h"
#include "comm/MyComm32.h"
#include "comm/SerialLine.h"

namespace ristova::comm {

inline constexpr std::size_t kReceiveBlockSize = 2048;
inline constexpr int kPauseAfterWriteMs = 50;

using serial::LineErrorCounts;

// Manual-reset stop event: once signalled it stays so, and both workers
// see it.
class StopEvent {
  public:
    StopEvent() = default;
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;
    bool Create();
    void Signal();
    bool IsSignalled() const;
    // Waits at most timeoutMs; true when it is signalled.
    bool WaitFor(int timeoutMs) const;
    NativeHandle Handle() const { return handle_; }

  private:
    NativeHandle handle_ = kNoHandle;
};

// A heap block with a zero byte after its data; one owner at a time.
struct Block {
    std::unique_ptr<char[]> data;
    std::uint16_t count = 0;
    // A transmit block's owner, told what became of it.
    SendDoneHandler done;
    // A transmit block's place in the queue.
    SendOptions options;
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

// The receive worker's outstanding read and its waits. A read takes up to a
// block; it waits without limit for its first byte and ends when the line
// has been silent for the read time-out after one, when the block is full,
// or on an error.
class DeviceReader {
  public:
    DeviceReader(const serial::SerialDevice& device, const StopEvent& stop,
                 SharedReadTimeout readTimeout);
    ~DeviceReader();
    DeviceReader(const DeviceReader&) = delete;
    DeviceReader& operator=(const DeviceReader&) = delete;

    // Takes the line error counters as they stand, for LineErrorsChanged to
    // compare with. Fails when the driver keeps none (then no change is
    // ever seen) or when the device is gone.
    serial::SysStatus WatchLineErrors();
    // The counters moved since they were last taken.
    bool LineErrorsChanged();
    // The errors since the counters were last taken; takes them again.
    serial::SysStatus TakeLineErrors(LineErrorCounts& since);

    // Starts a read with what the device holds already.
    void StartRead();
    bool ReadComplete() const;
    // The read's bytes so far, and the error that ended it (0 while none).
    const char* Data() const;
    std::size_t Count() const;
    int Error() const;

    enum class Wake { Stop, LineEvent, ReadDone, Failed };
    // Waits for the stop event, a change of the line error counters or the
    // end of the read; when several come together, in that order.
    Wake Wait();

  private:
    // The platform's part of WatchLineErrors: asks the device to report line
    // events where it has to be asked.
    serial::SysStatus ArmLineEvents();

    const serial::SerialDevice& device_;
    // The driver keeps counters, and these are the ones last taken.
    bool lineCounters_ = false;
    LineErrorCounts counts_;
    struct Native;
    std::unique_ptr<Native> native_;
};

// The transmit worker's waits and writes.
class DeviceWriter {
  public:
    DeviceWriter(const serial::SerialDevice& device, const StopEvent& stop);
    ~DeviceWriter();
    DeviceWriter(const DeviceWriter&) = delete;
    DeviceWriter& operator=(const DeviceWriter&) = delete;

    // False when it could not make its wake-up event.
    bool Valid() const;
    // Any thread: a block was queued.
    void Wake();
    enum class WakeReason { Stop, Queued, Failed };
    // Waits for the stop event or a Wake, and takes the Wake.
    WakeReason WaitForWork();

    struct Written {
        enum Kind { Done, Stopped, WaitFailed, Gone, Refused } kind = Done;
        // It had to wait for the device to take bytes.
        bool waited = false;
    };
    // Writes the whole block; only the stop event cuts it short.
    Written Write(const char* data, std::size_t count);

  private:
    struct Native;
    std::unique_ptr<Native> native_;
};

// Sets the calling worker one step above normal priority; without the right
// it stays as it is, which is harmless.
void RaiseWorkerPriority();

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
    void ReportEnd(const StopEvent& stop) const;

    EndedReport report_;

  private:
    std::thread thread_;
    std::promise<void> ended_;
    std::future<void> endedFuture_ = ended_.get_future();
};

class TReadThread : public WorkerThread {
  public:
    TReadThread(serial::SerialDevice& device, const StopEvent& stop,
                std::shared_ptr<NotificationWindow> window, SharedReadTimeout readTimeout,
                unsigned line = 0);
    ~TReadThread() override;

  private:
    void Execute() override;
    bool SetupReadEvent();
    bool HandleReadEvent();
    bool HandleReadData(const char* bytes, std::size_t count);
    bool SetupCommEvent();
    bool HandleCommEvent();

    serial::SerialDevice& device_;
    const StopEvent& stop_;
    const std::shared_ptr<NotificationWindow> window_;
    DeviceReader reader_;
};

class TWriteThread : public WorkerThread {
  public:
    TWriteThread(serial::SerialDevice& device, const StopEvent& stop, EndedReport report = {});
    ~TWriteThread() override;
    enum class Posted { Queued, Closed, Full };
    // Main thread: queues a block by its options (see SendOptions); Closed
    // once the worker has ended, Full when kMaxQueuedBlocks wait already.
    Posted Post(Block block);

  private:
    void Execute() override;
    void OnStart() override;
    bool WriteBlock(const char* block, std::size_t count);
    void Report(Block& block, SendFate fate) const;
    bool TakeNext(Block& block);
    void Pause();
    void CloseQueue();

    serial::SerialDevice& device_;
    const StopEvent& stop_;
    DeviceWriter writer_;
    std::mutex mutex_;
    // Taken urgent first; each in the order queued.
    std::deque<Block> urgent_;
    std::deque<Block> ordinary_;
    bool closed_ = false;
};

}  // namespace ristova::comm
