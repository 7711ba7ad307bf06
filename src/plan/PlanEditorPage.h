#pragma once
// The plan editor page ("电源控制计划编辑") as a model: the chosen controller's
// relay list, the plan table being edited, the sort order and the handlers.
// The Qt page renders this and forwards the operator's events.
//
// The page keeps no undo and no record of unsaved edits: choosing another
// controller or table, refreshing or restoring reloads from disk.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/AppContext.h"
#include "base/PageControls.h"
#include "base/StringGrid.h"

namespace ristova::plan {

inline constexpr std::string_view kNoTableOpen = "当前编辑计划表：无";
inline constexpr std::string_view kCurrentTablePrefix = "【当前编辑计划表】 ";
inline constexpr std::string_view kRelayEntryRule = "继电器编号是一到两位数字,例如 3 或 03";
inline constexpr std::string_view kTimeEntryRule =
    "时间是 时:分:秒,例如 9:5:0 或 09:05:00";
inline constexpr std::string_view kSaveDialogFilter = "电源控制计划表|*.tab";
// "另存为" refuses names that make no table of the plan folder.
inline constexpr std::string_view kSaveAsNoName = "请输入计划表文件名";
inline constexpr std::string_view kSaveAsOnlyExtension = "计划表文件名只有扩展名:";
inline constexpr std::string_view kSaveAsBadName = "请输入合法的计划表文件名:";

// What "另存为" offers the save dialog.
struct SaveAsProposal {
    std::string folder;    // the folder of the open table
    std::string fileName;  // folder + tomorrow's dashed date + ".tab"
};

class PlanEditorPage {
  public:
    explicit PlanEditorPage(AppContext& ctx);

    // Start-up: reads [LOAD] rbJDQ and selects the matching button, running
    // its click (so a value differing from rbJDQ's initial choice is written).
    void LoadSortButtons();
    void InitPlanEditor();
    // Entering the page: the controllers are listed again. The open table and
    // its edits stay while its controller exists; the relay list is read
    // again. A controller that is gone leaves an empty page.
    void RefreshControllerList();

    // Internal steps.
    void LoadEditDeviceGrid(const std::string& controllerFile);
    void ListPlanTables(const std::string& controllerFile);
    void OpenSelectedTable();
    void SavePlanTable();

    // Handlers. List handlers take the picked index.
    void cbEditDevListChange(int index);
    void cbEdFnChange(int index);
    void btnReGetDevicesClick();
    void btnAddClick();
    void btnDelClick();
    void btnRestoreClick();
    void btnSavePlanClick();
    // Nothing when no table is open; the caller shows the dialog with it.
    std::optional<SaveAsProposal> SaveAsProposalFor() const;
    // The path the operator chose in the dialog; nullopt when cancelled.
    void btnSaveAsClick(const std::optional<std::string>& chosenPath);
    void btnDelPlanFnClick();
    // The table btnDelPlanFnClick would delete; empty when it does nothing.
    std::string TableToDelete() const;
    void TabSheet3Enter();
    void rbJDQClick();
    void rbTimeClick();
    // Moves the selected cell (mouse, keys or program) and runs sgEdPlanClick.
    void sgEdPlanSelectCell(int col, int row);
    void sgEdPlanClick();
    // "00" for column 1, "00:00:00" for column 2, empty otherwise.
    static std::string sgEdPlanGetEditMask(int col);
    // What the operator typed into a relay or time cell, completed to the
    // cell's mask: "3" gives "03", "9:5:0" and "090500" give "09:05:00",
    // "9:5" gives "09:05:00". Nullopt when it cannot be completed.
    static std::optional<std::string> CompleteMaskedEntry(int col, std::string_view typed);
    // Why an entry was refused, for the message.
    static std::string_view MaskedEntryRule(int col);
    void sgEdPlanDblClick();
    // The in-place editor of a relay or time cell finished.
    void sgEdPlanSetEditText(int col, int row, const std::string& text);

    // What the page shows.
    const std::string& sEdPowerFn() const { return sEdPowerFn_; }
    const std::string& sEdPlanFn() const { return sEdPlanFn_; }
    const PickList& cbEditDevList() const { return cbEditDevList_; }
    const PickList& cbEdFn() const { return cbEdFn_; }
    const std::string& lbEdFn() const { return lbEdFn_; }
    bool rbJDQ() const { return rbJDQ_; }
    bool rbTime() const { return rbTime_; }
    bool sgEdPlanEditing() const { return sgEdPlanEditing_; }
    const ButtonState& btnReGetDevices() const { return btnReGetDevices_; }
    const ButtonState& btnDelPlanFn() const { return btnDelPlanFn_; }
    const ButtonState& btnAdd() const { return btnAdd_; }
    const ButtonState& btnDel() const { return btnDel_; }
    const ButtonState& btnRestore() const { return btnRestore_; }
    const ButtonState& btnSavePlan() const { return btnSavePlan_; }
    const ButtonState& btnSaveAs() const { return btnSaveAs_; }
    StringGrid& sgEdPlan() { return sgEdPlan_; }
    const StringGrid& sgEdPlan() const { return sgEdPlan_; }
    StringGrid& sgedDev() { return sgedDev_; }
    const StringGrid& sgedDev() const { return sgedDev_; }

    // Grows on every change of the page's state (the grids have their own).
    std::uint64_t Revision() const { return revision_; }

  private:
    void Changed() { ++revision_; }
    void ChooseController(const std::string& entry);
    void SetSortButton(bool byRelay);
    void ClearPage();
    // Checks, completes, sorts and writes the open table; the message naming
    // the rows it dropped, empty when none. Throws only when nothing was written.
    std::string WritePlanTable();

    AppContext& ctx_;
    std::string sEdPowerFn_;
    std::string sEdPlanFn_;
    PickList cbEditDevList_;
    PickList cbEdFn_;
    std::string lbEdFn_;
    bool rbJDQ_ = true;
    bool rbTime_ = false;
    bool sgEdPlanEditing_ = false;
    ButtonState btnReGetDevices_;
    ButtonState btnDelPlanFn_;
    ButtonState btnAdd_;
    ButtonState btnDel_;
    ButtonState btnRestore_;
    ButtonState btnSavePlan_;
    ButtonState btnSaveAs_;
    StringGrid sgEdPlan_;
    StringGrid sgedDev_;
    std::uint64_t revision_ = 0;
};

}  // namespace ristova::plan
