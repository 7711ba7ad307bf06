#pragma once
// The program folder run without a window: the same core and start-up
// steps, the engine started whatever chkRun says, driven by the poll loop.
// One line per run event on standard output.
#include <cstdio>
#include <memory>
#include <string>

#include "app/ProgramStartup.h"
#include "base/EventLoop.h"
#include "base/SecondTicker.h"
#include "run/RunEvents.h"

namespace ristova {

inline constexpr const char* kRunnerName = "ristova-run";

// "at controller relay kind source result detail"; an empty field is "-".
std::string RunEventLine(const run::RunEvent& event);

class HeadlessRunner : public run::IRunEventSink {
  public:
    // folder ends in '/' or is empty (the executable's folder).
    HeadlessRunner(EventLoop& loop, std::string folder, std::FILE* out = stdout,
                   std::FILE* err = stderr);
    ~HeadlessRunner() override;
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // Start-up and the start of the engine; empty, or what keeps it from
    // running and what to do about it.
    std::string Start();
    // Runs the loop until SIGTERM or SIGINT, then stops cleanly.
    void Run();
    // The engine stops, the port closes, the journal is written out.
    void Stop();

    ProgramCore& Core() { return core_; }
    void OnRunEvent(const run::RunEvent& event) override;

  private:
    void SyncTimers();
    void CheckTick();

    EventLoop& loop_;
    std::FILE* out_;
    std::FILE* err_;
    ProgramCore core_;
    SecondTicker clockTick_;
    SecondTicker checkTick_;
    IntervalTimer runTick_;
    bool stopped_ = false;
};

}  // namespace ristova
