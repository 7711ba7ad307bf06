// The window as the operator sees it: frame, pages, status bar, settings
// boxes, the monitor grid's pictures and cursor, and start-up running.
#include <sys/stat.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWindowStateChangeEvent>

#include "WindowFixture.h"
#include "controller/ui/SetupPageWidget.h"
#include "plan/ui/PlanEditorWidget.h"
#include "base/IniFile.h"
#include "base/SecondTicker.h"
#include "app/ui/StatusBarWidget.h"
#include "run/ui/MonitorGrid.h"
#include "app/ui/MonitorPage.h"
#include "run/ui/RelayPictures.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageTabs.h"

namespace ristova::test {
namespace {

// Five relays; relay 3 has no normally-closed contact, relay 5 no
// normally-open one. The port does not exist, so running starts without a
// line.
constexpr const char* kController =
    "[LOAD]\nFLAG=Quelmar电源控制文件\nspComChl=5\nedStateCmd=51\n"
    "[COMM]\nCOMM1=/nonexistent/tty\n"
    "[COMMAND]\n"
    "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n"
    "Row1=   1^^0101^^0100^^照明^^风扇^^ X^^\n"
    "Row2=   2^^0201^^0200^^空调^^水泵^^ X^^\n"
    "Row3=   3^^0301^^0300^^电脑^^不存在^^ X^^\n"
    "Row4=   4^^0401^^0400^^音响^^投影^^ X^^\n"
    "Row5=   5^^0501^^0500^^不存在^^门禁^^ X^^\n";

class MainWindowTest : public WindowFixture {
  protected:
    void WithController(std::string_view settings = "") {
        WriteProgFile("监视测试.PSW", kController);
        WriteProgFile("系统参数.INI", "[RUN]\nsPowerFn=监视测试.PSW\n" + std::string(settings));
    }
    ui::MonitorPage* Page() { return window_->Page0(); }
    ui::MonitorGrid* Grid() { return Page()->sgState(); }
    void Move(QPoint pos) {
        QMouseEvent e(QEvent::MouseMove, QPointF(pos), QPointF(Grid()->mapToGlobal(pos)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Grid(), &e);
    }
    QPoint Centre(int col, int row) { return Grid()->CellRect(col, row).center(); }
};

TEST_F(MainWindowTest, FrameCaptionPagesAndLabels) {
    Create();
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Quelmar电源管理程序"));
    EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowMaximizeButtonHint);
    ASSERT_EQ(window_->PC()->count(), 5);
    EXPECT_TRUE(window_->PC()->OwnerDraw());
    const char* captions[] = {"电源控制监视和操作", "电源控制器设置", "电源控制计划编辑",
                              "关于系统", "运行记录"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(window_->PC()->tabText(i), QString::fromUtf8(captions[i]));
    EXPECT_EQ(Page()->size(), QSize(776, 505));
    EXPECT_EQ(Page()->lbState()->text(), QStringLiteral("状态指令："));
    EXPECT_EQ(Page()->lbCom()->text(), QStringLiteral("通信状态："));
    EXPECT_EQ(Page()->lbCom()->palette().color(QPalette::WindowText), QColor(255, 0, 128));
    EXPECT_FALSE(Page()->btnStop()->isEnabled());
    EXPECT_TRUE(window_->mmDescription()->isReadOnly());
    EXPECT_EQ(window_->mmDescription()->contextMenuPolicy(), Qt::PreventContextMenu);
    EXPECT_TRUE(window_->mmDescription()->toPlainText().startsWith(
        QStringLiteral("  Quelmar电源控制管理器，是一个通用型的串口电源控制器管理程序。")));
    EXPECT_EQ(window_->btnDesc()->Caption(), QStringLiteral("Word说明书"));
}

TEST_F(MainWindowTest, StatusBarShowsPanelTextsAtTheirWidths) {
    Create();
    ui::StatusBarWidget* sb = window_->SB();
    EXPECT_EQ(sb->PanelRect(0).width(), 80);
    EXPECT_EQ(sb->PanelRect(1).width(), 60);
    EXPECT_EQ(sb->PanelRect(3).right(), sb->width() - 1);
    EXPECT_EQ(sb->PanelText(2), QStringLiteral(" 欢迎使用Quelmar电源控制管理程序"));
    // The welcome text is whole inside the panel's frame (2 + 2 pixels).
    EXPECT_LE(sb->fontMetrics().horizontalAdvance(sb->PanelText(2)), sb->PanelRect(2).width() - 4);
    EXPECT_EQ(sb->PanelText(3), QString());

    const QImage before = sb->grab().toImage();
    model_->Status().ShowStatus(4, "nothing");
    window_->Sync();
    EXPECT_EQ(sb->grab().toImage(), before);

    model_->Status().ShowStatus(3, "发送数据:");
    window_->Sync();
    EXPECT_EQ(sb->PanelText(3), QStringLiteral(" 发送数据:"));
    const QImage after = sb->grab().toImage();
    // Only panel 3 was drawn anew.
    const QRect p3 = sb->PanelRect(3);
    EXPECT_EQ(after.copy(0, 0, p3.left(), after.height()),
              before.copy(0, 0, p3.left(), before.height()));
    EXPECT_NE(after.copy(p3), before.copy(p3));
}

// A folder under a plain file cannot be made, even by root: a refused write.
TEST_F(MainWindowTest, AutoStartFallsBackToTheUsersEntryAndSaysWhenNeitherCanBeWritten) {
    WriteProgFile("plain", "x");
    setenv("XDG_CONFIG_DIRS", Prog("plain/xdg").c_str(), 1);
    Create();
    QTest::mouseClick(Page()->chkAutoStart(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(Page()->chkAutoStart()->isChecked());
    EXPECT_TRUE(FileExists(dir_.Path() + ".home/autostart/Ristova.desktop"));
    QTest::mouseClick(Page()->chkAutoStart(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(FileExists(dir_.Path() + ".home/autostart/Ristova.desktop"));

    setenv("XDG_CONFIG_HOME", Prog("plain/home").c_str(), 1);
    QTest::mouseClick(Page()->chkAutoStart(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(Page()->chkAutoStart()->isChecked());
    EXPECT_FALSE(model_->Boxes().chkAutoStart);
    EXPECT_EQ(model_->Status().Panel(3).rfind(std::string(" ") + kAutoStartNotWritten, 0), 0u)
        << model_->Status().Panel(3);
}

TEST_F(MainWindowTest, SettingsBoxesShowTheModelAndClicksStore) {
    Create();
    EXPECT_TRUE(Page()->chk4Level()->isChecked());
    EXPECT_FALSE(Page()->chkRun()->isChecked());
    EXPECT_FALSE(Page()->chkAutoStart()->isChecked());
    EXPECT_EQ(Page()->chkStartON()->text(), QStringLiteral("启动时执行“启动时接通”"));
    Page()->chkManOperate()->click();
    EXPECT_TRUE(model_->Boxes().chkManOperate);
    EXPECT_EQ(ReadIniText(Prog("系统参数.INI"), "LOAD", "chkManOperate"), "YES");
    QCheckBox* restore = Page()->chkRestoreOnStart();
    EXPECT_EQ(restore->text(), QStringLiteral("启动时恢复计划状态"));
    EXPECT_FALSE(restore->isChecked());
    window_->show();
    QTest::mouseClick(restore, Qt::LeftButton, {}, QPoint(6, restore->height() / 2));
    EXPECT_TRUE(model_->Boxes().chkRestoreOnStart);
    EXPECT_EQ(ReadIniText(Prog("系统参数.INI"), "RUN", "RestoreOnStart"), "YES");
}

// Each picture cell of the rendered grid equals the picture drawn on the
// row's background at left + 3, vertically centred.
TEST_F(MainWindowTest, MonitorCellsShowThePictureOfTheirState) {
    WithController();
    Create();
    window_->show();
    model_->Monitor().ShowRelayStates("10?");  // relay 4 and 5 stay empty
    window_->Sync();
    const ui::RelayPictures& pics = ui::RelayPictures::Get();
    auto expect = [&](int col, int row, const QPixmap& pic, const char* what) {
        EXPECT_EQ(ShownPicture(col, row, pic.size()), ExpectedPicture(row, pic))
            << what << " at column " << col << " row " << row;
    };
    // "1": relay on, NO closed, NC open.
    expect(1, 1, pics.imgDJQON, "relay on");
    expect(2, 1, pics.imgSWON, "closed");
    expect(3, 1, pics.imgSWOFF, "open");
    // "0": relay off, NO open, NC closed.
    expect(1, 2, pics.imgDJQOFF, "relay off");
    expect(2, 2, pics.imgSWOFF, "open");
    expect(3, 2, pics.imgSWON, "closed");
    // "?": off and both open; an absent contact whatever the state.
    expect(1, 3, pics.imgDJQOFF, "relay off");
    expect(2, 3, pics.imgSWOFF, "open");
    expect(3, 3, pics.imgNone, "absent");
    // Empty: off and both open.
    expect(1, 4, pics.imgDJQOFF, "relay off");
    expect(2, 4, pics.imgSWOFF, "open");
    expect(3, 4, pics.imgSWOFF, "open");
    expect(2, 5, pics.imgNone, "absent");

    // The pictures are told apart at all.
    EXPECT_NE(pics.imgSWON.toImage(), pics.imgNone.toImage());
    EXPECT_NE(pics.imgSWOFF.toImage().copy(0, 0, 40, 21),
              pics.imgSWON.toImage().copy(0, 0, 40, 21));
    EXPECT_EQ(pics.imgDJQON.size(), QSize(49, 22));
    EXPECT_EQ(pics.imgDJQOFF.size(), QSize(49, 25));
    EXPECT_EQ(pics.imgSWON.size(), QSize(41, 21));
    EXPECT_EQ(pics.imgSWOFF.size(), QSize(40, 21));
    EXPECT_EQ(pics.imgNone.size(), QSize(41, 21));
}

// The heading row of the run grids stays in place when the body scrolls
// to a current row further down.
TEST_F(MainWindowTest, RunGridsKeepTheirHeadingRowWhileScrolled) {
    WithController();
    Create();
    window_->show();
    for (auto [view, grid] : {std::pair{Page()->sgPower(), &model_->Monitor().sgPower()},
                              std::pair{Page()->sgPlan(), &model_->Monitor().sgPlan()}}) {
        grid->SetRow(grid->RowCount() - 1);
        window_->Sync();
        const QHeaderView* heading = view->horizontalHeader();
        EXPECT_TRUE(heading->isVisible());
        EXPECT_EQ(heading->height(), grid->DefaultRowHeight());
        EXPECT_TRUE(view->isRowHidden(0));
        EXPECT_EQ(view->model()->index(0, 0).data().toString(),
                  QString::fromStdString(grid->Cell(0, 0)));
        const QRect current = view->visualRect(view->model()->index(grid->Row(), 0));
        EXPECT_TRUE(view->viewport()->rect().intersects(current));
    }
}

// More relays than fit: the body rows scroll to the current row under the
// heading, and a press there hits the row that is drawn.
TEST_F(MainWindowTest, MonitorScrollsToTheCurrentRelayUnderItsHeading) {
    std::string controller =
        "[LOAD]\nFLAG=Quelmar电源控制文件\nspComChl=20\n[COMMAND]\n"
        "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n";
    for (int r = 1; r <= 20; ++r)
        controller += "Row" + std::to_string(r) + "=" + std::to_string(r) + "^^01^^00^^灯" +
                      std::to_string(r) + "^^不存在^^ X^^\n";
    WriteProgFile("监视测试.PSW", controller);
    WriteProgFile("系统参数.INI", "[RUN]\nsPowerFn=监视测试.PSW\n");
    Create();
    window_->show();
    StringGrid& g = model_->Monitor().sgState();
    ASSERT_EQ(g.RowCount(), 21);
    auto inSight = [&](int row) { return Grid()->rect().contains(Grid()->CellRect(1, row)); };
    EXPECT_TRUE(inSight(1));
    EXPECT_FALSE(inSight(20));

    g.SetRow(20);
    window_->Sync();
    EXPECT_TRUE(inSight(20));
    EXPECT_EQ(Grid()->CellRect(0, 0).top(), 0);
    int col = -1;
    int row = -1;
    ASSERT_TRUE(Grid()->CellAt(Centre(2, 20), col, row));
    EXPECT_EQ(row, 20);
    EXPECT_EQ(ShownPicture(3, 20, ui::RelayPictures::Get().imgNone.size()),
              ExpectedPicture(20, ui::RelayPictures::Get().imgNone));

    // The rows are out of sight: a scroll bar; the wheel scrolls them back
    // and the current row stays the current row.
    EXPECT_TRUE(Grid()->VerticalScrollBar()->isVisible());
    for (int i = 0; i < 19; ++i) {
        QWheelEvent wheel(QPointF(10, 40), QPointF(Grid()->mapToGlobal(QPoint(10, 40))), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Grid(), &wheel);
    }
    window_->Sync();
    EXPECT_EQ(g.Row(), 20);
    EXPECT_TRUE(inSight(1));
    EXPECT_EQ(Grid()->VerticalScrollBar()->value(), 0);
}

TEST_F(MainWindowTest, HandCursorOnlyWhereAClickWouldSwitch) {
    WithController("[LOAD]\nchkManOperate=YES\n");
    Create();
    window_->show();
    auto shape = [&](int col, int row) {
        Move(Centre(col, row));
        return Grid()->cursor().shape();
    };
    EXPECT_EQ(shape(1, 2), Qt::ArrowCursor) << "stopped";
    Page()->btnRun()->Click();
    ASSERT_TRUE(model_->Monitor().Running());
    EXPECT_EQ(shape(1, 2), Qt::PointingHandCursor);
    EXPECT_EQ(shape(1, 0), Qt::ArrowCursor) << "heading";
    EXPECT_EQ(shape(0, 2), Qt::ArrowCursor);
    EXPECT_EQ(shape(2, 2), Qt::ArrowCursor);
    EXPECT_EQ(shape(3, 2), Qt::ArrowCursor);
    Page()->chkManOperate()->click();
    EXPECT_EQ(shape(1, 2), Qt::ArrowCursor) << "manual operation off";
    Page()->chkManOperate()->click();
    Page()->btnStop()->Click();
    EXPECT_EQ(shape(1, 2), Qt::ArrowCursor) << "stopped again";
}

TEST_F(MainWindowTest, StoredRunStartsBeforeTheWindowShowsOnPageZero) {
    WithController("[LOAD]\nchkRun=YES\n");
    Create();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(model_->Monitor().Running());
    EXPECT_TRUE(window_->tmCheck()->Active());
    EXPECT_TRUE(window_->tmRun()->isActive());
    EXPECT_EQ(window_->tmRun()->interval(), 200);
    EXPECT_FALSE(Page()->btnRun()->isEnabled());
    EXPECT_TRUE(Page()->btnStop()->isEnabled());
    EXPECT_EQ(Page()->lbCom()->text(),
              QStringLiteral("通信状态:启动失败,端口不存在"));
    window_->PC()->setCurrentIndex(3);
    window_->show();
    EXPECT_EQ(window_->PC()->currentIndex(), 0);

    // Restoring the minimised window is no new showing: the page stays.
    window_->PC()->setCurrentIndex(2);
    QWindowStateChangeEvent restored(Qt::WindowMinimized);
    QApplication::sendEvent(window_.get(), &restored);
    EXPECT_EQ(window_->PC()->currentIndex(), 2);
    EXPECT_EQ(model_->ActivePage(), 2);
}

// Plan rows that are never acted on are drawn red, the others not.
TEST_F(MainWindowTest, UnreadablePlanRowsAreRedOnTheRunPage) {
    WithController();
    WriteProgFile("监视测试/计划表.tab",
                  "  1^^1^^08:00:00^^接通^^^^^^\r\n  2^^$A^^09:00:00^^接通^^^^^^\r\n");
    Create();
    window_->show();
    EXPECT_EQ(model_->Status().Panel(3), " 计划表中有1行无法识别,未执行");
    QTableView* view = Page()->sgPlan();
    view->clearSelection();
    const QImage shot = view->viewport()->grab().toImage();
    auto hasRed = [&](int row) {
        const QRect rect = view->visualRect(view->model()->index(row, 2));
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c.red() > 180 && c.green() < 90 && c.blue() < 90) return true;
            }
        return false;
    };
    EXPECT_FALSE(hasRed(1));
    EXPECT_TRUE(hasRed(2));
}

// Leaving a page by its tab takes the text of a still open cell editor.
TEST_F(MainWindowTest, PageChangeKeepsTheTextBeingTyped) {
    WithController();
    Create();
    window_->show();
    QTabBar* tabs = window_->PC()->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    ASSERT_EQ(model_->ActivePage(), 1);
    QTableView* grid = window_->Page1()->sgComView();
    const QModelIndex cell = grid->model()->index(2, 3);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    ASSERT_NE(grid->indexWidget(cell), nullptr);
    QTest::sendKeyEvent(QTest::Click, grid->indexWidget(cell), Qt::Key_unknown,
                        QStringLiteral("灯"), Qt::NoModifier);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
    EXPECT_EQ(model_->ActivePage(), 2);
    EXPECT_EQ(model_->Setup().sgCom().Cell(3, 2), "灯");
}

// A read-only controller refuses every keystroke's write: one box for the
// file, the rest in panel 3, until a write to it goes through again. The
// plan table is another file, told once too.
TEST_F(MainWindowTest, ARefusedWriteIsToldOncePerFileUntilAWriteGoesThrough) {
    WithController("[EDIT]\nsPowerFn=监视测试.PSW\n");
    Create();
    window_->show();
    QStringList boxes;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->close();
        }
    });
    closer.start(5);
    QTabBar* tabs = window_->PC()->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    const std::string file = model_->Setup().CurrentPath();
    const std::string refused = "Unable to write to " + file;
    auto* baud = window_->Page1()->findChild<QLineEdit*>(QStringLiteral("edBound"));
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    QTest::keyClicks(baud, "192");
    EXPECT_EQ(boxes, QStringList{QString::fromStdString(refused)});
    EXPECT_EQ(model_->Status().Panel(3), " " + refused);
    EXPECT_EQ(ReadIniText(file, "COMM", "edBound"), "9600");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    QTest::keyClicks(baud, "0");
    EXPECT_EQ(ReadIniText(file, "COMM", "edBound"), "96001920");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    QTest::keyClicks(baud, "1");
    EXPECT_EQ(boxes.size(), 2);

    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
    auto* save = window_->Page2()->findChild<widgets::TMyTransBtn*>(QStringLiteral("btnSavePlan"));
    QTest::mouseClick(save, Qt::LeftButton);
    const std::string table = model_->PlanEditor().sEdPlanFn();
    ASSERT_EQ(::chmod(table.c_str(), 0444), 0);
    QTest::mouseClick(save, Qt::LeftButton);
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(boxes.size(), 3);
    EXPECT_EQ(model_->Status().Panel(3), " Unable to write to " + table);
}

// A grid shows its vertical scroll bar only while its rows do not fit, and
// its last column ends beside it; without one it reaches the right edge.
TEST_F(MainWindowTest, GridsScrollOnlyWhenNeededAndFitTheirLastColumnBesideTheBar) {
    WithController("[EDIT]\nsPowerFn=监视测试.PSW\n");
    std::string plan;  // 19 rows and the heading fit the editor, not the run page
    for (int k = 10; k < 29; ++k) plan += "1^^1^^08:00:" + std::to_string(k) + "^^接通^^^^^^\r\n";
    WriteProgFile("监视测试/计划表.tab", plan);
    Create();
    window_->show();
    QTabBar* tabs = window_->PC()->tabBar();
    auto expectFitted = [&](int page, const char* name, bool bar) {
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
        auto* view = window_->findChild<QTableView*>(QString::fromLatin1(name));
        QCoreApplication::processEvents();
        EXPECT_EQ(view->verticalScrollBar()->isVisible(), bar) << name;
        const int right = view->columnViewportPosition(5) + view->columnWidth(5);
        EXPECT_LE(right, view->viewport()->width()) << name << ": under the scroll bar";
        EXPECT_GE(right, view->viewport()->width() - 10) << name << ": a gap on the right";
    };
    expectFitted(0, "sgPlan", true);
    expectFitted(0, "sgPower", true);  // five rows of 24 pixels in 97
    expectFitted(1, "sgCom", false);
    expectFitted(2, "sgedDev", false);
    expectFitted(2, "sgEdPlan", false);
    QTest::mouseClick(window_->Page2()->findChild<widgets::TMyTransBtn*>("btnAdd"), Qt::LeftButton);
    expectFitted(2, "sgEdPlan", true);
}

}  // namespace
}  // namespace ristova::test
