#include "app/Settings.h"

#include <gtest/gtest.h>

#include "app/IniFile.h"
#include "app/ModuleStartup.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;

TEST(ModuleStartup, SettingsFileLiesBesideTheProgram) {
    TempDir dir;
    std::string folder = dir.Path();
    folder.pop_back();
    EXPECT_TRUE(InitializeModule(folder).ok);  // this machine has a fine counter
    EXPECT_EQ(SettingsFileName(), dir.File("系统参数.INI"));
    InitializeModule();
    EXPECT_EQ(SettingsFileName().substr(SettingsFileName().rfind('/')), "/系统参数.INI");
}

TEST(ModuleStartup, CoarseOrMissingCounterStopsTheProgram) {
    EXPECT_TRUE(CheckCounter(0, timespec{0, 1}).ok);
    EXPECT_TRUE(CheckCounter(0, timespec{0, 1'000'000}).ok);
    EXPECT_FALSE(CheckCounter(0, timespec{0, 1'000'001}).ok);
    EXPECT_FALSE(CheckCounter(0, timespec{1, 0}).ok);
    const ModuleStartupResult failed = CheckCounter(-1, timespec{0, 1});
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message,
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

    for (const char* yes : {"YES", "Yes", "yes", "TRUE", "true"}) {
        WriteIniText(file, "load", "CHKRUN", yes);
        EXPECT_TRUE(ReadSwitch(file, kChkRun)) << yes;
    }
    for (const char* no : {"NO", "1", "on", ""}) {
        WriteIniText(file, "LOAD", kChk4Level, no);
        EXPECT_FALSE(ReadSwitch(file, kChk4Level)) << no;
    }
    WriteSwitch(file, kChkManOperate, true);
    EXPECT_EQ(ReadIniText(file, "LOAD", "chkManOperate"), "YES");
    WriteSwitch(file, kChkManOperate, false);
    EXPECT_EQ(ReadIniText(file, "LOAD", "chkManOperate"), "NO");
}

}  // namespace
}  // namespace ristova
