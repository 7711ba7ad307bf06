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
      site_(ctx_, com1_) {}

ProgramCore::~ProgramCore() = default;

void ProgramCore::SetLocations(std::function<void(std::uint64_t lost)> onRowsLost) {
    SetLocationsOnly();
    site_.OpenJournal(std::move(onRowsLost));
}

void ProgramCore::SetLocationsOnly() {
    ctx_.sAppPath =
        IncludeTrailingSeparator(programFolder_.empty() ? ExecutableFolder() : programFolder_);
    ctx_.sDllPath = ctx_.sAppPath + "PowerDll/";
    ctx_.sSysDllPath = InstalledPluginFolder(ExecutableFolder());
    ctx_.settingsFile = ctx_.sAppPath + kSettingsFileBaseName;
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

void ProgramCore::PrepareRun(const std::function<bool()>& start, const Step& step,
                             run::RunPage* page) {
    auto run = [&](const std::function<void()>& f) {
        if (step)
            step(f);
        else
            f();
    };
    run([&] {
        if (page)
            page->FillRunDeviceList();
        else
            site_.Configure();
    });
    if (start()) run([&] {
            if (page)
                page->btnRunClick();
            else
                site_.StartAll();
        });
    // The plan's own date: a start-up that crossed midnight after the plan
    // was selected then still sees the change of date.
    for (const auto& r : site_.Runs()) r->SetLastRunDate(r->PlanDate());
}

std::string ProgramCore::StartRemote() {
    if (remote_) return {};
    const remote::MqttSettings settings = remote::ReadMqttSettings(ctx_.settingsFile);
    if (settings.host.empty()) return {};
    auto bridge = std::make_unique<remote::MqttBridge>(ctx_, site_);
    if (!bridge->Start(settings)) return bridge->Error();
    remote_ = bridge.get();
    site_.AddService(std::move(bridge));
    return {};
}

std::vector<std::string> ProgramCore::StartApi(std::function<void()> afterRunsChanged) {
#if !RISTOVA_WITH_API
    (void)afterRunsChanged;
    return {};
#else
    if (api_) return {};
    auto server = std::make_unique<api::ApiServer>(ctx_, site_);
    server->SetOnRunsChanged(std::move(afterRunsChanged));
    std::vector<std::string> problems = server->Start(api::ReadApiSettings(ctx_.settingsFile));
    api_ = server.get();
    site_.AddService(std::move(server));
    return problems;
#endif
}

}  // namespace ristova
