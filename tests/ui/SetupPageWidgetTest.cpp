#include "controller/ui/SetupPageWidget.h"

#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableView>
#include <QAbstractItemView>

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"
#include "support/PageContext.h"
#include "support/Simulator.h"
#include "ui/PageTesting.h"
#include "widgets/ui/MyTransBtn.h"

namespace ristova::controller::ui {
namespace {

using ristova::test::ui::Find;
using ristova::test::ui::Pick;
using ristova::test::ui::Retype;

class SetupPageWidgetTest : public ::testing::Test {
  protected:
    SetupPageWidgetTest() : com1(pc.poster), page(pc.ctx, com1) {
        page.SetPortScanner([] { return std::vector<std::string>{"COM1", "COM2"}; });
        page.InitControllerList();
        widget = std::make_unique<SetupPageWidget>(page);
    }
    std::string Key(const std::string& file, std::string_view section, std::string_view key) {
        return ReadIniText(pc.File(file), section, key);
    }
    template <class T>
    T* Get(const char* name) {
        return Find<T>(widget.get(), name);
    }
    void Select(int col, int row) {
        QTableView* view = widget->sgComView();
        view->setCurrentIndex(view->model()->index(row, col));
    }

    test::PageContext pc;
    TMyComport com1;
    SetupPage page;
    std::unique_ptr<SetupPageWidget> widget;
};

TEST_F(SetupPageWidgetTest, ShowsTheLoadedControllerAndTheDesignTexts) {
    EXPECT_EQ(widget->size(), QSize(776, 505));
    EXPECT_EQ(Get<QComboBox>("cbComDevList")->currentText(), QStringLiteral("未命名电源设备.PSW"));
    EXPECT_EQ(Get<QLineEdit>("edBound")->text(), QStringLiteral("9600"));
    EXPECT_EQ(Get<QLineEdit>("edTimeOut")->text(), QStringLiteral("20"));
    EXPECT_EQ(Get<QAbstractSpinBox>("spComChl")->text(), QStringLiteral("10"));
    EXPECT_EQ(Get<QLineEdit>("edASC")->text(), QStringLiteral("O(00,01,1)E"));
    EXPECT_EQ(Get<QLineEdit>("edNewComDev")->toolTip(),
              QStringLiteral("请输入合法的新电源控制器设备文件名"));
    EXPECT_EQ(Get<QLabel>("lbComState")->text(), QStringLiteral("串口状态：未操作"));
    // Loading ran the click of the current cell, a command cell.
    EXPECT_TRUE(Get<widgets::TMyTransBtn>("btnSend")->isEnabled());
    EXPECT_EQ(Get<QComboBox>("cbParity")->count(), 5);
    EXPECT_EQ(Get<QComboBox>("cbComm1")->maxVisibleItems(), 4);
    EXPECT_EQ(widget->sgComView()->model()->rowCount(), 11);
    EXPECT_EQ(widget->sgComView()->columnWidth(0), 64);
}

TEST_F(SetupPageWidgetTest, ControllerTypedEditedAndSavedThroughTheControls) {
    Retype(Get<QLineEdit>("edNewComDev"), QStringLiteral("泵房"));
    Get<widgets::TMyTransBtn>("btnAddNewComDev")->Click();
    ASSERT_EQ(Get<QComboBox>("cbComDevList")->currentText(), QStringLiteral("泵房.PSW"));

    Retype(Get<QLineEdit>("edBound"), QStringLiteral("19200"));
    Retype(Get<QLineEdit>("edStateCmd"), QStringLiteral("5153"));
    Pick(Get<QComboBox>("cbParity"), 1);
    Pick(Get<QComboBox>("cbComm1"), 1);
    Retype(Get<QAbstractSpinBox>("spComChl")->findChild<QLineEdit*>(), QStringLiteral("3"));
    EXPECT_EQ(widget->sgComView()->model()->rowCount(), 4);

    Select(1, 2);
    EXPECT_TRUE(Get<widgets::TMyTransBtn>("btnInput")->isEnabled());
    Get<widgets::TMyTransBtn>("btnASC2Hex")->Click();
    EXPECT_EQ(Get<QLineEdit>("edHEX")->text(), QStringLiteral("4F2830302C30312C312945"));
    Get<widgets::TMyTransBtn>("btnInput")->Click();
    Select(3, 2);
    EXPECT_FALSE(Get<widgets::TMyTransBtn>("btnInput")->isEnabled());
    QAbstractItemModel* grid = widget->sgComView()->model();
    EXPECT_TRUE(grid->flags(grid->index(2, 3)) & Qt::ItemIsEditable);
    EXPECT_FALSE(grid->flags(grid->index(2, 1)) & Qt::ItemIsEditable);
    grid->setData(grid->index(2, 3), QStringLiteral("照明"));
    Get<widgets::TMyTransBtn>("btSaveComFn")->Click();

    const std::string f = "泵房.PSW";
    EXPECT_EQ(Key(f, "COMM", "edBound"), "19200");
    EXPECT_EQ(Key(f, "LOAD", "edStateCmd"), "5153");
    EXPECT_EQ(Key(f, "COMM", "Parity"), "1");
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "COM2");
    EXPECT_EQ(Key(f, "LOAD", "spComChl"), "3");
    EXPECT_EQ(Key(f, "COMMAND", "Row2"), "2^^4F2830302C30312C312945^^^^照明^^^^^^");
    EXPECT_EQ(Key(f, "COMMAND", "Row4"), "");

    // Read back from the file by choosing the controller again.
    Pick(Get<QComboBox>("cbComDevList"), 0);
    Pick(Get<QComboBox>("cbComDevList"), 1);
    EXPECT_EQ(Get<QLineEdit>("edBound")->text(), QStringLiteral("19200"));
    EXPECT_EQ(Get<QComboBox>("cbParity")->currentText(), QStringLiteral("奇校验"));
    EXPECT_EQ(grid->data(grid->index(2, 3)).toString(), QStringLiteral("照明"));
}

// The save button takes no focus: the text still in the cell editor is
// saved with the table all the same.
TEST_F(SetupPageWidgetTest, TextStillBeingTypedInACellIsSaved) {
    widget->show();
    QWidget* editor = ristova::test::ui::TypeIntoOpenCell(widget->sgComView(), 3, 2,
                                                          QStringLiteral("照明"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(page.sgCom().Cell(3, 2), "");
    ristova::test::ui::ClickButton(Get<widgets::TMyTransBtn>("btSaveComFn"));
    EXPECT_EQ(Key("未命名电源设备.PSW", "COMMAND", "Row2").find("^^照明^^") != std::string::npos,
              true)
        << Key("未命名电源设备.PSW", "COMMAND", "Row2");
    EXPECT_EQ(widget->sgComView()->indexWidget(widget->sgComView()->model()->index(2, 3)),
              nullptr);
}

TEST_F(SetupPageWidgetTest, RelayCountTwelveToEightAndBackShowsTheOldRows) {
    QLineEdit* count = Get<QAbstractSpinBox>("spComChl")->findChild<QLineEdit*>();
    Retype(count, QStringLiteral("12"));
    QAbstractItemModel* grid = widget->sgComView()->model();
    Select(3, 1);
    for (int r = 9; r <= 12; ++r) grid->setData(grid->index(r, 3), QStringLiteral("old %1").arg(r));
    Retype(count, QStringLiteral("8"));
    EXPECT_EQ(grid->rowCount(), 9);
    Get<widgets::TMyTransBtn>("btSaveComFn")->Click();
    EXPECT_EQ(Key("未命名电源设备.PSW", "COMMAND", "Row9"), "");
    Retype(count, QStringLiteral("12"));
    EXPECT_EQ(grid->rowCount(), 13);
    EXPECT_EQ(grid->data(grid->index(12, 3)).toString(), QStringLiteral("old 12"));

    // Out of range is corrected when the field is left.
    Retype(count, QStringLiteral("40"));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(Get<QAbstractSpinBox>("spComChl"), &out);
    EXPECT_EQ(count->text(), QStringLiteral("32"));
}

TEST_F(SetupPageWidgetTest, CommandCellsAreDrawnAsEnteredOrMissing) {
    page.sgComSelectCell(1, 1);
    page.edHEXChange("41");
    page.btnInputClick();
    widget->Refresh();
    widget->resize(widget->size());
    QTableView* view = widget->sgComView();
    Select(1, 1);
    const QImage shot = view->viewport()->grab().toImage();
    const QRect current = view->visualRect(view->model()->index(1, 1));
    EXPECT_EQ(shot.pixelColor(current.right() - 3, current.bottom() - 2), QColor(0, 128, 0));

    auto hasRed = [&](const QRect& rect) {
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c.red() > 180 && c.green() < 90 && c.blue() < 90) return true;
            }
        return false;
    };
    EXPECT_TRUE(hasRed(view->visualRect(view->model()->index(1, 2))));  // "..未输入"
    EXPECT_FALSE(hasRed(current));                                      // "有指令..."
    EXPECT_FALSE(hasRed(view->visualRect(view->model()->index(1, 3))));
}

// A command that would not be sent is shown before running; a test send of
// it sends nothing, and a send on the closed port is shown as failed.
TEST_F(SetupPageWidgetTest, InvalidCommandsAreFlaggedAndNeitherTheyNorFailedSendsShowAsSent) {
    Select(1, 3);
    Retype(Get<QLineEdit>("edHEX"), QStringLiteral("4O"));
    EXPECT_EQ(Get<QLineEdit>("edHEX")->palette().color(QPalette::Text), QColor(Qt::red));
    Get<widgets::TMyTransBtn>("btnInput")->Click();
    Select(2, 3);
    QTableView* view = widget->sgComView();
    const QImage shot = view->viewport()->grab().toImage();
    const QRect invalid = view->visualRect(view->model()->index(3, 1));
    const QRect missing = view->visualRect(view->model()->index(4, 1));
    EXPECT_NE(shot.copy(invalid), shot.copy(missing)) << "not told apart from a missing command";
    bool red = false;
    for (int y = invalid.top(); y <= invalid.bottom(); ++y)
        for (int x = invalid.left(); x <= invalid.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red = red || (c.red() > 180 && c.green() < 90 && c.blue() < 90);
        }
    EXPECT_TRUE(red);

    Select(1, 3);
    Get<widgets::TMyTransBtn>("btnSend")->Click();
    EXPECT_EQ(pc.status.Panel(3), " 指令含非十六进制字符,未发送:4O");
    // The port was never opened.
    Retype(Get<QLineEdit>("edStateCmd"), QStringLiteral("51 28"));
    EXPECT_NE(Get<QLineEdit>("edStateCmd")->palette().color(QPalette::Text), QColor(Qt::red));
    Get<widgets::TMyTransBtn>("MyTransBtn1")->Click();
    EXPECT_EQ(pc.status.Panel(3), " 发送失败:5128");
    Retype(Get<QLineEdit>("edStateCmd"), QStringLiteral("0x51"));
    EXPECT_EQ(Get<QLineEdit>("edStateCmd")->palette().color(QPalette::Text), QColor(Qt::red));
}

TEST_F(SetupPageWidgetTest, MouseOverARelayRowShowsTheColumnHint) {
    QTableView* view = widget->sgComView();
    // Moves without a pressed button reach the viewport only when it tracks them.
    EXPECT_TRUE(view->viewport()->hasMouseTracking());
    const QPoint at = view->visualRect(view->model()->index(2, 5)).center();
    QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    EXPECT_EQ(pc.status.Panel(3),
              " 双击选择该参数。如果选择，表示执行该控制器计划表时，首先执行该路的接通操作");
}

// With more relays than fit, the titles stay above the scrolled body, and
// clicks, moves and drawing still name the core rows under the pointer.
TEST_F(SetupPageWidgetTest, LongRelayTableKeepsItsTitlesWhileScrolled) {
    Retype(Get<QAbstractSpinBox>("spComChl")->findChild<QLineEdit*>(), QStringLiteral("32"));
    widget->show();
    QTableView* view = widget->sgComView();
    ASSERT_EQ(view->model()->rowCount(), 33);

    // The first body line is relay 1, so the pointer there gets its hint.
    const QPoint top(view->columnViewportPosition(5) + 2, 1);
    ASSERT_EQ(view->indexAt(top).row(), 1);
    const std::string hint = pc.status.Panel(3);
    QMouseEvent move(QEvent::MouseMove, top, view->viewport()->mapToGlobal(top), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    EXPECT_NE(pc.status.Panel(3), hint);

    page.sgComSelectCell(1, 32);
    widget->Refresh();
    ristova::test::ui::ExpectHeadingAboveScrolledBody(view, page.sgCom());
    const QImage shot = view->viewport()->grab().toImage();
    const QRect current = view->visualRect(view->model()->index(32, 1));
    EXPECT_EQ(shot.pixelColor(current.right() - 3, current.bottom() - 2), QColor(0, 128, 0));

    const int shown = view->indexAt(QPoint(view->columnViewportPosition(2) + 2, 1)).row();
    ASSERT_GT(shown, 1);
    ristova::test::ui::ClickCell(view, 2, shown);
    EXPECT_EQ(page.sgCom().Row(), shown);
    EXPECT_EQ(page.sgCom().Col(), 2);
    // The titles take no clicks.
    QHeaderView* heading = view->horizontalHeader();
    ristova::test::ui::Click(heading, QPoint(heading->sectionViewportPosition(3) + 4, 4));
    EXPECT_EQ(page.sgCom().Row(), shown);
    EXPECT_EQ(page.sgCom().Col(), 2);
}

TEST_F(SetupPageWidgetTest, TestSendsReachTheSimulatedControllerAndItsAnswerIsShown) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "8"})) << sim.Error();
    const std::string device = sim.SlavePath();
    page.SetPortScanner([device] { return std::vector<std::string>{device}; });
    widget->Refresh();
    Pick(Get<QComboBox>("cbComm1"), 0);
    Get<widgets::TMyTransBtn>("btnInitCOMM")->Click();
    ASSERT_EQ(Get<QLabel>("lbComState")->text(), QStringLiteral("串口状态：可用"));

    // Relay 1 on: "O(00,01,1)E" converted, put into the table and sent.
    Select(1, 1);
    Get<widgets::TMyTransBtn>("btnASC2Hex")->Click();
    Get<widgets::TMyTransBtn>("btnInput")->Click();
    Get<widgets::TMyTransBtn>("btnSend")->Click();
    EXPECT_EQ(pc.status.Panel(3), " 发送数据:4F2830302C30312C312945");

    // The state query "Q(00)E"; the answer names relay 1 as on.
    Retype(Get<QLineEdit>("edStateCmd"), QStringLiteral("512830302945"));
    Get<widgets::TMyTransBtn>("MyTransBtn1")->Click();
    EXPECT_EQ(pc.status.Panel(3), " 发送数据:512830302945");
    EXPECT_EQ(pc.sleeper.pauses, (std::vector<int>{50, 50}));
    const std::string answer = "S(00,10000000)E";
    const std::string expected =
        " 接收数据:" +
        BytesToHex(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size());
    EXPECT_TRUE(pc.poster.PumpUntil([&] { return pc.status.Panel(3) == expected; }, 20000))
        << pc.status.Panel(3);
    com1.ClosePort();
}

TEST_F(SetupPageWidgetTest, ThePortIsPickedByWhatItIsOrTyped) {
    auto* box = Get<QComboBox>("cbComm1");
    EXPECT_EQ(box->itemText(0), QStringLiteral("COM1 (/dev/ttyS0)"));
    EXPECT_EQ(box->itemText(1), QStringLiteral("COM2 (/dev/ttyS1)"));
    EXPECT_GE(box->view()->minimumWidth(),
              box->view()->fontMetrics().horizontalAdvance(box->itemText(0)))
        << "the list is wide enough for its entries";
    EXPECT_EQ(box->lineEdit()->text(), QStringLiteral("COM1")) << "the box shows what is stored";

    const std::string f = "未命名电源设备.PSW";
    Retype(box->lineEdit(), QStringLiteral("/dev/ttyUSB3"));
    ristova::test::ui::Key(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "/dev/ttyUSB3");
    EXPECT_EQ(box->lineEdit()->text(), QStringLiteral("/dev/ttyUSB3"));
    Retype(box->lineEdit(), QStringLiteral("com2"));
    ristova::test::ui::Key(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "COM2");
    EXPECT_EQ(box->currentIndex(), 1);
    Retype(box->lineEdit(), QStringLiteral("ttyACM0"));
    ristova::test::ui::Key(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "/dev/ttyACM0");
    Pick(box, 0);
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "COM1");
    EXPECT_EQ(box->lineEdit()->text(), QStringLiteral("COM1"));
}

TEST_F(SetupPageWidgetTest, DeletingAControllerAsksFirst) {
    Retype(Get<QLineEdit>("edNewComDev"), QStringLiteral("泵房"));
    Get<widgets::TMyTransBtn>("btnAddNewComDev")->Click();
    ASSERT_TRUE(FileExists(pc.File("泵房.PSW")));
    ristova::test::ui::Asked asked;
    ristova::test::ui::AnswerNextQuestion(false, &asked);
    Get<widgets::TMyTransBtn>("btnDelComDev")->Click();
    EXPECT_EQ(asked.text, QStringLiteral("确定删除泵房.PSW吗?"));
    EXPECT_TRUE(asked.defaultIsNo);
    EXPECT_TRUE(FileExists(pc.File("泵房.PSW")));
    ristova::test::ui::AnswerNextQuestion(true);
    Get<widgets::TMyTransBtn>("btnDelComDev")->Click();
    EXPECT_FALSE(FileExists(pc.File("泵房.PSW")));
    EXPECT_EQ(Get<QComboBox>("cbComDevList")->count(), 1);
}

TEST_F(SetupPageWidgetTest, RefusedNameShowsNoEntry) {
    ristova::test::ui::AcceptNextMessageBox();
    Retype(Get<QLineEdit>("edNewComDev"), QStringLiteral("../x"));
    Get<widgets::TMyTransBtn>("btnAddNewComDev")->Click();
    EXPECT_EQ(Get<QComboBox>("cbComDevList")->count(), 1);
}

// The plug-in list's tool-tip describes the plug-in picked for this
// controller, never the one of the controller shown before.
TEST_F(SetupPageWidgetTest, PluginToolTipGoesWithTheControllerItWasPickedFor) {
    pc.dir.Write("PowerDll/decoder.so", "");
    pc.dir.Write("B.PSW", "[LOAD]\r\nFLAG=Quelmar电源控制文件\r\n");
    page.SetDescriptionQuery([](const std::string& name) { return "about " + name; });
    ristova::test::ui::ClickButton(Get<widgets::TMyTransBtn>("btnRefreshDevice"));
    auto* plugins = Get<QComboBox>("cbPowerDll");
    Pick(plugins, plugins->findText(QStringLiteral("decoder.so")));
    EXPECT_EQ(plugins->toolTip(), QStringLiteral("about decoder.so"));
    auto* controllers = Get<QComboBox>("cbComDevList");
    Pick(controllers, controllers->findText(QStringLiteral("B.PSW")));
    EXPECT_EQ(plugins->toolTip(), QString());
}

}  // namespace
}  // namespace ristova::controller::ui
