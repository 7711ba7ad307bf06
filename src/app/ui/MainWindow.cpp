#include "app/ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSessionManager>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include "app/MainWindowModel.h"
#include "app/ui/AppFont.h"
#include "app/ui/HistoryPage.h"
#include "app/ui/MonitorPage.h"
#include "app/ui/StatusBarWidget.h"
#include "base/SecondTicker.h"
#include "base/ui/ErrorBoundary.h"
#include "base/ui/HandleNotifier.h"
#include "controller/ui/SetupPageWidget.h"
#include "plan/ui/PlanEditorWidget.h"
#include "run/ui/MonitorGrid.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageTabs.h"

namespace ristova::ui {

QString AboutText() {
    return QStringLiteral(
        "  "
        "Quelmar电源控制管理器，是一个通用型的串口电源控制器管理程序。可非常灵活的控制电源等设备的"
        "开闭。"
        "可按日、按星期编辑每天的控制表，\n"
        "实现电源的自动控制。\n"
        "\n"
        "  主要功能：\n"
        "  1、电源控制器设置：为每个控制器设定串口参数、继电器路数、每路继电器的接通和断开指令、"
        "状态查询指令和状态处理程序，并可在设置页上逐条测试指令。\n"
        "  "
        "2、电源控制计划编辑：为每个控制器编辑计划表，可按指定日期、每年的某一天、星期几或默认计划"
        "表"
        "安排每路继电器的接通和断开时间。\n"
        "  "
        "3、电源控制监视和操作：按四级优先规则选出当天的计划表，在规定的时刻发送指令，每秒查询一次"
        "继电器状态并以图形显示；运行中允许手动切换继电器。\n"
        "  4、每天零点自动选用新一天的计划表，可设定启动时执行计划表和开机自动启动。\n"
        "\n"
        "  详细的使用方法请阅读Word说明书。");
}

TFrmMain::TFrmMain(MainWindowModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      model_(model) {
    setWindowTitle(QString::fromUtf8(kMainCaption));
    setFont(WindowFont());
    // Minimum = maximum: the window can be neither resized nor maximised.
    setFixedSize(kClientWidth, kClientHeight);

    pc_ = new widgets::TPageControl(this);
    pc_->setGeometry(0, kSpacer, kClientWidth, kClientHeight - kSpacer - StatusBarWidget::kHeight);
    auto guard = [this](const std::function<void()>& f) { Guarded(f); };
    page0_ = new MonitorPage(model_, guard);
    auto holder = [](QWidget* page) {
        auto* h = new QWidget;
        if (page) {
            page->setParent(h);
            page->move(0, 0);
        }
        return h;
    };
    pc_->addTab(holder(page0_), QStringLiteral("电源控制监视和操作"));
    page1_ = new controller::ui::SetupPageWidget(model_.Setup());
    page2_ = new plan::ui::PlanEditorWidget(model_.PlanEditor());
    pc_->addTab(holder(page1_), QStringLiteral("电源控制器设置"));
    pc_->addTab(holder(page2_), QStringLiteral("电源控制计划编辑"));
    pc_->addTab(holder(BuildAboutPage()), QStringLiteral("关于系统"));
    page4_ = new HistoryPage(model_, guard);
    pc_->addTab(holder(page4_), QStringLiteral("运行记录"));
    connect(pc_, &QTabWidget::currentChanged, this,
            [this](int index) {
                // The page left behind may still have a cell editor open.
                GuardedAction(this, [&] { model_.SetActivePage(index); });
                // The editor page drew itself when it was shown, before the
                // list was read again.
                page2_->Refresh();
                Sync();
            });

    sb_ = new StatusBarWidget(model_.Status(), this);
    sb_->setGeometry(0, kClientHeight - StatusBarWidget::kHeight, kClientWidth,
                     StatusBarWidget::kHeight);

    timer1_ = new QTimer(this);
    tmRun_ = new QTimer(this);
    // A single shot re-armed to the next second boundary.
    timer1_->setSingleShot(true);
    timer1_->setTimerType(Qt::PreciseTimer);
    tmRun_->setInterval(200);
    // The check tick wakes on an absolute expiry of the wall clock, so it
    // neither rounds up to the next millisecond nor misses a clock set.
    tmCheck_ = std::make_unique<SecondTicker>();
    tmCheckNotifier_ = new HandleNotifier(
        tmCheck_->Handle(), [this] { tmCheckReady(); }, this);
    connect(timer1_, &QTimer::timeout, this, [this] {
        Guarded([this] { model_.Monitor().Timer1Timer(); });
        timer1_->start(model_.Monitor().MillisecondsToNextSecond());
    });
    connect(tmRun_, &QTimer::timeout, this,
            [this] { Guarded([this] { model_.Monitor().tmRunTimer(); }); });

    // The engine this window was attached to went away: it may take over.
    model_.SetOnEngineGone([this] {
        QTimer::singleShot(0, this, [this] {
            Sync();
            if (model_.Attached() && AskYesNo(this, kTakeOverQuestion))
                Guarded([this] {
                    model_.TakeOver([this](const std::function<void()>& step) {
                        GuardedCall(this, step);
                    });
                });
        });
    });
    // A tick that fails is told by the site, once, as a handler's error is.
    model_.GetSite().SetOnError([this](const run::ControllerRun*, std::exception_ptr error) {
        GuardedCall(this, [&] { std::rethrow_exception(error); });
    });
    // The column-fitting rules of the core work on the grids' outer widths.
    model_.Setup().sgCom().SetWidth(page1_->sgComView()->width());

    // A refused write is told in panel 3 every time, in a box once per file.
    SetRefusedWriteNotice([this](const std::string& message) {
        model_.Status().ShowStatus(3, message);
        sb_->Sync();
    });
    model_.FormCreate([this](const std::function<void()>& step) { GuardedCall(this, step); });
    if (model_.StateDoubleBuffered()) page0_->sgState()->setAttribute(Qt::WA_OpaquePaintEvent);
    pc_->SetOwnerDraw(model_.OwnerDrawTabs());
    Sync();
    // The clock tick runs from the start of the message loop.
    timer1_->start(model_.Monitor().MillisecondsToNextSecond());
    // The pages' own handlers can write the status bar (hints, sent and
    // received data): draw once after each input event.
    qApp->installEventFilter(this);
    // The session ends (log-out, shut-down): nobody is there to answer.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { closeWithoutAsking_ = true; });

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
}

TFrmMain::~TFrmMain() {
    model_.GetSite().SetOnError({});
    SetRefusedWriteNotice({});
    qApp->removeEventFilter(this);
    timer1_->stop();
    tmCheckNotifier_->SetEnabled(false);
    tmCheck_->Stop();
    tmRun_->stop();
    model_.FormDestroy();
}

QWidget* TFrmMain::BuildAboutPage() {
    auto* page = new QWidget;
    page->setFixedSize(MonitorPage::kWidth, MonitorPage::kHeight);
    mmDesc_ = new QPlainTextEdit(page);
    mmDesc_->setGeometry(8, 8, MonitorPage::kWidth - 16, MonitorPage::kHeight - 46);
    mmDesc_->setReadOnly(true);
    // An empty context menu: a right click shows nothing.
    mmDesc_->setContextMenuPolicy(Qt::PreventContextMenu);
    mmDesc_->setPlainText(AboutText());
    btnDesc_ = widgets::MakePageButton(QStringLiteral("Word说明书"), page, 90, 21);
    btnDesc_->setObjectName(QStringLiteral("btnDesc"));
    btnDesc_->move(MonitorPage::kWidth - 8 - 90, MonitorPage::kHeight - 30);
    connect(btnDesc_, &widgets::TMyTransBtn::clicked, this,
            [this] { Guarded([this] { btnDescClick(); }); });
    return page;
}

void TFrmMain::btnDescClick() {
    const std::string manual = model_.ManualPath();
    if (manual.empty() ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(manual))))
        model_.ReportNoManual(manual);
}

void TFrmMain::CloseWithoutAsking() {
    closeWithoutAsking_ = true;
    close();
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    if (!closeWithoutAsking_ && model_.Monitor().Running() &&
        !AskYesNo(this, kCloseWhileRunningQuestion)) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TFrmMain::Guarded(const std::function<void()>& handler) {
    GuardedCall(this, handler);
    Sync();
}

void TFrmMain::Sync() {
    // A message box inside a handler runs a nested loop; draw once.
    if (inSync_) return;
    inSync_ = true;
    if (pc_->currentIndex() != model_.ActivePage()) pc_->setCurrentIndex(model_.ActivePage());
    sb_->Sync();
    page0_->Sync();
    // The test port's line can go away on its own.
    if (model_.Setup().lbComState() != seenComState_) {
        seenComState_ = model_.Setup().lbComState();
        page1_->Refresh();
    }
    SyncTimers();
    inSync_ = false;
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            if (!syncQueued_ && watched->isWidgetType() &&
                static_cast<QWidget*>(watched)->window() == this) {
                syncQueued_ = true;
                QTimer::singleShot(0, this, [this] {
                    syncQueued_ = false;
                    Sync();
                });
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

// The site says which ticks it needs.
void TFrmMain::SyncTimers() {
    if (model_.Monitor().GetSite().Needed().check) {
        if (!tmCheck_->Active()) tmCheck_->Start();
        if (!tmRun_->isActive()) tmRun_->start();
    } else {
        tmCheck_->Stop();
        tmRun_->stop();
    }
}

void TFrmMain::tmCheckReady() {
    const SecondTicker::Reading reading = tmCheck_->Read();
    // A set clock is handled at once: the engine sees the new time now.
    if (reading.ticks == 0 && !reading.clockStepped) return;
    Guarded([this] { model_.Monitor().tmCheckTimer(); });
}

void TFrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window system's own show events (a restore from minimised, the
    // first mapping) are no showing of the window: the operator's page stays.
    if (event->spontaneous()) return;
    model_.FormShow();
    pc_->setCurrentIndex(0);
    page0_->sgState()->setFocus(Qt::OtherFocusReason);
    Sync();
}

}  // namespace ristova::ui
