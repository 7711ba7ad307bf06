#include "api/AttachedSite.h"

#include <chrono>
#include <condition_variable>

#include "base/Errors.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "controller/SerialSettings.h"
#include "run/Site.h"

namespace ristova::api {

namespace {

Date DateOf(const std::string& text) {
    Date d;
    long long y = 0, m = 0, day = 0;
    if (text.size() == 10 && TryStrToInt(text.substr(0, 4), y) &&
        TryStrToInt(text.substr(5, 2), m) && TryStrToInt(text.substr(8, 2), day))
        d = Date{static_cast<int>(y), static_cast<int>(m), static_cast<int>(day)};
    return d;
}

}  // namespace

// --- a run of the engine ------------------------------------------------------

bool AttachedRun::Take(const ControllerStatus& status) {
    const ControllerStatus old = std::move(status_);
    status_ = status;
    bool changed = false;
    // The relays' commands and uses: the definition the monitor is built from.
    bool relaysChanged = old.relays.size() != status.relays.size() || old.name != status.name;
    for (std::size_t i = 0; !relaysChanged && i < status.relays.size(); ++i) {
        const RelayStatus& a = old.relays[i];
        const RelayStatus& b = status.relays[i];
        relaysChanged = a.noUse != b.noUse || a.ncUse != b.ncUse || a.onCommand != b.onCommand ||
                        a.offCommand != b.offCommand || a.startOn != b.startOn;
    }
    if (relaysChanged || old.stateQuery != status.stateQuery) {
        definition_ = {};
        definition_.path = status.path;
        definition_.file = status.name;
        for (const RelayStatus& r : status.relays)
            definition_.relays.push_back({r.relay, comm::Command::FromText(r.onCommand),
                                          comm::Command::FromText(r.offCommand), r.noUse, r.ncUse,
                                          r.startOn});
        definition_.stateQuery = comm::Command::FromText(status.stateQuery);
        definition_.decoder = status.decoder;
        ++definitionReads_;
        changed = true;
    }
    std::string states;
    for (const RelayStatus& r : status.relays) states += r.state == "on" ? '1' : '0';
    if (states != states_) {
        states_ = std::move(states);
        changed = true;
    }
    if (status.withPlanRows &&
        (status.planRows != planRows_ || status.planPath != old.planPath || planLoads_ == 0)) {
        planRows_ = status.planRows;
        StringGrid grid(6, static_cast<int>(planRows_.size()) + 1, 1, 1);
        for (std::size_t r = 0; r < planRows_.size(); ++r)
            for (int c = 0; c < 6; ++c) grid.SetCell(c, static_cast<int>(r) + 1, planRows_[r][c]);
        planActions_ = plan::PlanActionsFromGrid(grid);
        planDate_ = DateOf(status.planDate);
        ++planLoads_;
        changed = true;
    }
    if (status.running && !old.running) ++starts_;
    changed = changed || old.running != status.running || old.com != status.com ||
              old.line != status.line || old.comFailure != status.comFailure ||
              old.blocksReceived != status.blocksReceived || old.everStarted != status.everStarted;
    for (std::size_t i = 0; !changed && i < status.relays.size(); ++i)
        changed = old.relays[i].mismatch != status.relays[i].mismatch;
    if (changed) ++revision_;
    return changed;
}

run::LineState AttachedRun::Line() const {
    if (status_.line == "lost") return run::LineState::Lost;
    if (status_.line == "no-answer") return run::LineState::NoAnswer;
    return run::LineState::Normal;
}

run::ComStatus AttachedRun::Com() const {
    const std::string& c = status_.com;
    if (c == "opened") return run::ComStatus::Opened;
    if (c == "start-failed") return run::ComStatus::StartFailed;
    if (c == "start-retrying") return run::ComStatus::StartRetrying;
    if (c == "lost") return run::ComStatus::Lost;
    if (c == "reconnected") return run::ComStatus::Reconnected;
    if (c == "no-answer") return run::ComStatus::NoAnswer;
    return run::ComStatus::Stopped;
}

bool AttachedRun::RelayMismatch(int relay) const {
    return relay >= 1 && relay <= static_cast<int>(status_.relays.size()) &&
           status_.relays[static_cast<std::size_t>(relay - 1)].mismatch;
}

run::SwitchResult AttachedRun::Switch(int relay, std::optional<bool> on, const char*) {
    if (!on) return run::SwitchResult::Refused;
    const ApiResult result = site_.client_->Switch(File(), relay, *on);
    site_.Refresh();
    if (result.Ok()) return run::SwitchResult::Queued;
    site_.Message(result.error);
    return result.reached ? run::SwitchResult::Refused : run::SwitchResult::NotSent;
}

// --- the stream of events -----------------------------------------------------------

struct AttachedSite::Shared : std::enable_shared_from_this<Shared> {
    Shared(IMainThreadPoster& p, Endpoint e) : poster(p), endpoint(std::move(e)) {}
    IMainThreadPoster& poster;
    const Endpoint endpoint;
    std::mutex mutex;
    std::condition_variable wake;
    AttachedSite* site = nullptr;  // null once the site is going (main thread)
    ApiClient* stream = nullptr;   // the client of the stream being read
    bool cancelled = false;

    // Runs on the main thread while the site is there.
    void Post(std::function<void(AttachedSite&)> call) {
        poster.Post([self = shared_from_this(), call = std::move(call)] {
            if (self->site) call(*self->site);
        });
    }
};

AttachedSite::AttachedSite(AppContext& ctx, std::function<void()> onGone)
    : ctx_(ctx), onGone_(std::move(onGone)) {}

AttachedSite::~AttachedSite() {
    Shutdown();
}

void AttachedSite::Shutdown() {
    if (!shared_) return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->cancelled = true;
        shared_->site = nullptr;
        if (shared_->stream) shared_->stream->Cancel();
    }
    shared_->wake.notify_all();
    if (stream_.joinable()) stream_.join();
}

bool AttachedSite::Connect(Endpoint endpoint) {
    client_ = std::make_unique<ApiClient>(endpoint);
    shared_ = std::make_shared<Shared>(ctx_.poster, std::move(endpoint));
    shared_->site = this;
    const bool reached = Refresh();
    StartStream();
    return reached;
}

// The stream's thread: each event reaches the site's hub on the main thread
// and brings a fresh status; a stream that ends (the engine stopped or went
// away) is opened again a second later.
void AttachedSite::StartStream() {
    stream_ = std::thread([shared = shared_] {
        while (true) {
            ApiClient client(shared->endpoint);
            {
                std::lock_guard lock(shared->mutex);
                if (shared->cancelled) return;
                shared->stream = &client;
            }
            client.Events([&](const std::string& json) {
                shared->Post([json](AttachedSite& site) {
                    run::RunEvent event;
                    std::string error;
                    if (!FromJson(json, event, error)) return;
                    site.events_.OnRunEvent(event);
                    if (site.refreshPosted_) return;
                    site.refreshPosted_ = true;
                    site.ctx_.poster.Post([shared = site.shared_] {
                        if (!shared->site) return;
                        shared->site->refreshPosted_ = false;
                        shared->site->Refresh();
                    });
                });
                return true;
            });
            std::unique_lock lock(shared->mutex);
            shared->stream = nullptr;
            if (shared->cancelled) return;
            shared->Post([](AttachedSite& site) { site.Refresh(); });
            shared->wake.wait_for(lock, std::chrono::seconds(1), [&] { return shared->cancelled; });
        }
    });
}

// --- the site ----------------------------------------------------------------------

bool AttachedSite::Refresh() {
    if (!client_) return false;
    const ApiResult result = client_->Status();
    SiteStatus status;
    if (!result.Ok() || !FromJson(result.body, status, error_)) {
        if (!result.Ok()) error_ = result.error;
        LostEngine();
        return false;
    }
    std::vector<std::unique_ptr<AttachedRun>> runs;
    for (const ControllerStatus& brief : status.controllers) {
        // Each controller's own answer has its plan's rows.
        ControllerStatus full = brief;
        if (const ApiResult one = client_->Controller(brief.name); one.Ok()) {
            std::string ignored;
            ControllerStatus parsed;
            if (FromJson(one.body, parsed, ignored)) full = std::move(parsed);
        }
        std::unique_ptr<AttachedRun> run;
        for (auto& old : runs_)
            if (old && old->File() == brief.name) run = std::move(old);
        if (!run) run = std::make_unique<AttachedRun>(*this, ++nextId_);
        if (run->Take(full)) ++revision_;
        runs.push_back(std::move(run));
    }
    if (runs.size() != runs_.size()) ++revision_;
    runs_ = std::move(runs);
    if (gone_) {
        gone_ = false;
        Message(kAttached);
        ++revision_;
    }
    return true;
}

void AttachedSite::LostEngine() {
    if (gone_) return;
    gone_ = true;
    // What it ran is not known any more.
    for (auto& run : runs_) {
        ControllerStatus stopped;
        stopped.name = run->File();
        stopped.path = run->ControllerPath();
        stopped.line = "stopped";
        stopped.com = "stopped";
        run->Take(stopped);
    }
    ++revision_;
    Message(kEngineGone);
    if (onGone_) onGone_();
}

void AttachedSite::Message(const std::string& text) {
    ctx_.status.ShowStatus(3, text);
}

void AttachedSite::Configure() {
    Refresh();
}

std::vector<run::RunView*> AttachedSite::RunViews() const {
    std::vector<run::RunView*> views;
    for (const auto& run : runs_) views.push_back(run.get());
    return views;
}

run::RunView* AttachedSite::FindRun(const std::string& file) const {
    for (const auto& run : runs_)
        if (run->File() == file) return run.get();
    for (const auto& run : runs_)
        if (AsciiIEquals(run->File(), file)) return run.get();
    return nullptr;
}

bool AttachedSite::AnyRunning() const {
    for (const auto& run : runs_)
        if (run->Running()) return true;
    return false;
}

std::string AttachedSite::PortHolder(const std::string& port) const {
    const std::string device = run::PortIdentity(port);
    for (const auto& run : runs_)
        if (run->Running() &&
            run::PortIdentity(controller::ReadSerialSettings(run->ControllerPath()).port) == device)
            return run->File();
    return {};
}

void AttachedSite::StartAll() {
    const ApiResult result = client_->Run();
    Refresh();
    if (!result.Ok()) throw OperatorError(result.error);
}

void AttachedSite::StopAll() {
    const ApiResult result = client_->Stop();
    Refresh();
    if (!result.Ok()) throw OperatorError(result.error);
}

run::SiteView::Ticks AttachedSite::Needed() const {
    // The 200 ms tick copies the states into the monitor while a run runs.
    Ticks ticks;
    ticks.check = AnyRunning();
    return ticks;
}

void AttachedSite::ClockTick() {
    const LocalDateTime now = ctx_.clock.Now();
    ctx_.status.ShowStatus(0, DateText(true, now.date));
    ctx_.status.ShowStatus(1, TimeOfDayText(now));
    // The stream tells of changes; this catches what it cannot (a plan
    // table rewritten on disk, a stream that closed). An engine that went
    // away is looked for now and then only.
    if (!gone_ || now.second % 5 == 0) Refresh();
}

int AttachedSite::MillisecondsToNextSecond() const {
    const int ms = ctx_.clock.Now().millisecond;
    return ms < 0 || ms >= 1000 ? 1000 : 1000 - ms;
}

}  // namespace ristova::api
