#pragma once
// One controller's run: its definition read once into typed values, the day's
// plan as typed actions, the run port, the decoder, the line watch, the
// answers joined and decoded, the re-assert after a reconnect, the restore
// at start and the confirmation that the board followed. It knows nothing of
// a window: what it did goes out as events, and the one line of news that
// the status bar's panel 3 may show goes to its message handler.
//
// Everything runs on the main thread; the site drives the ticks.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/AppContext.h"
#include "base/Clock.h"
#include "base/Files.h"
#include "comm/MyComm32.h"
#include "controller/ControllerDefinition.h"
#include "controller/StatePlugin.h"
#include "plan/PlanRow.h"
#include "run/AnswerJoiner.h"
#include "run/RunEvents.h"
#include "run/RunView.h"
#include "run/SwitchConfirmation.h"

namespace ristova::run {

// A lost run line is opened again this often; states unconfirmed by an
// answer for this long are unknown.
inline constexpr int kReconnectMs = 2000;
inline constexpr int kNoAnswerMs = 5000;
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

// Panel 3 texts of a run.
inline constexpr const char* kNotSentPrefix = "通信中断,未发送:";  // + the hex
inline constexpr const char* kUnknownStateRefused = "继电器状态未知,不能手动切换";
inline constexpr const char* kMismatchPrefix = "继电器";  // + k + suffix
inline constexpr const char* kMismatchSuffix = "未按指令动作";
inline constexpr const char* kDecoderNotLoadedPrefix = "状态数据处理程序无法加载:";  // + name
inline constexpr const char* kDecoderFailedPrefix = "状态数据处理程序出错:";         // + name
inline constexpr const char* kPlanReloadedPrefix = "计划表已更新:";  // + name
inline constexpr std::string_view kUnreadableRowsPrefix = "计划表中有";  // + N + suffix
inline constexpr std::string_view kUnreadableRowsSuffix = "行无法识别,未执行";

// The details of a refused switch asked for from outside the window.
inline constexpr const char* kRefusedNotRunning = "not running";
inline constexpr const char* kRefusedManualOff = "manual operation off";
inline constexpr const char* kRefusedNoRelay = "no such relay";
inline constexpr const char* kRefusedUnknownState = "state unknown";
inline constexpr const char* kRefusedBadRequest = "neither ON nor OFF";
// The detail of a command refused because the line's queue is full.
inline constexpr const char* kQueueFull = "queue full";
// The details of a command that was due but not queued (besides the
// command itself, when the line is lost).
inline constexpr std::string_view kNotSentInvalid = "command invalid: ";  // + the text
inline constexpr std::string_view kNotSentTooLong = "command too long";
inline constexpr std::string_view kNotSentPortClosed = "port not open";

class ControllerRun : public RunView {
  public:
    using MessageHandler = std::function<void(const std::string& text)>;

    // controllerFile: the definition's full path. Events go to the sink.
    ControllerRun(AppContext& ctx, std::string controllerFile, IRunEventSink& events);
    ~ControllerRun() override;  // the port closes, the decoder is released
    ControllerRun(const ControllerRun&) = delete;
    ControllerRun& operator=(const ControllerRun&) = delete;

    void SetOnMessage(MessageHandler handler) { onMessage_ = std::move(handler); }
    // The pauses between commands block the main thread, as one run alone
    // has them; runs that share the thread leave the spacing to their
    // writers (each waits 50 ms after a block), so one run's pauses never
    // hold up another's commands.
    void SetBlockingPauses(bool blocking) { blockingPauses_ = blocking; }
    // Called after every change the run page shows.
    void SetOnChanged(std::function<void()> handler) { onChanged_ = std::move(handler); }

    // --- the plan ------------------------------------------------------
    // Reads the definition and chooses and loads the table of the date.
    void SelectPlan(const Date& date);
    // A table of the plan folder that was written, added or deleted so that
    // the table in force changed: it is loaded again, handled seconds stay
    // handled. True when it reloaded.
    bool ReloadPlanIfChanged(const Date& today);

    // --- running -------------------------------------------------------
    // Reads the definition again, opens the port, sends the start-on
    // commands, loads the decoder and, when set, restores the plan's state.
    // Throws OperatorError for a [COMM] rate or time-out that is no integer;
    // the run is stopped then.
    void Start(const LocalDateTime& now);
    void Stop();
    // The program ends: a run ends without a stop, the decoder is released.
    void Shutdown();
    // The second's actions, then the line watch and the state query.
    void CheckTick(const LocalDateTime& now);
    // The two halves of a check tick: a site sends every run's commands
    // before any run polls or decodes.
    void RunSecond(const LocalDateTime& now);
    void PollAndCheck();
    // Between check ticks: a lost line noticed, reopened when due.
    void WatchLine();
    // A new date: the port closes, the new day's plan is chosen, and a run
    // that ran (or, with startStopped, one that did not) starts again. The
    // old day's actions still owed go out after the new start.
    void HandleDateChange(const LocalDateTime& now, bool startStopped);

    // --- switching -----------------------------------------------------
    // A switch of relay k (1-based) as a manual click does it: only while
    // running, with manual operation on and the states known. on is nullopt
    // for a request that is neither on nor off. A refusal sends nothing; it
    // is published (result "refused" with the reason) for every source but
    // "manual", which tells panel 3 instead.
    SwitchResult Switch(int relay, std::optional<bool> on, const char* source) override;
    // A block the run port received: the lamp and panel 3 at once; the
    // answer is joined and decoded in the decoder's host, and the states
    // and the confirmation follow when its text comes back.
    void COMRUNReceiveData(const char* buffer, std::uint16_t length);

    // --- what it is ----------------------------------------------------
    const controller::ControllerDefinition& Definition() const override { return definition_; }
    const std::string& File() const override { return definition_.file; }
    const std::string& ControllerPath() const override { return path_; }
    bool Running() const override { return running_; }
    // The run port's device name as the definition gives it ("COM1").
    const std::string& PortName() const { return definition_.serial.port; }
    LineState Line() const override { return line_; }
    ComStatus Com() const override { return com_; }
    // Why the port did not open, for StartFailed and StartRetrying.
    const std::string& ComFailure() const override { return comFailure_; }
    // Decoded relay states, one character a relay ('1' on); all '0' at each
    // plan selection and start, until the board answers.
    const std::string& States() const override { return states_; }
    // The board answered since the start: States() are its, not the zeros
    // of the start.
    bool StatesReported() const { return running_ && reported_; }
    // The relay did not follow its last command.
    bool RelayMismatch(int relay) const override { return confirm_.Mismatched(relay); }
    // Blocks received since the start of the program (the lamp blinks on each).
    std::uint64_t BlocksReceived() const override { return blocksReceived_; }
    // The relay of the last timed or re-asserted command, and how many such
    // commands there were: the monitor makes that relay its current row.
    int CommandedRelay() const override { return commandedRelay_; }
    std::uint64_t CommandsIssued() const override { return commandsIssued_; }

    const std::string& PlanPath() const override { return planPath_; }
    const Date& PlanDate() const override { return planDate_; }
    // The date whose plan is in place; a new date seen by a tick is a change.
    const Date& LastRunDate() const override { return lastRunDate_; }
    void SetLastRunDate(const Date& date) { lastRunDate_ = date; }
    const std::vector<PlanRowCells>& PlanRows() const override { return planRows_; }
    const std::vector<plan::TPlanAction>& PlanActions() const override { return planActions_; }
    int UnreadablePlanRows() const override { return unreadableRows_; }

    // Each run of the program has its own number.
    std::uint64_t Id() const override { return id_; }
    // It started at least once; the texts below are of the last start (kept
    // after a stop): the state query as stored, the decoder's full path and
    // its description.
    bool EverStarted() const override { return everStarted_; }
    const std::string& StartedStateQuery() const override { return startedStateQuery_; }
    const std::string& DecoderPath() const override { return decoderPath_; }
    std::string DecoderDescription() const override { return plugin_.DeviceDescription(); }
    const controller::StatePlugin& Plugin() const { return plugin_; }
    TMyComport& Port() { return port_; }
    // Grows on every change the run page shows.
    std::uint64_t Revision() const override { return revision_; }
    // How often the plan was loaded and the definition read, so that a view
    // rebuilds its tables only when they changed.
    std::uint64_t PlanLoads() const override { return planLoads_; }
    std::uint64_t DefinitionReads() const override { return definitionReads_; }
    std::uint64_t Starts() const override { return starts_; }

  private:
    // Where a command waits for the line: the plan's work (plan, catch-up,
    // start-on, restore, re-assert) goes ahead of switch requests.
    enum class Lane { Plan, Request };
    // The state query's key in the line's queue; relays are keyed by number.
    static constexpr std::uint32_t kQueryKey = 0x10000;

    struct DueCommand {
        int relay;
        bool on;
        int second;
    };

    void Changed();
    void Message(const std::string& text);
    void Publish(int relay, const char* kind, const char* source, std::string result,
                 std::string detail = {});
    RunEvent NewEvent(int relay, const char* kind, const char* source) const;
    void LoadPlan(const Date& date);
    std::pair<FileStamp, FileStamp> PlanStamps() const;
    void ReportUnreadableRows();
    bool OpenPort();
    void SetStopped();
    void SendStartOnCommands();
    void PollRelayStates(Lane lane = Lane::Plan);
    void PublishStateChanges(const std::string& states);
    void DecoderNotLoaded(const std::string& reason);
    void StatesDecoded(std::string text);
    // Blocks received so far are not joined with later ones, and texts
    // still on their way are dropped: a new line, a stop.
    void ForgetAnswers();
    const comm::Command& CommandOf(int relay, bool on) const;

    // Handled seconds.
    void ForgetHandledSeconds();
    void ForgetHandledFarAhead(const LocalDateTime& now);
    void MarkStartHandled(const LocalDateTime& now);
    void RunDueActions(const LocalDateTime& now);
    std::vector<DueCommand> DueCommands(int from, int to, bool lastOnly) const;
    // nowSecond: actions of earlier seconds are journaled as caught up.
    void CarryOut(const std::vector<DueCommand>& commands, int nowSecond);
    // The one way a relay command leaves: noted for the re-assert, queued
    // unless the line is lost. False when nothing was queued.
    bool SendRelayCommand(int relay, bool on, const char* source, Lane lane = Lane::Plan);
    bool QueueRelayCommand(int relay, bool on, const char* source, Lane lane = Lane::Plan);
    void Commanded(int relay);
    void Pause(int ms);

    // The line watch (ControllerRunLine.cpp).
    long long NowMs() const;
    void StartLineWatch(bool opened);
    void OnLineEnded();
    void LineLost(const std::string& reason);
    void DetectLoss();
    bool ReconnectIfDue(long long nowMs);
    void CheckAnswers(long long nowMs);
    void AnswerDecoded();
    void NotSent(int relay, bool on, const char* source);
    void NoteCommand(int relay, bool on);
    // Each relay its last command of today up to the handled second (a
    // start-on or manual one when it is later than the plan's), in relay
    // order, except the relays in skip; then the states are polled.
    void ReassertRelays(const std::vector<int>& skip, const char* source);
    void ConfirmStates(const std::string& states);
    void ForgetExpectations();

    AppContext& ctx_;
    const std::string path_;
    IRunEventSink& events_;
    MessageHandler onMessage_;
    std::function<void()> onChanged_;

    controller::ControllerDefinition definition_;
    TMyComport port_;
    controller::StatePlugin plugin_;

    std::string planPath_;
    Date planDate_;
    Date lastRunDate_;
    std::vector<PlanRowCells> planRows_;
    std::vector<plan::TPlanAction> planActions_;
    int unreadableRows_ = 0;
    std::pair<FileStamp, FileStamp> planStamps_;

    const std::uint64_t id_;
    bool running_ = false;
    bool everStarted_ = false;
    bool blockingPauses_ = true;
    bool reported_ = false;
    bool endPublished_ = false;
    std::string states_;
    std::string publishedStates_;
    std::string startedStateQuery_;
    std::string decoderPath_;
    std::uint64_t blocksReceived_ = 0;
    int commandedRelay_ = 0;
    std::uint64_t commandsIssued_ = 0;
    std::uint64_t revision_ = 0;
    std::uint64_t planLoads_ = 0;
    std::uint64_t definitionReads_ = 0;
    std::uint64_t starts_ = 0;
    void ReadDefinition();

    // The last second whose actions were handled (-1: none of that day yet).
    bool handledValid_ = false;
    Date handledDate_;
    int handledSecond_ = -1;
    // The next catch-up carries out only the last action of each relay.
    bool pendingLastOnly_ = false;

    LineState line_ = LineState::Normal;
    ComStatus com_ = ComStatus::Stopped;
    std::string comFailure_;
    long long lastAttemptMs_ = 0;  // the loss, then each reopen tried
    long long lastAnswerMs_ = 0;   // the start, a reconnect, a decoded answer
    bool reconnected_ = false;     // the line came back since the start
    // Used by the decoder's worker for the jobs queued with it.
    std::shared_ptr<AnswerJoiner> joiner_ = std::make_shared<AnswerJoiner>();
    unsigned answers_ = 0;  // grows with each ForgetAnswers
    SwitchConfirmation confirm_;
    // The relays whose start-on command went out at the last start.
    std::vector<int> startOn_;
    // Per relay (index relay - 1): the last start-on or manual command of
    // today and its second.
    struct NotedCommand {
        Date date;
        int second = 0;
        bool on = false;
    };
    std::vector<std::optional<NotedCommand>> noted_;
};

// The line as the views outside the window name it: "ok", "lost",
// "no-answer"; "stopped" while the run does not run.
const char* LineCode(const ControllerRun& run);

}  // namespace ristova::run
