#pragma once
// TFrmMain: the fixed-size main window. It builds the five pages, the status
// bar and the three timers, runs the model's start-up before the first
// showing and draws the model's state after every event it forwards.
#include <QWidget>
#include <functional>
#include <string>

#include <memory>

class QTimer;
class QPlainTextEdit;

namespace ristova {
class SecondTicker;
}

namespace ristova {
class MainWindowModel;
}

namespace ristova::widgets {
class TMyTransBtn;
class TPageControl;
}
namespace ristova::controller::ui {
class SetupPageWidget;
}
namespace ristova::plan::ui {
class PlanEditorWidget;
}

namespace ristova::ui {

class HandleNotifier;
class HistoryPage;
class MonitorPage;
class StatusBarWidget;

class TFrmMain : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 792;
    static constexpr int kClientHeight = 566;
    static constexpr int kSpacer = 7;

    // Runs FormCreate; the caller shows the window.
    explicit TFrmMain(MainWindowModel& model, QWidget* parent = nullptr);
    ~TFrmMain() override;  // FormDestroy

    // Every event handler runs through here: errors become the error box,
    // then the window draws what changed.
    void Guarded(const std::function<void()>& handler);
    // Draws what changed in the model (status bar, pages, timers).
    void Sync();

    widgets::TPageControl* PC() const { return pc_; }
    StatusBarWidget* SB() const { return sb_; }
    MonitorPage* Page0() const { return page0_; }
    controller::ui::SetupPageWidget* Page1() const { return page1_; }
    plan::ui::PlanEditorWidget* Page2() const { return page2_; }
    HistoryPage* Page4() const { return page4_; }
    QPlainTextEdit* mmDescription() const { return mmDesc_; }
    widgets::TMyTransBtn* btnDesc() const { return btnDesc_; }
    QTimer* Timer1() const { return timer1_; }
    // The check tick: a timer descriptor that wakes at each whole second.
    SecondTicker* tmCheck() const { return tmCheck_.get(); }
    QTimer* tmRun() const { return tmRun_; }

    void btnDescClick();

    // A close from the session or a signal: a running plan is not asked about.
    void CloseWithoutAsking();

  protected:
    void showEvent(QShowEvent* event) override;
    // The operator's close while the plan runs asks first.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildAboutPage();
    void SyncTimers();
    void tmCheckReady();

    MainWindowModel& model_;
    widgets::TPageControl* pc_ = nullptr;
    StatusBarWidget* sb_ = nullptr;
    MonitorPage* page0_ = nullptr;
    controller::ui::SetupPageWidget* page1_ = nullptr;
    plan::ui::PlanEditorWidget* page2_ = nullptr;
    HistoryPage* page4_ = nullptr;
    QPlainTextEdit* mmDesc_ = nullptr;
    widgets::TMyTransBtn* btnDesc_ = nullptr;
    QTimer* timer1_ = nullptr;
    std::unique_ptr<SecondTicker> tmCheck_;
    HandleNotifier* tmCheckNotifier_ = nullptr;
    QTimer* tmRun_ = nullptr;
    bool inSync_ = false;
    bool syncQueued_ = false;
    bool closeWithoutAsking_ = false;
    std::string seenComState_;
};

inline constexpr const char* kCloseWhileRunningQuestion =
    "计划正在运行,退出后将不再执行计划。确定退出?";

// The memo text of the about page, one line per entry.
QString AboutText();

}  // namespace ristova::ui
