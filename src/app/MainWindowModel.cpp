#include "app/MainWindowModel.h"

#include <filesystem>
#include <optional>

#include "base/DataFolder.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "app/ModuleStartup.h"
#include "base/Registry.h"
#include "base/Settings.h"

namespace ristova {

namespace {

IClock& ClockOf(const MainWindowOptions& o, std::unique_ptr<SystemClock>& own) {
    if (o.clock) return *o.clock;
    own = std::make_unique<SystemClock>();
    return *own;
}

ISleeper& SleeperOf(const MainWindowOptions& o, std::unique_ptr<SystemSleeper>& own) {
    if (o.sleeper) return *o.sleeper;
    own = std::make_unique<SystemSleeper>();
    return *own;
}

}  // namespace

MainWindowModel::MainWindowModel(IMainThreadPoster& poster, MainWindowOptions options)
    : ctx_{std::string(),
           std::string(),
           std::string(),
           ClockOf(options, ownClock_),
           SleeperOf(options, ownSleeper_),
           poster,
           status_,
           boxes_},
      programFolder_(std::move(options.programFolder)),
      com1_(poster),
      engine_(ctx_, com1_),
      setup_(ctx_, com1_),
      planEditor_(ctx_) {
    // Both ports start as the design leaves them.
    com1_.SetCommPort("COM1");
    com1_.SetReadTimeout(10);
}

MainWindowModel::~MainWindowModel() {
    if (journal_) engine_.Events().Remove(journal_.get());
}

void MainWindowModel::FormCreate(const Guard& guard) {
    auto step = [&](const std::function<void()>& f) {
        if (guard)
            guard(f);
        else
            f();
    };
    // 1. Locations.
    ctx_.sAppPath =
        IncludeTrailingSeparator(programFolder_.empty() ? ExecutableFolder() : programFolder_);
    ctx_.sDllPath = ctx_.sAppPath + "PowerDll/";
    ctx_.sSysDllPath = InstalledPluginFolder(ExecutableFolder());
    ctx_.settingsFile = ctx_.sAppPath + kSettingsFileBaseName;
    if (!journal_) {
        journal_ = std::make_unique<run::Journal>(ctx_.sAppPath, ctx_.settingsFile);
        journal_->SetOnUnwritable([this] {
            ctx_.poster.Post([this] { status_.ShowStatus(3, run::kJournalUnwritable); });
        });
        engine_.Events().Add(journal_.get());
    }
    // 2.
    step([&] { LoadSettings(); });
    // 3.
    stateDoubleBuffered_ = true;
    // 4. - 7.
    step([&] { planEditor_.LoadSortButtons(); });
    step([&] { setup_.InitControllerList(); });
    step([&] { planEditor_.InitPlanEditor(); });
    step([&] { engine_.FillRunDeviceList(); });
    // 8.
    if (boxes_.chkRun) step([&] { engine_.btnRunClick(); });
    // 9. - 10.
    ownerDrawTabs_ = true;
    engine_.SetLastRunDate(ctx_.clock.Now().date);
    created_ = true;
    ++revision_;
}

void MainWindowModel::FormShow() {
    activePage_ = 0;
    FitDeviceGridColumns(setup_.sgCom());
    FitPlanGridColumns(engine_.sgPlan());
    engine_.FitMonitorColumns();
    ++revision_;
}

void MainWindowModel::FormDestroy() {
    engine_.Shutdown();
}

void MainWindowModel::LoadSettings() {
    std::optional<OperatorError> firstError;
    auto apply = [&](bool current, bool stored, void (MainWindowModel::*click)(bool)) {
        if (current == stored) return;
        try {
            (this->*click)(stored);
        } catch (const OperatorError& e) {
            if (!firstError) firstError = e;
        }
    };
    const bool autoStart = RegistryTextEquals(RegistryRoot::LocalMachine, kRunKey,
                                              kAutoStartValueName, AutoStartCommand());
    apply(boxes_.chkAutoStart, autoStart, &MainWindowModel::chkAutoStartClick);
    const std::string& file = ctx_.settingsFile;
    apply(boxes_.chk4Level, settings::ReadSwitch(file, settings::kChk4Level),
          &MainWindowModel::chk4LevelClick);
    apply(boxes_.chkRun, settings::ReadSwitch(file, settings::kChkRun),
          &MainWindowModel::chkRunClick);
    apply(boxes_.chkStartON, settings::ReadSwitch(file, settings::kChkStartON),
          &MainWindowModel::chkStartONClick);
    apply(boxes_.chkAutoDelete, settings::ReadSwitch(file, settings::kChkAutoDelete),
          &MainWindowModel::chkAutoDeleteClick);
    apply(boxes_.chkManOperate, settings::ReadSwitch(file, settings::kChkManOperate),
          &MainWindowModel::chkManOperateClick);
    if (firstError) throw *firstError;
}

// The box shows its new state even when the write is refused.
void MainWindowModel::StoreSwitch(bool& box, std::string_view key, bool checked) {
    box = checked;
    ++revision_;
    settings::WriteSwitch(ctx_.settingsFile, key, checked);
}

void MainWindowModel::chk4LevelClick(bool checked) {
    StoreSwitch(boxes_.chk4Level, settings::kChk4Level, checked);
}
void MainWindowModel::chkRunClick(bool checked) {
    StoreSwitch(boxes_.chkRun, settings::kChkRun, checked);
}
void MainWindowModel::chkStartONClick(bool checked) {
    StoreSwitch(boxes_.chkStartON, settings::kChkStartON, checked);
}
void MainWindowModel::chkAutoDeleteClick(bool checked) {
    StoreSwitch(boxes_.chkAutoDelete, settings::kChkAutoDelete, checked);
}
void MainWindowModel::chkManOperateClick(bool checked) {
    StoreSwitch(boxes_.chkManOperate, settings::kChkManOperate, checked);
}

void MainWindowModel::chkAutoStartClick(bool checked) {
    boxes_.chkAutoStart = checked;
    ++revision_;
    if (checked)
        WriteRegistryText(RegistryRoot::LocalMachine, kRunKey, kAutoStartValueName,
                          AutoStartCommand());
    else
        DeleteRegistryValue(RegistryRoot::LocalMachine, kRunKey, kAutoStartValueName);
}

std::string MainWindowModel::ManualPath() const {
    const std::string exe = ExecutableFolder();
    for (const std::string& candidate :
         {ctx_.sAppPath + kManualFileName, exe + "../share/doc/ristova/manual/index.html",
          exe + "manual/index.html"})
        if (FileExists(candidate)) return std::filesystem::path(candidate).lexically_normal().string();
    return {};
}

void MainWindowModel::ReportNoManual(const std::string& tried) {
    status_.ShowStatus(3, (tried.empty() ? std::string(kNoManual) + ctx_.sAppPath + kManualFileName
                                         : std::string(kManualNotOpened) + tried));
}

// An installed program's data folder does not hold the executable; a
// portable one's does.
std::string MainWindowModel::AutoStartCommand() const {
    const std::string exe = ExecutableFolder();
    if (DirectoryExists(InstalledPluginFolder(exe))) return exe + kExecutableName;
    return ctx_.sAppPath + kExecutableName;
}

}  // namespace ristova
