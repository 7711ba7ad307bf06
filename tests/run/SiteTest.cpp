// The site's choice of runs and its port rules.
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/IniFile.h"
#include "controller/SetupPage.h"
#include "run/EngineFixture.h"
#include "run/Site.h"

namespace ristova::run {
namespace {

class SiteTest : public ::testing::Test, public test::EngineFixture {
  protected:
    test::PtyPair far;
    test::PtyPair other;
};

TEST_F(SiteTest, TwoControllersOnOnePortAreRefusedAndTheTestPortStaysOffARunsPort) {
    WriteController(2, far.SlavePath());
    WriteController(2, far.SlavePath(), {}, "乙.PSW");
    WriteController(2, other.SlavePath(), {}, "丙.PSW");
    WriteIniText(ctx.settingsFile, "RUN", "Controllers", " 泵房.PSW, 乙.PSW,丙.PSW,乙.psw,");
    Site& site = GetSite();
    site.Configure();
    ASSERT_TRUE(site.Several());
    ASSERT_EQ(site.Runs().size(), 3u);
    try {
        site.StartAll();
        ADD_FAILURE() << "the second controller on the port was not refused";
    } catch (const OperatorError& e) {
        EXPECT_EQ(std::string(e.what()),
                  SamePortText("泵房.PSW", "乙.PSW", far.SlavePath()));
    }
    EXPECT_TRUE(site.Find("泵房.PSW")->Running());
    EXPECT_FALSE(site.Find("乙.PSW")->Running());
    EXPECT_TRUE(site.Find("丙.PSW")->Running()) << "the others start all the same";

    // The setup page's test port names the run that holds its port.
    controller::SetupPage setup(ctx, com1);
    setup.SetPortHolder([&](const std::string& port) { return site.PortHolder(port); });
    setup.InitControllerList();
    setup.cbComm1Typed(other.SlavePath());
    EXPECT_FALSE(setup.InitTestPort());
    EXPECT_EQ(setup.lbComState(), "串口状态：端口正由运行中的控制器丙.PSW使用");
    EXPECT_FALSE(com1.IsOpen());
    site.StopAll();
    EXPECT_TRUE(setup.InitTestPort());
}

}  // namespace
}  // namespace ristova::run
