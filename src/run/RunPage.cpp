#include "run/RunPage.h"

#include <algorithm>
#include <exception>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"
#include "plan/PlanFile.h"
#include "run/Monitor.h"
#include "run/PlanSelection.h"
#include "run/Site.h"

namespace ristova::run {

std::string ComText(const RunView& run) {
    switch (run.Com()) {
        case ComStatus::Stopped:
            return kLbComInitial;
        case ComStatus::Opened:
            return kLbComOk;
        case ComStatus::StartFailed:
            return kLbComFailedPrefix + run.ComFailure();
        case ComStatus::StartRetrying:
            return kLbComFailedPrefix + run.ComFailure() + kLbComRetrying;
        case ComStatus::Lost:
            return kLbComLost;
        case ComStatus::Reconnected:
            return kLbComReconnected;
        case ComStatus::NoAnswer:
            return kLbComNoAnswer;
    }
    return kLbComInitial;
}

std::string DeviceList::Text() const {
    return ItemIndex >= 0 && ItemIndex < static_cast<int>(Items.size()) ? Items[ItemIndex]
                                                                        : std::string();
}

RunPage::RunPage(AppContext& ctx, SiteView& site) : ctx_(ctx), site_(&site) {
    forward_.to = &events_;
    site_->Events().Add(&forward_);
    SetupRunPlanGrid(sgPlan_);
    SetupRunPowerGrid(sgPower_);
    SetupMonitorGrid(sgState_);
}

// --- the list ----------------------------------------------------------------

void RunPage::SelectDeviceName(const std::string& name) {
    auto& items = cbRunDevList_.Items;
    // The exact name first: two files may differ only in case.
    auto found = std::find(items.begin(), items.end(), name);
    if (found == items.end())
        found = std::find_if(items.begin(), items.end(),
                             [&](const std::string& item) { return AsciiIEquals(item, name); });
    if (found == items.end()) found = items.insert(items.end(), name);
    cbRunDevList_.ItemIndex = static_cast<int>(found - items.begin());
    ++revision_;
}

void RunPage::ListControllers() {
    if (site_->Several()) {
        cbRunDevList_.Items.clear();
        for (const RunView* run : site_->RunViews()) cbRunDevList_.Items.push_back(run->File());
    } else {
        ListFolderFiles(cbRunDevList_.Items, ctx_.sAppPath, "*.PSW");
    }
    ++revision_;
}

void RunPage::FillRunDeviceList() {
    site_->Configure();
    ListControllers();
    const std::vector<RunView*> runs = site_->RunViews();
    if (runs.empty()) return;
    RunView* run = runs.front();
    if (site_->Several()) {
        // The run controller of one-controller days is shown first when listed.
        const std::string stored = ReadIniText(ctx_.settingsFile, settings::kRun, settings::kSPowerFn);
        if (RunView* named = site_->FindRun(stored)) run = named;
    }
    SelectDeviceName(run->File());
    monitorDue_ = true;
    Show(run);
}

void RunPage::RefreshDeviceList() {
    const std::string current = cbRunDevList_.Text();
    if (site_->Several()) {
        ListControllers();
        if (!current.empty()) SelectDeviceName(current);
        return;
    }
    std::vector<std::string> items;
    ListFolderFiles(items, ctx_.sAppPath, "*.PSW");
    std::sort(items.begin(), items.end());
    const bool exists = std::any_of(items.begin(), items.end(), [&](const std::string& item) {
        return AsciiIEquals(item, current);
    });
    if (items != cbRunDevList_.Items) {
        cbRunDevList_.Items = std::move(items);
        ++revision_;
    }
    if (exists || Running() || current.empty() || cbRunDevList_.Items.empty()) {
        if (!current.empty()) SelectDeviceName(current);
        return;
    }
    cbRunDevListChange(cbRunDevList_.Items.front());
}

void RunPage::cbRunDevListChange(int index) {
    if (index < 0 || index >= static_cast<int>(cbRunDevList_.Items.size())) return;
    cbRunDevListChange(cbRunDevList_.Items[index]);
}

void RunPage::cbRunDevListChange(const std::string& name) {
    SelectDeviceName(name);
    const std::string chosen = cbRunDevList_.Text();
    if (site_->Several()) {
        // With several running together, the list only picks what is shown.
        monitorDue_ = true;
        Show(site_->FindRun(chosen));
        return;
    }
    std::exception_ptr writeError;
    try {
        WriteIniText(ctx_.settingsFile, settings::kRun, settings::kSPowerFn, chosen);
    } catch (const OperatorError&) {
        // Finish the change first, so that the list and the run agree.
        writeError = std::current_exception();
    }
    // The run stops and the chosen controller's run starts afresh: one runs
    // at a time. The monitor keeps its rows until the next start.
    picked_ = true;
    Show(site_->UseSingle(chosen));
    if (writeError) std::rethrow_exception(writeError);
}

// --- the buttons and ticks ------------------------------------------------------

void RunPage::btnRunClick() {
    try {
        site_->StartAll();
    } catch (const OperatorError&) {
        Sync();
        throw;
    }
    Sync();
}

void RunPage::btnStopClick() {
    site_->StopAll();
    if (listChanged_) {
        listChanged_ = false;
        FillRunDeviceList();
    }
    Sync();
}

void RunPage::ControllersChosen(const std::vector<std::string>& files) {
    WriteListedControllers(ctx_.settingsFile, files);
    if (site_->AnyRunning()) {
        listChanged_ = true;
        ctx_.status.ShowStatus(3, kControllersAfterStop);
        return;
    }
    FillRunDeviceList();
}

std::vector<std::string> RunPage::FolderControllers() const {
    std::vector<std::string> files;
    ListFolderFiles(files, ctx_.sAppPath, "*.PSW");
    return files;
}

std::vector<std::string> RunPage::ListedControllers() const {
    return ReadListedControllers(ctx_.settingsFile);
}

void RunPage::tmCheckTimer() {
    site_->CheckTick();
    Sync();
}

void RunPage::Timer1Timer() {
    site_->ClockTick();
    Sync();
}

void RunPage::tmRunTimer() {
    if (const RunView* run = Shown()) ShowRelayStates(run->States());
}

void RunPage::WatchLine() {
    site_->WatchLines();
    Sync();
}

void RunPage::Shutdown() {
    site_->Shutdown();
}

void RunPage::ShowRelayStates(const std::string& text) {
    if (run::ShowRelayStates(sgState_, text)) ++revision_;
}

void RunPage::FitMonitorColumns() {
    run::FitMonitorColumns(sgState_);
    ++revision_;
}

bool RunPage::CursorIsHand(int col, int row) const {
    return Running() && ctx_.boxes.chkManOperate && col == 1 && row >= 1 &&
           row <= MonitorRelayCount(sgState_);
}

SwitchResult RunPage::sgStateMouseDown(MouseButton button, int col, int row) {
    if (button != MouseButton::Left) return SwitchResult::Refused;
    // A click on a relay row makes it the current row, as the grid does.
    if (row >= 1 && row <= MonitorRelayCount(sgState_) && sgState_.Row() != row) {
        sgState_.SetRow(row);
        ++revision_;
    }
    RunView* run = Shown();
    if (!run || !CursorIsHand(col, row) || row > run->RelayCount()) return SwitchResult::Refused;
    const SwitchResult result = run->Toggle(row, "manual");
    Sync();
    return result;
}

// --- the grids follow the shown run -------------------------------------------------

RunPage::~RunPage() {
    site_->Events().Remove(&forward_);
}

void RunPage::UseSite(SiteView& site) {
    site_->Events().Remove(&forward_);
    site_ = &site;
    site_->Events().Add(&forward_);
    builtFor_ = 0;
    shown_.clear();
    FillRunDeviceList();
}

void RunPage::Show(RunView* run) {
    shown_ = run ? run->File() : std::string();
    site_->SetShownController(site_->Several() ? shown_ : std::string());
    builtFor_ = 0;
    Sync();
}

RunView* RunPage::Shown() const {
    if (RunView* run = site_->FindRun(shown_); run && run->File() == shown_) return run;
    // The site replaced its one run (a new controller at a change of date).
    const std::vector<RunView*> runs = site_->RunViews();
    return site_->Several() || runs.empty() ? nullptr : runs.front();
}

void RunPage::BuildPlanGrid(const RunView& run) {
    const auto& rows = run.PlanRows();
    sgPlan_.EmptyStoredRows(1);
    sgPlan_.SetRowCount(std::max<int>(2, static_cast<int>(rows.size()) + 1));
    SetGridTitles(sgPlan_, plan::PlanTableTitles());
    for (int r = 0; r < static_cast<int>(rows.size()); ++r)
        for (int c = 0; c < 6; ++c) sgPlan_.SetCell(c, r + 1, rows[r][c]);
    FitPlanGridColumns(sgPlan_);
    sgPlan_.Touch();
}

void RunPage::BuildPowerGrid(const RunView& run) {
    sgPower_.EmptyStoredRows(1);
    sgPower_.SetRowCount(run.RelayCount() + 1);
    SetGridTitles(sgPower_, controller::CommandTableTitles());
    for (const controller::RelayDefinition& relay : run.Definition().relays) {
        const int r = relay.number;
        sgPower_.SetCell(1, r, relay.on.text);
        sgPower_.SetCell(2, r, relay.off.text);
        sgPower_.SetCell(3, r, relay.noUse);
        sgPower_.SetCell(4, r, relay.ncUse);
        sgPower_.SetCell(5, r, std::string(relay.startOn ? controller::kStartOnMark
                                                         : controller::kStartOffMark));
    }
    NumberGridRows(sgPower_, 0, 1, ' ', 4);
    FitDeviceGridColumns(sgPower_);
    sgPower_.Touch();
}

void RunPage::Sync() {
    const RunView* run = Shown();
    if (!run) return;
    const bool rebuilt = run->Id() != builtFor_;
    if (rebuilt || run->PlanLoads() != builtPlanCount_) {
        BuildPlanGrid(*run);
        builtPlanCount_ = run->PlanLoads();
        ++revision_;
    }
    if (rebuilt || run->DefinitionReads() != builtDefinitionCount_) {
        BuildPowerGrid(*run);
        builtDefinitionCount_ = run->DefinitionReads();
        ++revision_;
    }
    if (rebuilt && !picked_) monitorDue_ = true;
    picked_ = false;
    if (rebuilt) {
        builtStarts_ = run->Starts();
        builtDate_ = run->LastRunDate();
    }
    if (monitorDue_ || run->Starts() != builtStarts_ || run->LastRunDate() != builtDate_) {
        BuildMonitorGrid(sgPower_, sgState_);
        monitorDue_ = false;
        ++revision_;
    }
    builtStarts_ = run->Starts();
    builtDate_ = run->LastRunDate();
    if (rebuilt) seenCommands_ = run->CommandsIssued();
    builtFor_ = run->Id();
    // The monitor's current row follows the timed and re-asserted commands.
    if (run->CommandsIssued() != seenCommands_) {
        seenCommands_ = run->CommandsIssued();
        sgState_.SetRow(run->CommandedRelay());
    }
    // Grey, framed and lamp states are drawn from the run.
    if (run->Revision() != seenRunRevision_) {
        seenRunRevision_ = run->Revision();
        sgState_.Touch();
        ++revision_;
    }
    // The list follows a run controller that the site changed by itself.
    if (!site_->Several() && cbRunDevList_.Text() != run->File()) {
        ListControllers();
        SelectDeviceName(run->File());
    }
}

std::uint64_t RunPage::Revision() const {
    return revision_ + site_->Revision();
}

// --- derived texts ----------------------------------------------------------------------

bool RunPage::Running() const {
    const RunView* run = Shown();
    return run && run->Running();
}

bool RunPage::BtnRunEnabled() const {
    if (!site_->Several()) return !Running();
    const std::vector<RunView*> runs = site_->RunViews();
    return std::any_of(runs.begin(), runs.end(), [](const RunView* run) { return !run->Running(); });
}

bool RunPage::BtnStopEnabled() const {
    return site_->Several() ? site_->AnyRunning() : Running();
}

LampColour RunPage::Lamp() const {
    const RunView* run = Shown();
    return run && run->BlocksReceived() % 2 == 1 ? LampColour::Red : LampColour::Yellow;
}

std::string RunPage::lbRunFn() const {
    const RunView* run = Shown();
    return run ? kRunFnPrefix + run->PlanPath() : std::string();
}

std::string RunPage::lbState() const {
    const RunView* run = Shown();
    return run && run->EverStarted() ? kLbStatePrefix + run->StartedStateQuery()
                                              : std::string(kLbStateInitial);
}

std::string RunPage::lbCom() const {
    const RunView* run = Shown();
    return run ? ComText(*run) : std::string(kLbComInitial);
}

std::string RunPage::lbCmd() const {
    const RunView* run = Shown();
    return run && run->EverStarted() ? kLbCmdPrefix + run->DecoderPath()
                                              : std::string(kLbCmdInitial);
}

std::string RunPage::lbDev() const {
    const RunView* run = Shown();
    return run && run->EverStarted() ? kLbDevPrefix + run->DecoderDescription()
                                              : std::string(kLbDevInitial);
}

LineState RunPage::Line() const {
    const RunView* run = Shown();
    return run ? run->Line() : LineState::Normal;
}

bool RunPage::StatesUnknown() const {
    const RunView* run = Shown();
    return run && run->StatesUnknown();
}

bool RunPage::RelayMismatch(int relay) const {
    const RunView* run = Shown();
    return run && run->RelayMismatch(relay);
}

std::string RunPage::sRunPowerFn() const {
    const RunView* run = Shown();
    return run ? run->ControllerPath() : std::string();
}

std::string RunPage::sRunPlanFn() const {
    const RunView* run = Shown();
    return run ? run->PlanPath() : std::string();
}

std::string RunPage::sRunDllFn() const {
    const RunView* run = Shown();
    return run ? run->DecoderPath() : std::string();
}

std::string RunPage::sStateCmd() const {
    const RunView* run = Shown();
    return run ? run->StartedStateQuery() : std::string();
}

std::string RunPage::sJDQState() const {
    const RunView* run = Shown();
    return run ? run->States() : std::string();
}

std::vector<plan::TPlanAction> RunPage::PlanActions() const {
    const RunView* run = Shown();
    return run ? run->PlanActions() : std::vector<plan::TPlanAction>{};
}

int RunPage::RelayCount() const {
    const RunView* run = Shown();
    return run ? run->RelayCount() : 1;
}

Date RunPage::PlanDate() const {
    const RunView* run = Shown();
    return run ? run->PlanDate() : ctx_.clock.Now().date;
}

Date RunPage::LastRunDate() const {
    const RunView* run = Shown();
    return run ? run->LastRunDate() : ctx_.clock.Now().date;
}

void RunPage::SetLastRunDate(const Date& date) {
    // Start-up sets the plans' date; the runs keep their own.
    (void)date;
    ++revision_;
}

}  // namespace ristova::run
