#include "app/HeadlessRunner.h"

#include <systemd/sd-daemon.h>
#include <unistd.h>

#include "base/Errors.h"
#include "base/Files.h"

namespace ristova {

namespace {

std::string Field(const std::string& text) {
    return text.empty() ? std::string("-") : text;
}

}  // namespace

std::string RunEventLine(const run::RunEvent& e) {
    return Field(e.at) + ' ' + Field(e.controller) + ' ' + std::to_string(e.relay) + ' ' +
           Field(e.kind) + ' ' + Field(e.source) + ' ' + Field(e.result) + ' ' + Field(e.detail);
}

HeadlessRunner::HeadlessRunner(EventLoop& loop, std::string folder, std::FILE* out,
                               std::FILE* err)
    : loop_(loop), out_(out), err_(err), core_(loop, std::move(folder)) {
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
}

std::string HeadlessRunner::Start() {
    core_.SetLocations([this](std::uint64_t lost) {
        std::fprintf(err_, "%s: %s: %s\n", kRunnerName, run::JournalLossText(lost).c_str(),
                     core_.Journal()->FilePath().c_str());
    });
    const AppContext& ctx = core_.Context();
    if (access(ctx.sAppPath.c_str(), W_OK) != 0)
        return "程序文件夹不可写: " + ctx.sAppPath +
               " (give the user that runs ristova-run write permission on it)";
    core_.ReadSwitchBoxes();
    run::RunEngine& engine = core_.Engine();
    std::string missing;
    try {
        // It runs whatever chkRun says: that is what it was started for.
        core_.PrepareRun([&] {
            if (FileExists(engine.sRunPowerFn())) return true;
            missing = engine.sRunPowerFn();
            return false;
        });
        if (!missing.empty())
            return "没有运行控制器: " + missing +
                   " (save a controller in this folder with the window's setup page, or name "
                   "one under [RUN] sPowerFn in " + ctx.settingsFile + ")";
    } catch (const OperatorError& e) {
        return std::string(e.what()) + " (correct the controller file " + engine.sRunPowerFn() +
               ")";
    }
    if (!engine.Running()) return "the run controller did not start: " + engine.sRunPowerFn();
    // Without its broker the plan still runs.
    const std::string remoteError = core_.StartRemote();
    if (!remoteError.empty()) std::fprintf(err_, "%s: %s\n", kRunnerName, remoteError.c_str());
    clockTick_.Start();
    loop_.Watch(clockTick_.Fd(), [this] {
        const SecondTicker::Reading reading = clockTick_.Read();
        if (reading.ticks == 0 && !reading.clockStepped) return;
        core_.Engine().Timer1Timer();
        // Without a running engine there is no check tick to show we live.
        if (!core_.Engine().Running()) sd_notify(0, "WATCHDOG=1");
        SyncTimers();
    });
    loop_.Watch(checkTick_.Fd(), [this] { CheckTick(); });
    loop_.Watch(runTick_.Fd(), [this] {
        if (runTick_.Read() > 0) core_.Engine().tmRunTimer();
    });
    SyncTimers();
    sd_notify(0, "READY=1");
    return {};
}

void HeadlessRunner::CheckTick() {
    const SecondTicker::Reading reading = checkTick_.Read();
    if (reading.ticks == 0 && !reading.clockStepped) return;
    core_.Engine().tmCheckTimer();
    sd_notify(0, "WATCHDOG=1");
    SyncTimers();
}

// The same timers as the window's: the check and 200 ms ticks only while
// the engine runs.
void HeadlessRunner::SyncTimers() {
    if (core_.Engine().Running()) {
        if (!checkTick_.Active()) checkTick_.Start();
        if (!runTick_.Active()) runTick_.Start(200);
    } else {
        checkTick_.Stop();
        runTick_.Stop();
    }
}

void HeadlessRunner::Run() {
    loop_.Run();
    Stop();
}

void HeadlessRunner::Stop() {
    if (stopped_) return;
    stopped_ = true;
    sd_notify(0, "STOPPING=1");
    for (int fd : {clockTick_.Fd(), checkTick_.Fd(), runTick_.Fd()}) loop_.Unwatch(fd);
    clockTick_.Stop();
    checkTick_.Stop();
    runTick_.Stop();
    run::RunEngine& engine = core_.Engine();
    engine.Shutdown();
    engine.COMRUN().ClosePort();
    if (run::Journal* journal = core_.Journal()) journal->Flush();
}

}  // namespace ristova
