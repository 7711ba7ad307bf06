#include "base/Settings.h"

#include <gtest/gtest.h>

#include "base/IniFile.h"
#include "app/ModuleStartup.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;

TEST(ModuleStartup, SettingsFileAndCounterCheck) {
    TempDir dir;
    EXPECT_TRUE(InitializeModule(dir.Path().substr(0, dir.Path().size() - 1)).ok);
    EXPECT_EQ(SettingsFileName(), dir.File("系统参数.INI"));
    EXPECT_TRUE(CheckCounter(0, timespec{0, 1'000'000}).ok);
    EXPECT_FALSE(CheckCounter(0, timespec{0, 1'000'001}).ok);
    EXPECT_FALSE(CheckCounter(0, timespec{1, 0}).ok);
    EXPECT_EQ(CheckCounter(-1, timespec{0, 1}).message,
              "对不起,发现该计算机没有高性能计数器.\n请升级您的计算机和操作系统.系统退出");
}

TEST(Settings, SwitchesReadTheirDefaultsAndAnyCaseOfYes) {
    TempDir dir;
    const std::string file = dir.File("系统参数.INI");
    using namespace settings;
    EXPECT_TRUE(ReadSwitch(file, kChk4Level));
    EXPECT_FALSE(ReadSwitch(file, kChkRun));
    EXPECT_TRUE(ReadSwitch(file, kChkStartON));
    EXPECT_FALSE(ReadSwitch(file, kChkAutoDelete));
    EXPECT_FALSE(ReadSwitch(file, kChkManOperate));
    WriteIniText(file, "load", "CHKRUN", "True");
    EXPECT_TRUE(ReadSwitch(file, kChkRun));
    WriteIniText(file, "LOAD", kChk4Level, "");  // present but empty: no default
    EXPECT_FALSE(ReadSwitch(file, kChk4Level));
    WriteSwitch(file, kChkManOperate, true);
    EXPECT_EQ(ReadIniText(file, "LOAD", "chkManOperate"), "YES");
}

}  // namespace
}  // namespace ristova
