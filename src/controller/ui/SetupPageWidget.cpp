#include "controller/ui/SetupPageWidget.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableView>

#include "base/ui/ErrorBoundary.h"
#include "base/ui/GridModel.h"
#include "comm/HexCommand.h"
#include "widgets/ui/PageWidgets.h"
#include "widgets/ui/MyTransBtn.h"

namespace ristova::controller::ui {

using ristova::ui::Qs;
using ristova::ui::Std;

// The relay count field: any text may be typed (the model decides what it
// counts as); the arrows step through the model; leaving corrects the text.
class RelayCountBox : public QAbstractSpinBox {
  public:
    std::function<void(const QString&)> onEdited;
    std::function<void(int)> onStep;
    std::function<void()> onExit;

    explicit RelayCountBox(QWidget* parent) : QAbstractSpinBox(parent) {
        setObjectName(QStringLiteral("spComChl"));
        connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
            if (onEdited) onEdited(text);
        });
    }

    void SetText(const QString& text) {
        const QSignalBlocker blocker(lineEdit());
        if (lineEdit()->text() != text) lineEdit()->setText(text);
    }
    QString Text() const { return lineEdit()->text(); }

    void stepBy(int steps) override {
        if (onStep) onStep(steps);
    }

  protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
    void focusOutEvent(QFocusEvent* event) override {
        QAbstractSpinBox::focusOutEvent(event);
        if (onExit) onExit();
    }
};

namespace {

// sgComDrawCell: command cells show whether a command is entered instead of
// the hex text; the current command cell is filled green.
class CommandCellDelegate : public ristova::ui::GridDelegate {
  public:
    CommandCellDelegate(const StringGrid& grid, QObject* parent)
        : GridDelegate(parent), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        GridDelegate::paint(painter, option, index);
        const int col = index.column();
        const int row = index.row();
        if (row < 1 || (col != 1 && col != 2)) return;
        const bool current = row == grid_.Row() && col == grid_.Col();
        painter->save();
        painter->fillRect(option.rect, current ? QColor(0, 128, 0) : option.palette.base().color());
        const std::string& text = grid_.Cell(col, row);
        const bool entered = !text.empty();
        // A command that would not be sent is seen here, before running.
        const bool invalid = entered && !comm::IsHexCommand(text);
        painter->setPen(!entered || invalid ? QColor(Qt::red)
                                            : (current ? option.palette.highlightedText().color()
                                                       : option.palette.text().color()));
        const QRect textRect = option.rect.adjusted(4, 2, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop,
                          invalid   ? QStringLiteral("指令有误")
                          : entered ? QStringLiteral("有指令...")
                                    : QStringLiteral("..未输入"));
        painter->restore();
    }

  private:
    const StringGrid& grid_;
};

// A command field that holds a text that would not be sent is drawn red.
void FlagCommandField(QLineEdit* edit) {
    const bool invalid = !comm::IsHexCommand(Std(edit->text()));
    QPalette palette = edit->palette();
    const QColor text =
        invalid ? QColor(Qt::red) : QApplication::palette(edit).color(QPalette::Text);
    if (palette.color(QPalette::Text) == text) return;
    palette.setColor(QPalette::Text, text);
    edit->setPalette(palette);
}

QString JoinLines(const std::vector<std::string>& lines) {
    QStringList list;
    for (const auto& line : lines) list << Qs(line);
    return list.join(QLatin1Char('\n'));
}

}  // namespace

SetupPageWidget::SetupPageWidget(SetupPage& page, QWidget* parent) : QWidget(parent), page_(page) {
    setObjectName(QStringLiteral("TabSheet2"));
    setFixedSize(kPageWidth, kPageHeight);

    auto* left = new QGroupBox(QStringLiteral(" 电源控制器-串口控制设置 "), this);
    left->setGeometry(0, 0, kPageWidth - 176, kPageHeight);
    BuildControllerBars(left);

    auto* right = new QGroupBox(QStringLiteral(" RS232设置 "), this);
    right->setGeometry(kPageWidth - 176, 0, 176, 211);
    BuildSerialGroup(right);

    help_ = new QPlainTextEdit(this);
    help_->setObjectName(QStringLiteral("mmHelp"));
    help_->setGeometry(kPageWidth - 176, 213, 176, kPageHeight - 213);
    help_->setReadOnly(true);
    help_->setLineWrapMode(QPlainTextEdit::NoWrap);
    help_->setPlainText(JoinLines(ContactHelpLines()));

    ConnectEvents();
    Refresh();
}

void SetupPageWidget::BuildControllerBars(QWidget* group) {
    using namespace ristova::ui;
    // The controller bar: two lines in 57 pixels.
    btnRefreshDevice_ =
        MakeTransButton(group, page_.btnRefreshDevice(), "btnRefreshDevice", 6, 20, 75);
    cbComDevList_ = MakePickList(group, "cbComDevList", 85, 20, 290, 21);
    btnDelComDev_ = MakeTransButton(group, page_.btnDelComDev(), "btnDelComDev", 379, 20, 140);
    btSaveComFn_ = MakeTransButton(group, page_.btSaveComFn(), "btSaveComFn", 523, 20, 70);
    btnAddNewComDev_ =
        MakeTransButton(group, page_.btnAddNewComDev(), "btnAddNewComDev", 6, 46, 75);
    edNewComDev_ = MakeEdit(group, "edNewComDev", 85, 46, 290);
    edNewComDev_->setMaxLength(kNewControllerNameMaxLength);
    MakeLabel(group, QStringLiteral("电源控制器继电器开关数量"), 381, 48, 152);
    spComChl_ = new RelayCountBox(group);
    spComChl_->setGeometry(535, 46, 58, 21);

    // The command bar: three lines in 72 pixels.
    MakeLabel(group, QStringLiteral("开关状态检测指令："), 6, 81, 110);
    edStateCmd_ = MakeEdit(group, "edStateCmd", 116, 78, 477);
    MakeLabel(group, QStringLiteral("状态数据处理程序："), 6, 104, 110);
    cbPowerDll_ = MakePickList(group, "cbPowerDll", 116, 101, 195, 21);
    myTransBtn1_ = MakeTransButton(group, page_.MyTransBtn1(), "MyTransBtn1", 315, 101, 137);
    btnSend_ = MakeTransButton(group, page_.btnSend(), "btnSend", 456, 101, 137);
    edASC_ = MakeEdit(group, "edASC", 6, 124, 180);
    btnASC2Hex_ = MakeTransButton(group, page_.btnASC2Hex(), "btnASC2Hex", 190, 124, 80);
    edHEX_ = MakeEdit(group, "edHEX", 274, 124, 240);
    btnInput_ = MakeTransButton(group, page_.btnInput(), "btnInput", 518, 124, 75);

    // The relay table fills the middle, the description sits at the bottom.
    sgCom_ = new QTableView(group);
    sgCom_->setObjectName(QStringLiteral("sgCom"));
    sgCom_->setGeometry(4, 149, page_.sgCom().Width(), kPageHeight - 149 - 94 - 6);
    ristova::ui::TellGridItsRoom(sgCom_, page_.sgCom());
    gridModel_ = new ristova::ui::GridModel(page_.sgCom(), this);
    gridModel_->SetEditCheck(
        [this](int col, int) { return page_.sgComEditing() && (col == 3 || col == 4); });
    gridModel_->SetEditCommit([this](int col, int row, const std::string& text) {
        Run([&] { page_.sgComSetEditText(col, row, text); });
    });
    ristova::ui::SetupGridView(sgCom_, gridModel_);
    // Many relays scroll the body; the column titles stay above it.
    ristova::ui::KeepHeadingRowFixed(sgCom_, page_.sgCom());
    sgCom_->setItemDelegate(new CommandCellDelegate(page_.sgCom(), sgCom_));
    sgCom_->setMouseTracking(true);
    sgCom_->viewport()->installEventFilter(this);

    mmSpec_ = new QPlainTextEdit(group);
    mmSpec_->setObjectName(QStringLiteral("mmSpec"));
    mmSpec_->setGeometry(4, kPageHeight - 94 - 4, page_.sgCom().Width(), 94);
}

void SetupPageWidget::BuildSerialGroup(QWidget* group) {
    using namespace ristova::ui;
    const char* captions[] = {"通讯端口", "波 特 率", "数 据 位",
                              "停 止 位", "校 验 位", "超时[ms]"};
    for (int i = 0; i < 6; ++i)
        MakeLabel(group, QString::fromUtf8(captions[i]), 8, 23 + i * 24, 58);
    cbComm1_ = MakePickList(group, "cbComm1", 66, 20, 102);
    cbComm1_->setMaxVisibleItems(4);
    // A path can be typed as well as picked; the list itself is the page's.
    cbComm1_->setEditable(true);
    cbComm1_->setInsertPolicy(QComboBox::NoInsert);
    edBound_ = MakeEdit(group, "edBound", 66, 44, 102);
    cbByteSize_ = MakePickList(group, "cbByteSize", 66, 68, 102);
    cbStopBits_ = MakePickList(group, "cbStopBits", 66, 92, 102);
    cbParity_ = MakePickList(group, "cbParity", 66, 116, 102);
    edTimeOut_ = MakeEdit(group, "edTimeOut", 66, 140, 102);
    btnInitCOMM_ = MakeTransButton(group, page_.btnInitCOMM(), "btnInitCOMM", 8, 166, 160);
    // Two lines: the longest reason does not fit in one.
    lbComState_ = MakeLabel(group, QString(), 8, 190, 160, 30);
    lbComState_->setWordWrap(true);
    lbComState_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbComState_->setObjectName(QStringLiteral("lbComState"));
    QPalette red = lbComState_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lbComState_->setPalette(red);
}

void SetupPageWidget::ConnectEvents() {
    auto onPick = [this](QComboBox* box, void (SetupPage::*handler)(int)) {
        connect(box, &QComboBox::activated, this,
                [this, handler](int index) { Run([&] { (page_.*handler)(index); }); });
    };
    onPick(cbComDevList_, &SetupPage::cbComDevListChange);
    onPick(cbPowerDll_, &SetupPage::cbPowerDllChange);
    onPick(cbComm1_, &SetupPage::cbComm1Change);
    connect(cbComm1_->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (refreshing_) return;
        const QString typed = cbComm1_->lineEdit()->text();
        Run([&] { page_.cbComm1Typed(Std(typed)); });
    });
    onPick(cbByteSize_, &SetupPage::cbByteSizeChange);
    onPick(cbStopBits_, &SetupPage::cbStopBitsChange);
    onPick(cbParity_, &SetupPage::cbParityChange);

    auto onEdit = [this](QLineEdit* edit, void (SetupPage::*handler)(const std::string&)) {
        connect(edit, &QLineEdit::textEdited, this, [this, handler](const QString& text) {
            Run([&] { (page_.*handler)(Std(text)); });
        });
    };
    onEdit(edNewComDev_, &SetupPage::edNewComDevChange);
    onEdit(edStateCmd_, &SetupPage::edStateCmdChange);
    onEdit(edBound_, &SetupPage::edBoundChange);
    onEdit(edTimeOut_, &SetupPage::edTimeOutChange);
    onEdit(edASC_, &SetupPage::edASCChange);
    onEdit(edHEX_, &SetupPage::edHEXChange);

    auto onClick = [this](widgets::TMyTransBtn* button, void (SetupPage::*handler)()) {
        connect(button, &widgets::TMyTransBtn::clicked, this,
                [this, handler] { Run([&] { (page_.*handler)(); }); });
    };
    onClick(btnRefreshDevice_, &SetupPage::btnRefreshDeviceClick);
    onClick(btnAddNewComDev_, &SetupPage::btnAddNewComDevClick);
    connect(btnDelComDev_, &widgets::TMyTransBtn::clicked, this, [this] {
        const std::string file = page_.FileToDelete();
        if (file.empty() || !ristova::ui::AskYesNo(this, ristova::ui::DeleteQuestion(file))) return;
        Run([&] { page_.btnDelComDevClick(); });
    });
    onClick(btSaveComFn_, &SetupPage::btSaveComFnClick);
    onClick(btnInitCOMM_, &SetupPage::btnInitCOMMClick);
    onClick(btnASC2Hex_, &SetupPage::btnASC2HexClick);
    onClick(btnInput_, &SetupPage::btnInputClick);
    onClick(btnSend_, &SetupPage::btnSendClick);
    onClick(myTransBtn1_, &SetupPage::MyTransBtn1Click);

    spComChl_->onEdited = [this](const QString& text) {
        Run([&] { page_.spComChlChange(Std(text)); });
    };
    spComChl_->onStep = [this](int steps) { Run([&] { page_.spComChlStep(steps); }); };
    spComChl_->onExit = [this] { Run([&] { page_.spComChlExit(); }); };

    connect(mmSpec_, &QPlainTextEdit::textChanged, this, [this] {
        if (refreshing_) return;
        std::vector<std::string> lines;
        for (const QString& line : mmSpec_->toPlainText().split(QLatin1Char('\n')))
            lines.push_back(Std(line));
        Run([&] { page_.mmSpecChange(lines); });
    });

    connect(sgCom_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (refreshing_ || !current.isValid()) return;
                Run([&] { page_.sgComSelectCell(current.column(), current.row()); });
            });
    connect(sgCom_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        Run([&] { page_.sgComSelectCell(index.column(), index.row()); });
    });
    connect(sgCom_, &QTableView::doubleClicked, this,
            [this](const QModelIndex&) { Run([&] { page_.sgComDblClick(); }); });
}

void SetupPageWidget::Run(const std::function<void()>& handler) {
    ristova::ui::GuardedAction(this, handler);
    Refresh();
}

void SetupPageWidget::Refresh() {
    using namespace ristova::ui;
    refreshing_ = true;
    SyncPickList(cbComDevList_, page_.cbComDevList());
    SyncPickList(cbPowerDll_, page_.cbPowerDll());
    SyncPortList();
    SyncPickList(cbByteSize_, page_.cbByteSize());
    SyncPickList(cbStopBits_, page_.cbStopBits());
    SyncPickList(cbParity_, page_.cbParity());
    SyncEdit(edNewComDev_, page_.edNewComDev());
    SyncEdit(edStateCmd_, page_.edStateCmd());
    SyncEdit(edBound_, page_.edBound());
    SyncEdit(edTimeOut_, page_.edTimeOut());
    SyncEdit(edASC_, page_.edASC());
    SyncEdit(edHEX_, page_.edHEX());
    FlagCommandField(edStateCmd_);
    FlagCommandField(edHEX_);
    spComChl_->SetText(Qs(page_.spComChl().text));
    for (auto [button, state] : {std::pair{btnRefreshDevice_, &page_.btnRefreshDevice()},
                                 {btnAddNewComDev_, &page_.btnAddNewComDev()},
                                 {btnDelComDev_, &page_.btnDelComDev()},
                                 {btSaveComFn_, &page_.btSaveComFn()},
                                 {btnInitCOMM_, &page_.btnInitCOMM()},
                                 {btnASC2Hex_, &page_.btnASC2Hex()},
                                 {btnInput_, &page_.btnInput()},
                                 {btnSend_, &page_.btnSend()},
                                 {myTransBtn1_, &page_.MyTransBtn1()}})
        SyncButton(button, *state);
    const QString spec = JoinLines(page_.mmSpecLines());
    if (mmSpec_->toPlainText() != spec) {
        const QSignalBlocker blocker(mmSpec_);
        mmSpec_->setPlainText(spec);
    }
    mmSpec_->setToolTip(Qs(page_.mmSpec().hint));
    lbComState_->setText(Qs(page_.lbComState()));
    gridModel_->Refresh();
    ApplyGridGeometry(sgCom_, page_.sgCom());
    sgCom_->viewport()->update();
    refreshing_ = false;
}

void SetupPageWidget::SyncPortList() {
    const PickList& list = page_.cbComm1();
    const QSignalBlocker blocker(cbComm1_);
    bool same = cbComm1_->count() == static_cast<int>(list.items.size());
    for (int i = 0; same && i < cbComm1_->count(); ++i)
        same = cbComm1_->itemData(i).toString() == Qs(list.items[i]);
    if (!same) {
        cbComm1_->clear();
        int widest = cbComm1_->width();
        const QFontMetrics metrics(cbComm1_->view()->font());
        for (const std::string& port : list.items) {
            const QString label = Qs(PortLabel(port));
            cbComm1_->addItem(label, Qs(port));
            widest = std::max(widest, metrics.horizontalAdvance(label) + 24);
        }
        // The list is as wide as its longest entry, the box stays its size.
        cbComm1_->view()->setMinimumWidth(widest);
    }
    if (cbComm1_->currentIndex() != list.itemIndex) cbComm1_->setCurrentIndex(list.itemIndex);
    // The box shows what is stored; the list names what each entry is.
    const QString stored = Qs(list.Text());
    if (cbComm1_->lineEdit()->text() != stored) {
        cbComm1_->lineEdit()->setText(stored);
        cbComm1_->lineEdit()->setCursorPosition(0);
    }
}

void SetupPageWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

bool SetupPageWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == sgCom_->viewport() && event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        const QModelIndex index = sgCom_->indexAt(move->position().toPoint());
        if (index.isValid()) page_.sgComMouseMove(index.column(), index.row());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace ristova::controller::ui
