#include "app/HeadlessRunner.h"

#include <systemd/sd-daemon.h>

#include "base/Errors.h"
#include "base/Files.h"
#include "controller/ControllerFile.h"

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
    if (e.result == "plan-rows-unreadable")
        return std::string(run::kUnreadableRowsPrefix) + e.detail +
               std::string(run::kUnreadableRowsSuffix);
    return {};
}

HeadlessRunner::HeadlessRunner(EventLoop& loop, std::string folder, std::FILE* out, std::FILE* err,
                               IClock* clock)
    : loop_(loop), out_(out), err_(err), core_(loop, std::move(folder), clock) {
    core_.Engine().Events().Add(this);
}

HeadlessRunner::~HeadlessRunner() {
    Stop();
    core_.Engine().Events().Remove(this);
}

void HeadlessRunner::OnRunEvent(const run::RunEvent& event) {
    const std::string line = RunEventLine(event) + '\n';
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    const std::string problem = RunProblemText(event);
    if (problem.empty()) return;
    std::fprintf(err_, "%s: %s: %s\n", kRunnerName, event.controller.c_str(), problem.c_str());
    std::fflush(err_);
}

std::string HeadlessRunner::Start() {
    core_.SetLocations([this](std::uint64_t lost) {
        std::fprintf(err_, "%s: %s: %s\n", kRunnerName, run::JournalLossText(lost).c_str(),
                     core_.Journal()->FilePath().c_str());
    });
    const AppContext& ctx = core_.Context();
    if (!CanWrite(ctx.sAppPath))
        return "程序文件夹不可写: " + ctx.sAppPath +
               " (give the user that runs ristova-run write permission on it)";
    core_.ReadSwitchBoxes();
    if (!core_.Boxes().chkRestoreOnStart)
        std::fprintf(err_,
                     "%s: hint: [RUN] RestoreOnStart=YES in %s puts the relays where the plan "
                     "wants them at every start\n",
                     kRunnerName, ctx.settingsFile.c_str());
    run::RunEngine& engine = core_.Engine();
    std::string missing;
    std::string unusable;
    try {
        // It runs whatever chkRun says: that is what it was started for.
        core_.PrepareRun([&] {
            const std::string& file = engine.sRunPowerFn();
            if (!FileExists(file)) {
                missing = file;
                return false;
            }
            unusable = controller::UnusableControllerReason(file);
            return unusable.empty();
        });
        if (!missing.empty())
            return "没有运行控制器: " + missing +
                   " (save a controller in this folder with the window's setup page, or name "
                   "one under [RUN] sPowerFn in " + ctx.settingsFile + ")";
        if (!unusable.empty())
            return "控制器文件无法使用: " + engine.sRunPowerFn() + ": " + unusable +
                   " (define the controller with the window's setup page and save it, or name "
                   "another one under [RUN] sPowerFn in " +
                   ctx.settingsFile + ")";
    } catch (const OperatorError& e) {
        return std::string(e.what()) + " (correct the controller file " + engine.sRunPowerFn() +
               ")";
    }
    if (!engine.Running()) return "the run controller did not start: " + engine.sRunPowerFn();
    // Without its broker the plan still runs.
    const std::string remoteError = core_.StartRemote();
    if (!remoteError.empty()) std::fprintf(err_, "%s: %s\n", kRunnerName, remoteError.c_str());
    // From here on a failed tick is told, and the process goes on.
    loop_.SetOnError([this](const std::exception& error) { TickFailed(error); });
    clockTick_.Start();
    loop_.Watch(clockTick_.Handle(), [this] {
        const SecondTicker::Reading reading = clockTick_.Read();
        if (reading.ticks == 0 && !reading.clockStepped) return;
        // Without a running engine there is no check tick to show we live.
        if (!core_.Engine().Running()) sd_notify(0, "WATCHDOG=1");
        core_.Engine().Timer1Timer();
        SyncTimers();
    });
    loop_.Watch(checkTick_.Handle(), [this] { CheckTick(); });
    loop_.Watch(runTick_.Handle(), [this] {
        if (runTick_.Read() > 0) core_.Engine().tmRunTimer();
    });
    loop_.Watch(restartTick_.Handle(), [this] {
        if (restartTick_.Read() == 0) return;
        run::RunEngine& e = core_.Engine();
        if (!e.Running()) e.btnRunClick();
        if (e.Running()) toldError_.clear();
        SyncTimers();
    });
    SyncTimers();
    sd_notify(0, "READY=1");
    return {};
}

void HeadlessRunner::CheckTick() {
    const SecondTicker::Reading reading = checkTick_.Read();
    if (reading.ticks == 0 && !reading.clockStepped) return;
    core_.Engine().tmCheckTimer();
    toldError_.clear();
    sd_notify(0, "WATCHDOG=1");
    SyncTimers();
}

// The same timers as the window's: the check and 200 ms ticks only while
// the engine runs; the restart tick only while it does not.
void HeadlessRunner::SyncTimers() {
    if (core_.Engine().Running()) {
        if (!checkTick_.Active()) checkTick_.Start();
        if (!runTick_.Active()) runTick_.Start(200);
        restartTick_.Stop();
    } else {
        checkTick_.Stop();
        runTick_.Stop();
        if (!restartTick_.Active()) restartTick_.Start(run::kReconnectMs);
    }
}

void HeadlessRunner::TickFailed(const std::exception& error) {
    SyncTimers();
    const std::string message = error.what();
    if (message == toldError_) return;
    toldError_ = message;
    run::RunEngine& engine = core_.Engine();
    run::RunEvent event;
    event.at = run::EventTimeText(core_.Context().clock.Now());
    event.controller = engine.cbRunDevList().Text();
    event.kind = "run";
    event.source = "engine";
    event.result = "error";
    event.detail = message;
    // Standard output and error, the journal and the broker alike.
    engine.Events().OnRunEvent(event);
}

void HeadlessRunner::Run() {
    loop_.Run();
    Stop();
}

void HeadlessRunner::Stop() {
    if (stopped_) return;
    stopped_ = true;
    sd_notify(0, "STOPPING=1");
    for (NativeHandle handle :
         {clockTick_.Handle(), checkTick_.Handle(), runTick_.Handle(), restartTick_.Handle()})
        loop_.Unwatch(handle);
    loop_.SetOnError({});
    clockTick_.Stop();
    checkTick_.Stop();
    runTick_.Stop();
    restartTick_.Stop();
    run::RunEngine& engine = core_.Engine();
    engine.Shutdown();
    engine.COMRUN().ClosePort();
    if (run::Journal* journal = core_.Journal()) journal->Flush();
}

}  // namespace ristova
