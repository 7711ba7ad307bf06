#include "controller/StatePlugin.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/Codec.h"
#include "base/Files.h"
#include "comm/CommWorkers.h"

namespace ristova::controller {

namespace {

using Steady = std::chrono::steady_clock;

// Neither the library search path nor anything outside the folder is ever
// tried: only a safe name of an existing file.
bool PluginFile(const std::string& dllFolder, const std::string& fileName, std::string& path,
                std::string& error) {
    if (!IsSafePluginName(fileName)) {
        error = "name refused";
        return false;
    }
    path = dllFolder + fileName;
    if (path.find('/') == std::string::npos || !IsRegularFile(path)) {
        error = "no such file";
        return false;
    }
    return true;
}

std::chrono::milliseconds RestartDelay(int failures) {
    if (failures <= 1) return std::chrono::milliseconds(0);
    const int doublings = std::min(failures - 2, 16);
    return std::chrono::milliseconds(std::min(1000 << doublings, kMaxDecoderRestartMs));
}

}  // namespace

bool IsSafePluginName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find("..") != std::string_view::npos) return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
}

std::string QueryPluginDescription(const std::string& dllFolder, const std::string& fileName,
                                   const std::string& hostProgram) {
    std::string path, error;
    if (!PluginFile(dllFolder, fileName, path, error)) return {};
    DecoderConnection host(hostProgram);
    if (!host.Start(path).ok || !host.Report().hasDescription) return {};
    const DecoderConnection::Outcome out = host.Call(DecoderFrame::Describe, {});
    return out.ok ? codec::FromCodePage(out.text) : std::string();
}

// The main thread's side: what the host told of the library loaded last.
struct StatePlugin::State {
    Handlers handlers;
    // Each load and unload starts a new one: news of an older host is dropped.
    unsigned generation = 0;
    bool loaded = false;
    bool hasDecoder = false;
    std::size_t pending = 0;
    std::string description;
    std::string path;
    std::string lastError;
};

// One host for one library: starts it, asks it for the description, then
// takes the decode jobs in order. Only the constructor, Submit, AwaitLoad,
// TakeLoad and the destructor run on the main thread; everything else it
// tells goes through the poster.
class StatePlugin::Worker {
  public:
    // The host is started here, on the main thread: it then holds nothing
    // of this process's when the main thread closes and opens ports again.
    Worker(IMainThreadPoster& poster, std::shared_ptr<State> state, std::string hostProgram,
           std::string library)
        : poster_(poster),
          state_(std::move(state)),
          generation_(state_->generation),
          library_(std::move(library)),
          host_(std::move(hostProgram)),
          spawned_(host_.Spawn(library_)) {
        stop_.Create();
        thread_ = std::thread([this] { Run(); });
    }

    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        stop_.Signal();
        wake_.notify_all();
        thread_.join();
    }

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Submit(DecodeJob job, DecodeDone done) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.size() >= kMaxQueuedDecodes) {
            // Its done still runs, so that the pending count stays true.
            Finish(std::move(jobs_.front().second), {});
            jobs_.pop_front();
        }
        jobs_.emplace_back(std::move(job), std::move(done));
        wake_.notify_one();
    }

    // Waits up to timeoutMs for the load's news.
    void AwaitLoad(int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        loadTold_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return load_.done; });
    }

    // Applies the load's news once, whichever comes first: the start that
    // waited for it or the call posted with it.
    void TakeLoad(State& state) {
        Load load;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!load_.done || load_.taken) return;
            load_.taken = true;
            load = load_;
        }
        if (!load.loaded) {
            state.loaded = false;
            state.lastError = load.reason;
            if (state.handlers.notLoaded) state.handlers.notLoaded(load.reason);
            return;
        }
        state.hasDecoder = load.hasDecoder;
        state.description = load.description;
        if (state.handlers.changed) state.handlers.changed();
    }

  private:
    struct Load {
        bool done = false;
        bool taken = false;
        bool loaded = false;
        bool hasDecoder = false;
        std::string reason;  // why not loaded
        std::string description;
    };

    // Runs the call on the main thread while this is the library loaded
    // last; only then does this worker still exist.
    void Post(std::function<void(State&)> call) {
        poster_.Post([state = state_, generation = generation_, call = std::move(call)] {
            if (state->generation == generation) call(*state);
        });
    }

    void Finish(DecodeDone done, std::string text) {
        Post([done = std::move(done), text = std::move(text)](State& state) mutable {
            --state.pending;
            if (done) done(std::move(text));
        });
    }

    void TellLoad(Load load) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            load.done = true;
            load_ = std::move(load);
        }
        loadTold_.notify_all();
        Post([this](State& state) { TakeLoad(state); });
    }

    bool Stopping() {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopping_;
    }

    void Run() {
        const DecoderConnection::Outcome out =
            spawned_.ok ? host_.AwaitLoad(stop_.Handle()) : spawned_;
        if (out.stopped) return;
        Load load;
        load.loaded = loaded_ = out.ok && host_.Report().loaded;
        if (!loaded_) {
            load.reason = out.ok ? host_.Report().error : out.text;
        } else {
            load.hasDecoder = hasDecoder_ = host_.Report().hasDecoder;
            if (host_.Report().hasDescription) load.description = Call(DecoderFrame::Describe, {});
        }
        TellLoad(std::move(load));
        // Without a library the jobs still end, with nothing decoded.
        const DecodeCall decode = [this](const char* data, std::size_t count) {
            return hasDecoder_ ? Call(DecoderFrame::Decode, std::string_view(data, count))
                               : std::string();
        };
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) break;
            auto [job, done] = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            jobFailed_ = false;
            Finish(std::move(done), job(decode));
            // Ready for the next block before it comes.
            if (loaded_ && !host_.Running()) Restart();
        }
        host_.Stop();
    }

    // One call of the plug-in. After a failure the rest of the job gets
    // nothing, and no call is made until the host is up again.
    std::string Call(DecoderFrame request, std::string_view payload) {
        if (jobFailed_ || Stopping()) return {};
        if (!host_.Running() && !Restart()) return {};
        const DecoderConnection::Outcome out = host_.Call(request, payload, stop_.Handle());
        if (out.ok) {
            failures_ = 0;
            return codec::FromCodePage(out.text);
        }
        if (!out.stopped) Fail(out.text);
        return {};
    }

    // From this thread: a port that the main thread opens again within the
    // few ms of the start may find it busy once, and the line watch tries
    // again.
    bool Restart() {
        if (Steady::now() < restartAt_) return false;
        const DecoderConnection::Outcome out = host_.Start(library_, stop_.Handle());
        if (out.ok && host_.Report().loaded) return true;
        if (!out.stopped) Fail("not started again: " + (out.ok ? host_.Report().error : out.text));
        return false;
    }

    void Fail(std::string what) {
        host_.Stop();
        jobFailed_ = true;
        ++failures_;
        restartAt_ = Steady::now() + RestartDelay(failures_);
        Post([what = std::move(what)](State& state) {
            if (state.handlers.failed) state.handlers.failed(what);
        });
    }

    IMainThreadPoster& poster_;
    const std::shared_ptr<State> state_;  // read on the main thread only
    const unsigned generation_;
    const std::string library_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable loadTold_;
    Load load_;
    std::deque<std::pair<DecodeJob, DecodeDone>> jobs_;
    bool stopping_ = false;
    comm::StopEvent stop_;

    // The worker's own once it runs.
    DecoderConnection host_;
    const DecoderConnection::Outcome spawned_;
    bool loaded_ = false;
    bool hasDecoder_ = false;
    bool jobFailed_ = false;
    int failures_ = 0;
    Steady::time_point restartAt_{};

    std::thread thread_;
};

StatePlugin::StatePlugin(IMainThreadPoster& poster, std::string hostProgram)
    : poster_(poster), hostProgram_(std::move(hostProgram)), state_(std::make_shared<State>()) {}

StatePlugin::~StatePlugin() {
    UnloadStatePlugin();
    state_->handlers = {};
}

void StatePlugin::SetHandlers(Handlers handlers) {
    state_->handlers = std::move(handlers);
}

bool StatePlugin::LoadStatePlugin(const std::string& dllFolder, const std::string& fileName) {
    if (worker_ && state_->loaded && state_->path == dllFolder + fileName) return true;
    // Another controller's plug-in would decode this one's answers wrongly.
    UnloadStatePlugin();
    std::string path;
    if (!PluginFile(dllFolder, fileName, path, state_->lastError)) return false;
    state_->lastError.clear();
    state_->loaded = true;
    state_->path = path;
    worker_ = std::make_unique<Worker>(poster_, state_, hostProgram_, path);
    // A few ms as a rule: the run's start then knows the description and
    // whether the library loaded, as the run page and the broker's
    // discovery expect. A host slower than a call's deadline is heard later.
    worker_->AwaitLoad(kDecoderCallMs);
    worker_->TakeLoad(*state_);
    return true;
}

const std::string& StatePlugin::DeviceDescription() const {
    return state_->description;
}

void StatePlugin::DecodeStates(DecodeJob job, DecodeDone done) {
    if (!worker_) return;
    ++state_->pending;
    worker_->Submit(std::move(job), std::move(done));
}

void StatePlugin::UnloadStatePlugin() {
    worker_.reset();
    ++state_->generation;
    state_->loaded = false;
    state_->hasDecoder = false;
    state_->pending = 0;
    state_->description.clear();
    state_->path.clear();
}

bool StatePlugin::IsLoaded() const {
    return state_->loaded;
}

bool StatePlugin::HasDecoder() const {
    return state_->hasDecoder;
}

std::size_t StatePlugin::Pending() const {
    return state_->pending;
}

const std::string& StatePlugin::LoadedPath() const {
    return state_->path;
}

const std::string& StatePlugin::LastError() const {
    return state_->lastError;
}

}  // namespace ristova::controller
