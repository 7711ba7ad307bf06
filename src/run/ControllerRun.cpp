#include "run/ControllerRun.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <unordered_map>

#include "base/DataFolder.h"
#include "base/Errors.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "comm/HexCommand.h"
#include "controller/ControllerFile.h"
#include "plan/PlanFile.h"
#include "run/Housekeeping.h"
#include "run/PlanSelection.h"

namespace ristova::run {

namespace {

using plan::kLastSecondOfDay;

LocalDateTime AddMilliseconds(LocalDateTime t, long long ms) {
    constexpr long long kDayMs = 86400000LL;
    const long long total = TimeToSeconds(t) * 1000LL + t.millisecond + ms;
    t.date = t.date.AddDays(static_cast<int>(total / kDayMs));
    const long long inDay = total % kDayMs;
    t.hour = static_cast<int>(inDay / 3600000);
    t.minute = static_cast<int>(inDay / 60000 % 60);
    t.second = static_cast<int>(inDay / 1000 % 60);
    t.millisecond = static_cast<int>(inDay % 1000);
    return t;
}

std::uint64_t NextRunId() {
    static std::uint64_t next = 0;
    return ++next;
}

}  // namespace

ControllerRun::ControllerRun(AppContext& ctx, std::string controllerFile, IRunEventSink& events)
    : ctx_(ctx),
      path_(std::move(controllerFile)),
      events_(events),
      port_(ctx.poster),
      plugin_(ctx.poster),
      id_(NextRunId()) {
    port_.SetCommPort("COM1");
    port_.SetReadTimeout(10);
    port_.SetOnReceiveData(
        [this](const char* buffer, std::uint16_t length) { COMRUNReceiveData(buffer, length); });
    port_.SetOnLineEnded([this] { OnLineEnded(); });
    plugin_.SetHandlers(
        {.notLoaded = [this](const std::string& reason) { DecoderNotLoaded(reason); },
         .failed =
             [this](const std::string& what) {
                 Message(kDecoderFailedPrefix + definition_.decoder);
                 Publish(0, "run", "engine", "decoder-failed", decoderPath_ + ": " + what);
             },
         .changed = [this] { Changed(); }});
    ReadDefinition();
    lastRunDate_ = planDate_ = ctx_.clock.Now().date;
}

ControllerRun::~ControllerRun() {
    port_.ClosePort();
    Shutdown();
}

void ControllerRun::Changed() {
    ++revision_;
    if (onChanged_) onChanged_();
}

void ControllerRun::Message(const std::string& text) {
    if (onMessage_) onMessage_(text);
}

RunEvent ControllerRun::NewEvent(int relay, const char* kind, const char* source) const {
    RunEvent event;
    event.at = EventTimeText(ctx_.clock.Now());
    event.controller = definition_.file;
    event.relay = relay;
    event.kind = kind;
    event.source = source;
    return event;
}

void ControllerRun::Publish(int relay, const char* kind, const char* source, std::string result,
                            std::string detail) {
    RunEvent event = NewEvent(relay, kind, source);
    event.result = std::move(result);
    event.detail = std::move(detail);
    events_.OnRunEvent(event);
}

// --- the plan ---------------------------------------------------------

void ControllerRun::ReadDefinition() {
    definition_ = controller::ReadControllerDefinition(path_);
    ++definitionReads_;
}

void ControllerRun::SelectPlan(const Date& date) {
    ReadDefinition();
    LoadPlan(date);
    planDate_ = date;
    // All relays read as off until the controller's first answer.
    states_.assign(static_cast<std::size_t>(RelayCount()), '0');
    Changed();
    Publish(0, "run", "engine", "plan chosen", ExtractFileName(planPath_));
}

void ControllerRun::LoadPlan(const Date& date) {
    StringGrid grid(6, 2, 1, 1);
    planPath_ = LoadDayPlan(ctx_.sAppPath, path_, ctx_.boxes.chk4Level, date, grid);
    planRows_.clear();
    for (int r = 1; r < grid.RowCount(); ++r) {
        PlanRowCells cells;
        for (int c = 0; c < 6; ++c) cells[c] = grid.Cell(c, r);
        planRows_.push_back(std::move(cells));
    }
    planActions_ = plan::PlanActionsFromGrid(grid);
    unreadableRows_ = plan::CountUnreadablePlanRows(grid);
    planStamps_ = PlanStamps();
    ++planLoads_;
    ReportUnreadableRows();
}

std::pair<FileStamp, FileStamp> ControllerRun::PlanStamps() const {
    // A table added, deleted or renamed changes the folder; one rewritten in
    // place changes only itself.
    return {StampOf(plan::PlanFolder(ctx_.sAppPath, path_)), StampOf(planPath_)};
}

bool ControllerRun::ReloadPlanIfChanged(const Date& today) {
    const std::pair<FileStamp, FileStamp> stamps = PlanStamps();
    if (stamps == planStamps_) return false;
    // A changed folder matters only when the rule now picks another table:
    // housekeeping that deletes old tables changes nothing that runs.
    if (stamps.second == planStamps_.second) {
        const std::string folder = plan::PlanFolder(ctx_.sAppPath, path_);
        if (folder + ChoosePlanName(folder, ctx_.boxes.chk4Level, today) == planPath_) {
            planStamps_ = stamps;
            return false;
        }
    }
    // The rest of the day follows the new table from the next unhandled second.
    LoadPlan(today);
    Changed();
    const std::string name = ExtractFileName(planPath_);
    // Rows that will not be carried out matter more than the news of the reload.
    if (unreadableRows_ == 0) Message(kPlanReloadedPrefix + name);
    Publish(0, "run", "engine", "plan reloaded", name);
    return true;
}

void ControllerRun::ReportUnreadableRows() {
    if (unreadableRows_ == 0) return;
    Message(std::string(kUnreadableRowsPrefix) + std::to_string(unreadableRows_) +
            std::string(kUnreadableRowsSuffix));
    Publish(0, "run", "engine", "plan-rows-unreadable", std::to_string(unreadableRows_));
}

// --- starting and stopping ----------------------------------------------

bool ControllerRun::OpenPort() {
    port_.ClosePort();
    const controller::SerialSettings& settings = definition_.serial;
    for (const controller::SettingProblem& p : settings.problems) {
        if (p.notInteger &&
            (p.key == controller::kBound || p.key == controller::kTimeOut))
            ThrowNotAnInteger(p.value);
    }
    for (const controller::SettingProblem& p : settings.problems)
        Publish(0, "run", "engine", "setting-invalid", p.reason);
    // Settings with problems leave the port unable to open, reconnects too.
    controller::ConfigurePort(port_, settings);
    return port_.OpenPort();
}

void ControllerRun::Start(const LocalDateTime& now) {
    ReadDefinition();
    if (ctx_.boxes.chkAutoDelete) DeleteOldPlans(ctx_.sAppPath, path_, now.date);
    const std::string& dllName = definition_.decoder;
    const std::string dllFolder = PluginFolderOf(ctx_.sDllPath, ctx_.sSysDllPath, dllName);
    decoderPath_ = dllFolder + dllName;
    startedStateQuery_ = definition_.stateQuery.text;
    everStarted_ = true;
    ++starts_;
    bool opened = false;
    try {
        opened = OpenPort();
    } catch (const OperatorError&) {
        // A failed start leaves the run stopped, also when it ran before (a
        // restart at a change of date).
        SetStopped();
        throw;
    }
    com_ = opened ? ComStatus::Opened : ComStatus::StartFailed;
    comFailure_ = opened ? std::string() : port_.OpenFailureReason();
    Publish(0, "run", "engine", "started", opened ? "" : "port not opened");
    publishedStates_.clear();
    StartLineWatch(opened);
    // Right after the open, so that these commands reach the controller.
    startOn_.clear();
    if (ctx_.boxes.chkStartON) SendStartOnCommands();
    if (!plugin_.LoadStatePlugin(dllFolder, dllName) && !dllName.empty())
        DecoderNotLoaded(plugin_.LastError());
    // The relays come from the command table; a count beside it that no
    // controller can have is told, not used.
    if (definition_.relayCountProblem) {
        Message(definition_.relayCountProblem->reason);
        Publish(0, "run", "engine", "setting-invalid", definition_.relayCountProblem->reason);
    }
    states_.assign(static_cast<std::size_t>(RelayCount()), '0');
    reported_ = false;
    running_ = true;
    MarkStartHandled(now);
    if (ctx_.boxes.chkRestoreOnStart) ReassertRelays(startOn_, "restore");
    Changed();
}

void ControllerRun::DecoderNotLoaded(const std::string& reason) {
    Message(kDecoderNotLoadedPrefix + definition_.decoder);
    Publish(0, "run", "engine", "decoder-not-loaded", decoderPath_ + ": " + reason);
}

void ControllerRun::SetStopped() {
    if (running_) Publish(0, "run", "engine", "stopped");
    running_ = false;
    port_.ClosePort();
    // A stopped run watches no line and claims no state of it.
    line_ = LineState::Normal;
    com_ = ComStatus::Stopped;
    ForgetAnswers();
    ForgetExpectations();
    Changed();
}

void ControllerRun::Stop() {
    SetStopped();
}

void ControllerRun::Shutdown() {
    // The program ends a run without the stop button.
    if (running_ && !endPublished_) Publish(0, "run", "engine", "stopped", "program end");
    endPublished_ = true;
    plugin_.UnloadStatePlugin();
}

void ControllerRun::SendStartOnCommands() {
    for (const controller::RelayDefinition& relay : definition_.relays) {
        if (!relay.startOn) continue;
        startOn_.push_back(relay.number);
        if (SendRelayCommand(relay.number, true, "start-on")) Pause(kStartOnPauseMs);
    }
}

void ControllerRun::PollRelayStates(Lane lane) {
    if (definition_.stateQuery.text.empty()) return;
    // One query waiting is enough; the tick's keeps its place after the
    // second's plan commands, ahead of the requests. A failed query is left
    // to the line watch; a refused one is shown.
    const comm::SendOutcome outcome = comm::SendCommand(port_, definition_.stateQuery, nullptr,
                                                        SendOptions{lane == Lane::Plan, kQueryKey});
    if (outcome.result == comm::SendResult::Invalid || outcome.result == comm::SendResult::TooLong)
        Message(comm::OutcomeText(outcome));
}

// --- the second's actions --------------------------------------------------

void ControllerRun::CheckTick(const LocalDateTime& now) {
    RunSecond(now);
    PollAndCheck();
}

void ControllerRun::RunSecond(const LocalDateTime& now) {
    if (!running_) return;
    // A line found lost here gets none of this second's commands.
    DetectLoss();
    RunDueActions(now);
}

void ControllerRun::PollAndCheck() {
    if (!running_) return;
    const long long nowMs = NowMs();
    if (!ReconnectIfDue(nowMs) && line_ != LineState::Lost) PollRelayStates();
    CheckAnswers(nowMs);
}

// Another controller or plan: the seconds handled so far belong to it.
void ControllerRun::ForgetHandledSeconds() {
    handledValid_ = false;
    pendingLastOnly_ = false;
    noted_.clear();
}

// The first tick after a start handles the second of the start. Seconds
// already handled stay handled, so a stop and start repeats nothing, also
// when the clock was set back behind them.
void ControllerRun::MarkStartHandled(const LocalDateTime& now) {
    const int second = TimeToSeconds(now) - 1;
    pendingLastOnly_ = false;
    ForgetHandledFarAhead(now);
    if (handledValid_ && handledDate_ > now.date) return;
    if (handledValid_ && handledDate_ == now.date) {
        handledSecond_ = std::max(handledSecond_, second);
    } else {
        handledValid_ = true;
        handledDate_ = now.date;
        handledSecond_ = second;
    }
}

// Handled seconds far ahead of the clock come from a clock that was wrong
// (set a day or a year ahead, then corrected): holding the plan back until
// the clock catches up would leave the controller alone for that long. A
// short step back over midnight keeps them, so nothing is repeated.
void ControllerRun::ForgetHandledFarAhead(const LocalDateTime& now) {
    if (!handledValid_ || handledDate_ <= now.date) return;
    const long long ahead = handledDate_ == now.date.AddDays(1)
                                ? kLastSecondOfDay + 1LL - TimeToSeconds(now) + handledSecond_
                                : std::numeric_limits<long long>::max();
    if (ahead > kKeepAheadSeconds) ForgetHandledSeconds();
}

void ControllerRun::RunDueActions(const LocalDateTime& now) {
    const int nowSecond = TimeToSeconds(now);
    ForgetHandledFarAhead(now);
    if (!handledValid_) MarkStartHandled(now);
    // The clock was set back over midnight: the day ahead was handled already.
    if (now.date < handledDate_) return;
    if (now.date != handledDate_) {
        // Only a new date that the clock tick has not handled yet gets here;
        // the new day starts at its midnight.
        handledDate_ = now.date;
        handledSecond_ = -1;
        pendingLastOnly_ = nowSecond + 1 > kCatchUpSeconds;
    }
    if (nowSecond <= handledSecond_) return;  // same second, or the clock went back
    const bool lastOnly = pendingLastOnly_ || nowSecond - handledSecond_ > kCatchUpSeconds;
    const std::vector<DueCommand> commands = DueCommands(handledSecond_ + 1, nowSecond, lastOnly);
    CarryOut(commands, nowSecond);
    handledSecond_ = nowSecond;
    pendingLastOnly_ = false;
    // After a long gap the board may have lost more than the missed actions
    // (a suspend, a power cut): the other relays are put back too.
    if (lastOnly) {
        std::vector<int> done;
        for (const DueCommand& c : commands) done.push_back(c.relay);
        ReassertRelays(done, "re-assert");
    }
}

std::vector<ControllerRun::DueCommand> ControllerRun::DueCommands(int from, int to,
                                                                  bool lastOnly) const {
    from = std::max(from, 0);
    to = std::min(to, kLastSecondOfDay);
    std::vector<DueCommand> commands;
    if (from > to) return commands;
    const int relays = RelayCount();
    std::vector<std::size_t> due;
    for (std::size_t i = 0; i < planActions_.size(); ++i) {
        const plan::TPlanAction& a = planActions_[i];
        // Actions for relays the controller no longer has are skipped.
        if (a.Relay >= 1 && a.Relay <= relays && a.Second >= from && a.Second <= to)
            due.push_back(i);
    }
    if (lastOnly) {
        // The latest action of each relay, kept in plan order; among equal
        // seconds the later row.
        std::unordered_map<int, std::size_t> last;
        for (std::size_t i : due) {
            auto [it, inserted] = last.try_emplace(planActions_[i].Relay, i);
            if (!inserted && planActions_[i].Second >= planActions_[it->second].Second)
                it->second = i;
        }
        std::erase_if(due, [&](std::size_t i) { return last[planActions_[i].Relay] != i; });
    } else {
        std::stable_sort(due.begin(), due.end(), [&](std::size_t a, std::size_t b) {
            return planActions_[a].Second < planActions_[b].Second;
        });
    }
    for (std::size_t i : due) {
        const plan::TPlanAction& a = planActions_[i];
        commands.push_back({a.Relay, a.SwitchOn, a.Second});
    }
    return commands;
}

void ControllerRun::CarryOut(const std::vector<DueCommand>& commands, int nowSecond) {
    for (const DueCommand& command : commands) {
        Commanded(command.relay);
        const bool queued = SendRelayCommand(command.relay, command.on,
                                             command.second < nowSecond ? "catch-up" : "plan");
        // Nothing queued, nothing to space out. The second counts as handled
        // either way: a reconnect puts the relay back.
        if (queued) Pause(kCommandPauseMs);
        Changed();
    }
}

void ControllerRun::HandleDateChange(const LocalDateTime& now, bool startStopped) {
    const bool wasRunning = running_;
    const bool forward = now.date > lastRunDate_;
    const int nowSecond = TimeToSeconds(now);
    bool lastOnly = nowSecond + 1 > kCatchUpSeconds;
    std::vector<DueCommand> oldDay;
    if (forward && wasRunning && handledValid_ && handledDate_ == lastRunDate_) {
        // What the old day's plan still owes. It goes out after the port is
        // open again: closing the port drops what is still queued.
        const bool nextDay = now.date == lastRunDate_.AddDays(1);
        const long long gap = nextDay ? (kLastSecondOfDay - handledSecond_) + nowSecond + 1LL
                                      : std::numeric_limits<long long>::max();
        lastOnly = gap > kCatchUpSeconds;
        oldDay = DueCommands(handledSecond_ + 1, kLastSecondOfDay, lastOnly);
    }
    port_.ClosePort();
    SelectPlan(now.date);
    ForgetHandledFarAhead(now);
    // Back to a date that was handled before (the clock set back and forward
    // again): its seconds handled so far stay handled.
    const bool dayHandledBefore = handledValid_ && handledDate_ >= now.date;
    lastRunDate_ = now.date;
    Changed();
    Publish(0, "run", "engine", "date change", DateText(true, now.date));
    // A running run goes on over midnight on the new day's plan.
    if (!startStopped && !wasRunning) return;
    Start(now);
    if (!forward) return;
    CarryOut(oldDay, kLastSecondOfDay + 1);
    if (dayHandledBefore) return;
    handledValid_ = true;
    handledDate_ = now.date;
    handledSecond_ = -1;
    pendingLastOnly_ = lastOnly;
}

// --- commands -----------------------------------------------------------------

void ControllerRun::Pause(int ms) {
    if (blockingPauses_) ctx_.sleeper.SleepMs(ms);
}

void ControllerRun::Commanded(int relay) {
    commandedRelay_ = relay;
    ++commandsIssued_;
}

const comm::Command& ControllerRun::CommandOf(int relay, bool on) const {
    return definition_.relays[static_cast<std::size_t>(relay - 1)].CommandFor(on);
}

bool ControllerRun::SendRelayCommand(int relay, bool on, const char* source, Lane lane) {
    NoteCommand(relay, on);
    if (line_ == LineState::Lost) {
        NotSent(relay, on, source);
        return false;
    }
    return QueueRelayCommand(relay, on, source, lane);
}

bool ControllerRun::QueueRelayCommand(int relay, bool on, const char* source, Lane lane) {
    const comm::Command& command = CommandOf(relay, on);
    const bool open = port_.IsOpen();
    const char* kind = on ? "on" : "off";
    // The event is made now, so that it keeps the queueing's details when
    // the fate comes after a stop.
    RunEvent event = NewEvent(relay, kind, source);
    event.detail = command.Hex();
    SendDoneHandler onDone;
    if (!event.detail.empty()) {
        onDone = [this, event, relay, on, queuedAt = ctx_.clock.Now(),
                  queuedSteady = std::chrono::steady_clock::now()](
                     SendFate fate, std::chrono::steady_clock::time_point at) mutable {
            // The run's clock at the queueing, moved on by the writer's wait.
            const long long waited =
                std::chrono::duration_cast<std::chrono::milliseconds>(at - queuedSteady).count();
            event.at = EventTimeText(AddMilliseconds(queuedAt, std::max(waited, 0LL)));
            event.result = fate == SendFate::Written  ? "sent"
                           : fate == SendFate::Failed ? "failed"
                                                      : "dropped";
            if (fate == SendFate::Replaced) event.detail = kReplaced;
            // The board has its answers to follow from when the bytes left;
            // a request that waited behind the plan is not counted late.
            if (fate == SendFate::Written && running_) confirm_.Expect(relay, on);
            events_.OnRunEvent(event);
        };
    }
    // Every command of a relay replaces its waiting request: the latest wins.
    const SendOptions options{lane == Lane::Plan, static_cast<std::uint32_t>(relay)};
    const comm::SendOutcome outcome = comm::SendCommand(port_, command, std::move(onDone), options);
    Message(comm::OutcomeText(outcome));
    switch (outcome.result) {
        case comm::SendResult::Invalid:
            Publish(relay, kind, source, "not-sent", std::string(kNotSentInvalid) + command.text);
            return false;
        case comm::SendResult::TooLong:
            Publish(relay, kind, source, "not-sent", std::string(kNotSentTooLong));
            return false;
        case comm::SendResult::QueueFull:
            Publish(relay, kind, source, "refused", kQueueFull);
            return false;
        case comm::SendResult::Failed:
            if (open) {
                Publish(relay, kind, source, "failed", outcome.hex);
                // On an open port a send fails when its writer has ended:
                // the line is lost now, not at the next check tick.
                DetectLoss();
            } else {
                Publish(relay, kind, source, "not-sent", std::string(kNotSentPortClosed));
            }
            return false;
        case comm::SendResult::Sent:
            break;
    }
    if (outcome.hex.empty()) {
        Publish(relay, kind, source, "not-sent", "no command");
        return false;
    }
    return true;
}

SwitchResult ControllerRun::Switch(int relay, std::optional<bool> on, const char* source) {
    const bool manual = std::string_view(source) == "manual";
    const char* kind = !on ? "switch" : *on ? "on" : "off";
    const char* refused = nullptr;
    if (!on)
        refused = kRefusedBadRequest;
    else if (!running_)
        refused = kRefusedNotRunning;
    else if (!ctx_.boxes.chkManOperate)
        refused = kRefusedManualOff;
    else if (relay < 1 || relay > RelayCount())
        refused = kRefusedNoRelay;
    else if (StatesUnknown())
        refused = kRefusedUnknownState;
    if (refused) {
        // Toggling needs the state: against a guess, a click could repeat a command.
        if (manual && refused == kRefusedUnknownState) Message(kUnknownStateRefused);
        if (!manual) Publish(std::max(relay, 0), kind, source, "refused", refused);
        return SwitchResult::Refused;
    }
    const bool queued = SendRelayCommand(relay, *on, source, Lane::Request);
    // A click pauses as every command does; a burst of switches from outside
    // would hold up the clock, and the writer spaces the blocks anyway.
    if (manual) Pause(kCommandPauseMs);
    PollRelayStates(Lane::Request);
    Changed();
    return queued ? SwitchResult::Queued : SwitchResult::NotSent;
}

// --- answers --------------------------------------------------------------------

void ControllerRun::COMRUNReceiveData(const char* buffer, std::uint16_t length) {
    ++blocksReceived_;
    Changed();
    Message(std::string(comm::kReceivedPrefix) +
            BytesToHex(reinterpret_cast<const std::uint8_t*>(buffer), length));
    plugin_.DecodeStates(
        [joiner = joiner_, block = std::string(buffer, length),
         nowMs = NowMs()](const controller::StatePlugin::DecodeCall& decode) {
            return joiner->Decode(block.data(), block.size(), nowMs, decode);
        },
        [this, answers = answers_](std::string text) {
            if (answers == answers_) StatesDecoded(std::move(text));
        });
}

void ControllerRun::ForgetAnswers() {
    // The old joiner stays with the jobs queued already; their texts are
    // dropped.
    joiner_ = std::make_shared<AnswerJoiner>();
    ++answers_;
}

void ControllerRun::StatesDecoded(std::string text) {
    if (text.empty()) return;
    reported_ = true;
    AnswerDecoded();
    // In place before anyone is told: the states live here only.
    const bool changed = text != states_;
    states_ = std::move(text);
    PublishStateChanges(states_);
    ConfirmStates(states_);
    if (changed) Changed();
}

// One event per relay whose decoded state differs from the last published.
void ControllerRun::PublishStateChanges(const std::string& states) {
    const int relays = std::min<int>(RelayCount(), static_cast<int>(states.size()));
    if (static_cast<int>(publishedStates_.size()) < relays) publishedStates_.resize(relays, '?');
    for (int r = 1; r <= relays; ++r) {
        const char state = states[r - 1];
        if (state == publishedStates_[r - 1]) continue;
        publishedStates_[r - 1] = state;
        Publish(r, "state", "board", std::string(1, state));
    }
}

}  // namespace ristova::run
