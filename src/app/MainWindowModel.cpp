#include "app/MainWindowModel.h"

#include <exception>
#include <filesystem>

#include "base/DataFolder.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "app/ModuleStartup.h"
#include "base/Registry.h"
#include "base/Settings.h"
#include "base/TextUtils.h"

namespace ristova {

namespace {

// One start-up step, inside the guard when there is one.
void RunStep(const MainWindowModel::Guard& guard, const std::function<void()>& f) {
    if (guard)
        guard(f);
    else
        f();
}

}  // namespace

MainWindowModel::MainWindowModel(IMainThreadPoster& poster, MainWindowOptions options)
    : core_(poster, std::move(options.programFolder), options.clock, options.sleeper),
      status_(core_.Status()),
      boxes_(core_.Boxes()),
      ctx_(core_.Context()),
      com1_(core_.Com1()),
#if RISTOVA_WITH_API
      attached_(options.attach
                    ? std::make_unique<api::AttachedSite>(
                          ctx_,
                          [this] {
                              if (onEngineGone_) onEngineGone_();
                          })
                    : nullptr),
#endif

      takeLock_(std::move(options.takeLock)),
      monitor_(ctx_, attached_ ? static_cast<run::SiteView&>(*attached_) : core_.GetSite()),
      setup_(ctx_, com1_),
      planEditor_(ctx_) {
    setup_.SetPortHolder([this](const std::string& port) {
#if RISTOVA_WITH_API
        if (Attached()) return attached_->PortHolder(port);
#endif
        return core_.GetSite().PortHolder(port);
    });
    setup_.SetOnSaved([this](const std::string& file) {
        const run::RunView* run = monitor_.GetSite().FindRun(ExtractFileName(file));
        if (run && run->Running()) status_.ShowStatus(3, kSavedWhileRunning);
    });
    // Both ports start as the design leaves them.
    com1_.SetCommPort("COM1");
    com1_.SetReadTimeout(10);
}

MainWindowModel::~MainWindowModel() = default;

void MainWindowModel::FormCreate(const Guard& guard) {
    auto step = [&](const std::function<void()>& f) { RunStep(guard, f); };
    // 1. Locations and the journal (the attached engine writes its own).
    if (attached_)
        core_.SetLocationsOnly();
    else
        core_.SetLocations();
    // 2.
    step([&] { LoadSettings(); });
    // 3.
    stateDoubleBuffered_ = true;
    // 4. - 6.
    step([&] { planEditor_.LoadSortButtons(); });
    step([&] { setup_.InitControllerList(); });
    step([&] { planEditor_.InitPlanEditor(); });
    // 7., 8. and 10.
#if RISTOVA_WITH_API
    if (attached_) {
        step([&] {
            attached_->Connect(api::Endpoint{api::SocketPathOf(ctx_.sAppPath), {}, {}});
            monitor_.FillRunDeviceList();
            status_.ShowStatus(3, attached_->Gone() ? api::kEngineGone : api::kAttached);
        });
    } else {
        RunHere(guard);
    }
#else
    RunHere(guard);
#endif
    // 9.
    ownerDrawTabs_ = true;
    created_ = true;
    ++revision_;
}

void MainWindowModel::RunHere(const Guard& guard) {
    auto step = [&](const std::function<void()>& f) { RunStep(guard, f); };
    core_.PrepareRun([this] { return boxes_.chkRun; }, guard, &monitor_);
    // The broker link, when the settings name one.
    step([&] {
        const std::string error = core_.StartRemote();
        if (!error.empty()) throw OperatorError(error);
    });
    // The local API, whose "run" and "stop" are the run page's buttons. It
    // is no reason for a message box: panel 3 tells what did not start.
    step([&] {
        const std::vector<std::string> problems = core_.StartApi();
#if RISTOVA_WITH_API
        if (api::ApiServer* api = core_.Api())
            api->SetRunButtons([this] { monitor_.btnRunClick(); },
                               [this] { monitor_.btnStopClick(); });
#endif
        if (!problems.empty()) status_.ShowStatus(3, JoinText(problems, "; "));
    });
}

bool MainWindowModel::TakeOver(const Guard& guard) {
    if (!Attached()) return true;
    if (!takeLock_ || !takeLock_()) {
        status_.ShowStatus(3, kTakeOverRefused);
        return false;
    }
#if RISTOVA_WITH_API
    attached_->Shutdown();
#endif
    tookOver_ = true;
    core_.SetLocations();
    monitor_.UseSite(core_.GetSite());
    RunHere(guard);
    ++revision_;
    return true;
}

std::string MainWindowModel::JournalFile() const {
    return ctx_.sAppPath + run::kJournalFileName;
}

void MainWindowModel::FormShow() {
    activePage_ = 0;
    FitDeviceGridColumns(setup_.sgCom());
    FitPlanGridColumns(monitor_.sgPlan());
    monitor_.FitMonitorColumns();
    ++revision_;
}

void MainWindowModel::SetActivePage(int page) {
    const bool changed = page != activePage_;
    activePage_ = page;
    if (!changed || !created_) return;
    if (page == kRunPageIndex) monitor_.RefreshDeviceList();
    if (page == kEditorPageIndex) planEditor_.RefreshControllerList();
    ++revision_;
}

void MainWindowModel::FormDestroy() {
    monitor_.Shutdown();
}

void MainWindowModel::LoadSettings() {
    // Kept whole: a refused write must stay a WriteRefused for the window.
    std::exception_ptr firstError;
    auto apply = [&](bool current, bool stored, void (MainWindowModel::*click)(bool)) {
        if (current == stored) return;
        try {
            (this->*click)(stored);
        } catch (const OperatorError&) {
            if (!firstError) firstError = std::current_exception();
        }
    };
    // Either entry counts: the user's is written where the machine's cannot be.
    const bool autoStart =
        RegistryTextEquals(RegistryRoot::LocalMachine, kRunKey, kAutoStartValueName,
                           AutoStartCommand()) ||
        RegistryTextEquals(RegistryRoot::CurrentUser, kRunKey, kAutoStartValueName,
                           AutoStartCommand());
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
    apply(boxes_.chkRestoreOnStart, settings::ReadSwitch(file, settings::kRestoreOnStart),
          &MainWindowModel::chkRestoreOnStartClick);
    if (firstError) std::rethrow_exception(firstError);
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

void MainWindowModel::chkRestoreOnStartClick(bool checked) {
    StoreSwitch(boxes_.chkRestoreOnStart, settings::kRestoreOnStart, checked);
}

void MainWindowModel::chkAutoStartClick(bool checked) {
    ++revision_;
    if (!checked) {
        boxes_.chkAutoStart = false;
        DeleteRegistryValue(RegistryRoot::LocalMachine, kRunKey, kAutoStartValueName);
        DeleteRegistryValue(RegistryRoot::CurrentUser, kRunKey, kAutoStartValueName);
        return;
    }
    // A normal user cannot write the machine-wide folder; the box shows only
    // what was really written.
    boxes_.chkAutoStart =
        WriteRegistryText(RegistryRoot::LocalMachine, kRunKey, kAutoStartValueName,
                          AutoStartCommand()) ||
        WriteRegistryText(RegistryRoot::CurrentUser, kRunKey, kAutoStartValueName,
                          AutoStartCommand());
    if (!boxes_.chkAutoStart)
        status_.ShowStatus(3, std::string(kAutoStartNotWritten) + AutostartFolder(RegistryRoot::CurrentUser));
}

std::string MainWindowModel::ManualPath() const {
    const std::string exe = ExecutableFolder();
    for (const std::string& candidate :
         {ctx_.sAppPath + kManualFileName, exe + "../share/doc/ristova/manual/index.html",
          exe + "manual/index.html"})
        if (FileExists(candidate)) return Utf8Path(FsPath(candidate).lexically_normal());
    return {};
}

void MainWindowModel::ReportNoManual(const std::string& tried) {
    status_.ShowStatus(3, (tried.empty() ? std::string(kNoManual) + ctx_.sAppPath + kManualFileName
                                         : std::string(kManualNotOpened) + tried));
}

std::string MainWindowModel::AutoStartCommand() const {
    return AutoStartCommandLine(ExecutablePath(), ctx_.sAppPath,
                                ChooseProgramFolder({}, ExecutableFolder(), ProcessFolderEnv()));
}

std::string AutoStartCommandLine(const std::string& executable, const std::string& folder,
                                 const std::string& chosenFolder) {
    namespace fs = std::filesystem;
    // Autostart runs elsewhere than a relative --folder was meant from.
    auto absolute = [](const std::string& path) {
        std::error_code ec;
        const fs::path p = fs::absolute(FsPath(path), ec);
        return IncludeTrailingSeparator(Utf8Path((ec ? FsPath(path) : p).lexically_normal()));
    };
    std::string line = ExecArgument(executable);
    const std::string given = absolute(folder);
    if (given != absolute(chosenFolder)) line += " --folder " + ExecArgument(given);
    return line;
}

}  // namespace ristova
