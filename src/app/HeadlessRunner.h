#pragma once
// The program folder run without a window: the same core and start-up
// steps, every run of the site started whatever chkRun says, driven by the
// poll loop.
// One line per run event on standard output; what keeps a run from doing
// its work also on standard error.
#include <cstdio>
#include <memory>
#include <string>

#include "app/LineOutput.h"
#include "app/ProgramStartup.h"
#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/SecondTicker.h"
#include "run/RunEvents.h"

namespace ristova {

inline constexpr const char* kRunnerName = "ristova-run";

// "at controller relay kind source result detail": an empty field is "-",
// blanks inside the fixed fields are '_' and `at` is
// "YYYY-MM-DDTHH:MM:SS.mmm", so that the line splits into seven fields at
// its first six blanks; only the detail is free text.
std::string RunEventLine(const run::RunEvent& event);
// The standard error text of an event that tells of broken input or a
// failed tick (kind run, source engine); empty for every other event.
std::string RunProblemText(const run::RunEvent& event);

class HeadlessRunner : public run::IRunEventSink {
  public:
    // folder ends in '/' or is empty (the executable's folder). Null clock:
    // the system's.
    HeadlessRunner(EventLoop& loop, std::string folder, std::FILE* out = stdout,
                   std::FILE* err = stderr, IClock* clock = nullptr);
    ~HeadlessRunner() override;
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // Start-up and the start of the runs; empty, or what keeps them from
    // running and what to do about it.
    std::string Start();
    // Runs the loop until SIGTERM, SIGINT or SIGHUP, then stops cleanly.
    void Run();
    // The runs stop, the ports close, the journal is written out.
    void Stop();

    ProgramCore& Core() { return core_; }
    void OnRunEvent(const run::RunEvent& event) override;

  private:
    void SyncTimers();
    void CheckTick();
    // What keeps a controller of the site from starting; empty when none.
    std::string CannotRun(const std::string& file) const;
    // One line on standard error.
    void Tell(const std::string& text);
    void FlushOutput();

    EventLoop& loop_;
    LineOutput out_;
    LineOutput err_;
    ProgramCore core_;
    SecondTicker clockTick_;
    SecondTicker checkTick_;
    // While a run that should run is stopped (a start failed), it is
    // started again at the reconnect interval.
    IntervalTimer restartTick_;
    bool stopped_ = false;
};

}  // namespace ristova
