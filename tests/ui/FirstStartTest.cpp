// The built program copied alone into an empty folder and started there,
// headless and from another working folder: what the first start leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "base/Codec.h"
#include "base/IniFile.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

extern char** environ;

namespace ristova::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

TEST(FirstStartTest, AnEmptyFolderGetsTheSettingsTheSetupControllerAndThePluginFolder) {
    const char* build = std::getenv("RISTOVA_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    TempDir prog;
    TempDir config;
    const std::string exe = prog.File("ristova");
    fs::copy_file(fs::path(build) / "ristova", exe);

    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                    "XDG_CONFIG_DIRS=" + config.File("xdg"),
                                    "XDG_CONFIG_HOME=" + config.File("home"),
                                    "HOME=" + config.Path(), "XDG_RUNTIME_DIR=" + config.Path()};
    for (char** e = environ; *e; ++e) {
        const std::string s(*e);
        // Sanitizer builds pass their options (suppressions) on to the program.
        if (s.rfind("PATH=", 0) == 0 || s.rfind("LANG=", 0) == 0 ||
            s.find("SAN_OPTIONS=") != std::string::npos)
            env.push_back(s);
    }
    ChildProcess program;
    ChildProcess::Options options;
    options.workingDir = "/";
    options.env = &env;
    ASSERT_TRUE(program.Start({exe}, options)) << program.Error();

    const std::string settings = prog.File("系统参数.INI");
    const std::string controller = prog.File("未命名电源设备.PSW");
    // Up once it closes its window on SIGTERM, as the desktop would ask it
    // to; its first start on a fresh machine may take a while.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramStartMs);
    while (program.Running() && !program.Catches(SIGTERM) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(program.Running()) << "the program ended by itself";
    ASSERT_TRUE(program.Catches(SIGTERM)) << "the program did not come up";
    EXPECT_EQ(ReadIniText(settings, "LOAD", "chkManOperate"), "NO");
    EXPECT_TRUE(fs::exists(controller));
    const int status = program.Stop(30000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // The lock file stays: it is the lock that is released, not the file.
    EXPECT_EQ(Entries(prog.Path()),
              (std::set<std::string>{"ristova", "PowerDll", "系统参数.INI", "未命名电源设备.PSW",
                                     "运行记录.db", ".ristova.lock"}));
    EXPECT_TRUE(fs::is_directory(prog.File("PowerDll")));
    EXPECT_TRUE(Entries(prog.File("PowerDll")).empty());
    EXPECT_EQ(ReadIniText(settings, "LOAD", "chk4Level"), "YES");
    EXPECT_EQ(ReadIniText(settings, "LOAD", "chkRun"), "NO");
    EXPECT_EQ(ReadIniText(settings, "LOAD", "chkStartON"), "YES");
    EXPECT_EQ(ReadIniText(settings, "LOAD", "chkAutoDelete"), "NO");
    EXPECT_EQ(ReadIniText(settings, "LOAD", "chkManOperate"), "NO");
    EXPECT_EQ(ReadIniText(settings, "LOAD", "rbJDQ"), "");
    EXPECT_EQ(ReadIniText(controller, "LOAD", "FLAG"), "Quelmar电源控制文件");
    // Nothing was written into the autostart folders.
    EXPECT_FALSE(fs::exists(config.File("xdg/autostart/Ristova.desktop")));
}

}  // namespace
}  // namespace ristova::test
