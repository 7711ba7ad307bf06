#include "run/RunEngine.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <unordered_map>

#include "base/Errors.h"
#include "base/DataFolder.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"
#include "controller/SerialSettings.h"
#include "plan/PlanFile.h"
#include "comm/HexCommand.h"
#include "run/Housekeeping.h"
#include "run/Monitor.h"
#include "run/PlanSelection.h"
#include "run/RunEngineScope.h"

namespace ristova::run {
using comm::kReceivedPrefix;
using comm::SendAndShowCommand;
using comm::SendHexCommand;

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

}  // namespace

std::string DeviceList::Text() const {
    return ItemIndex >= 0 && ItemIndex < static_cast<int>(Items.size()) ? Items[ItemIndex]
                                                                        : std::string();
}

RunEngine::RunEngine(AppContext& ctx, TMyComport& com1)
    : ctx_(ctx), com1_(com1), comRun_(ctx.poster) {
    comRun_.SetCommPort("COM1");
    comRun_.SetReadTimeout(10);
    comRun_.SetOnReceiveData(
        [this](const char* buffer, std::uint16_t length) { COMRUNReceiveData(buffer, length); });
    comRun_.SetOnLineEnded([this] { OnRunLineEnded(); });
    SetupRunPlanGrid(sgPlan_);
    SetupRunPowerGrid(sgPower_);
    SetupMonitorGrid(sgState_);
    lastRunDate_ = ctx_.clock.Now().date;
    planDate_ = lastRunDate_;
}

RunEngine::~RunEngine() {
    comRun_.ClosePort();
    Shutdown();
}

void RunEngine::Changed() {
    ++revision_;
    if (scopeDepth_ > 0) {
        changedInScope_ = true;
    } else if (onChanged_) {
        onChanged_();
    }
}

void RunEngine::SetLabel(std::string& label, std::string text) {
    if (label == text) return;
    label = std::move(text);
    Changed();
}

void RunEngine::SetLastRunDate(const Date& date) {
    lastRunDate_ = date;
    Changed();
}

int RunEngine::RelayCount() const {
    return sgPower_.RowCount() > 1 ? sgPower_.RowCount() - 1 : 1;
}

int RunEngine::MillisecondsToNextSecond() const {
    const int ms = ctx_.clock.Now().millisecond;
    return ms < 0 || ms >= 1000 ? 1000 : 1000 - ms;
}

void RunEngine::SelectPlan() {
    planDate_ = ctx_.clock.Now().date;
    PlanChoice choice = SelectRunPlan(ctx_.sAppPath, sRunPowerFn_, ctx_.boxes.chk4Level,
                                      planDate_, sgPlan_, sgPower_);
    sRunPlanFn_ = choice.sRunPlanFn;
    lbRunFn_ = choice.lbRunFn;
    sJDQState_ = choice.sJDQState;
    planStamps_ = PlanStamps();
    ReportUnreadableRows();
    Changed();
    Publish(0, "run", "engine", "plan chosen", ExtractFileName(sRunPlanFn_));
}

std::pair<FileStamp, FileStamp> RunEngine::PlanStamps() const {
    // A table added, deleted or renamed changes the folder; one rewritten in
    // place changes only itself.
    return {StampOf(plan::PlanFolder(ctx_.sAppPath, sRunPowerFn_)), StampOf(sRunPlanFn_)};
}

bool RunEngine::ReloadPlanIfChanged() {
    if (sRunPowerFn_.empty()) return false;
    const std::pair<FileStamp, FileStamp> stamps = PlanStamps();
    if (stamps == planStamps_) return false;
    // A changed folder matters only when the rule now picks another table:
    // housekeeping that deletes old tables changes nothing that runs.
    if (stamps.second == planStamps_.second) {
        const std::string folder = plan::PlanFolder(ctx_.sAppPath, sRunPowerFn_);
        if (folder + ChoosePlanName(folder, ctx_.boxes.chk4Level, ctx_.clock.Now().date) ==
            sRunPlanFn_) {
            planStamps_ = stamps;
            return false;
        }
    }
    ChangeScope scope(*this);
    sRunPlanFn_ = LoadDayPlan(ctx_.sAppPath, sRunPowerFn_, ctx_.boxes.chk4Level,
                              ctx_.clock.Now().date, sgPlan_);
    lbRunFn_ = std::string(kRunFnPrefix) + sRunPlanFn_;
    // The rest of the day follows the new table from the next unhandled second.
    planActions_ = PlanActionsFromGrid(sgPlan_);
    planStamps_ = PlanStamps();
    sgPlan_.Touch();
    Changed();
    const std::string name = ExtractFileName(sRunPlanFn_);
    ctx_.status.ShowStatus(3, kPlanReloadedPrefix + name);
    // Rows that will not be carried out matter more than the news of the reload.
    ReportUnreadableRows();
    Publish(0, "run", "engine", "plan reloaded", name);
    return true;
}

void RunEngine::ReportUnreadableRows() {
    if (const int unreadable = CountUnreadablePlanRows(sgPlan_); unreadable > 0) {
        ctx_.status.ShowStatus(3, std::string(kUnreadableRowsPrefix) + std::to_string(unreadable) +
                                      std::string(kUnreadableRowsSuffix));
        Publish(0, "run", "engine", "plan-rows-unreadable", std::to_string(unreadable));
    }
}

// Another controller: the seconds handled so far belong to its plan.
void RunEngine::ForgetHandledSeconds() {
    handledValid_ = false;
    pendingLastOnly_ = false;
    noted_.clear();
}

void RunEngine::SelectDeviceName(const std::string& name) {
    auto& items = cbRunDevList_.Items;
    // The exact name first: two files may differ only in case.
    auto found = std::find(items.begin(), items.end(), name);
    if (found == items.end())
        found = std::find_if(items.begin(), items.end(),
                             [&](const std::string& item) { return AsciiIEquals(item, name); });
    if (found == items.end()) found = items.insert(items.end(), name);
    cbRunDevList_.ItemIndex = static_cast<int>(found - items.begin());
    Changed();
}

void RunEngine::FillRunDeviceList() {
    ChangeScope scope(*this);
    sRunPowerFn_.clear();
    sRunPlanFn_.clear();
    ListFolderFiles(cbRunDevList_.Items, ctx_.sAppPath, "*.PSW");
    std::string name = ReadIniText(ctx_.settingsFile, settings::kRun, settings::kSPowerFn);
    if (name.empty()) {
        name = cbRunDevList_.Items.empty() ? std::string(settings::kDefaultRunController)
                                           : cbRunDevList_.Items.front();
    }
    SelectDeviceName(name);
    sRunPowerFn_ = ctx_.sAppPath + cbRunDevList_.Text();
    SelectPlan();
    BuildMonitor();
}

void RunEngine::RefreshDeviceList() {
    ChangeScope scope(*this);
    const std::string current = cbRunDevList_.Text();
    std::vector<std::string> items;
    ListFolderFiles(items, ctx_.sAppPath, "*.PSW");
    std::sort(items.begin(), items.end());
    const bool exists = std::any_of(items.begin(), items.end(), [&](const std::string& item) {
        return AsciiIEquals(item, current);
    });
    if (items != cbRunDevList_.Items) {
        cbRunDevList_.Items = std::move(items);
        Changed();
    }
    if (exists || running_ || current.empty() || cbRunDevList_.Items.empty()) {
        if (!current.empty()) SelectDeviceName(current);
        return;
    }
    cbRunDevListChange(cbRunDevList_.Items.front());
}

void RunEngine::cbRunDevListChange(int index) {
    if (index < 0 || index >= static_cast<int>(cbRunDevList_.Items.size())) return;
    cbRunDevListChange(cbRunDevList_.Items[index]);
}

void RunEngine::cbRunDevListChange(const std::string& name) {
    ChangeScope scope(*this);
    SelectDeviceName(name);
    const std::string chosen = cbRunDevList_.Text();
    SetStopped();
    std::exception_ptr writeError;
    try {
        WriteIniText(ctx_.settingsFile, settings::kRun, settings::kSPowerFn, chosen);
    } catch (const OperatorError&) {
        // Finish the change first, so that the list and the engine agree.
        writeError = std::current_exception();
    }
    sRunPowerFn_ = ctx_.sAppPath + chosen;
    SelectPlan();
    ForgetHandledSeconds();
    if (writeError) std::rethrow_exception(writeError);
}

void RunEngine::SetStopped() {
    if (running_) Publish(0, "run", "engine", "stopped");
    running_ = false;
    btnRunEnabled_ = true;
    btnStopEnabled_ = false;
    comRun_.ClosePort();
    // A stopped engine watches no line and claims no state of it.
    line_ = LineState::Normal;
    joiner_.Clear();
    ForgetExpectations();
    lbCom_ = kLbComInitial;
    sgState_.Touch();
    Changed();
}

void RunEngine::btnRunClick() {
    ChangeScope scope(*this);
    const LocalDateTime now = ctx_.clock.Now();
    BuildMonitor();
    if (ctx_.boxes.chkAutoDelete) DeleteOldPlans(ctx_.sAppPath, sRunPowerFn_, now.date);
    com1_.ClosePort();
    const std::string dllName =
        ReadIniText(sRunPowerFn_, controller::kLoad, controller::kPowerDllFn);
    const std::string dllFolder = PluginFolderOf(ctx_.sDllPath, ctx_.sSysDllPath, dllName);
    sRunDllFn_ = dllFolder + dllName;
    sStateCmd_ = ReadIniText(sRunPowerFn_, controller::kLoad, controller::kStateCmd);
    SetLabel(lbState_, kLbStatePrefix + sStateCmd_);
    SetLabel(lbCmd_, kLbCmdPrefix + sRunDllFn_);
    bool opened = false;
    try {
        opened = OpenRunPort(sRunPowerFn_);
    } catch (const OperatorError&) {
        // A failed start leaves the engine stopped, also when it ran before
        // (a restart at a change of date).
        SetStopped();
        throw;
    }
    SetLabel(lbCom_,
             opened ? std::string(kLbComOk) : kLbComFailedPrefix + comRun_.OpenFailureReason());
    runController_ = cbRunDevList_.Text();
    Publish(0, "run", "engine", "started", opened ? "" : "port not opened");
    publishedStates_.clear();
    StartLineWatch(opened);
    // Right after the open, so that these commands reach the controller.
    startOn_.clear();
    if (ctx_.boxes.chkStartON) SendStartOnCommands();
    if (!plugin_.LoadStatePlugin(dllFolder, dllName) && !dllName.empty()) {
        ctx_.status.ShowStatus(3, kDecoderNotLoadedPrefix + dllName);
        Publish(0, "run", "engine", "decoder-not-loaded", sRunDllFn_ + ": " + plugin_.LastError());
    }
    SetLabel(lbDev_, kLbDevPrefix + plugin_.DeviceDescription());
    // The relays come from the command table; a count beside it that no
    // controller can have is told, not used.
    if (const auto relays = controller::RelayCountProblem(sRunPowerFn_)) {
        ctx_.status.ShowStatus(3, relays->reason);
        Publish(0, "run", "engine", "setting-invalid", relays->reason);
    }
    sJDQState_.assign(RelayCount(), '0');
    running_ = true;
    btnRunEnabled_ = false;
    btnStopEnabled_ = true;
    MarkStartHandled(now);
    if (ctx_.boxes.chkRestoreOnStart) RestorePlanState();
    Changed();
}

void RunEngine::RestorePlanState() {
    ChangeScope scope(*this);
    ReassertRelays(startOn_, "restore");
}

void RunEngine::btnStopClick() {
    ChangeScope scope(*this);
    SetStopped();
}

bool RunEngine::OpenRunPort(const std::string& controllerFile) {
    comRun_.ClosePort();
    const controller::SerialSettings settings = controller::ReadSerialSettings(controllerFile);
    for (const controller::SettingProblem& p : settings.problems) {
        if (p.notInteger && (p.key == controller::kBound || p.key == controller::kTimeOut))
            ThrowNotAnInteger(p.value);
    }
    for (const controller::SettingProblem& p : settings.problems)
        Publish(0, "run", "engine", "setting-invalid", p.reason);
    // Settings with problems leave the port unable to open, reconnects too.
    controller::ConfigurePort(comRun_, settings);
    return comRun_.OpenPort();
}

void RunEngine::SendStartOnCommands() {
    ChangeScope scope(*this);
    startOn_.clear();
    for (int r = 1; r <= RelayCount(); ++r) {
        if (sgPower_.Cell(5, r) != controller::kStartOnMark) continue;
        startOn_.push_back({r, true, 0, sgPower_.Cell(1, r)});
        if (SendRelayCommand(r, true, sgPower_.Cell(1, r), "start-on"))
            ctx_.sleeper.SleepMs(kStartOnPauseMs);
    }
}

void RunEngine::PollRelayStates() {
    if (sStateCmd_.empty()) return;
    // A failed query is left to the line watch; a refused one is shown.
    const comm::SendOutcome outcome = SendHexCommand(comRun_, sStateCmd_);
    if (outcome.result == comm::SendResult::Invalid || outcome.result == comm::SendResult::TooLong)
        ctx_.status.ShowStatus(3, comm::OutcomeText(outcome));
}

void RunEngine::BuildMonitor() {
    ChangeScope scope(*this);
    BuildMonitorGrid(sgPower_, sgState_);
    planActions_ = PlanActionsFromGrid(sgPlan_);
    Changed();
}

void RunEngine::ShowRelayStates(const std::string& text) {
    if (run::ShowRelayStates(sgState_, text)) Changed();
}

void RunEngine::FitMonitorColumns() {
    run::FitMonitorColumns(sgState_);
    Changed();
}

// The first tick after a start handles the second of the start. Seconds
// already handled stay handled, so a stop and start repeats nothing, also
// when the clock was set back behind them.
void RunEngine::MarkStartHandled(const LocalDateTime& now) {
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

void RunEngine::RunDueActions() {
    ChangeScope scope(*this);
    RunDueActions(ctx_.clock.Now());
}

// Handled seconds far ahead of the clock come from a clock that was wrong
// (set a day or a year ahead, then corrected): holding the plan back until
// the clock catches up would leave the controller alone for that long. A
// short step back over midnight keeps them, so nothing is repeated.
void RunEngine::ForgetHandledFarAhead(const LocalDateTime& now) {
    if (!handledValid_ || handledDate_ <= now.date) return;
    const long long ahead = handledDate_ == now.date.AddDays(1)
                                ? kLastSecondOfDay + 1LL - TimeToSeconds(now) + handledSecond_
                                : std::numeric_limits<long long>::max();
    if (ahead > kKeepAheadSeconds) ForgetHandledSeconds();
}

void RunEngine::RunDueActions(const LocalDateTime& now) {
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
    if (lastOnly) ReassertRelays(commands);
}

std::vector<RunEngine::DueCommand> RunEngine::DueCommands(int from, int to, bool lastOnly) const {
    from = std::max(from, 0);
    to = std::min(to, kLastSecondOfDay);
    std::vector<DueCommand> commands;
    if (from > to) return commands;
    const int relays = RelayCount();
    std::vector<std::size_t> due;
    for (std::size_t i = 0; i < planActions_.size(); ++i) {
        const TPlanAction& a = planActions_[i];
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
        const TPlanAction& a = planActions_[i];
        commands.push_back(
            {a.Relay, a.SwitchOn, a.Second, sgPower_.Cell(a.SwitchOn ? 1 : 2, a.Relay)});
    }
    return commands;
}

void RunEngine::CarryOut(const std::vector<DueCommand>& commands, int nowSecond) {
    for (const DueCommand& command : commands) {
        sgState_.SetRow(command.relay);
        if (!SendRelayCommand(command.relay, command.on, command.hex,
                              command.second < nowSecond ? "catch-up" : "plan")) {
            // Nothing queued, nothing to space out. The second counts as
            // handled: a reconnect puts the relay back.
            Changed();
            continue;
        }
        ctx_.sleeper.SleepMs(kCommandPauseMs);
        Changed();
    }
}

bool RunEngine::SendRelayCommand(int relay, bool on, const std::string& hex,
                                 const char* source) {
    const DueCommand command{relay, on, 0, hex};
    NoteCommand(command);
    if (line_ == LineState::Lost) {
        NotSent(command, source);
        return false;
    }
    return QueueRelayCommand(relay, on, hex, source);
}

bool RunEngine::QueueRelayCommand(int relay, bool on, const std::string& hex, const char* source) {
    const bool open = comRun_.IsOpen();
    const char* kind = on ? "on" : "off";
    // The event is made now, so that it keeps the run's controller when the
    // fate comes after a stop or a change of controller.
    RunEvent event = NewEvent(relay, kind, source);
    event.detail = comm::CommandHexText(hex);
    SendDoneHandler onDone;
    if (!event.detail.empty()) {
        onDone = [this, event, queuedAt = ctx_.clock.Now(),
                  queuedSteady = std::chrono::steady_clock::now()](
                     SendFate fate, std::chrono::steady_clock::time_point at) mutable {
            // The engine's clock at the queueing, moved on by the writer's wait.
            const long long waited =
                std::chrono::duration_cast<std::chrono::milliseconds>(at - queuedSteady).count();
            event.at = EventTimeText(AddMilliseconds(queuedAt, std::max(waited, 0LL)));
            event.result = fate == SendFate::Written   ? "sent"
                           : fate == SendFate::Dropped ? "dropped"
                                                       : "failed";
            events_.OnRunEvent(event);
        };
    }
    const comm::SendOutcome outcome =
        SendAndShowCommand(comRun_, hex, ctx_.status, std::move(onDone));
    switch (outcome.result) {
        case comm::SendResult::Invalid:
            Publish(relay, kind, source, "not-sent", "command invalid: " + hex);
            return false;
        case comm::SendResult::TooLong:
            Publish(relay, kind, source, "not-sent", "command too long");
            return false;
        case comm::SendResult::Failed:
            if (open) {
                Publish(relay, kind, source, "failed", outcome.hex);
                // On an open port a send fails when its writer has ended:
                // the line is lost now, not at the next check tick.
                DetectLoss();
            } else
                Publish(relay, kind, source, "not-sent", "port not open");
            return false;
        case comm::SendResult::Sent:
            break;
    }
    if (outcome.hex.empty()) {
        Publish(relay, kind, source, "not-sent", "no command");
        return false;
    }
    confirm_.Expect(relay, on);
    return true;
}

RunEvent RunEngine::NewEvent(int relay, const char* kind, const char* source) const {
    RunEvent event;
    event.at = EventTimeText(ctx_.clock.Now());
    // A stop at a change of controller belongs to the run's controller,
    // which the list no longer shows.
    event.controller = running_ ? runController_ : cbRunDevList_.Text();
    event.relay = relay;
    event.kind = kind;
    event.source = source;
    return event;
}

void RunEngine::Publish(int relay, const char* kind, const char* source, std::string result,
                        std::string detail) {
    RunEvent event = NewEvent(relay, kind, source);
    event.result = std::move(result);
    event.detail = std::move(detail);
    events_.OnRunEvent(event);
}

// One event per relay whose decoded state differs from the last published.
void RunEngine::PublishStateChanges(const std::string& states) {
    const int relays = std::min<int>(RelayCount(), static_cast<int>(states.size()));
    if (static_cast<int>(publishedStates_.size()) < relays)
        publishedStates_.resize(relays, '?');
    for (int r = 1; r <= relays; ++r) {
        const char state = states[r - 1];
        if (state == publishedStates_[r - 1]) continue;
        publishedStates_[r - 1] = state;
        Publish(r, "state", "board", std::string(1, state));
    }
}

void RunEngine::tmRunTimer() {
    ChangeScope scope(*this);
    ShowRelayStates(sJDQState_);
}

void RunEngine::tmCheckTimer() {
    ChangeScope scope(*this);
    const LocalDateTime now = ctx_.clock.Now();
    // The check tick may see a new date before the clock tick does; the new
    // day's plan must be in place before its first second is handled.
    if (now.date != lastRunDate_) HandleDateChange(now);
    if (!running_) return;
    // A line found lost here gets none of this second's commands.
    DetectLoss();
    RunDueActions(now);
    const long long nowMs = NowMs();
    if (!ReconnectIfDue(nowMs) && line_ != LineState::Lost) PollRelayStates();
    CheckAnswers(nowMs);
}

void RunEngine::Timer1Timer() {
    ChangeScope scope(*this);
    const LocalDateTime now = ctx_.clock.Now();
    ctx_.status.ShowStatus(0, DateText(true, now.date));
    ctx_.status.ShowStatus(1, TimeOfDayText(now));
    if (now.date != lastRunDate_) {
        HandleDateChange(now);
    } else {
        ReloadPlanIfChanged();
    }
}

void RunEngine::HandleDateChange(const LocalDateTime& now) {
    const bool wasRunning = running_;
    const bool forward = now.date > lastRunDate_;
    const int nowSecond = TimeToSeconds(now);
    const std::string oldController = sRunPowerFn_;
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
    comRun_.ClosePort();
    com1_.ClosePort();
    FillRunDeviceList();
    if (sRunPowerFn_ != oldController) ForgetHandledSeconds();
    ForgetHandledFarAhead(now);
    // Back to a date that was handled before (the clock set back and forward
    // again): its seconds handled so far stay handled.
    const bool dayHandledBefore = handledValid_ && handledDate_ >= now.date;
    lastRunDate_ = now.date;
    Changed();
    Publish(0, "run", "engine", "date change", DateText(true, now.date));
    // A running engine goes on over midnight on the new day's plan.
    if (!ctx_.boxes.chkRun && !wasRunning) return;
    btnRunClick();
    if (!forward) return;
    // The old day's commands belong to its controller only.
    if (sRunPowerFn_ == oldController) CarryOut(oldDay, kLastSecondOfDay + 1);
    if (dayHandledBefore) return;
    handledValid_ = true;
    handledDate_ = now.date;
    handledSecond_ = -1;
    pendingLastOnly_ = lastOnly;
}

void RunEngine::COMRUNReceiveData(const char* buffer, std::uint16_t length) {
    ChangeScope scope(*this);
    lamp_ = lamp_ == LampColour::Red ? LampColour::Yellow : LampColour::Red;
    Changed();
    ctx_.status.ShowStatus(3,
                           std::string(kReceivedPrefix) +
                               BytesToHex(reinterpret_cast<const std::uint8_t*>(buffer), length));
    std::string text =
        joiner_.Decode(buffer, length, NowMs(), [this](const char* data, std::size_t count) {
            return plugin_.DecodeStates(data, count);
        });
    if (text.empty()) return;
    AnswerDecoded();
    PublishStateChanges(text);
    ConfirmStates(text);
    if (text != sJDQState_) {
        sJDQState_ = std::move(text);
        Changed();
    }
}

bool RunEngine::CursorIsHand(int col, int row) const {
    return running_ && ctx_.boxes.chkManOperate && col == 1 && row >= 1 &&
           row <= MonitorRelayCount(sgState_);
}

SwitchResult RunEngine::sgStateMouseDown(MouseButton button, int col, int row) {
    ChangeScope scope(*this);
    if (button != MouseButton::Left) return SwitchResult::Refused;
    // A click on a relay row makes it the current row, as the grid does.
    if (row >= 1 && row <= MonitorRelayCount(sgState_) && sgState_.Row() != row) {
        sgState_.SetRow(row);
        Changed();
    }
    if (!CursorIsHand(col, row) || row > RelayCount()) return SwitchResult::Refused;
    // Toggling needs the state: against a guess, a click could repeat a command.
    if (StatesUnknown()) {
        ctx_.status.ShowStatus(3, kUnknownStateRefused);
        return SwitchResult::Refused;
    }
    const bool on = sgState_.Cell(1, row) == "1";
    const bool queued = SendRelayCommand(row, !on, sgPower_.Cell(on ? 2 : 1, row), "manual");
    ctx_.sleeper.SleepMs(kCommandPauseMs);
    PollRelayStates();
    return queued ? SwitchResult::Queued : SwitchResult::NotSent;
}

SwitchResult RunEngine::RemoteSwitch(int relay, std::optional<bool> on) {
    ChangeScope scope(*this);
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
        Publish(std::max(relay, 0), kind, "remote", "refused", refused);
        return SwitchResult::Refused;
    }
    const bool queued = SendRelayCommand(relay, *on, sgPower_.Cell(*on ? 1 : 2, relay), "remote");
    // No pause on the main thread here, unlike a click: a burst of remote
    // sets would hold up the clock. The writer spaces the blocks anyway.
    PollRelayStates();
    return queued ? SwitchResult::Queued : SwitchResult::NotSent;
}

void RunEngine::Shutdown() {
    // The program ends a run without the stop button.
    if (running_ && !endPublished_) Publish(0, "run", "engine", "stopped", "program end");
    endPublished_ = true;
    plugin_.UnloadStatePlugin();
}

}  // namespace ristova::run
