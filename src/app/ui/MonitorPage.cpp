#include "app/ui/MonitorPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPainter>
#include <QTableView>

#include "app/MainWindowModel.h"
#include "app/ui/ControllersDialog.h"
#include "base/ui/GridModel.h"
#include "run/ui/MonitorGrid.h"
#include "run/ui/RunStrip.h"
#include "widgets/ui/MyTransBtn.h"

namespace ristova::ui {

namespace {

// Geometry of the page (776 x 505): a left column 423 wide with a 4-pixel
// border, the right column beside it, and a 97-high strip at the bottom.
constexpr int kLeftWidth = 423;
constexpr int kBorder = 4;
constexpr int kStripHeight = 69;
// The right column's strip has a third row of settings.
constexpr int kRightStripHeight = kStripHeight + 20;
constexpr int kBottomHeight = 97;
constexpr int kLabelStripHeight = 80;
constexpr int kColumnsBottom = MonitorPage::kHeight - kBottomHeight;  // 408
constexpr int kRightX = kLeftWidth;
constexpr int kRightWidth = MonitorPage::kWidth - kLeftWidth;  // 353

const QColor kLabelPink(255, 0, 128);

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

widgets::TMyTransBtn* MakeRunButton(const char* caption, const char* name, QWidget* parent, int x,
                                    int y) {
    widgets::TMyTransBtn* b = widgets::MakePageButton(QString::fromUtf8(caption), parent, 56, 21);
    b->setObjectName(QString::fromLatin1(name));
    b->move(x, y);
    return b;
}

}  // namespace

ComLed::ComLed(QWidget* parent) : QWidget(parent), colour_(Qt::yellow) {
    setFixedSize(20, 20);
    setToolTip(QStringLiteral("通信指示灯"));
}

void ComLed::SetColour(const QColor& colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void ComLed::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(colour_);
    p.drawEllipse(QRectF(0.5, 0.5, 19.0, 19.0));
}

MonitorPage::MonitorPage(MainWindowModel& model, Guard guard, QWidget* parent)
    : QWidget(parent), model_(model), guard_(std::move(guard)) {
    setFixedSize(kWidth, kHeight);
    BuildLeftColumn();
    BuildRightColumn();
    // Command grid across the bottom.
    run::RunPage& engine = model_.Monitor();
    sgPower_ = MakeGrid(sgPowerModel_, engine.sgPower(), "电源控制器参数表",
                        QRect(0, kColumnsBottom, kWidth, kBottomHeight));
    sgPower_->setObjectName(QStringLiteral("sgPower"));
    // The core's column-fitting rules need the grids' room.
    engine.sgState().SetWidth(sgState_->width());
    TellGridItsRoom(sgPlan_, engine.sgPlan());
    TellGridItsRoom(sgPower_, engine.sgPower());
}

// The buttons, the lamp, two boxes, the warning and the plan's name over
// the monitor grid (and the strip of runs while several run).
void MonitorPage::BuildLeftColumn() {
    const int lx = kBorder + 4;
    btnRun_ = MakeRunButton("开始运行", "btnRun", this, lx, kBorder + 4);
    btnStop_ = MakeRunButton("停止运行", "btnStop", this, lx + 59, kBorder + 4);
    connect(btnRun_, &widgets::TMyTransBtn::clicked, this,
            [this] { guard_([this] { model_.Monitor().btnRunClick(); }); });
    connect(btnStop_, &widgets::TMyTransBtn::clicked, this,
            [this] { guard_([this] { model_.Monitor().btnStopClick(); }); });
    comLed_ = new ComLed(this);
    comLed_->move(lx + 120, kBorder + 4);
    chkAutoDelete_ = MakeBox("chkAutoDelete", "自动删除30天以前的计划表", lx + 144, kBorder + 6,
                             &MainWindowModel::chkAutoDeleteClick);
    chkManOperate_ = MakeBox("chkManOperate", "允许手动操作", lx + 312, kBorder + 6,
                             &MainWindowModel::chkManOperateClick);
    auto* warning = new QLabel(
        QStringLiteral("敬告： ★运行之前，务必保证外部控制线、电源等接线正确，并测试通过★"), this);
    warning->setGeometry(lx - 2, kBorder + 30, kLeftWidth - 2 * kBorder - 2, 14);
    QPalette red = warning->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    warning->setPalette(red);
    lbRunFn_ = MakeLabel(lx - 2, kBorder + 48, kLeftWidth - 2 * kBorder - 2, 14);

    // The monitor grid fills the rest of the left column.
    sgState_ = new MonitorGrid(model_.Monitor(), this);
    sgState_->setGeometry(kBorder, kBorder + kStripHeight, kLeftWidth - 2 * kBorder,
                          kColumnsBottom - kStripHeight - 2 * kBorder);
    sgState_->SetGuard(guard_);
    sgState_->setObjectName(QStringLiteral("sgState"));
    strip_ = new RunStrip(
        model_.Monitor().GetSite(),
        [this](const std::string& file) {
            guard_([this, file] { model_.Monitor().cbRunDevListChange(file); });
        },
        this);
    strip_->setObjectName(QStringLiteral("RunStrip"));
    strip_->setGeometry(kBorder, kBorder + kStripHeight, kLeftWidth - 2 * kBorder, RunStrip::kHeight);
    strip_->hide();
}

// The controller list and the settings over the run plan grid, the four run
// labels under it.
void MonitorPage::BuildRightColumn() {
    run::RunPage& engine = model_.Monitor();
    const int rx = kRightX + 6;
    auto* pick = new QLabel(QStringLiteral("选择电源控制器"), this);
    pick->setGeometry(rx, 8, 90, 16);
    cbRunDevList_ = new QComboBox(this);
    cbRunDevList_->setObjectName(QStringLiteral("cbRunDevList"));
    cbRunDevList_->setGeometry(rx + 92, 5, kRightWidth - 104, 21);
    connect(cbRunDevList_, &QComboBox::activated, this, [this](int index) {
        guard_([this, index] { model_.Monitor().cbRunDevListChange(index); });
    });
    chk4Level_ =
        MakeBox("chk4Level", "按四级优先规则加载计划表", rx, 30, &MainWindowModel::chk4LevelClick);
    chkRun_ = MakeBox("chkRun", "启动时执行计划表", rx + 186, 30, &MainWindowModel::chkRunClick);
    chkStartON_ =
        MakeBox("chkStartON", "启动时执行“启动时接通”", rx, 50, &MainWindowModel::chkStartONClick);
    chkAutoStart_ =
        MakeBox("chkAutoStart", "开机自动启动", rx + 186, 50, &MainWindowModel::chkAutoStartClick);
    chkRestoreOnStart_ = MakeBox("chkRestoreOnStart", "启动时恢复计划状态", rx, 70,
                                 &MainWindowModel::chkRestoreOnStartClick);
    btnSeveral_ = widgets::MakePageButton(QStringLiteral("同时运行…"), this, 80, 19);
    btnSeveral_->setObjectName(QStringLiteral("btnSeveral"));
    btnSeveral_->move(rx + 186, 68);
    btnSeveral_->setToolTip(QStringLiteral("选择同时运行的电源控制器"));
    connect(btnSeveral_, &widgets::TMyTransBtn::clicked, this, [this] { btnSeveralClick(); });

    // Run plan grid, then the four run labels under it.
    sgPlan_ = MakeGrid(sgPlanModel_, engine.sgPlan(), "电源控制器计划表",
                       QRect(kRightX, kRightStripHeight, kRightWidth,
                             kColumnsBottom - kRightStripHeight - kLabelStripHeight));
    sgPlan_->setObjectName(QStringLiteral("sgPlan"));
    // Rows that are never acted on are seen as such.
    sgPlanModel_->SetRowAlert(
        [e = &engine](int row) { return plan::PlanRowUnreadable(e->sgPlan(), row); });
    const int ly = kColumnsBottom - kLabelStripHeight;
    lbState_ = MakeLabel(rx, ly + 4, kRightWidth - 12, 16);
    lbCom_ = MakeLabel(rx, ly + 23, kRightWidth - 12, 16);
    lbCmd_ = MakeLabel(rx, ly + 42, kRightWidth - 12, 16);
    lbDev_ = MakeLabel(rx, ly + 61, kRightWidth - 12, 16);
    for (QLabel* l : {lbCom_, lbDev_}) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, kLabelPink);
        l->setPalette(pal);
    }
}

QCheckBox* MonitorPage::MakeBox(const char* name, const char* caption, int x, int y,
                                void (MainWindowModel::*click)(bool)) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), this);
    box->setObjectName(QString::fromLatin1(name));
    box->move(x, y);
    box->adjustSize();
    // clicked is the operator's change only; the program sets boxes in Sync.
    connect(box, &QCheckBox::clicked, this, [this, click](bool checked) {
        guard_([this, click, checked] { (model_.*click)(checked); });
    });
    return box;
}

QLabel* MonitorPage::MakeLabel(int x, int y, int w, int h) {
    auto* l = new QLabel(this);
    l->setGeometry(x, y, w, h);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QTableView* MonitorPage::MakeGrid(GridModel*& model, StringGrid& grid, const char* hint,
                                  const QRect& rect) {
    auto* view = new QTableView(this);
    model = new GridModel(grid, view);
    SetupGridView(view, model);
    KeepHeadingRowFixed(view, grid);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Grid cells clip their text as the grids of the other pages do.
    view->setTextElideMode(Qt::ElideNone);
    view->setToolTip(QString::fromUtf8(hint));
    view->setGeometry(rect);
    // The operator's moves make the core grid's current row follow.
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, view,
            [&grid](const QModelIndex& current) {
                if (!current.isValid()) return;
                grid.SetRow(current.row());
                grid.SetCol(current.column());
            });
    return view;
}

void MonitorPage::SyncDeviceList() {
    const run::DeviceList& list = model_.Monitor().cbRunDevList();
    if (list.Items != shownDevices_) {
        shownDevices_ = list.Items;
        const QSignalBlocker block(cbRunDevList_);
        cbRunDevList_->clear();
        for (const std::string& item : list.Items) cbRunDevList_->addItem(Q(item));
    }
    if (cbRunDevList_->currentIndex() != list.ItemIndex) {
        const QSignalBlocker block(cbRunDevList_);
        cbRunDevList_->setCurrentIndex(list.ItemIndex);
    }
}

void MonitorPage::btnSeveralClick() {
    if (dialog_) {
        dialog_->raise();
        return;
    }
    run::RunPage& page = model_.Monitor();
    dialog_ = new ControllersDialog(
        page.FolderControllers(), page.ListedControllers(),
        [this](const std::vector<std::string>& files) {
            guard_([this, &files] { model_.Monitor().ControllersChosen(files); });
        },
        this);
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog_, &QObject::destroyed, this, [this] { dialog_ = nullptr; });
    dialog_->open();
}

// With several controllers the strip takes the top of the monitor's place.
void MonitorPage::SyncStrip() {
    const bool several = model_.Monitor().GetSite().Several();
    if (several != stripShown_) {
        stripShown_ = several;
        strip_->setVisible(several);
        const int top = kBorder + kStripHeight + (several ? RunStrip::kHeight + 2 : 0);
        sgState_->setGeometry(kBorder, top, kLeftWidth - 2 * kBorder, kColumnsBottom - top - kBorder);
    }
    if (!several) return;
    if (const run::RunView* shown = model_.Monitor().Shown()) strip_->SetShown(shown->File());
    strip_->Sync();
}

void MonitorPage::Sync() {
    run::RunPage& engine = model_.Monitor();
    // A received block or a reconnect changed a run between the handlers.
    engine.Sync();
    SyncStrip();
    if (engine.Revision() != seenEngine_) {
        seenEngine_ = engine.Revision();
        btnRun_->setEnabled(engine.BtnRunEnabled());
        btnStop_->setEnabled(engine.BtnStopEnabled());
        comLed_->SetColour(engine.Lamp() == run::LampColour::Red ? QColor(Qt::red)
                                                                 : QColor(Qt::yellow));
        lbRunFn_->setText(Q(engine.lbRunFn()));
        lbState_->setText(Q(engine.lbState()));
        lbCom_->setText(Q(engine.lbCom()));
        QPalette com = lbCom_->palette();
        com.setColor(QPalette::WindowText, engine.LbComAlarm() ? QColor(Qt::red) : kLabelPink);
        lbCom_->setPalette(com);
        lbCmd_->setText(Q(engine.lbCmd()));
        lbDev_->setText(Q(engine.lbDev()));
        SyncDeviceList();
    }
    if (model_.Revision() != seenModel_) {
        seenModel_ = model_.Revision();
        const SettingsBoxes& b = model_.Boxes();
        chk4Level_->setChecked(b.chk4Level);
        chkRun_->setChecked(b.chkRun);
        chkStartON_->setChecked(b.chkStartON);
        chkAutoDelete_->setChecked(b.chkAutoDelete);
        chkManOperate_->setChecked(b.chkManOperate);
        chkAutoStart_->setChecked(b.chkAutoStart);
        chkRestoreOnStart_->setChecked(b.chkRestoreOnStart);
    }
    sgState_->Sync();
    for (auto [view, gm] : {std::pair{sgPlan_, sgPlanModel_}, std::pair{sgPower_, sgPowerModel_}}) {
        if (!gm->Refresh()) continue;
        ApplyGridGeometry(view, gm->Grid());
        // Whole-row selection.
        QItemSelectionModel* selection = view->selectionModel();
        const QSignalBlocker blocker(selection);
        selection->select(gm->index(gm->Grid().Row(), 0),
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

}  // namespace ristova::ui
