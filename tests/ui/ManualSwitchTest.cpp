// A click on a relay picture while running, end to end: the command and
// the state query reach the controller's line (the far side of a pseudo
// terminal), the answer is decoded by the simulator's plug-in and the
// picture changes.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QLabel>
#include <QMouseEvent>
#include <cstdlib>
#include <filesystem>

#include "WindowFixture.h"
#include "app/ui/StatusBarWidget.h"
#include "run/ui/MonitorGrid.h"
#include "app/ui/MonitorPage.h"
#include "run/ui/RelayPictures.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageTabs.h"

namespace ristova::test {
namespace {

namespace fs = std::filesystem;
const std::string kQuery = "Q(00)E";

class ManualSwitchTest : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        const char* build = std::getenv("RISTOVA_BUILD_DIR");
        ASSERT_NE(build, nullptr);
        fs::create_directories(Prog("PowerDll"));
        fs::copy_file(fs::path(build) / "PowerDll" / "SimRelay.so", Prog("PowerDll/SimRelay.so"));
        WriteProgFile(
            "手动测试.PSW",
            "[LOAD]\nFLAG=Quelmar电源控制文件\nspComChl=4\nsPowerDllFn=SimRelay.so\n"
            "edStateCmd=512830302945\n[COMM]\nCOMM1=" +
                std::string(name) +
                "\nedBound=9600\nedTimeOut=20\n[COMMAND]\n"
                "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n"
                "Row1=   1^^A101^^A100^^照明^^风扇^^ X^^\n"
                "Row2=   2^^A201^^A200^^空调^^水泵^^ X^^\n"
                "Row3=   3^^A301^^A300^^电脑^^投影^^ X^^\n"
                "Row4=   4^^A401^^A400^^音响^^门禁^^ X^^\n");
        WriteProgFile("系统参数.INI",
                      "[LOAD]\nchkManOperate=YES\nchkStartON=NO\n[RUN]\nsPowerFn=手动测试.PSW\n");
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }

    // Everything the program wrote to the line within the time, or up to
    // `until` when it comes sooner.
    std::string ReadLine(int ms, const std::string& until = {}) {
        std::string got;
        WaitFor(
            [&] {
                char buf[256];
                ssize_t n;
                while ((n = read(master_, buf, sizeof buf)) > 0) got.append(buf, n);
                return !until.empty() && got.find(until) != std::string::npos;
            },
            ms);
        return got;
    }
    void Press(Qt::MouseButton button, int col, int row) {
        ui::MonitorGrid* grid = window_->Page0()->sgState();
        const QPointF pos = grid->CellRect(col, row).center();
        QMouseEvent e(QEvent::MouseButtonPress, pos, grid->mapToGlobal(pos), button, button,
                      Qt::NoModifier);
        QApplication::sendEvent(grid, &e);
        QMouseEvent up(QEvent::MouseButtonRelease, pos, grid->mapToGlobal(pos), button,
                       Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(grid, &up);
    }

    int master_ = -1;
    int slave_ = -1;
};

// Pure red pixels in a monitor cell: the relay pictures' armature bar.
int RedPixels(ui::MonitorGrid* grid, int col, int row) {
    const QImage image = grid->grab(grid->CellRect(col, row)).toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) red += image.pixelColor(x, y) == QColor(255, 0, 0);
    return red;
}

TEST_F(ManualSwitchTest, AClickSendsTheRelaysCommandThenTheQueryAndTheAnswerTurnsThePicture) {
    Create();
    window_->show();
    window_->Page0()->btnRun()->Click();
    ASSERT_TRUE(model_->Monitor().Running());
    ASSERT_EQ(window_->Page0()->lbCom()->text(), QStringLiteral("通信状态:正常启动"));
    ReadLine(50);

    // A right click and a click on a contact send nothing but the polls.
    Press(Qt::RightButton, 1, 3);
    Press(Qt::LeftButton, 2, 3);
    std::string line = ReadLine(100);
    EXPECT_EQ(line.find("\xA3"), std::string::npos) << "relay 3 was switched";

    // Relay 3 is off (its state cell is "0" or still empty): on command.
    Press(Qt::LeftButton, 1, 3);
    line = ReadLine(20000, "\xA3\x01" + kQuery);
    EXPECT_NE(line.find("\xA3\x01" + kQuery), std::string::npos) << line;
    EXPECT_EQ(window_->SB()->PanelText(3), QStringLiteral(" 发送数据:A301"));
    EXPECT_EQ(model_->Monitor().sgState().Row(), 3);

    // The controller answers: relay 3 on.
    const std::string answer = "S(00,0010)E";
    ASSERT_EQ(write(master_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    ASSERT_TRUE(WaitFor([&] { return model_->Monitor().sgState().Cell(1, 3) == "1"; }, 20000))
        << window_->SB()->PanelText(3).toStdString() << " / "
        << window_->Page0()->lbDev()->text().toStdString() << " / " << model_->Monitor().sJDQState();
    EXPECT_TRUE(window_->SB()->PanelText(3).startsWith(QStringLiteral(" 接收数据:5328")));

    // Now on: the next click sends the off command.
    Press(Qt::LeftButton, 1, 3);
    line = ReadLine(20000, std::string("\xA3\x00", 2) + kQuery);
    EXPECT_NE(line.find(std::string("\xA3\x00", 2) + kQuery), std::string::npos) << line;

    // The picture follows the decoded state.
    const QPixmap& on = ui::RelayPictures::Get().imgDJQON;
    EXPECT_EQ(ShownPicture(1, 3, on.size()), ExpectedPicture(3, on));

    // The board ignores the off command: three answers later the relay is
    // framed red and panel 3 names it.
    ui::MonitorGrid* grid = window_->Page0()->sgState();
    const int unframed = RedPixels(grid, 1, 3);
    const int other = RedPixels(grid, 1, 2);
    for (int i = 0; i < 3 && !model_->Monitor().RelayMismatch(3); ++i) {
        ASSERT_EQ(write(master_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
        ReadLine(150);
    }
    ASSERT_TRUE(WaitFor([&] { return model_->Monitor().RelayMismatch(3); }, 3000));
    window_->Sync();
    EXPECT_EQ(window_->SB()->PanelText(3), QStringLiteral(" 继电器3未按指令动作"));
    EXPECT_GT(RedPixels(grid, 1, 3), unframed + 40);
    EXPECT_EQ(RedPixels(grid, 1, 2), other) << "only the relay that did not follow";
}

TEST_F(ManualSwitchTest, ALostLineIsShownRedAndGreyAndAClickSendsNothing) {
    Create();
    window_->show();
    window_->Page0()->btnRun()->Click();
    ASSERT_TRUE(model_->Monitor().Running());
    ui::MonitorGrid* grid = window_->Page0()->sgState();
    EXPECT_GT(RedPixels(grid, 1, 1), 0);

    // The far end hangs up.
    close(master_);
    master_ = -1;
    ASSERT_TRUE(WaitFor([&] { return model_->Monitor().Line() == run::LineState::Lost; }, 20000));
    window_->Sync();
    QLabel* lbCom = window_->Page0()->lbCom();
    EXPECT_EQ(lbCom->text(), QStringLiteral("通信状态:通信中断,正在重新连接"));
    EXPECT_EQ(lbCom->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(RedPixels(grid, 1, 1), 0) << "drawn grey";
    EXPECT_EQ(RedPixels(grid, 2, 1), 0);

    Press(Qt::LeftButton, 1, 1);
    EXPECT_EQ(window_->SB()->PanelText(3), QStringLiteral(" 继电器状态未知,不能手动切换"));

    window_->Page0()->btnStop()->Click();
    EXPECT_EQ(lbCom->text(), QStringLiteral("通信状态："));
    EXPECT_EQ(lbCom->palette().color(QPalette::WindowText), QColor(255, 0, 128));
    EXPECT_GT(RedPixels(grid, 1, 1), 0);
}

}  // namespace
}  // namespace ristova::test
