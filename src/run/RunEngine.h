#pragma once
// The run engine: executes the day's plan of the run controller, polls and
// decodes its relay states and keeps everything the monitor page shows. The
// window only renders this state and forwards events and timer ticks.
//
// Timers (all on the main thread):
// - Timer1Timer every 1000 ms, always;
// - tmRunTimer every 200 ms while Running();
// - tmCheckTimer while Running(), as a single-shot timer re-armed after each
//   tick with MillisecondsToNextSecond(), so that it fires at the start of
//   each second.
// After any call the window compares Revision() (and the grids' revisions)
// with what it drew last.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/AppContext.h"
#include "run/AnswerJoiner.h"
#include "run/RunEvents.h"
#include "run/SwitchConfirmation.h"
#include "base/Clock.h"
#include "base/Files.h"
#include "base/StringGrid.h"
#include "comm/MyComm32.h"
#include "controller/StatePlugin.h"
#include "plan/PlanRow.h"

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
// + why the port did not open (OpenFailureText).
inline constexpr const char* kLbComFailedPrefix = "通信状态:启动失败,";
// After the failed start's reason while the port still does not open.
inline constexpr const char* kLbComRetrying = ",正在重新连接";
inline constexpr const char* kLbComLost = "通信状态:通信中断,正在重新连接";
inline constexpr const char* kLbComReconnected = "通信状态:已重新连接";
inline constexpr const char* kLbComNoAnswer = "通信状态:无应答";
// Panel 3 for a command that falls due while the line is lost (+ the hex).
inline constexpr const char* kNotSentPrefix = "通信中断,未发送:";
inline constexpr const char* kUnknownStateRefused = "继电器状态未知,不能手动切换";
// Panel 3 when a relay did not follow its command: prefix + k + suffix.
inline constexpr const char* kMismatchPrefix = "继电器";
inline constexpr const char* kMismatchSuffix = "未按指令动作";
// Panel 3 when the controller's decoder plug-in does not load (+ its name).
inline constexpr const char* kDecoderNotLoadedPrefix = "状态数据处理程序无法加载:";
// Panel 3 when the day's table was chosen and loaded again (+ its name).
inline constexpr const char* kPlanReloadedPrefix = "计划表已更新:";
// The details of a refused remote switch.
inline constexpr const char* kRefusedNotRunning = "not running";
inline constexpr const char* kRefusedManualOff = "manual operation off";
inline constexpr const char* kRefusedNoRelay = "no such relay";
inline constexpr const char* kRefusedUnknownState = "state unknown";
inline constexpr const char* kRefusedBadRequest = "neither ON nor OFF";

// A lost run line is opened again this often; states unconfirmed by an
// answer for this long are unknown.
inline constexpr int kReconnectMs = 2000;
inline constexpr int kNoAnswerMs = 5000;

// The run line as the engine sees it while running (Normal while stopped).
enum class LineState { Normal, Lost, NoAnswer };

// The run port's pauses, in ms.
inline constexpr int kStartOnPauseMs = 10;
inline constexpr int kCommandPauseMs = 20;
// A gap up to this many seconds is caught up second by second; after a
// longer one only the last missed action of each relay is carried out.
inline constexpr int kCatchUpSeconds = 120;
// A step back over midnight of at most this long repeats nothing (the
// daylight-saving step back is one hour); a clock set back further starts
// the plan again from the current second.
inline constexpr int kKeepAheadSeconds = 2 * 3600;

// Plan rows are read by the one parser of plan/.
using plan::CountUnreadablePlanRows;
using plan::PlanActionsFromGrid;
using plan::PlanRowUnreadable;
using plan::TPlanAction;
// Panel 3 when a loaded plan has such rows: prefix + N + suffix.
inline constexpr std::string_view kUnreadableRowsPrefix = "计划表中有";
inline constexpr std::string_view kUnreadableRowsSuffix = "行无法识别,未执行";

// What a switch asked for came to.
enum class SwitchResult {
    // Nothing was due: not running, manual operation off, no such relay, the
    // states unknown, a request neither on nor off, or no relay clicked.
    Refused,
    // Due but not queued: the line is lost, or the command is empty, not
    // hex, too long, or refused by the port.
    NotSent,
    // Queued on the run port; "sent" or "dropped" is published once the
    // writer is done with it.
    Queued,
};

enum class LampColour { Yellow, Red };
enum class MouseButton { Left, Right, Middle };

// The drop-down list cbRunDevList.
struct DeviceList {
    std::vector<std::string> Items;
    int ItemIndex = -1;
    // The selected entry; empty when none.
    std::string Text() const;
};

class RunEngine {
  public:
    RunEngine(AppContext& ctx, TMyComport& com1);
    ~RunEngine();  // closes COMRUN, then UnloadStatePlugin
    RunEngine(const RunEngine&) = delete;
    RunEngine& operator=(const RunEngine&) = delete;

    // --- operations and handlers ---------------------------------------
    void FillRunDeviceList();
    // Showing the page: the list reads the folder again and keeps its entry
    // while that exists or runs; a stopped engine whose controller is gone
    // takes the first entry.
    void RefreshDeviceList();
    // The operator picked an entry of cbRunDevList. Throws OperatorError when
    // the settings file cannot be written (after the change is complete).
    void cbRunDevListChange(int index);
    void cbRunDevListChange(const std::string& name);
    // Start. Throws OperatorError out of OpenRunPort for a non-integer
    // edBound or edTimeOut; the engine then stays stopped.
    void btnRunClick();
    void btnStopClick();
    bool OpenRunPort(const std::string& controllerFile);
    // On commands of the relays marked " √", on COMRUN, 10 ms apart.
    void SendStartOnCommands();
    // Each relay gets the command of its last plan action of today before
    // now, as after a reconnect (source "restore"); relays whose start-on
    // command just went out keep it.
    void RestorePlanState();
    void PollRelayStates();
    // Monitor grid from sgPower, then PlanActions from sgPlan.
    void BuildMonitor();
    // Copies sJDQState into the monitor grid (the 200 ms tick).
    void ShowRelayStates(const std::string& text);
    void FitMonitorColumns();
    // Carries out the actions of every second since the last one handled.
    void RunDueActions();
    void tmRunTimer();
    void tmCheckTimer();
    // Also notices a changed plan folder of the run controller.
    void Timer1Timer();
    // When a table of the run controller's plan folder was written, renamed,
    // added or deleted since the plan was chosen, the day's table is chosen
    // and loaded again; handled seconds stay handled. True when it reloaded.
    bool ReloadPlanIfChanged();
    void COMRUNReceiveData(const char* buffer, std::uint16_t length);
    // col/row: the cell under the pointer (-1 when none).
    SwitchResult sgStateMouseDown(MouseButton button, int col, int row);
    bool CursorIsHand(int col, int row) const;
    // A switch asked for from outside the window (source "remote"): allowed
    // as a manual switch is, only while running, with manual operation on
    // and the states known; on is nullopt for a request that is neither on
    // nor off. A refusal sends nothing and is published as result "refused"
    // with the reason.
    SwitchResult RemoteSwitch(int relay, std::optional<bool> on);
    // Program end: UnloadStatePlugin.
    void Shutdown();

    // Between check ticks: notices a lost line and opens it again when due.
    // The check tick does this itself; any loop may call it more often.
    void WatchLine();

    // Time until the next whole second of the clock, 1 to 1000 ms.
    int MillisecondsToNextSecond() const;

    // --- observable state ----------------------------------------------
    bool Running() const { return running_; }  // tmRun and tmCheck enabled
    bool BtnRunEnabled() const { return btnRunEnabled_; }
    bool BtnStopEnabled() const { return btnStopEnabled_; }
    LampColour Lamp() const { return lamp_; }
    const std::string& lbRunFn() const { return lbRunFn_; }
    const std::string& lbState() const { return lbState_; }
    const std::string& lbCom() const { return lbCom_; }
    const std::string& lbCmd() const { return lbCmd_; }
    const std::string& lbDev() const { return lbDev_; }
    LineState Line() const { return line_; }
    // The relay (1-based) did not follow its last command: framed red.
    bool RelayMismatch(int relay) const { return confirm_.Mismatched(relay); }
    // The monitor's states are not confirmed (drawn grey; no manual switching).
    bool StatesUnknown() const { return running_ && line_ != LineState::Normal; }
    // lbCom reports a fault (drawn red).
    bool LbComAlarm() const { return StatesUnknown(); }
    const DeviceList& cbRunDevList() const { return cbRunDevList_; }

    const std::string& sRunPowerFn() const { return sRunPowerFn_; }
    const std::string& sRunPlanFn() const { return sRunPlanFn_; }
    const std::string& sRunDllFn() const { return sRunDllFn_; }
    const std::string& sStateCmd() const { return sStateCmd_; }
    const std::string& sJDQState() const { return sJDQState_; }
    const std::vector<TPlanAction>& PlanActions() const { return planActions_; }
    const Date& LastRunDate() const { return lastRunDate_; }
    // The date the plan shown was selected for.
    const Date& PlanDate() const { return planDate_; }
    // Start-up sets it to today after preparing the run side.
    void SetLastRunDate(const Date& date);

    // The grids; the window may set their geometry and selection.
    StringGrid& sgPlan() { return sgPlan_; }
    StringGrid& sgPower() { return sgPower_; }
    StringGrid& sgState() { return sgState_; }
    const StringGrid& sgPlan() const { return sgPlan_; }
    const StringGrid& sgPower() const { return sgPower_; }
    const StringGrid& sgState() const { return sgState_; }

    TMyComport& COMRUN() { return comRun_; }
    const controller::StatePlugin& Plugin() const { return plugin_; }
    int RelayCount() const;

    // Grows on every change of the state above.
    std::uint64_t Revision() const { return revision_; }
    // Called after a change of state (also one that a received block
    // caused); optional.
    void SetOnChanged(std::function<void()> handler) { onChanged_ = std::move(handler); }
    // Every event of running (commands, states, line, run) goes out here.
    RunEventHub& Events() { return events_; }

  private:
    class ChangeScope;

    void Changed();
    void SetLabel(std::string& label, std::string text);
    void SetStopped();
    void SelectDeviceName(const std::string& name);
    void SelectPlan();
    // The folder and the chosen table as stat sees them now.
    std::pair<FileStamp, FileStamp> PlanStamps() const;
    // Panel 3 names the rows of the loaded plan that are not carried out.
    void ReportUnreadableRows();
    void ForgetHandledSeconds();
    void ForgetHandledFarAhead(const LocalDateTime& now);
    void HandleDateChange(const LocalDateTime& now);
    void MarkStartHandled(const LocalDateTime& now);
    void RunDueActions(const LocalDateTime& now);
    // A plan action with its command, as sgPower held it when it fell due.
    struct DueCommand {
        int relay;
        bool on;
        int second;
        std::string hex;
    };
    std::vector<DueCommand> DueCommands(int from, int to, bool lastOnly) const;
    // nowSecond: actions of earlier seconds are journaled as caught up.
    void CarryOut(const std::vector<DueCommand>& commands, int nowSecond);
    // The one way a relay command leaves on the run port: sent, shown on
    // panel 3 and published with its source and result.
    // While the line is lost nothing is sent; returns whether it was queued.
    bool SendRelayCommand(int relay, bool on, const std::string& hex, const char* source);
    // Queues the command and shows it on panel 3. A command that is not
    // queued is published at once (not-sent, failed); a queued one when the
    // writer has written it (sent) or given it up (dropped, failed), stamped
    // with that time. True when queued.
    bool QueueRelayCommand(int relay, bool on, const std::string& hex, const char* source);
    // An event of now, of the run's controller.
    RunEvent NewEvent(int relay, const char* kind, const char* source) const;
    void Publish(int relay, const char* kind, const char* source, std::string result,
                 std::string detail = {});
    void PublishStateChanges(const std::string& states);

    // The line watch (RunEngineLine.cpp).
    long long NowMs() const;
    void StartLineWatch(bool opened);
    void OnRunLineEnded();
    void LineLost(const std::string& reason);
    void DetectLoss();
    // True when it opened the line again (the board is then re-asserted).
    bool ReconnectIfDue(long long nowMs);
    void CheckAnswers(long long nowMs);
    void AnswerDecoded();
    void NotSent(const DueCommand& command, const char* source);
    // A start-on or manual command: the relay's last command of today.
    void NoteCommand(const DueCommand& command);
    // Each relay its last command of today up to the handled second, in
    // relay order, except the relays in `skip`; then the states are polled.
    void ReassertRelays(const std::vector<DueCommand>& skip = {},
                        const char* source = "re-assert");
    // The relays the board did not follow, with this decoded answer.
    void ConfirmStates(const std::string& states);
    // States are unknown from now on: nothing is expected of the board.
    void ForgetExpectations();

    AppContext& ctx_;
    TMyComport& com1_;
    TMyComport comRun_;
    controller::StatePlugin plugin_;

    StringGrid sgPlan_;
    StringGrid sgPower_;
    StringGrid sgState_;
    DeviceList cbRunDevList_;
    RunEventHub events_;
    std::string sRunPowerFn_;
    std::string sRunPlanFn_;
    std::string sRunDllFn_;
    std::string sStateCmd_;
    std::string sJDQState_;
    std::vector<TPlanAction> planActions_;
    Date lastRunDate_;
    Date planDate_;
    // The decoded states last published; empty after a start, so that the
    // first answer publishes every relay.
    std::string publishedStates_;
    std::string runController_;
    // The plan folder and table when the plan was last chosen.
    std::pair<FileStamp, FileStamp> planStamps_;

    std::string lbRunFn_;
    std::string lbState_ = kLbStateInitial;
    std::string lbCom_ = kLbComInitial;
    std::string lbCmd_ = kLbCmdInitial;
    std::string lbDev_ = kLbDevInitial;
    LampColour lamp_ = LampColour::Yellow;
    bool btnRunEnabled_ = true;
    bool btnStopEnabled_ = false;
    bool running_ = false;
    bool endPublished_ = false;

    // The last second whose actions were handled (-1: none of that day yet).
    bool handledValid_ = false;
    Date handledDate_;
    int handledSecond_ = -1;
    // The next catch-up carries out only the last action of each relay.
    bool pendingLastOnly_ = false;

    LineState line_ = LineState::Normal;
    long long lastAttemptMs_ = 0;  // the loss, then each reopen tried
    long long lastAnswerMs_ = 0;   // the start, a reconnect, a decoded answer
    bool lostReported_ = false;    // lbCom shows the reconnecting text
    bool openedSinceStart_ = false;
    std::string lbComNormal_ = kLbComOk;
    AnswerJoiner joiner_;
    SwitchConfirmation confirm_;
    // The start-on commands of the last start.
    std::vector<DueCommand> startOn_;
    // Per relay (index relay - 1): the last start-on or manual command, and
    // the second of today it went out.
    struct NotedCommand {
        Date date;
        int second = 0;
        DueCommand command;
    };
    std::vector<std::optional<NotedCommand>> noted_;

    std::uint64_t revision_ = 0;
    std::function<void()> onChanged_;
    int scopeDepth_ = 0;
    bool changedInScope_ = false;
};

}  // namespace ristova::run
