#pragma once
// One decoder host (ristova-decoder-host) started for one plug-in library
// and asked one call at a time. Every wait is bounded: the host's own start
// by kDecoderHostStartMs, each call of the plug-in, its loading included, by
// kDecoderCallMs. A call that fails leaves the host killed.
#include <string>
#include <string_view>

#include "base/HelperProcess.h"
#include "base/NativeHandle.h"
#include "controller/DecoderProtocol.h"

namespace ristova::controller {

inline constexpr const char* kDecoderHostName = "ristova-decoder-host";
inline constexpr int kDecoderCallMs = 500;
// Our own program, on a machine that may be busy; no plug-in code runs yet.
inline constexpr int kDecoderHostStartMs = 5000;

// The host beside the running program.
std::string DecoderHostProgram();
// The host for a library: on Windows a 32-bit library needs the 32-bit host
// (the name with "32"), as a process loads only libraries of its own width.
std::string DecoderHostFor(const std::string& hostProgram, const std::string& library);

class DecoderConnection {
  public:
    struct Outcome {
        bool ok = false;       // answered; text is the answer
        bool stopped = false;  // the stop handle cut it short
        std::string text;      // else what went wrong, e.g. "no answer within 500 ms"
    };

    explicit DecoderConnection(std::string hostProgram) : hostProgram_(std::move(hostProgram)) {}

    // Starts a host for the library; returns once it runs (a few ms), so
    // that it holds none of this process's ports.
    Outcome Spawn(const std::string& library);
    // Waits for the host's start and its load of the library. ok: it told
    // what it found (Report(): loaded or not, and why).
    Outcome AwaitLoad(NativeHandle stop = kNoHandle);
    Outcome Start(const std::string& library, NativeHandle stop = kNoHandle) {
        Outcome out = Spawn(library);
        return out.ok ? AwaitLoad(stop) : out;
    }
    // Describe or Decode; the answer is the plug-in's text.
    Outcome Call(DecoderFrame request, std::string_view payload, NativeHandle stop = kNoHandle);
    const DecoderLoadReport& Report() const { return report_; }
    bool Running() const { return process_.Started(); }
    void Stop() { process_.Kill(); }

  private:
    Outcome Receive(DecoderFrame expected, std::string& payload, int timeoutMs, NativeHandle stop,
                    const std::string& late);
    Outcome Failed(std::string what);
    // A wait that did not end in Done; late is the text of a time-out.
    Outcome Failed(HelperProcess::Io io, const std::string& late);

    std::string hostProgram_;
    HelperProcess process_;
    DecoderFrameReader reader_;
    DecoderLoadReport report_;
};

}  // namespace ristova::controller
