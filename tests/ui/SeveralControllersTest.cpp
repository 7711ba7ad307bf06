// Two controllers that run together, each on its own simulated board, driven
// in the window with real mouse events.
#include <QListWidget>
#include <QTest>
#include <filesystem>

#include "WindowFixture.h"
#include "app/ui/ControllersDialog.h"
#include "app/ui/MonitorPage.h"
#include "base/IniFile.h"
#include "run/ui/MonitorGrid.h"
#include "run/ui/RunStrip.h"
#include "support/Simulator.h"
#include "widgets/ui/MyTransBtn.h"

namespace ristova::test {
namespace {

namespace fs = std::filesystem;

class SeveralControllersTest : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        const char* build = std::getenv("RISTOVA_BUILD_DIR");
        ASSERT_NE(build, nullptr);
        fs::create_directories(Prog("PowerDll"));
        fs::copy_file(fs::path(build) / "PowerDll" / "SimRelay.so", Prog("PowerDll/SimRelay.so"));
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(sims_[i].Start({"--relays", "3"})) << sims_[i].Error();
            std::string rows = "Row0=继电器^^接通指令^^断开指令^^常开触点用途^^常闭触点用途^^启动时接通^^\n";
            for (int r = 1; r <= 3; ++r)
                rows += "Row" + std::to_string(r) + "=   " + std::to_string(r) + "^^" +
                        Hex("O(00,0" + std::to_string(r) + ",1)E") + "^^" +
                        Hex("O(00,0" + std::to_string(r) + ",0)E") + "^^灯^^不存在^^ X^^\n";
            WriteProgFile(kFiles[i], "[LOAD]\nFLAG=Quelmar电源控制文件\nsPowerDllFn=SimRelay.so\n"
                                     "edStateCmd=" + Hex("Q(00)E") + "\n[COMM]\nCOMM1=" +
                                         sims_[i].SlavePath() + "\nedBound=9600\nedTimeOut=20\n"
                                         "[COMMAND]\n" + rows);
        }
        WriteProgFile("系统参数.INI", "[LOAD]\nchkManOperate=YES\nchkStartON=NO\n[RUN]\n"
                                     "sPowerFn=甲.PSW\n");
    }
    static std::string Hex(const std::string& ascii) {
        static const char* digits = "0123456789ABCDEF";
        std::string hex;
        for (unsigned char c : ascii) hex += std::string{digits[c >> 4], digits[c & 15]};
        return hex;
    }
    void Click(QWidget* widget, QPoint at) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, at);
        window_->Sync();
    }

    static constexpr const char* kFiles[2] = {"甲.PSW", "乙.PSW"};
    SimulatorProcess sims_[2];
};

TEST_F(SeveralControllersTest, BothStartAndAClickOnTheSecondsRelayReachesItsBoard) {
    Create();
    window_->show();
    ui::MonitorPage* page = window_->Page0();
    // Chosen with the check list, stored at once.
    Click(page->btnSeveral(), page->btnSeveral()->rect().center());
    ASSERT_NE(page->Dialog(), nullptr);
    QListWidget* list = page->Dialog()->List();
    for (const char* file : kFiles) {
        const auto found = list->findItems(QString::fromUtf8(file), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        const QRect item = list->visualItemRect(found.front());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(item.x() + 8, item.center().y()));
    }
    EXPECT_EQ(ReadIniText(Prog("系统参数.INI"), "RUN", "Controllers"), "乙.PSW,甲.PSW");
    page->Dialog()->accept();
    window_->Sync();
    ASSERT_TRUE(page->Strip()->isVisible());

    Click(page->btnRun(), page->btnRun()->rect().center());
    ASSERT_TRUE(model_->GetSite().Find("甲.PSW")->Running());
    ASSERT_TRUE(model_->GetSite().Find("乙.PSW")->Running());

    // The strip picks the second controller; the monitor shows its relays.
    Click(page->Strip(), page->Strip()->EntryRect("乙.PSW").center());
    EXPECT_EQ(model_->Monitor().Shown()->File(), "乙.PSW");
    EXPECT_EQ(model_->Monitor().cbRunDevList().Text(), "乙.PSW");
    ASSERT_TRUE(WaitFor([&] { return !model_->Monitor().StatesUnknown() &&
                                     model_->Monitor().Shown()->BlocksReceived() > 0; }, 20000));
    const std::size_t before = sims_[0].Commands().size();
    ui::MonitorGrid* grid = page->sgState();
    Click(grid, grid->CellRect(1, 2).center());
    ASSERT_TRUE(sims_[1].WaitForCommands(1, 20000));
    bool on2 = false;
    ASSERT_TRUE(WaitFor([&] {
        for (const SimulatorCommand& c : sims_[1].Commands()) on2 = on2 || c.text == "O(00,02,1)E";
        return on2;
    }, 20000));
    for (std::size_t i = before; i < sims_[0].Commands().size(); ++i)
        EXPECT_EQ(sims_[0].Commands()[i].text.rfind("O(", 0), std::string::npos)
            << "the first board got " << sims_[0].Commands()[i].text;

    Click(page->btnStop(), page->btnStop()->rect().center());
    EXPECT_FALSE(model_->GetSite().AnyRunning());
}

}  // namespace
}  // namespace ristova::test
