#include "plan/ui/PlanEditorWidget.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

#include "base/ui/ErrorBoundary.h"
#include "base/ui/GridModel.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageWidgets.h"
#include "widgets/ui/SaveDialog.h"

namespace ristova::plan::ui {

using ristova::ui::Qs;
using ristova::ui::Std;

namespace {

constexpr int kTopStripHeight = 69;
constexpr int kDeviceGridHeight = 103;

// The relay and time cells take what people type ("3", "9:5:0") and
// complete it to the cell's mask; an entry that cannot be completed is
// refused with a message and the cell keeps its text.
class MaskedCellDelegate : public ristova::ui::GridDelegate {
  public:
    using GridDelegate::GridDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        auto* line = qobject_cast<QLineEdit*>(editor);
        const int col = index.column();
        if (line && (col == 1 || col == 2)) {
            const QString allowed = col == 1 ? QStringLiteral("\\d{0,2}")
                                             : QStringLiteral("[0-9:]{0,8}");
            line->setValidator(new QRegularExpressionValidator(QRegularExpression(allowed), line));
            line->setMaxLength(col == 1 ? 2 : 8);
        }
        return editor;
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        const int col = index.column();
        if (!line || (col != 1 && col != 2)) {
            QStyledItemDelegate::setModelData(editor, model, index);
            return;
        }
        const std::optional<std::string> completed =
            PlanEditorPage::CompleteMaskedEntry(col, Std(line->text()));
        if (!completed) {
            // After the editor has closed: a box inside the commit would
            // leave the editor open behind it.
            QWidget* owner = qobject_cast<QWidget*>(parent());
            const QString rule = Qs(std::string(PlanEditorPage::MaskedEntryRule(col)));
            QTimer::singleShot(0, owner, [owner, rule] {
                QMessageBox::warning(owner, owner->window()->windowTitle(), rule);
            });
            return;
        }
        model->setData(index, Qs(*completed), Qt::EditRole);
    }
};

}  // namespace

PlanEditorWidget::PlanEditorWidget(PlanEditorPage& page, QWidget* parent)
    : QWidget(parent),
      page_(page),
      saveAsPicker_([this](const SaveAsProposal& p) { return RunSaveDialog(this, p); }) {
    using namespace ristova::ui;
    setObjectName(QStringLiteral("TabSheet3"));
    setFixedSize(kPageWidth, kPageHeight);

    // The strip across the top: three lines in 69 pixels.
    btnReGetDevices_ = MakeTransButton(this, page_.btnReGetDevices(), "btnReGetDevices", 4, 3, 100);
    cbEditDevList_ = MakePickList(this, "cbEditDevList", 108, 3, 220, 21);
    MakeLabel(this, QStringLiteral("选择控制计划表"), 340, 6, 90);
    cbEdFn_ = MakePickList(this, "cbEdFn", 432, 3, 220, 21);
    btnDelPlanFn_ = MakeTransButton(this, page_.btnDelPlanFn(), "btnDelPlanFn", 660, 3, 90);
    int x = 4;
    for (auto [slot, state, name] : {std::tuple{&btnAdd_, &page_.btnAdd(), "btnAdd"},
                                     {&btnDel_, &page_.btnDel(), "btnDel"},
                                     {&btnRestore_, &page_.btnRestore(), "btnRestore"},
                                     {&btnSavePlan_, &page_.btnSavePlan(), "btnSavePlan"},
                                     {&btnSaveAs_, &page_.btnSaveAs(), "btnSaveAs"}}) {
        *slot = MakeTransButton(this, *state, name, x, 26, 64);
        x += 68;
    }
    lbEdFn_ = MakeLabel(this, QString(), x + 8, 29, kPageWidth - x - 12);
    lbEdFn_->setObjectName(QStringLiteral("lbEdFn"));
    rbTime_ = new QRadioButton(QStringLiteral("按动作时间排序"), this);
    rbTime_->setObjectName(QStringLiteral("rbTime"));
    rbTime_->setGeometry(8, 50, 130, 17);
    rbJDQ_ = new QRadioButton(QStringLiteral("按继电器开关排序"), this);
    rbJDQ_->setObjectName(QStringLiteral("rbJDQ"));
    rbJDQ_->setGeometry(150, 50, 140, 17);
    // The page decides which button is checked, and it may be neither.
    rbTime_->setAutoExclusive(false);
    rbJDQ_->setAutoExclusive(false);

    sgEdPlan_ = new QTableView(this);
    sgEdPlan_->setObjectName(QStringLiteral("sgEdPlan"));
    sgEdPlan_->setGeometry(0, kTopStripHeight, kPageWidth,
                           kPageHeight - kTopStripHeight - kDeviceGridHeight);
    TellGridItsRoom(sgEdPlan_, page_.sgEdPlan());
    planModel_ = new GridModel(page_.sgEdPlan(), this);
    planModel_->SetEditCheck(
        [this](int col, int) { return page_.sgEdPlanEditing() && (col == 1 || col == 2); });
    planModel_->SetEditCommit([this](int col, int row, const std::string& text) {
        Run([&] { page_.sgEdPlanSetEditText(col, row, text); });
    });
    SetupGridView(sgEdPlan_, planModel_);
    // Long plans scroll the body; the column titles stay above it.
    KeepHeadingRowFixed(sgEdPlan_, page_.sgEdPlan());
    sgEdPlan_->setItemDelegate(new MaskedCellDelegate(sgEdPlan_));

    sgedDev_ = new QTableView(this);
    sgedDev_->setObjectName(QStringLiteral("sgedDev"));
    sgedDev_->setGeometry(0, kPageHeight - kDeviceGridHeight, kPageWidth, kDeviceGridHeight);
    TellGridItsRoom(sgedDev_, page_.sgedDev());
    devModel_ = new GridModel(page_.sgedDev(), this);
    SetupGridView(sgedDev_, devModel_);
    KeepHeadingRowFixed(sgedDev_, page_.sgedDev());
    sgedDev_->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgedDev_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(cbEditDevList_, &QComboBox::activated, this,
            [this](int index) { Run([&] { page_.cbEditDevListChange(index); }); });
    connect(cbEdFn_, &QComboBox::activated, this,
            [this](int index) { Run([&] { page_.cbEdFnChange(index); }); });
    auto onClick = [this](widgets::TMyTransBtn* button, void (PlanEditorPage::*handler)()) {
        connect(button, &widgets::TMyTransBtn::clicked, this,
                [this, handler] { Run([&] { (page_.*handler)(); }); });
    };
    onClick(btnReGetDevices_, &PlanEditorPage::btnReGetDevicesClick);
    connect(btnDelPlanFn_, &widgets::TMyTransBtn::clicked, this, [this] {
        const std::string table = page_.TableToDelete();
        if (table.empty() || !ristova::ui::AskYesNo(this, ristova::ui::DeleteQuestion(table)))
            return;
        Run([&] { page_.btnDelPlanFnClick(); });
    });
    onClick(btnAdd_, &PlanEditorPage::btnAddClick);
    onClick(btnDel_, &PlanEditorPage::btnDelClick);
    onClick(btnRestore_, &PlanEditorPage::btnRestoreClick);
    onClick(btnSavePlan_, &PlanEditorPage::btnSavePlanClick);
    connect(rbJDQ_, &QRadioButton::clicked, this, [this] { Run([&] { page_.rbJDQClick(); }); });
    connect(rbTime_, &QRadioButton::clicked, this, [this] { Run([&] { page_.rbTimeClick(); }); });
    connect(btnSaveAs_, &widgets::TMyTransBtn::clicked, this, [this] { SaveAs(); });

    connect(sgEdPlan_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (refreshing_ || !current.isValid()) return;
                Run([&] { page_.sgEdPlanSelectCell(current.column(), current.row()); });
            });
    connect(sgEdPlan_, &QTableView::doubleClicked, this,
            [this](const QModelIndex&) { Run([&] { page_.sgEdPlanDblClick(); }); });

    Refresh();
}

std::optional<std::string> PlanEditorWidget::RunSaveDialog(QWidget* parent,
                                                           const SaveAsProposal& p) {
    ristova::ui::SaveDialogSetup setup;
    setup.objectName = QStringLiteral("SaveDialog");
    setup.folder = Qs(p.folder);
    setup.fileName = Qs(p.fileName);
    setup.nameFilter = QStringLiteral("电源控制计划表 (*.tab)");
    // Saving over an existing table replaces it without a question.
    setup.replaceWithoutAsking = true;
    return ristova::ui::RunSaveDialog(parent, setup);
}

void PlanEditorWidget::SaveAs() {
    // The proposal is made from the grid: the typed text must be in it.
    if (!ristova::ui::GuardedAction(this, [] {})) return;
    const std::optional<SaveAsProposal> proposal = page_.SaveAsProposalFor();
    if (!proposal) return;
    const std::optional<std::string> chosen = saveAsPicker_(*proposal);
    Run([&] { page_.btnSaveAsClick(chosen); });
}

void PlanEditorWidget::Run(const std::function<void()>& handler) {
    // The page shows what the handler left behind before its message does.
    ristova::ui::GuardedAction(this, [&] {
        try {
            handler();
        } catch (...) {
            Refresh();
            throw;
        }
    });
    Refresh();
}

void PlanEditorWidget::Refresh() {
    using namespace ristova::ui;
    refreshing_ = true;
    SyncPickList(cbEditDevList_, page_.cbEditDevList());
    SyncPickList(cbEdFn_, page_.cbEdFn());
    for (auto [button, state] : {std::pair{btnReGetDevices_, &page_.btnReGetDevices()},
                                 {btnDelPlanFn_, &page_.btnDelPlanFn()},
                                 {btnAdd_, &page_.btnAdd()},
                                 {btnDel_, &page_.btnDel()},
                                 {btnRestore_, &page_.btnRestore()},
                                 {btnSavePlan_, &page_.btnSavePlan()},
                                 {btnSaveAs_, &page_.btnSaveAs()}})
        SyncButton(button, *state);
    lbEdFn_->setText(Qs(page_.lbEdFn()));
    lbEdFn_->setToolTip(Qs(page_.lbEdFn()));
    rbJDQ_->setChecked(page_.rbJDQ());
    rbTime_->setChecked(page_.rbTime());
    planModel_->Refresh();
    devModel_->Refresh();
    ApplyGridGeometry(sgEdPlan_, page_.sgEdPlan());
    ApplyGridGeometry(sgedDev_, page_.sgedDev());
    refreshing_ = false;
}

void PlanEditorWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    page_.TabSheet3Enter();
    Refresh();
}

}  // namespace ristova::plan::ui
