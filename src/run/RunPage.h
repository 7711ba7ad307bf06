#pragma once
// The run page ("电源控制监视和操作") as a thin model over the site: the
// controller list, the run plan, command and monitor grids, the four labels,
// the lamp and the two buttons, all derived from the selected run. The
// window renders this and forwards the operator's events and its timers'
// ticks; the runs hold the state.
//
// With one controller (the list [RUN] Controllers holds fewer than two),
// cbRunDevList picks the run controller and picking another stops it. With
// several, the buttons start and stop them all and cbRunDevList picks the
// run the page shows.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/AppContext.h"
#include "base/StringGrid.h"
#include "run/RunView.h"

namespace ristova::run {

// Label texts before the first start (full-width colons) and the prefixes
// that a start writes.
inline constexpr const char* kLbStateInitial = "状态指令：";
inline constexpr const char* kLbComInitial = "通信状态：";
inline constexpr const char* kLbCmdInitial = "处理程序：";
inline constexpr const char* kLbDevInitial = "适用硬件：";
inline constexpr const char* kLbStatePrefix = "状态指令:";
inline constexpr const char* kLbCmdPrefix = "处理程序:";
inline constexpr const char* kLbDevPrefix = "适用硬件:";
inline constexpr const char* kLbComOk = "通信状态:正常启动";
// + why the port did not open (and kLbComRetrying while it still does not).
inline constexpr const char* kLbComFailedPrefix = "通信状态:启动失败,";
inline constexpr const char* kLbComRetrying = ",正在重新连接";
inline constexpr const char* kLbComLost = "通信状态:通信中断,正在重新连接";
inline constexpr const char* kLbComReconnected = "通信状态:已重新连接";
inline constexpr const char* kLbComNoAnswer = "通信状态:无应答";

// Panel 3 when the controllers that run together were chosen while running.
inline constexpr const char* kControllersAfterStop = "同时运行的控制器将在停止运行后生效";

// lbCom's text for a run's line.
std::string ComText(const RunView& run);

enum class LampColour { Yellow, Red };
enum class MouseButton { Left, Right, Middle };

// The drop-down list cbRunDevList.
struct DeviceList {
    std::vector<std::string> Items;
    int ItemIndex = -1;
    // The selected entry; empty when none.
    std::string Text() const;
};

class RunPage {
  public:
    RunPage(AppContext& ctx, SiteView& site);
    ~RunPage();
    // Another site (the engine this window attached to went away and the
    // window took over, say): the page shows its runs from now on.
    void UseSite(SiteView& site);
    RunPage(const RunPage&) = delete;
    RunPage& operator=(const RunPage&) = delete;

    // --- handlers --------------------------------------------------------
    // Start-up: the list, the site's runs and their plans, the grids.
    void FillRunDeviceList();
    // Showing the page: the list reads the folder again and keeps its entry
    // while that exists or runs; a stopped run whose controller is gone
    // takes the first entry.
    void RefreshDeviceList();
    // The operator picked an entry of cbRunDevList. Throws OperatorError
    // when the settings file cannot be written (after the change is done).
    void cbRunDevListChange(int index);
    void cbRunDevListChange(const std::string& name);
    // Throws OperatorError for a [COMM] value that is no integer; that run
    // stays stopped (the others start).
    void btnRunClick();
    void btnStopClick();
    // The site's ticks, then the page follows what they changed.
    void tmCheckTimer();
    void Timer1Timer();
    // Copies the shown run's decoded states into the monitor grid (200 ms).
    void tmRunTimer();
    void WatchLine();
    // col/row: the monitor cell under the pointer (-1 when none).
    SwitchResult sgStateMouseDown(MouseButton button, int col, int row);
    bool CursorIsHand(int col, int row) const;
    // "同时运行…": the controllers that run together, stored at once. The
    // page takes them on at once while nothing runs, else after the stop.
    void ControllersChosen(const std::vector<std::string>& files);
    // The folder's controllers and those listed to run together.
    std::vector<std::string> FolderControllers() const;
    std::vector<std::string> ListedControllers() const;
    // Program end.
    void Shutdown();
    // The grids follow the shown run; the handlers call it, the window after
    // anything else that may have changed a run (a received block).
    void Sync();
    // Column fitting of the monitor for the grid's current width.
    void FitMonitorColumns();
    // Copies a state text into the monitor grid.
    void ShowRelayStates(const std::string& text);

    // --- what the page shows ------------------------------------------------
    // The run the page shows; null before FillRunDeviceList.
    RunView* Shown() const;
    bool Running() const;  // the shown run runs
    bool BtnRunEnabled() const;
    bool BtnStopEnabled() const;
    LampColour Lamp() const;
    std::string lbRunFn() const;
    std::string lbState() const;
    std::string lbCom() const;
    std::string lbCmd() const;
    std::string lbDev() const;
    LineState Line() const;
    bool StatesUnknown() const;
    bool LbComAlarm() const { return StatesUnknown(); }
    bool RelayMismatch(int relay) const;
    const DeviceList& cbRunDevList() const { return cbRunDevList_; }

    std::string sRunPowerFn() const;
    std::string sRunPlanFn() const;
    std::string sRunDllFn() const;
    std::string sStateCmd() const;
    std::string sJDQState() const;
    std::vector<plan::TPlanAction> PlanActions() const;
    int RelayCount() const;
    Date PlanDate() const;
    Date LastRunDate() const;
    void SetLastRunDate(const Date& date);

    StringGrid& sgPlan() { return sgPlan_; }
    StringGrid& sgPower() { return sgPower_; }
    StringGrid& sgState() { return sgState_; }
    const StringGrid& sgPlan() const { return sgPlan_; }
    const StringGrid& sgPower() const { return sgPower_; }
    const StringGrid& sgState() const { return sgState_; }

    SiteView& GetSite() { return *site_; }
    // The events of the site shown, whichever that is.
    RunEventHub& Events() { return events_; }
    int MillisecondsToNextSecond() const { return site_->MillisecondsToNextSecond(); }
    // Grows on every change of what the page shows.
    std::uint64_t Revision() const;

  private:
    void SelectDeviceName(const std::string& name);
    void ListControllers();
    void Show(RunView* run);
    void BuildPlanGrid(const RunView& run);
    void BuildPowerGrid(const RunView& run);

    AppContext& ctx_;
    SiteView* site_;
    RunEventHub events_;
    // Passes the site's events on to the page's own hub.
    struct Forward : IRunEventSink {
        RunEventHub* to = nullptr;
        void OnRunEvent(const RunEvent& event) override { to->OnRunEvent(event); }
    } forward_;
    StringGrid sgPlan_;
    StringGrid sgPower_;
    StringGrid sgState_;
    DeviceList cbRunDevList_;
    std::string shown_;  // the file of the run shown
    std::uint64_t revision_ = 0;

    // What the grids were built from, to rebuild only on a change.
    std::uint64_t builtFor_ = 0;  // the run's Id
    std::string builtPlan_;
    std::uint64_t builtPlanCount_ = ~std::uint64_t{0};
    std::uint64_t builtDefinitionCount_ = ~std::uint64_t{0};
    // The monitor's rows are laid out at the page's start-up, at each start
    // and at a change of date, not when another controller is picked.
    std::uint64_t builtStarts_ = ~std::uint64_t{0};
    Date builtDate_;
    bool monitorDue_ = true;
    bool picked_ = false;  // the operator picked the new run in the list
    bool listChanged_ = false;  // a new choice of controllers waits for the stop
    std::uint64_t seenCommands_ = 0;
    std::uint64_t seenRunRevision_ = ~std::uint64_t{0};
};

}  // namespace ristova::run
