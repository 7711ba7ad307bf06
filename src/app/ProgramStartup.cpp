#include "app/ProgramStartup.h"

#include "app/ModuleStartup.h"
#include "base/DataFolder.h"
#include "base/Files.h"
#include "base/Settings.h"

namespace ristova {

namespace {

IClock& ClockOf(IClock* given, std::unique_ptr<SystemClock>& own) {
    if (given) return *given;
    own = std::make_unique<SystemClock>();
    return *own;
}

ISleeper& SleeperOf(ISleeper* given, std::unique_ptr<SystemSleeper>& own) {
    if (given) return *given;
    own = std::make_unique<SystemSleeper>();
    return *own;
}

}  // namespace

ProgramCore::ProgramCore(IMainThreadPoster& poster, std::string programFolder, IClock* clock,
                         ISleeper* sleeper)
    : ctx_{std::string(),
           std::string(),
           std::string(),
           ClockOf(clock, ownClock_),
           SleeperOf(sleeper, ownSleeper_),
           poster,
           status_,
           boxes_},
      programFolder_(std::move(programFolder)),
      com1_(poster),
      engine_(ctx_, com1_) {}

ProgramCore::~ProgramCore() {
    remote_.reset();
    if (journal_) engine_.Events().Remove(journal_.get());
}

void ProgramCore::SetLocations(std::function<void(std::uint64_t lost)> onRowsLost) {
    ctx_.sAppPath =
        IncludeTrailingSeparator(programFolder_.empty() ? ExecutableFolder() : programFolder_);
    ctx_.sDllPath = ctx_.sAppPath + "PowerDll/";
    ctx_.sSysDllPath = InstalledPluginFolder(ExecutableFolder());
    ctx_.settingsFile = ctx_.sAppPath + kSettingsFileBaseName;
    if (journal_) return;
    journal_ = std::make_unique<run::Journal>(ctx_.sAppPath, ctx_.settingsFile);
    journal_->SetOnRowsLost([this, onRowsLost = std::move(onRowsLost)](std::uint64_t lost) {
        ctx_.poster.Post([this, onRowsLost, lost] {
            status_.ShowStatus(3, run::JournalLossText(lost));
            if (onRowsLost) onRowsLost(lost);
        });
    });
    engine_.Events().Add(journal_.get());
}

void ProgramCore::ReadSwitchBoxes() {
    const std::string& file = ctx_.settingsFile;
    boxes_.chk4Level = settings::ReadSwitch(file, settings::kChk4Level);
    boxes_.chkRun = settings::ReadSwitch(file, settings::kChkRun);
    boxes_.chkStartON = settings::ReadSwitch(file, settings::kChkStartON);
    boxes_.chkAutoDelete = settings::ReadSwitch(file, settings::kChkAutoDelete);
    boxes_.chkManOperate = settings::ReadSwitch(file, settings::kChkManOperate);
    boxes_.chkRestoreOnStart = settings::ReadSwitch(file, settings::kRestoreOnStart);
}

void ProgramCore::PrepareRun(const std::function<bool()>& start, const Step& step) {
    auto run = [&](const std::function<void()>& f) {
        if (step)
            step(f);
        else
            f();
    };
    run([&] { engine_.FillRunDeviceList(); });
    if (start()) run([&] { engine_.btnRunClick(); });
    // The plan's own date: a start-up that crossed midnight after the plan
    // was selected then still sees the change of date.
    engine_.SetLastRunDate(engine_.PlanDate());
}

std::string ProgramCore::StartRemote() {
    if (remote_) return {};
    const remote::MqttSettings settings = remote::ReadMqttSettings(ctx_.settingsFile);
    if (settings.host.empty()) return {};
    auto bridge = std::make_unique<remote::MqttBridge>(ctx_, engine_);
    if (!bridge->Start(settings)) return bridge->Error();
    remote_ = std::move(bridge);
    return {};
}

}  // namespace ristova
