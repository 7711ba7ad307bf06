#pragma once
// What a view reads of a controller's run and asks of it, and of the site
// that holds the runs: the run page and the strip of runs draw from these.
// The runs of this process (ControllerRun in a Site) are one kind; the runs
// of an engine in another process, seen through its API, are another.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "controller/ControllerDefinition.h"
#include "plan/PlanRow.h"
#include "run/RunEvents.h"

namespace ristova::run {

// The run line as a running run sees it (Normal while stopped).
enum class LineState { Normal, Lost, NoAnswer };

// What the line did since the start, as the run page's lbCom tells it.
enum class ComStatus {
    Stopped,        // not running
    Opened,         // the port opened at the start
    StartFailed,    // it did not open at the start (ComFailure() says why)
    StartRetrying,  // and the reopens since have failed too
    Lost,           // it was open and went away; reopening
    Reconnected,    // it came back
    NoAnswer,       // open, but the board has not answered for 5 s
};

// What a switch asked for came to.
enum class SwitchResult {
    // Nothing was due: not running, manual operation off, no such relay, the
    // states unknown, a request neither on nor off.
    Refused,
    // Due but not queued: the line is lost, or the command is empty, not
    // hex, too long, or refused by the port.
    NotSent,
    // Queued on the run port; "sent" or "dropped" is published once the
    // writer is done with it.
    Queued,
};

// A row of the loaded plan table: number, relay, time, action, two uses.
using PlanRowCells = std::array<std::string, 6>;

class RunView {
  public:
    virtual ~RunView() = default;

    // Each run of the program has its own number.
    virtual std::uint64_t Id() const = 0;
    virtual const std::string& File() const = 0;
    virtual const std::string& ControllerPath() const = 0;
    virtual const controller::ControllerDefinition& Definition() const = 0;
    int RelayCount() const { return Definition().RelayCount(); }

    virtual bool Running() const = 0;
    virtual LineState Line() const = 0;
    virtual ComStatus Com() const = 0;
    // Why the port did not open, for StartFailed and StartRetrying.
    virtual const std::string& ComFailure() const = 0;
    // The states are not confirmed (drawn grey; no switching).
    bool StatesUnknown() const { return Running() && Line() != LineState::Normal; }
    // Decoded relay states, one character a relay ('1' on).
    virtual const std::string& States() const = 0;
    bool RelayOn(int relay) const {
        const std::string& s = States();
        return relay >= 1 && relay <= static_cast<int>(s.size()) &&
               s[static_cast<std::size_t>(relay - 1)] == '1';
    }
    // The relay did not follow its last command.
    virtual bool RelayMismatch(int relay) const = 0;
    // Blocks received (the lamp blinks on each).
    virtual std::uint64_t BlocksReceived() const = 0;
    // The relay of the last timed or re-asserted command, and how many such
    // commands there were: the monitor makes that relay its current row.
    virtual int CommandedRelay() const = 0;
    virtual std::uint64_t CommandsIssued() const = 0;

    virtual const std::string& PlanPath() const = 0;
    virtual const Date& PlanDate() const = 0;
    virtual const Date& LastRunDate() const = 0;
    virtual const std::vector<PlanRowCells>& PlanRows() const = 0;
    virtual const std::vector<plan::TPlanAction>& PlanActions() const = 0;
    virtual int UnreadablePlanRows() const = 0;

    // It started at least once; the texts below are of the last start.
    virtual bool EverStarted() const = 0;
    virtual const std::string& StartedStateQuery() const = 0;
    virtual const std::string& DecoderPath() const = 0;
    virtual std::string DecoderDescription() const = 0;

    // Grow on every change a view shows, every plan load, every reading of
    // the definition and every start.
    virtual std::uint64_t Revision() const = 0;
    virtual std::uint64_t PlanLoads() const = 0;
    virtual std::uint64_t DefinitionReads() const = 0;
    virtual std::uint64_t Starts() const = 0;

    // A switch of relay k as a manual click does it (see ControllerRun).
    virtual SwitchResult Switch(int relay, std::optional<bool> on, const char* source) = 0;
    // A click: the relay goes to the other state from the one decoded.
    SwitchResult Toggle(int relay, const char* source) { return Switch(relay, !RelayOn(relay), source); }
};

class SiteView {
  public:
    virtual ~SiteView() = default;

    // Reads which controllers run (for an attached view: asks the engine).
    virtual void Configure() = 0;
    virtual std::vector<RunView*> RunViews() const = 0;
    // By file name: the exact name first, then without regard to case.
    virtual RunView* FindRun(const std::string& file) const = 0;
    // The page's list only picks what is shown (several run together, or
    // the runs belong to another process).
    virtual bool Several() const = 0;
    // The one run controller, a new run of the file; null where the page
    // cannot choose it.
    virtual RunView* UseSingle(const std::string& file) = 0;
    virtual bool AnyRunning() const = 0;
    virtual void StartAll() = 0;
    virtual void StopAll() = 0;
    // The run whose panel 3 news the status bar shows (empty: every run's).
    virtual void SetShownController(const std::string& file) = 0;

    // The hosts' ticks, and which of them the site needs now.
    struct Ticks {
        bool check = false;  // and the 200 ms tick
        bool retry = false;
    };
    virtual Ticks Needed() const = 0;
    virtual void ClockTick() = 0;
    virtual void CheckTick() = 0;
    virtual void WatchLines() = 0;
    virtual void Shutdown() = 0;
    virtual int MillisecondsToNextSecond() const = 0;

    virtual RunEventHub& Events() = 0;
    // Grows on every change of a run or of the set of runs.
    virtual std::uint64_t Revision() const = 0;
};

}  // namespace ristova::run
