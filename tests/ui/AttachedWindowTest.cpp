// A window opened on a folder that ristova-run runs: it shows the service's
// run, switches through it with real clicks, and holds no serial port.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "WindowFixture.h"
#include "api/AttachedSite.h"
#include "app/ui/MonitorPage.h"
#include "app/ui/StatusBarWidget.h"
#include "run/ui/MonitorGrid.h"
#include "support/ChildProcess.h"
#include "support/Simulator.h"
#include "widgets/ui/MyTransBtn.h"

namespace ristova::test {
namespace {

namespace fs = std::filesystem;

std::string Hex(const std::string& ascii) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : ascii) hex += std::string{digits[c >> 4], digits[c & 15]};
    return hex;
}

// What this process's descriptors lead to.
std::vector<std::string> OpenFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (!ec) files.push_back(target.string());
    }
    return files;
}

// Answers the next question box with its yes button once it is up.
void AnswerYes() {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (QAbstractButton* yes = box->button(QMessageBox::Yes)) yes->click();
            timer->deleteLater();
        }
    });
    timer->start();
}

class AttachedWindowTest : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        const std::string build = std::getenv("RISTOVA_BUILD_DIR");
        fs::create_directories(Prog("PowerDll"));
        fs::copy_file(fs::path(build) / "PowerDll" / "SimRelay.so", Prog("PowerDll/SimRelay.so"));
        ASSERT_TRUE(sim_.Start({"--relays", "3"})) << sim_.Error();
        std::string rows = "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n";
        for (int r = 1; r <= 3; ++r)
            rows += "Row" + std::to_string(r) + "=   " + std::to_string(r) + "^^" +
                    Hex("O(00,0" + std::to_string(r) + ",1)E") + "^^" +
                    Hex("O(00,0" + std::to_string(r) + ",0)E") + "^^灯" + std::to_string(r) +
                    "^^不存在^^ X^^\n";
        WriteProgFile("泵房.PSW", "[LOAD]\nFLAG=Quelmar电源控制文件\nsPowerDllFn=SimRelay.so\n"
                                 "edStateCmd=" + Hex("Q(00)E") + "\n[COMM]\nCOMM1=" +
                                     sim_.SlavePath() + "\nedBound=9600\nedTimeOut=20\n[COMMAND]\n" +
                                     rows);
        WriteProgFile("系统参数.INI",
                      "[LOAD]\nchkManOperate=YES\nchkStartON=NO\n[RUN]\nsPowerFn=泵房.PSW\n");
        ChildProcess::Options o;
        o.captureStdout = true;
        o.stderrToStdout = true;
        ASSERT_TRUE(runner_.Start({std::string(std::getenv("RISTOVA_BUILD_DIR")) + "/ristova-run",
                                   "--folder", dir_.Path()},
                                  o));
        std::string line;
        for (int i = 0; i < 300 && line.find(" run engine started") == std::string::npos; ++i)
            runner_.ReadLine(line, 200);
        ASSERT_NE(line.find(" run engine started"), std::string::npos) << "the runner did not start";
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (runner_.Running()) {
            kill(runner_.Pid(), SIGTERM);
            runner_.WaitExit(5000);
        }
    }

    SimulatorProcess sim_;
    ChildProcess runner_;
};

TEST_F(AttachedWindowTest, AClickReachesTheBoardThroughTheServiceAndTheWindowOpensNoPort) {
    Create(true);
    window_->show();
    ASSERT_TRUE(model_->Attached());
    EXPECT_EQ(window_->SB()->PanelText(3), QString::fromUtf8(" ") + api::kAttached);
    ui::MonitorPage* page = window_->Page0();
    // The service's run, live: its lbCom and its states once the board answered.
    ASSERT_TRUE(WaitFor(
        [&] {
            window_->Sync();
            const run::RunView* run = model_->Monitor().Shown();
            return run && run->Running() && run->BlocksReceived() > 0;
        },
        20000));
    EXPECT_EQ(page->lbCom()->text(), QStringLiteral("通信状态:正常启动"));
    EXPECT_EQ(model_->Monitor().sgState().Cell(2, 2), "灯2");

    ui::MonitorGrid* grid = page->sgState();
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(1, 2).center());
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const SimulatorCommand& c : sim_.Commands())
                if (c.text == "O(00,02,1)E") return true;
            return false;
        },
        20000));
    // The board's answer comes back through the service's events.
    ASSERT_TRUE(WaitFor(
        [&] {
            window_->Sync();
            model_->Monitor().tmRunTimer();
            return model_->Monitor().sgState().Cell(1, 2) == "1";
        },
        20000));
    for (const std::string& file : OpenFiles()) EXPECT_NE(file, sim_.SlavePath()) << "a port is open";

    // The service stops: the window says so and, asked, takes the folder over.
    kill(runner_.Pid(), SIGTERM);
    ASSERT_TRUE(runner_.WaitExit(10000));
    ASSERT_TRUE(WaitFor(
        [&] { return window_->SB()->PanelText(3) == QString::fromUtf8(" ") + api::kEngineGone; },
        20000));
    AnswerYes();
    ASSERT_TRUE(WaitFor([&] { return !model_->Attached(); }, 20000));
    QTest::mouseClick(page->btnRun(), Qt::LeftButton, {}, page->btnRun()->rect().center());
    EXPECT_TRUE(model_->GetSite().AnyRunning());
}

}  // namespace
}  // namespace ristova::test
