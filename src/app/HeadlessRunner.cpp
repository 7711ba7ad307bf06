#include "app/HeadlessRunner.h"

#include <stdexcept>

#include "app/ServiceManager.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "controller/ControllerFile.h"
#include "run/Site.h"

namespace ristova {

namespace {

// A field before the detail: white space in it would split the line there.
std::string Fixed(std::string text) {
    if (text.empty()) return "-";
    for (char& c : text) {
        if (c == ' ' || (c >= '\t' && c <= '\r')) c = '_';
    }
    return text;
}

// The free last field keeps its blanks but stays on its line.
std::string Detail(std::string text) {
    if (text.empty()) return "-";
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

// How long the last lines may wait for a reader when the runner stops.
constexpr int kFinishOutputMs = 2000;

}  // namespace

std::string RunEventLine(const run::RunEvent& e) {
    std::string at = e.at;
    // ISO 8601's date and time in one field.
    if (const auto blank = at.find(' '); blank != std::string::npos) at[blank] = 'T';
    return Fixed(at) + ' ' + Fixed(e.controller) + ' ' + std::to_string(e.relay) + ' ' +
           Fixed(e.kind) + ' ' + Fixed(e.source) + ' ' + Fixed(e.result) + ' ' + Detail(e.detail);
}

std::string RunProblemText(const run::RunEvent& e) {
    if (e.kind != "run" || e.source != "engine") return {};
    if (e.result == "setting-invalid" || e.result == "error") return e.detail;
    if (e.result == "decoder-not-loaded") return run::kDecoderNotLoadedPrefix + e.detail;
    if (e.result == "decoder-failed") return run::kDecoderFailedPrefix + e.detail;
    if (e.result == "plan-rows-unreadable")
        return std::string(run::kUnreadableRowsPrefix) + e.detail +
               std::string(run::kUnreadableRowsSuffix);
    return {};
}

HeadlessRunner::HeadlessRunner(EventLoop& loop, std::string folder, std::FILE* out, std::FILE* err,
                               IClock* clock)
    : loop_(loop), out_(out), err_(err), core_(loop, std::move(folder), clock) {
    core_.GetSite().Events().Add(this);
}

HeadlessRunner::~HeadlessRunner() {
    Stop();
    core_.GetSite().Events().Remove(this);
}

void HeadlessRunner::OnRunEvent(const run::RunEvent& event) {
    const std::string line = RunEventLine(event) + '\n';
    out_.Write(line);
    const std::string problem = RunProblemText(event);
    if (problem.empty()) return;
    Tell(event.controller + ": " + problem);
}

std::string HeadlessRunner::CannotRun(const std::string& file) const {
    const AppContext& ctx = const_cast<HeadlessRunner*>(this)->core_.Context();
    if (!FileExists(file))
        return "没有运行控制器: " + file +
               " (save a controller in this folder with the window's setup page, or name "
               "one under [RUN] sPowerFn or [RUN] Controllers in " + ctx.settingsFile + ")";
    if (const std::string unusable = controller::UnusableControllerReason(file); !unusable.empty())
        return "控制器文件无法使用: " + file + ": " + unusable +
               " (define the controller with the window's setup page and save it, or name "
               "another one under [RUN] sPowerFn or [RUN] Controllers in " +
               ctx.settingsFile + ")";
    return {};
}

std::string HeadlessRunner::Start() {
    core_.SetLocations([this](std::uint64_t lost) {
        Tell(run::JournalLossText(lost) + ": " + core_.Journal()->FilePath());
    });
    const AppContext& ctx = core_.Context();
    if (!CanWrite(ctx.sAppPath))
        return "程序文件夹不可写: " + ctx.sAppPath +
               " (give the user that runs ristova-run write permission on it)";
    // The window runs the folder's default then; a service is told.
    if (const std::string refused = run::RefusedControllerNames(ctx.settingsFile); !refused.empty())
        return "控制器名称无效: " + refused +
               " (a controller is a file of the program folder itself: name it under [RUN] "
               "sPowerFn or [RUN] Controllers in " +
               ctx.settingsFile + " without \"..\" or a path separator)";
    core_.ReadSwitchBoxes();
    if (!core_.Boxes().chkRestoreOnStart)
        Tell("hint: [RUN] RestoreOnStart=YES in " + ctx.settingsFile +
             " puts the relays where the plan wants them at every start");
    run::Site& site = core_.GetSite();
    std::string problem;
    try {
        // It runs whatever chkRun says: that is what it was started for.
        core_.PrepareRun([&] {
            for (const auto& run : site.Runs())
                if (problem.empty()) problem = CannotRun(run->ControllerPath());
            return problem.empty();
        });
    } catch (const OperatorError& e) {
        const std::string first = site.Runs().empty() ? std::string() : site.Runs().front()->ControllerPath();
        // Several controllers: the others run; one alone must be corrected.
        if (!site.Several())
            return std::string(e.what()) + " (correct the controller file " + first + ")";
        Tell(e.what());
    }
    if (!problem.empty()) return problem;
    if (!site.AnyRunning()) {
        std::string files;
        for (const auto& run : site.Runs()) files += (files.empty() ? "" : ", ") + run->ControllerPath();
        return "the run controller did not start: " + files;
    }
    // Without its broker the plan still runs.
    const std::string remoteError = core_.StartRemote();
    if (!remoteError.empty()) Tell(remoteError);
    // Nor without its API; a request that starts or stops runs arms the timers.
    for (const std::string& apiProblem : core_.StartApi([this] { SyncTimers(); }))
        Tell(apiProblem);
#if RISTOVA_WITH_API
    if (const api::ApiServer* api = core_.Api(); api && api->ServesTcp())
        Tell("API: TCP " + api->TcpAddress());
#endif
    // From here on a failed tick is told once (by the site, on standard
    // output, standard error and in the journal) and the process goes on;
    // a run that should run is started again.
    site.SetRetryStopped(true);
    loop_.SetOnError([&site](const std::exception& error) {
        site.ReportError(std::make_exception_ptr(std::runtime_error(error.what())));
    });
    // Watched first: when both ticks are due, the second's commands go out
    // before the clock's bookkeeping.
    loop_.Watch(checkTick_.Handle(), [this] { CheckTick(); });
    clockTick_.Start();
    loop_.Watch(clockTick_.Handle(), [this] {
        const SecondTicker::Reading reading = clockTick_.Read();
        if (reading.ticks == 0 && !reading.clockStepped) return;
        FlushOutput();
        // Without a running run there is no check tick to show we live.
        if (!core_.GetSite().AnyRunning()) service::NotifyAlive();
        core_.GetSite().ClockTick();
        SyncTimers();
    });
    loop_.Watch(restartTick_.Handle(), [this] {
        if (restartTick_.Read() == 0) return;
        core_.GetSite().RetryTick();
        SyncTimers();
    });
    SyncTimers();
    service::NotifyReady();
    return {};
}

void HeadlessRunner::CheckTick() {
    const SecondTicker::Reading reading = checkTick_.Read();
    if (reading.ticks == 0 && !reading.clockStepped) return;
    core_.GetSite().CheckTick();
    service::NotifyAlive();
    SyncTimers();
}

// The site says which ticks it needs: the check tick while a run runs, the
// restart tick while a run that should run does not.
void HeadlessRunner::SyncTimers() {
    const run::Site::Ticks needed = core_.GetSite().Needed();
    if (needed.check && !checkTick_.Active()) checkTick_.Start();
    if (!needed.check) checkTick_.Stop();
    if (needed.retry && !restartTick_.Active()) restartTick_.Start(run::kReconnectMs);
    if (!needed.retry) restartTick_.Stop();
}

void HeadlessRunner::Run() {
    loop_.Run();
    Stop();
}

void HeadlessRunner::Stop() {
    if (stopped_) return;
    stopped_ = true;
    service::NotifyStopping();
    for (NativeHandle handle : {clockTick_.Handle(), checkTick_.Handle(), restartTick_.Handle()})
        loop_.Unwatch(handle);
    loop_.SetOnError({});
    clockTick_.Stop();
    checkTick_.Stop();
    restartTick_.Stop();
    core_.GetSite().Shutdown();
    if (run::Journal* journal = core_.Journal()) journal->Flush();
    out_.Finish(kFinishOutputMs);
    err_.Finish(kFinishOutputMs);
}

void HeadlessRunner::Tell(const std::string& text) {
    err_.Write(std::string(kRunnerName) + ": " + text + "\n");
}

// Lines that waited for a reader go out now that it may read again.
void HeadlessRunner::FlushOutput() {
    out_.Drain();
    err_.Drain();
    if (const std::uint64_t dropped = out_.TakeDropped())
        Tell(std::to_string(dropped) + " lines of standard output dropped: nobody read them");
}

}  // namespace ristova
