// What the operator changes on one page reaches the others when they are
// shown, and the window asks before it ends a running plan.
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>

#include "WindowFixture.h"
#include "app/ui/MonitorPage.h"
#include "base/Files.h"
#include "controller/ui/SetupPageWidget.h"
#include "plan/ui/PlanEditorWidget.h"
#include "ui/PageTesting.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageTabs.h"

namespace ristova::test {
namespace {

constexpr const char* kController =
    "[LOAD]\nFLAG=Quelmar电源控制文件\nspComChl=2\n"
    "[COMM]\nCOMM1=/nonexistent/tty\n"
    "[COMMAND]\n"
    "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n"
    "Row1=   1^^0101^^0100^^照明^^风扇^^ X^^\n"
    "Row2=   2^^0201^^0200^^空调^^水泵^^ X^^\n";

class LiveEditsTest : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        WriteProgFile("甲.PSW", kController);
        WriteProgFile("乙.PSW", kController);
        WriteProgFile("系统参数.INI", "[RUN]\nsPowerFn=乙.PSW\n[EDIT]\nsPowerFn=乙.PSW\n");
        Create();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    void ShowPage(int index) {
        QTabBar* bar = window_->PC()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        ASSERT_EQ(window_->PC()->currentIndex(), index);
        QApplication::processEvents();
    }
    static QStringList Items(QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }
    QComboBox* RunList() { return window_->Page0()->cbRunDevList(); }
    QComboBox* EditList() {
        return window_->Page2()->findChild<QComboBox*>(QStringLiteral("cbEditDevList"));
    }
    QComboBox* SetupList() {
        return window_->Page1()->findChild<QComboBox*>(QStringLiteral("cbComDevList"));
    }
    void AddControllerOnTheSetupPage(const QString& name) {
        ShowPage(1);
        auto* edit = window_->Page1()->findChild<QLineEdit*>(QStringLiteral("edNewComDev"));
        ui::Retype(edit, name);
        window_->Page1()->findChild<widgets::TMyTransBtn*>(QStringLiteral("btnAddNewComDev"))->Click();
    }
};

TEST_F(LiveEditsTest, AControllerAddedOrDeletedReachesTheRunAndEditorListsWhenShown) {
    ASSERT_EQ(RunList()->currentText(), QStringLiteral("乙.PSW"));
    ShowPage(2);
    ASSERT_EQ(EditList()->currentText(), QStringLiteral("乙.PSW"));
    AddControllerOnTheSetupPage(QStringLiteral("丙"));
    ASSERT_TRUE(FileExists(Prog("丙.PSW")));

    ShowPage(0);
    EXPECT_TRUE(Items(RunList()).contains(QStringLiteral("丙.PSW")));
    EXPECT_EQ(RunList()->currentText(), QStringLiteral("乙.PSW")) << "the selection stays";
    ShowPage(2);
    EXPECT_TRUE(Items(EditList()).contains(QStringLiteral("丙.PSW")));
    EXPECT_EQ(EditList()->currentText(), QStringLiteral("乙.PSW"));

    // The controller selected on both pages is deleted on the setup page.
    ShowPage(1);
    ui::Pick(SetupList(), SetupList()->findText(QStringLiteral("乙.PSW")));
    ui::AnswerNextQuestion(true);
    window_->Page1()->findChild<widgets::TMyTransBtn*>(QStringLiteral("btnDelComDev"))->Click();
    ASSERT_FALSE(FileExists(Prog("乙.PSW")));
    ShowPage(2);
    EXPECT_FALSE(Items(EditList()).contains(QStringLiteral("乙.PSW")));
    EXPECT_EQ(EditList()->currentIndex(), -1) << "an empty page, not the deleted controller";
    ShowPage(0);
    EXPECT_FALSE(Items(RunList()).contains(QStringLiteral("乙.PSW")));
    EXPECT_EQ(RunList()->currentText(), QStringLiteral("丙.PSW"));
}

TEST_F(LiveEditsTest, ARunningEngineKeepsItsControllerWhenItIsDeleted) {
    window_->Page0()->btnRun()->Click();
    ASSERT_TRUE(model_->Monitor().Running());
    ShowPage(1);
    ui::Pick(SetupList(), SetupList()->findText(QStringLiteral("乙.PSW")));
    ui::AnswerNextQuestion(true);
    window_->Page1()->findChild<widgets::TMyTransBtn*>(QStringLiteral("btnDelComDev"))->Click();
    ShowPage(0);
    EXPECT_TRUE(model_->Monitor().Running());
    EXPECT_EQ(RunList()->currentText(), QStringLiteral("乙.PSW"));
    window_->Page0()->btnStop()->Click();
}

TEST_F(LiveEditsTest, ClosingWhileThePlanRunsAsksAndASessionCloseDoesNot) {
    window_->Page0()->btnRun()->Click();
    ASSERT_TRUE(model_->Monitor().Running());
    ui::Asked asked;
    ui::AnswerNextQuestion(false, &asked);
    EXPECT_FALSE(window_->close());
    EXPECT_EQ(asked.text, QStringLiteral("计划正在运行,退出后将不再执行计划。确定退出?"));
    EXPECT_TRUE(asked.defaultIsNo);
    // Qt's own buttons speak Chinese too.
    EXPECT_TRUE(asked.yesText.startsWith(QStringLiteral("是"))) << asked.yesText.toStdString();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(model_->Monitor().Running());

    ui::AnswerNextQuestion(true);
    EXPECT_TRUE(window_->close());
    EXPECT_FALSE(window_->isVisible());

    // A stopped plan closes without a question; so does a close from a signal.
    window_->show();
    window_->Page0()->btnStop()->Click();
    EXPECT_TRUE(window_->close());
    window_->show();
    window_->Page0()->btnRun()->Click();
    window_->CloseWithoutAsking();
    EXPECT_FALSE(window_->isVisible());
}

}  // namespace
}  // namespace ristova::test
