#pragma once
// The state decoder plug-in: a shared library in "PowerDll/" with the two
// exports of include/ristova/state_plugin.h. It is loaded and called in a
// decoder host process (ristova-decoder-host), which a worker thread of its
// own talks to, so that a plug-in that hangs or crashes costs its states,
// not the engine. The main thread never waits for a decode: it queues decode
// jobs, and their texts and what went wrong come back through the
// main-thread poster. Only a load waits, at most kDecoderCallMs, for the
// host to tell what it found. Texts are decoded from code page 936 on the
// way.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/MainThreadPoster.h"
#include "base/SharedLibrary.h"
#include "controller/DecoderConnection.h"

namespace ristova::controller {

inline constexpr std::string_view kPluginMask = kSharedLibraryMask;
// Decode jobs waiting for a worker that is behind; beyond, the oldest goes.
inline constexpr std::size_t kMaxQueuedDecodes = 16;
// After a failure the host is started again at once; after the next ones
// it waits 1 s, doubling up to this, so that a plug-in that always fails
// costs neither the processor nor the journal much.
inline constexpr int kMaxDecoderRestartMs = 60000;

// False for a name that could reach outside the plug-in folder or is no file
// name at all: empty, "." or "..", a path separator, a ".." part, a control
// character.
bool IsSafePluginName(std::string_view name);

// The setup page's tool-tip text, asked of a host started for it and ended
// again in every case, so that the page waits for the host's start and at
// most kDecoderCallMs each for the load and the call. Empty when the name is
// refused, the file is missing, does not load or lacks the export, or the
// call fails.
std::string QueryPluginDescription(const std::string& dllFolder, const std::string& fileName,
                                   const std::string& hostProgram = DecoderHostProgram());

class StatePlugin {
  public:
    // One call of GetJDQState on these bytes: its text, empty for null and
    // when the call failed.
    using DecodeCall = std::function<std::string(const char* data, std::size_t count)>;
    // Runs on the worker: the calls that one received block needs.
    using DecodeJob = std::function<std::string(const DecodeCall& decode)>;
    using DecodeDone = std::function<void(std::string text)>;

    // Called on the main thread for the library loaded last.
    struct Handlers {
        // It did not load in its host: the loader's reason, or what the host did.
        std::function<void(const std::string& reason)> notLoaded;
        // A call took longer than kDecoderCallMs or the host ended: what
        // happened. The host is started again.
        std::function<void(const std::string& what)> failed;
        // The exports and the description became known.
        std::function<void()> changed;
    };

    explicit StatePlugin(IMainThreadPoster& poster, std::string hostProgram = DecoderHostProgram());
    ~StatePlugin();  // UnloadStatePlugin
    StatePlugin(const StatePlugin&) = delete;
    StatePlugin& operator=(const StatePlugin&) = delete;

    void SetHandlers(Handlers handlers);

    // Loads dllFolder + fileName in a host of its own. The same file loaded
    // already stays in use and nothing happens; another one is released
    // first. A refused name or a missing file loads nothing (false, with
    // LastError()). What the host finds goes to the handlers (notLoaded or
    // changed) before this returns, or later when the host takes longer
    // than kDecoderCallMs.
    bool LoadStatePlugin(const std::string& dllFolder, const std::string& fileName);
    // GetDeviceDescription's text once the host told it; empty until then
    // and when unresolved.
    const std::string& DeviceDescription() const;
    // Queues the job; done gets its text on the main thread, jobs in order.
    // Nothing happens when no load was started.
    void DecodeStates(DecodeJob job, DecodeDone done);
    // Ends the host; jobs not done yet are forgotten.
    void UnloadStatePlugin();

    // A library is loaded, or its host is loading it.
    bool IsLoaded() const;
    // It was found to export GetJDQState.
    bool HasDecoder() const;
    // Decode jobs queued whose done has not run yet.
    std::size_t Pending() const;
    // Full path of the loaded library; empty when none.
    const std::string& LoadedPath() const;
    // Why the last load loaded nothing; empty after a load.
    const std::string& LastError() const;

  private:
    struct State;
    class Worker;

    IMainThreadPoster& poster_;
    const std::string hostProgram_;
    std::shared_ptr<State> state_;
    std::unique_ptr<Worker> worker_;
};

}  // namespace ristova::controller
