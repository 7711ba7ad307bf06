#include "plan/PlanEditorPage.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"
#include "controller/StatePlugin.h"
#include "plan/PlanFile.h"
#include "plan/PlanRow.h"

namespace ristova::plan {

namespace {

constexpr std::array<int, 6> kPlanColWidths{32, 52, 67, 63, 171, 259};
constexpr std::array<int, 6> kDeviceColWidths{64, 153, 161, 64, 64, 64};
constexpr int kRowHeight = 16;
// The grids' widths in the page's design; the page sets the real ones.
constexpr int kPlanGridDesignWidth = 776;
constexpr int kDeviceGridDesignWidth = 776;
// The inside of their design heights (a 1-pixel frame).
constexpr int kPlanGridDesignClientHeight = 333 - 2;
constexpr int kDeviceGridDesignClientHeight = 103 - 2;

template <std::size_t N>
void SetColWidths(StringGrid& grid, const std::array<int, N>& widths) {
    for (std::size_t c = 0; c < N; ++c) grid.SetColWidth(static_cast<int>(c), widths[c]);
}

// A stored table name is only used when it can be a file of the plan folder.
std::string SafeTableName(const std::string& stored) {
    if (stored.empty() || !controller::IsSafePluginName(stored)) return std::string(kDefaultTable);
    return stored;
}

// The name the operator typed in the save dialog: the path beyond the
// folder that the dialog started in, else the path's last part.
std::string TypedSaveAsName(const std::string& chosen, const std::string& startFolder) {
    if (!startFolder.empty() && chosen.starts_with(startFolder))
        return chosen.substr(startFolder.size());
    return ExtractFileName(chosen);
}

bool HasParentStep(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (path.compare(start, slash - start, "..") == 0) return true;
        start = slash + 1;
    }
    return false;
}

}  // namespace

PlanEditorPage::PlanEditorPage(AppContext& ctx)
    : ctx_(ctx), lbEdFn_(kNoTableOpen), sgEdPlan_(6, 2, 1, 1), sgedDev_(6, 2, 0, 1) {
    btnReGetDevices_.caption = "涮新电源控制器";
    btnDelPlanFn_.caption = "删除计划表";
    btnAdd_.caption = "增加行";
    btnDel_.caption = "删除行";
    btnRestore_.caption = "恢复表";
    btnSavePlan_.caption = "保存表";
    btnSaveAs_.caption = "另存为";
    cbEditDevList_.hint = "选择要安排计划的电源控制器";

    SetColWidths(sgEdPlan_, kPlanColWidths);
    sgEdPlan_.SetDefaultRowHeight(kRowHeight);
    sgEdPlan_.SetShowsVScrollBar(true);
    sgEdPlan_.SetWidth(kPlanGridDesignWidth);
    sgEdPlan_.SetClientHeight(kPlanGridDesignClientHeight);
    SetColWidths(sgedDev_, kDeviceColWidths);
    sgedDev_.SetDefaultRowHeight(kRowHeight);
    sgedDev_.SetShowsVScrollBar(true);
    sgedDev_.SetWidth(kDeviceGridDesignWidth);
    sgedDev_.SetClientHeight(kDeviceGridDesignClientHeight);
}

// ---- sort order ----------------------------------------------------------

void PlanEditorPage::SetSortButton(bool byRelay) {
    rbJDQ_ = byRelay;
    rbTime_ = !byRelay;
    WriteIniText(ctx_.settingsFile, settings::kLoad, settings::kRbJDQ,
                 byRelay ? settings::kCaptionRbJDQ : settings::kCaptionRbTime);
    Changed();
}

void PlanEditorPage::rbJDQClick() {
    SetSortButton(true);
}

void PlanEditorPage::rbTimeClick() {
    SetSortButton(false);
}

void PlanEditorPage::LoadSortButtons() {
    const std::string stored = ReadIniTextDef(ctx_.settingsFile, settings::kLoad, settings::kRbJDQ,
                                              settings::kCaptionRbJDQ);
    const bool byRelay = stored == settings::kCaptionRbJDQ;
    const bool byTime = stored == settings::kCaptionRbTime;
    // Checking a button that is checked already is no click, and unchecking
    // is none either: a text naming neither button leaves both unchecked.
    if (byRelay && !rbJDQ_) rbJDQClick();
    if (byTime && !rbTime_) rbTimeClick();
    rbJDQ_ = byRelay;
    rbTime_ = byTime;
    Changed();
}

// ---- controller and tables -----------------------------------------------

void PlanEditorPage::InitPlanEditor() {
    sEdPowerFn_.clear();
    sEdPlanFn_.clear();
    ListFolderFiles(cbEditDevList_.items, ctx_.sAppPath, "*.PSW");
    cbEditDevList_.itemIndex = -1;
    Changed();
    const std::string name = ReadIniText(ctx_.settingsFile, settings::kEdit, settings::kSPowerFn);
    if (name.empty()) return;
    const int index = cbEditDevList_.IndexOfCaseless(name);
    if (index < 0) {
        // The remembered controller is gone: an empty page, not paths made
        // from an empty controller name.
        ClearPage();
        return;
    }
    cbEditDevList_.itemIndex = index;
    sEdPowerFn_ = ctx_.sAppPath + cbEditDevList_.items[index];
    LoadEditDeviceGrid(sEdPowerFn_);
    ListPlanTables(sEdPowerFn_);
    cbEdFn_.SelectOrAppend(
        SafeTableName(ReadIniText(ctx_.settingsFile, settings::kEdit, settings::kCbEdFn)));
    OpenSelectedTable();
}

void PlanEditorPage::ClearPage() {
    sEdPowerFn_.clear();
    sEdPlanFn_.clear();
    cbEdFn_.Clear();
    lbEdFn_ = std::string(kNoTableOpen);
    ClearGrid(sgEdPlan_);
    ClearGrid(sgedDev_);
    FitPlanGridColumns(sgEdPlan_);
    FitDeviceGridColumns(sgedDev_);
    Changed();
}

void PlanEditorPage::RefreshControllerList() {
    const std::string current = cbEditDevList_.Text();
    ListFolderFiles(cbEditDevList_.items, ctx_.sAppPath, "*.PSW");
    cbEditDevList_.itemIndex = current.empty() ? -1 : cbEditDevList_.IndexOf(current);
    Changed();
    if (current.empty()) return;
    if (cbEditDevList_.itemIndex < 0) {
        ClearPage();
        return;
    }
    // Relay names or the relay count may have changed on the setup page.
    LoadEditDeviceGrid(sEdPowerFn_);
}

void PlanEditorPage::LoadEditDeviceGrid(const std::string& controllerFile) {
    // Clearing, reading [COMMAND], six titled columns and relay numbers.
    controller::ReadCommandTable(controllerFile, sgedDev_);
    FitDeviceGridColumns(sgedDev_);
    Changed();
}

void PlanEditorPage::ListPlanTables(const std::string& controllerFile) {
    const std::string folder = PlanFolder(ctx_.sAppPath, controllerFile);
    if (!DirectoryExists(folder)) ForceDirectories(folder);
    cbEdFn_.Clear();
    if (DirectoryExists(folder)) ListFolderFiles(cbEdFn_.items, folder, "*.tab");
    Changed();
}

void PlanEditorPage::OpenSelectedTable() {
    sEdPlanFn_ = PlanFolder(ctx_.sAppPath, sEdPowerFn_) + cbEdFn_.Text();
    lbEdFn_ = std::string(kCurrentTablePrefix) + sEdPlanFn_;
    LoadPlanGrid(sEdPlanFn_, sgEdPlan_);
    FitPlanGridColumns(sgEdPlan_);
    sgEdPlanClick();
    Changed();
}

void PlanEditorPage::ChooseController(const std::string& entry) {
    sEdPowerFn_ = ctx_.sAppPath + entry;
    LoadEditDeviceGrid(sEdPowerFn_);
    ListPlanTables(sEdPowerFn_);
    cbEdFn_.SelectOrAppend(std::string(kDefaultTable));
    OpenSelectedTable();
    // Written last: a refused write is reported with the page already
    // showing the chosen controller and its table.
    WriteIniText(ctx_.settingsFile, settings::kEdit, settings::kSPowerFn, entry);
}

void PlanEditorPage::cbEditDevListChange(int index) {
    if (index < 0 || index >= static_cast<int>(cbEditDevList_.items.size())) return;
    cbEditDevList_.itemIndex = index;
    ChooseController(cbEditDevList_.items[index]);
}

void PlanEditorPage::cbEdFnChange(int index) {
    // Tables still listed from before a refresh that chose no controller
    // would open, and be saved, in the program folder itself.
    if (sEdPowerFn_.empty()) return;
    if (index < 0 || index >= static_cast<int>(cbEdFn_.items.size())) return;
    cbEdFn_.itemIndex = index;
    // The table first: a refused write must not leave the list naming a
    // table other than the one open.
    OpenSelectedTable();
    WriteIniText(ctx_.settingsFile, settings::kEdit, settings::kCbEdFn, cbEdFn_.items[index]);
}

void PlanEditorPage::btnReGetDevicesClick() {
    InitPlanEditor();
}

// ---- rows ------------------------------------------------------------------

void PlanEditorPage::btnAddClick() {
    AddGridRow(sgEdPlan_);
    NumberGridRows(sgEdPlan_, 0, 1, ' ', 3);
    FitPlanGridColumns(sgEdPlan_);
    sgEdPlanClick();
}

void PlanEditorPage::btnDelClick() {
    DeleteGridRow(sgEdPlan_, sgEdPlan_.Row());
    NumberGridRows(sgEdPlan_, 0, 1, ' ', 3);
    FitPlanGridColumns(sgEdPlan_);
    sgEdPlanClick();
}

void PlanEditorPage::btnRestoreClick() {
    if (sEdPlanFn_.empty()) return;
    LoadPlanGrid(sEdPlanFn_, sgEdPlan_);
    FitPlanGridColumns(sgEdPlan_);
    sgEdPlanClick();
}

void PlanEditorPage::btnSavePlanClick() {
    SavePlanTable();
}

void PlanEditorPage::SavePlanTable() {
    if (sEdPlanFn_.empty()) return;
    const std::string dropped = WritePlanTable();
    if (!dropped.empty()) throw OperatorError(dropped);
}

std::string PlanEditorPage::WritePlanTable() {
    StringGrid& g = sgEdPlan_;
    const int relayCount = sgedDev_.RowCount() - 1;
    std::string keepTime;
    std::string keepRelay;
    // Taken before the loop: removing the last row selects the row above it,
    // which is not the operator's row. Removals below it never move it.
    const int selected = g.Row();
    std::vector<std::string> droppedRelay;
    std::vector<std::string> droppedTime;
    for (int r = g.RowCount() - 1; r >= 1; --r) {
        const std::optional<int> relay = ParseRelayCell(g.Cell(1, r));
        const std::optional<int> second = ParseTimeCell(g.Cell(2, r));
        const int n = relay.value_or(0);
        const bool relayOk = n >= 1 && n <= relayCount;
        if (!relayOk || !second) {
            // A row left empty goes without a word.
            if (!Trim(g.Cell(1, r)).empty() || !Trim(g.Cell(2, r)).empty()) {
                std::vector<std::string>& list = relayOk ? droppedTime : droppedRelay;
                list.insert(list.begin(), std::to_string(r));
            }
            DeleteGridRow(g, r);
            continue;
        }
        g.SetCell(2, r, SecondsToTimeText(*second));
        if (r == selected) {
            keepTime = g.Cell(2, r);
            keepRelay = g.Cell(1, r);
        }
        if (g.Cell(3, r).empty()) g.SetCell(3, r, std::string(kSwitchOff));
        g.SetCell(4, r, sgedDev_.Cell(3, static_cast<int>(n)));
        g.SetCell(5, r, sgedDev_.Cell(4, static_cast<int>(n)));
    }
    const int last = g.RowCount() - 1;
    if (rbJDQ_) {
        SortGridByColumn(g, 1, 1, last);
        SortGridGroups(g, 1, 2, 1, last);
    } else {
        SortGridByColumn(g, 2, 1, last);
        SortGridGroups(g, 2, 1, 1, last);
    }
    if (!keepTime.empty()) {
        const int r = FindGridRow(g, 1, 2, 1, keepRelay, keepTime);
        if (r > 0) g.SetRow(r);
    }
    NumberGridRows(g, 0, 1, ' ', 3);
    // Dropped rows can take the scroll bar away.
    FitPlanGridColumns(g);
    g.Touch();
    sgEdPlanClick();
    SavePlanGrid(g, sEdPlanFn_);
    if (droppedRelay.empty() && droppedTime.empty()) return {};
    auto rows = [](const std::vector<std::string>& list) {
        std::string text;
        for (const std::string& r : list) text += (text.empty() ? "" : "、") + r;
        return text;
    };
    std::string message;
    if (!droppedRelay.empty())
        message = "第" + rows(droppedRelay) + "行的继电器号不在1.." + std::to_string(relayCount) +
                  "之间";
    if (!droppedTime.empty())
        message += (message.empty() ? "第" : ",第") + rows(droppedTime) + "行的时间无法识别";
    return message + ",这些行未保存";
}

// ---- save as and delete ----------------------------------------------------

std::optional<SaveAsProposal> PlanEditorPage::SaveAsProposalFor() const {
    if (sEdPlanFn_.empty()) return std::nullopt;
    SaveAsProposal p;
    p.folder = ExtractFilePath(sEdPlanFn_);
    p.fileName = p.folder + DateText(true, ctx_.clock.Now().date.AddDays(1)) + ".tab";
    return p;
}

void PlanEditorPage::btnSaveAsClick(const std::optional<std::string>& chosenPath) {
    if (sEdPlanFn_.empty() || !chosenPath) return;
    const std::string typed = TypedSaveAsName(*chosenPath, ExtractFilePath(sEdPlanFn_));
    if (Trim(typed).empty()) throw OperatorError(std::string(kSaveAsNoName));
    // The dialog hands on a typed "../x" as it is; a folder picked in it
    // never holds "..". Either way the name is refused, not its write.
    if (!controller::IsSafePluginName(typed) || HasParentStep(*chosenPath))
        throw OperatorError(std::string(kSaveAsBadName) + typed);
    const std::string base = RemoveLastExtension(typed);
    if (Trim(base).empty()) throw OperatorError(std::string(kSaveAsOnlyExtension) + typed);
    const std::string name = AsciiUpper(base + ".tab");
    const std::string previous = sEdPlanFn_;
    const std::string folder = PlanFolder(ctx_.sAppPath, sEdPowerFn_);
    sEdPlanFn_ = folder + name;
    std::string dropped;
    try {
        dropped = WritePlanTable();
    } catch (...) {
        // Nothing written: keep editing the table that was open; the grid
        // keeps its content.
        sEdPlanFn_ = previous;
        Changed();
        throw;
    }
    // The stored spelling, when a table of that name existed in another case.
    sEdPlanFn_ = ResolvePlanPath(folder, name);
    cbEdFn_.SelectOrAppend(ExtractFileName(sEdPlanFn_));
    lbEdFn_ = std::string(kCurrentTablePrefix) + sEdPlanFn_;
    LoadPlanGrid(sEdPlanFn_, sgEdPlan_);
    FitPlanGridColumns(sgEdPlan_);
    sgEdPlanClick();
    Changed();
    // Only now: the new table is the open one, so the next save goes to it.
    if (!dropped.empty()) throw OperatorError(dropped);
}

std::string PlanEditorPage::TableToDelete() const {
    // The default table stays, whatever the case of its stored name.
    // Judged by the table that is open, not by the list's entry.
    if (sEdPlanFn_.empty() || AsciiIEquals(ExtractFileName(sEdPlanFn_), kDefaultTable)) return {};
    return ExtractFileName(sEdPlanFn_);
}

void PlanEditorPage::btnDelPlanFnClick() {
    if (TableToDelete().empty()) return;
    ForceDeleteFile(sEdPlanFn_);
    ChooseController(ExtractFileName(sEdPowerFn_));
}

// ---- page and grid -----------------------------------------------------------

void PlanEditorPage::TabSheet3Enter() {
    FitDeviceGridColumns(sgedDev_);
    FitPlanGridColumns(sgEdPlan_);
    Changed();
}

void PlanEditorPage::sgEdPlanSelectCell(int col, int row) {
    if (SelectGridCell(sgEdPlan_, col, row)) sgEdPlanClick();
}

void PlanEditorPage::sgEdPlanClick() {
    const int col = sgEdPlan_.Col();
    sgEdPlanEditing_ = col == 1 || col == 2;
    Changed();
}

std::string PlanEditorPage::sgEdPlanGetEditMask(int col) {
    if (col == 1) return "00";
    if (col == 2) return "00:00:00";
    return {};
}

std::optional<std::string> PlanEditorPage::CompleteMaskedEntry(int col, std::string_view typed) {
    std::string text;
    // The mask's blanks are no input.
    for (char c : typed) {
        if (c != '_' && c != ' ') text += c;
    }
    auto digits = [](std::string_view part) {
        return !part.empty() && part.size() <= 2 &&
               std::all_of(part.begin(), part.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    auto pad = [](std::string_view part) {
        return part.size() == 1 ? "0" + std::string(part) : std::string(part);
    };
    if (col == 1) {
        if (!digits(text)) return std::nullopt;
        return pad(text);
    }
    if (col != 2) return std::string(text);
    std::vector<std::string> parts;
    if (text.find(':') == std::string::npos) {
        // Typed straight through the mask: hours and minutes, maybe seconds.
        if (text.size() != 4 && text.size() != 6) return std::nullopt;
        for (std::size_t i = 0; i < text.size(); i += 2) parts.push_back(text.substr(i, 2));
    } else {
        std::size_t from = 0;
        while (true) {
            const std::size_t colon = text.find(':', from);
            parts.push_back(text.substr(from, colon == std::string::npos ? colon : colon - from));
            if (colon == std::string::npos) break;
            from = colon + 1;
        }
        // "9:5:" is "9:5" typed through the mask.
        if (parts.size() == 3 && parts[2].empty()) parts.pop_back();
    }
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    if (parts.size() == 2) parts.push_back("00");
    std::string completed;
    for (const std::string& part : parts) {
        if (!digits(part)) return std::nullopt;
        if (!completed.empty()) completed += ':';
        completed += pad(part);
    }
    // "08:75:00" fits the mask but is no time of a day.
    if (!ParseTimeCell(completed)) return std::nullopt;
    return completed;
}

std::string_view PlanEditorPage::MaskedEntryRule(int col) {
    return col == 1 ? kRelayEntryRule : kTimeEntryRule;
}

void PlanEditorPage::sgEdPlanDblClick() {
    if (sgEdPlan_.Col() != 3) return;
    const int row = sgEdPlan_.Row();
    const bool on = sgEdPlan_.Cell(3, row) == kSwitchOn;
    sgEdPlan_.SetCell(3, row, std::string(on ? kSwitchOff : kSwitchOn));
    sgEdPlan_.Touch();
    Changed();
}

void PlanEditorPage::sgEdPlanSetEditText(int col, int row, const std::string& text) {
    if ((col != 1 && col != 2) || row < 1 || row >= sgEdPlan_.RowCount()) return;
    sgEdPlan_.SetCell(col, row, text);
    sgEdPlan_.Touch();
    Changed();
}

}  // namespace ristova::plan
