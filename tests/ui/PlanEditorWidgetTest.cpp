#include "plan/ui/PlanEditorWidget.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QtTest/QTest>

#include "base/Files.h"
#include "base/IniFile.h"
#include "plan/PlanFile.h"
#include "support/PageContext.h"
#include "ui/PageTesting.h"
#include "widgets/ui/MyTransBtn.h"

namespace ristova::plan::ui {
namespace {

using ristova::test::ui::Find;
using ristova::test::ui::Key;
using ristova::test::ui::Pick;

class PlanEditorWidgetTest : public ::testing::Test {
  protected:
    PlanEditorWidgetTest() : page(pc.ctx) {
        pc.clock.now.date = {2012, 3, 18};
        const std::string a = pc.File("A.PSW");
        WriteIniText(a, "COMMAND", "Row0", "继电器开关^^接通指令^^断开指令^^常开开关用途^^^^^^");
        for (int k = 1; k <= 8; ++k)
            WriteIniText(a, "COMMAND", "Row" + std::to_string(k), "^^^^^^lamp^^^^^^");
        WriteIniText(pc.ctx.settingsFile, "EDIT", "sPowerFn", "A.PSW");
        page.LoadSortButtons();
        page.InitPlanEditor();
        widget = std::make_unique<PlanEditorWidget>(page);
    }
    template <class T>
    T* Get(const char* name) {
        return Find<T>(widget.get(), name);
    }
    QTableView* Plan() { return Get<QTableView>("sgEdPlan"); }
    QModelIndex Cell(int col, int row) { return Plan()->model()->index(row, col); }
    // Types into the editor of a relay or time cell and presses Enter.
    void TypeCell(int col, int row, const QString& digits) {
        Plan()->setCurrentIndex(Cell(col, row));
        Plan()->edit(Cell(col, row));
        auto* editor = qobject_cast<QLineEdit*>(Plan()->indexWidget(Cell(col, row)));
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        for (const QChar ch : digits) Key(editor, Qt::Key_unknown, QString(ch));
        Key(editor, Qt::Key_Return);
        QCoreApplication::processEvents();  // the delegate commits queued
    }

    test::PageContext pc;
    PlanEditorPage page;
    std::unique_ptr<PlanEditorWidget> widget;
};

TEST_F(PlanEditorWidgetTest, ShowsTheOpenTableAndTheRelayList) {
    EXPECT_EQ(widget->size(), QSize(776, 505));
    EXPECT_EQ(Get<QComboBox>("cbEdFn")->currentText(), QStringLiteral("计划表.tab"));
    EXPECT_EQ(Get<QLabel>("lbEdFn")->text(),
              QString::fromUtf8("【当前编辑计划表】 " + pc.File("A/计划表.tab")));
    EXPECT_TRUE(Get<QRadioButton>("rbJDQ")->isChecked());
    EXPECT_EQ(Get<QTableView>("sgedDev")->model()->rowCount(), 9);
    EXPECT_EQ(Get<QTableView>("sgedDev")->height(), 103);
    EXPECT_EQ(Plan()->columnWidth(0), 32);
    EXPECT_EQ(Plan()->rowHeight(1), 16);
    EXPECT_EQ(Get<QComboBox>("cbEditDevList")->toolTip(),
              QStringLiteral("选择要安排计划的电源控制器"));
}

TEST_F(PlanEditorWidgetTest, MaskedCellsAreTypedAndNormalisedOnSaving) {
    TypeCell(1, 1, QStringLiteral("03"));
    TypeCell(2, 1, QStringLiteral("081500"));
    EXPECT_EQ(page.sgEdPlan().Cell(2, 1), "08:15:00");
    // An entry that cannot be completed, or is no time of a day, is refused
    // with a message; the cell keeps its text and its editor is closed.
    for (const QString& typed : {QStringLiteral("09"), QStringLiteral("087500")}) {
        ristova::test::ui::AcceptNextMessageBox();
        TypeCell(2, 1, typed);
        EXPECT_EQ(page.sgEdPlan().Cell(2, 1), "08:15:00") << typed.toStdString();
        EXPECT_EQ(Plan()->indexWidget(Cell(2, 1)), nullptr);
    }
    // What people type is completed to the mask.
    TypeCell(1, 1, QStringLiteral("3"));
    EXPECT_EQ(page.sgEdPlan().Cell(1, 1), "03");
    TypeCell(2, 1, QStringLiteral("9:5:0"));
    EXPECT_EQ(page.sgEdPlan().Cell(2, 1), "09:05:00");

    Get<widgets::TMyTransBtn>("btnAdd")->Click();
    TypeCell(1, 2, QStringLiteral("09"));  // beyond the 8 relays
    Plan()->setCurrentIndex(Cell(3, 1));
    EXPECT_FALSE(Plan()->model()->flags(Cell(3, 1)) & Qt::ItemIsEditable);
    // The row of relay 09 is dropped and named in a message.
    ristova::test::ui::AcceptNextMessageBox();
    Get<widgets::TMyTransBtn>("btnSavePlan")->Click();
    EXPECT_EQ(Plan()->model()->rowCount(), 2);
    EXPECT_EQ(Plan()->model()->data(Cell(2, 1)).toString(), QStringLiteral("09:05:00"));
    EXPECT_EQ(Plan()->model()->data(Cell(3, 1)).toString(), QStringLiteral("断开"));

    emit Plan()->doubleClicked(Cell(3, 1));
    EXPECT_EQ(Plan()->model()->data(Cell(3, 1)).toString(), QStringLiteral("接通"));
}

// A long plan scrolls under its titles; clicks, double clicks and the masked
// editors still reach the core row under the pointer.
TEST_F(PlanEditorWidgetTest, LongPlanKeepsItsTitlesWhileScrolled) {
    page.sgEdPlanSetEditText(1, 1, "01");
    for (int k = 0; k < 39; ++k) Get<widgets::TMyTransBtn>("btnAdd")->Click();
    widget->show();
    ASSERT_EQ(Plan()->model()->rowCount(), 41);
    ristova::test::ui::ExpectHeadingAboveScrolledBody(Plan(), page.sgEdPlan());

    const int shown = Plan()->indexAt(QPoint(Plan()->columnViewportPosition(3) + 2, 1)).row();
    ASSERT_GT(shown, 1);
    const std::string before = page.sgEdPlan().Cell(3, shown);
    ristova::test::ui::ClickCell(Plan(), 3, shown, true);
    EXPECT_EQ(page.sgEdPlan().Row(), shown);
    EXPECT_NE(page.sgEdPlan().Cell(3, shown), before);
    TypeCell(1, shown, QStringLiteral("05"));
    EXPECT_EQ(page.sgEdPlan().Cell(1, shown), "05");
    QHeaderView* heading = Plan()->horizontalHeader();
    ristova::test::ui::Click(heading, QPoint(heading->sectionViewportPosition(1) + 4, 4), true);
    EXPECT_EQ(page.sgEdPlan().Row(), shown);

    QTableView* devices = Get<QTableView>("sgedDev");
    page.sgedDev().SetRow(8);
    widget->Refresh();
    ristova::test::ui::ExpectHeadingAboveScrolledBody(devices, page.sgedDev());
}

// Every action of the page first takes the text of a still open cell editor:
// saving, adding and deleting rows, saving as, the sort buttons.
TEST_F(PlanEditorWidgetTest, TextStillBeingTypedInACellReachesEveryAction) {
    using ristova::test::ui::ClickButton;
    using ristova::test::ui::TypeIntoOpenCell;
    widget->show();
    ASSERT_NE(TypeIntoOpenCell(Plan(), 1, 1, QStringLiteral("03")), nullptr);
    ClickButton(Get<widgets::TMyTransBtn>("btnAdd"));
    EXPECT_EQ(page.sgEdPlan().Cell(1, 1), "03");
    ASSERT_EQ(page.sgEdPlan().RowCount(), 3);

    ASSERT_NE(TypeIntoOpenCell(Plan(), 2, 1, QStringLiteral("071500")), nullptr);
    ClickButton(Get<widgets::TMyTransBtn>("btnSavePlan"));
    StringGrid saved;
    LoadPlanGrid(pc.File("A/计划表.tab"), saved);
    EXPECT_EQ(saved.Cell(1, 1), "03");
    EXPECT_EQ(saved.Cell(2, 1), "07:15:00");

    // Typed into the row that stays; the other row is deleted.
    ClickButton(Get<widgets::TMyTransBtn>("btnAdd"));
    ASSERT_NE(TypeIntoOpenCell(Plan(), 1, 1, QStringLiteral("05")), nullptr);
    page.sgEdPlan().SetRow(2);
    ClickButton(Get<widgets::TMyTransBtn>("btnDel"));
    EXPECT_EQ(page.sgEdPlan().Cell(1, 1), "05");

    ASSERT_NE(TypeIntoOpenCell(Plan(), 1, 1, QStringLiteral("06")), nullptr);
    QTest::mouseClick(Get<QRadioButton>("rbTime"), Qt::LeftButton);
    EXPECT_TRUE(page.rbTime());
    EXPECT_EQ(page.sgEdPlan().Cell(1, 1), "06");

    ASSERT_NE(TypeIntoOpenCell(Plan(), 1, 1, QStringLiteral("07")), nullptr);
    widget->SetSaveAsPicker([](const SaveAsProposal& p) -> std::optional<std::string> {
        return p.fileName;
    });
    ClickButton(Get<widgets::TMyTransBtn>("btnSaveAs"));
    StringGrid savedAs;
    LoadPlanGrid(pc.File("A/2012-03-19.tab"), savedAs);
    EXPECT_EQ(savedAs.Cell(1, 1), "07");
}

// A row dropped on saving is named once the new table is the one shown.
TEST_F(PlanEditorWidgetTest, SaveAsOffersTomorrowAndKeepsEditingTheNewTable) {
    page.sgEdPlanSetEditText(1, 1, "01");
    Get<widgets::TMyTransBtn>("btnAdd")->Click();
    page.sgEdPlanSetEditText(1, 2, "09");
    std::optional<SaveAsProposal> offered;
    widget->SetSaveAsPicker([&](const SaveAsProposal& p) -> std::optional<std::string> {
        offered = p;
        return p.fileName;
    });
    QString tableWhileTold;
    ristova::test::ui::AcceptNextMessageBox(
        [&](QWidget*) { tableWhileTold = Get<QComboBox>("cbEdFn")->currentText(); });
    ristova::test::ui::ClickButton(Get<widgets::TMyTransBtn>("btnSaveAs"));
    EXPECT_EQ(tableWhileTold, QStringLiteral("2012-03-19.TAB"));
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->fileName, pc.File("A/2012-03-19.tab"));
    EXPECT_TRUE(FileExists(pc.File("A/2012-03-19.TAB")));
    EXPECT_FALSE(FileExists(pc.File("A/计划表.tab")));
    EXPECT_EQ(Get<QComboBox>("cbEdFn")->currentText(), QStringLiteral("2012-03-19.TAB"));
    EXPECT_EQ(Get<QComboBox>("cbEdFn")->count(), 2);
}

// Names that make no table of the plan folder are refused by name, as the
// dialog hands them on; nothing is written and the open table stays.
TEST_F(PlanEditorWidgetTest, SaveAsRefusesEmptyExtensionOnlyAndEscapingNames) {
    const std::string folder = pc.File("A/");
    for (const char* typed : {"", "  ", ".tab", "../x.tab", "sub/x.tab", "a..b.tab", "x\\y.tab"}) {
        widget->SetSaveAsPicker(
            [&](const SaveAsProposal&) { return std::optional(folder + typed); });
        QString shown;
        ristova::test::ui::AcceptNextMessageBox([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) shown = box->text();
        });
        ristova::test::ui::ClickButton(Get<widgets::TMyTransBtn>("btnSaveAs"));
        const QString name = QString::fromUtf8(typed);
        EXPECT_EQ(shown, name.trimmed().isEmpty() ? QStringLiteral("请输入计划表文件名")
                         : name == ".tab" ? QStringLiteral("计划表文件名只有扩展名:.tab")
                                          : QStringLiteral("请输入合法的计划表文件名:") + name);
        EXPECT_EQ(page.sEdPlanFn(), folder + "计划表.tab") << typed;
    }
    std::vector<std::string> written;
    ListFolderFiles(written, folder, "*");
    EXPECT_EQ(written, std::vector<std::string>{});
    EXPECT_FALSE(FileExists(pc.File("X.TAB")));
}

// The real dialog, answered with its own button once it is up, however long
// its first showing takes; it never waits for the folder's file list. A
// dialog still open long after the click is closed, so the test fails
// instead of hanging.
TEST_F(PlanEditorWidgetTest, TheSaveDialogStartsOnTheProposal) {
    const SaveAsProposal p = *page.SaveAsProposalFor();
    QString filter;
    QElapsedTimer sinceAnswer;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return;
        if (sinceAnswer.isValid()) {
            if (sinceAnswer.elapsed() > 60000) dialog->reject();
            return;
        }
        sinceAnswer.start();
        filter = dialog->selectedNameFilter();
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        const QList<QAbstractButton*> save = buttons->buttons();
        auto accept = std::find_if(save.begin(), save.end(), [&](QAbstractButton* b) {
            return buttons->buttonRole(b) == QDialogButtonBox::AcceptRole;
        });
        ASSERT_NE(accept, save.end());
        ristova::test::ui::ClickButton(*accept);
    });
    answer.start(10);
    const std::optional<std::string> chosen = PlanEditorWidget::RunSaveDialog(widget.get(), p);
    answer.stop();
    EXPECT_EQ(filter, QStringLiteral("电源控制计划表 (*.tab)"));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, p.fileName);
}

TEST_F(PlanEditorWidgetTest, DefaultTableIsNotDeletedAndOthersAreAfterAYes) {
    Get<widgets::TMyTransBtn>("btnSavePlan")->Click();
    // Nothing to ask about the default table: the click does nothing.
    Get<widgets::TMyTransBtn>("btnDelPlanFn")->Click();
    EXPECT_TRUE(FileExists(pc.File("A/计划表.tab")));
    ristova::test::ui::Asked asked;

    pc.dir.Write("A/old.tab", "");
    Get<widgets::TMyTransBtn>("btnReGetDevices")->Click();
    Pick(Get<QComboBox>("cbEdFn"), Get<QComboBox>("cbEdFn")->findText(QStringLiteral("old.tab")));
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "EDIT", "cbEdFn"), "old.tab");
    ristova::test::ui::AnswerNextQuestion(false, &asked);
    Get<widgets::TMyTransBtn>("btnDelPlanFn")->Click();
    EXPECT_EQ(asked.text, QStringLiteral("确定删除old.tab吗?"));
    EXPECT_TRUE(asked.defaultIsNo);
    EXPECT_TRUE(FileExists(pc.File("A/old.tab"))) << "answered no";
    ristova::test::ui::AnswerNextQuestion(true);
    Get<widgets::TMyTransBtn>("btnDelPlanFn")->Click();
    EXPECT_FALSE(FileExists(pc.File("A/old.tab")));
    EXPECT_EQ(Get<QComboBox>("cbEdFn")->currentText(), QStringLiteral("计划表.tab"));
}

// The heading row lives in the header: a table opened over one of the same
// size must repaint it, or the headings stay blank.
TEST_F(PlanEditorWidgetTest, ANewEmptyTableShowsItsHeadingsAtOnce) {
    // As at start-up: the page is built before any table was loaded.
    WriteIniText(pc.ctx.settingsFile, "EDIT", "sPowerFn", "gone.PSW");
    PlanEditorPage fresh(pc.ctx);
    fresh.InitPlanEditor();
    PlanEditorWidget shown(fresh);
    shown.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
    auto* plan = Find<QTableView>(&shown, "sgEdPlan");
    QHeaderView* heading = plan->horizontalHeader();
    ASSERT_EQ(heading->model()->index(0, 1).data().toString(), QString());

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    QCoreApplication::processEvents();
    heading->viewport()->installEventFilter(&counter);
    auto* controllers = Find<QComboBox>(&shown, "cbEditDevList");
    Pick(controllers, controllers->findText(QStringLiteral("A.PSW")));
    ASSERT_EQ(plan->model()->rowCount(), 2) << "a new table of the same size as the empty page";
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 30000))
        << "the headings were not drawn again";
    EXPECT_EQ(heading->model()->index(0, 1).data().toString(), QStringLiteral("继电器"));
    heading->viewport()->removeEventFilter(&counter);
}

TEST_F(PlanEditorWidgetTest, SortButtonsReachThePage) {
    Get<QRadioButton>("rbTime")->click();
    EXPECT_TRUE(page.rbTime());
    EXPECT_FALSE(Get<QRadioButton>("rbJDQ")->isChecked());
    // Clicking the checked button keeps it checked.
    Get<QRadioButton>("rbTime")->click();
    EXPECT_TRUE(Get<QRadioButton>("rbTime")->isChecked());

    WriteIniText(pc.ctx.settingsFile, "LOAD", "rbJDQ", "other");
    page.LoadSortButtons();
    widget->Refresh();
    EXPECT_FALSE(Get<QRadioButton>("rbTime")->isChecked());
    EXPECT_FALSE(Get<QRadioButton>("rbJDQ")->isChecked());
}

}  // namespace
}  // namespace ristova::plan::ui
