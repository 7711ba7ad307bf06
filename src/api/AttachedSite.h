#pragma once
// The site that another Ristova process runs, as a window attached to it
// sees it through the local API: its runs with their states, lines, plans
// and definitions, live from the event stream; the buttons and a click on a
// relay become API requests. The window opens no serial port for it.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/ApiClient.h"
#include "api/ApiModel.h"
#include "base/AppContext.h"
#include "run/RunView.h"

namespace ristova::api {

// Panel 3 of an attached window, and when its engine went away.
inline constexpr const char* kAttached = "已连接到后台运行的Ristova";
inline constexpr const char* kEngineGone = "后台运行已停止";

class AttachedSite;

class AttachedRun : public run::RunView {
  public:
    AttachedRun(AttachedSite& site, std::uint64_t id) : site_(site), id_(id) {}

    // Takes a status (and, with plan rows, the plan); true when it changed.
    bool Take(const ControllerStatus& status);

    std::uint64_t Id() const override { return id_; }
    const std::string& File() const override { return status_.name; }
    const std::string& ControllerPath() const override { return status_.path; }
    const controller::ControllerDefinition& Definition() const override { return definition_; }
    bool Running() const override { return status_.running; }
    run::LineState Line() const override;
    run::ComStatus Com() const override;
    const std::string& ComFailure() const override { return status_.comFailure; }
    const std::string& States() const override { return states_; }
    bool RelayMismatch(int relay) const override;
    std::uint64_t BlocksReceived() const override { return status_.blocksReceived; }
    // The engine does not say which relay it commanded last.
    int CommandedRelay() const override { return 0; }
    std::uint64_t CommandsIssued() const override { return 0; }
    const std::string& PlanPath() const override { return status_.planPath; }
    const Date& PlanDate() const override { return planDate_; }
    const Date& LastRunDate() const override { return planDate_; }
    const std::vector<run::PlanRowCells>& PlanRows() const override { return planRows_; }
    const std::vector<plan::TPlanAction>& PlanActions() const override { return planActions_; }
    int UnreadablePlanRows() const override { return status_.unreadableRows; }
    bool EverStarted() const override { return status_.everStarted; }
    const std::string& StartedStateQuery() const override { return status_.stateQuery; }
    const std::string& DecoderPath() const override { return status_.decoder; }
    std::string DecoderDescription() const override { return status_.decoderDescription; }
    std::uint64_t Revision() const override { return revision_; }
    std::uint64_t PlanLoads() const override { return planLoads_; }
    std::uint64_t DefinitionReads() const override { return definitionReads_; }
    std::uint64_t Starts() const override { return starts_; }
    // A request to the engine; its refusal is told on panel 3.
    run::SwitchResult Switch(int relay, std::optional<bool> on, const char* source) override;

  private:
    AttachedSite& site_;
    const std::uint64_t id_;
    ControllerStatus status_;
    controller::ControllerDefinition definition_;
    std::string states_;
    std::vector<run::PlanRowCells> planRows_;
    std::vector<plan::TPlanAction> planActions_;
    Date planDate_;
    std::uint64_t revision_ = 0;
    std::uint64_t planLoads_ = 0;
    std::uint64_t definitionReads_ = 0;
    std::uint64_t starts_ = 0;
};

class AttachedSite : public run::SiteView {
  public:
    // onGone: on the main thread, once, when the engine no longer answers.
    AttachedSite(AppContext& ctx, std::function<void()> onGone);
    ~AttachedSite() override;  // the event stream ends
    AttachedSite(const AttachedSite&) = delete;
    AttachedSite& operator=(const AttachedSite&) = delete;

    // Reads the engine's runs and follows its events; false (and Error())
    // when it cannot be reached.
    bool Connect(Endpoint endpoint);
    const std::string& Error() const { return error_; }
    bool Gone() const { return gone_; }
    // The running controller that holds the port, or empty.
    std::string PortHolder(const std::string& port) const;

    void Configure() override;
    std::vector<run::RunView*> RunViews() const override;
    run::RunView* FindRun(const std::string& file) const override;
    // The list only picks what is shown: the engine decides what runs.
    bool Several() const override { return true; }
    run::RunView* UseSingle(const std::string&) override { return nullptr; }
    bool AnyRunning() const override;
    void StartAll() override;
    void StopAll() override;
    void SetShownController(const std::string&) override {}
    Ticks Needed() const override;
    void ClockTick() override;
    void CheckTick() override {}
    void WatchLines() override {}
    void Shutdown() override;
    int MillisecondsToNextSecond() const override;
    run::RunEventHub& Events() override { return events_; }
    std::uint64_t Revision() const override { return revision_; }

  private:
    friend class AttachedRun;
    // Reads the status (and each plan) again; false when unreachable.
    bool Refresh();
    void Message(const std::string& text);
    void StartStream();
    void LostEngine();

    AppContext& ctx_;
    std::function<void()> onGone_;
    std::unique_ptr<ApiClient> client_;
    std::vector<std::unique_ptr<AttachedRun>> runs_;
    run::RunEventHub events_;
    std::string error_;
    std::uint64_t revision_ = 0;
    std::uint64_t nextId_ = 0;
    bool gone_ = false;
    bool refreshPosted_ = false;

    // The event stream's thread and what it shares with the main thread.
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread stream_;
};

}  // namespace ristova::api
