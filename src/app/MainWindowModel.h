#pragma once
// The main window as data: the program's locations, the shared context, the
// test port, the run engine and the two page models, with the start-up,
// showing and shutdown order and the settings boxes' handlers. The Qt window
// renders this and forwards events; tests drive it without a display.
#include <functional>
#include <memory>
#include <string>

#if RISTOVA_WITH_API
#include "api/AttachedSite.h"
#endif
#include "app/ProgramStartup.h"
#include "base/AppContext.h"
#include "base/Clock.h"
#include "base/SettingsBoxes.h"
#include "base/StatusBar.h"
#include "base/MainThreadPoster.h"
#include "comm/MyComm32.h"
#include "controller/SetupPage.h"
#include "plan/PlanEditorPage.h"
#include "run/Journal.h"
#include "run/RunPage.h"

namespace ristova {

inline constexpr const char* kMainCaption = "Quelmar电源管理程序";
inline constexpr const char* kManualFileName = "说明书.doc";
inline constexpr const char* kNoManual = "找不到说明书:";
inline constexpr const char* kManualNotOpened = "无法打开说明书:";
inline constexpr const char* kAutoStartValueName = "Ristova";
// Panel 3 when neither autostart entry could be written (+ the user's folder).
inline constexpr const char* kAutoStartNotWritten = "无法写入开机自动启动项:";
inline constexpr int kRunPageIndex = 0;
inline constexpr int kEditorPageIndex = 2;

// The command that starts this program again on its folder: the
// executable's path, and "--folder <folder>" when the folder is not the one
// the program chooses by itself; each argument quoted for the Exec= line.
std::string AutoStartCommandLine(const std::string& executable, const std::string& folder,
                                 const std::string& chosenFolder);

struct MainWindowOptions {
    std::string programFolder;  // empty: the executable's folder
    IClock* clock = nullptr;    // null: the system clock
    ISleeper* sleeper = nullptr;
    // Another process runs the folder (its lock is held): the window opens
    // attached to it through its API, and may take the folder over when
    // takeLock gets the lock once that process is gone.
    bool attach = false;
    std::function<bool()> takeLock;
};

// The question when the engine a window was attached to went away.
inline constexpr const char* kTakeOverQuestion = "后台运行已停止。由本窗口接管运行吗?";
inline constexpr const char* kTakeOverRefused = "程序文件夹仍由另一个Ristova进程使用,无法接管";
// Panel 3 when a controller that runs is saved.
inline constexpr const char* kSavedWhileRunning = "控制器正在运行,保存的设置将在下次开始运行时生效";

class MainWindowModel {
  public:
    // Runs one step of an operation; the window shows an OperatorError as the
    // error box there and the next step goes on. Without one, errors
    // propagate.
    using Guard = std::function<void(const std::function<void()>&)>;

    MainWindowModel(IMainThreadPoster& poster, MainWindowOptions options = {});
    ~MainWindowModel();
    MainWindowModel(const MainWindowModel&) = delete;
    MainWindowModel& operator=(const MainWindowModel&) = delete;

    // Start-up before the first showing; each step runs inside the guard.
    void FormCreate(const Guard& guard = {});
    // Every showing: page 0 active, the three grids' columns fitted.
    void FormShow();
    // Program end: the plug-in is released; nothing is saved.
    void FormDestroy();

    // Attached to the process that runs the folder.
    bool Attached() const { return attached_ != nullptr && !tookOver_; }
    // Called once when that process went away (the window asks then).
    void SetOnEngineGone(std::function<void()> handler) { onEngineGone_ = std::move(handler); }
    // Takes the folder's lock and runs the site here, as a window that was
    // never attached does. False when the lock is still held.
    bool TakeOver(const Guard& guard = {});

    // The auto-start box, then the five [LOAD] switches. A box whose stored
    // value differs from its state runs its click, which writes the value
    // back. Every box is applied even when a write is refused; the first
    // refusal is thrown at the end.
    void LoadSettings();

    void chk4LevelClick(bool checked);
    void chkRunClick(bool checked);
    void chkStartONClick(bool checked);
    void chkAutoDeleteClick(bool checked);
    void chkManOperateClick(bool checked);
    void chkAutoStartClick(bool checked);
    void chkRestoreOnStartClick(bool checked);

    // sAppPath + "说明书.doc" when it exists, else the installed or the
    // built HTML manual; empty when there is none. The window asks the
    // desktop to open it.
    std::string ManualPath() const;
    // Panel 3 says that no manual (empty tried) or the given one could not be opened.
    void ReportNoManual(const std::string& tried);
    // The auto-start data: AutoStartCommandLine of this process.
    std::string AutoStartCommand() const;

    AppContext& Context() { return ctx_; }
    const AppContext& Context() const { return ctx_; }
    StatusBar& Status() { return status_; }
    SettingsBoxes& Boxes() { return boxes_; }
    const SettingsBoxes& Boxes() const { return boxes_; }
    TMyComport& Com1() { return com1_; }
    // The run page ("电源控制监视和操作") over the site's runs.
    run::RunPage& Monitor() { return monitor_; }
    run::Site& GetSite() { return core_.GetSite(); }
    controller::SetupPage& Setup() { return setup_; }
    plan::PlanEditorPage& PlanEditor() { return planEditor_; }
    // The switching journal; null before FormCreate and while attached.
    run::Journal* Journal() { return core_.Journal(); }
    // The journal's file, read by the history page whoever writes it.
    std::string JournalFile() const;

    // Flags that the start-up sequence sets for the window.
    bool StateDoubleBuffered() const { return stateDoubleBuffered_; }
    bool OwnerDrawTabs() const { return ownerDrawTabs_; }
    int ActivePage() const { return activePage_; }
    // The operator shows a page: the run page and the editor list the
    // controllers again.
    void SetActivePage(int page);
    bool Created() const { return created_; }

    // Grows whenever a box or a flag above changes.
    std::uint64_t Revision() const { return revision_; }

  private:
    void StoreSwitch(bool& box, std::string_view key, bool checked);
    // The run side of this process: the site's runs, the broker, the API.
    void RunHere(const Guard& guard);

    ProgramCore core_;
    StatusBar& status_;
    SettingsBoxes& boxes_;
    AppContext& ctx_;
    TMyComport& com1_;
#if RISTOVA_WITH_API
    std::unique_ptr<api::AttachedSite> attached_;
#else
    // Without the API there is no engine to attach to.
    std::unique_ptr<run::SiteView> attached_;
#endif
    std::function<bool()> takeLock_;
    std::function<void()> onEngineGone_;
    bool tookOver_ = false;
    run::RunPage monitor_;
    controller::SetupPage setup_;
    plan::PlanEditorPage planEditor_;

    bool stateDoubleBuffered_ = false;
    bool ownerDrawTabs_ = false;
    bool created_ = false;
    int activePage_ = 0;
    std::uint64_t revision_ = 0;
};

}  // namespace ristova
