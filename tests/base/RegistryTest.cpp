#include "base/Registry.h"

#include <sys/stat.h>
#include <cstdlib>

#include <gtest/gtest.h>

#include "base/Files.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;

constexpr auto kMachine = RegistryRoot::LocalMachine;

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
        ::setenv("XDG_CONFIG_DIRS", (dir_.File("etc") + ":" + dir_.File("other")).c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir_.File("home").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_DIRS");
        ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("HOME", home_.c_str(), 1);
    }
    TempDir dir_;
    std::string home_;
};

TEST_F(RegistryTest, RootsMapToAutostartFolders) {
    EXPECT_EQ(AutostartFolder(RegistryRoot::Users), dir_.File("home/autostart/"));
    ::unsetenv("XDG_CONFIG_DIRS");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored, as the XDG rules say
    ::setenv("HOME", dir_.File("h").c_str(), 1);
    EXPECT_EQ(AutostartFolder(kMachine), "/etc/xdg/autostart/");
    EXPECT_EQ(AutostartFolder(RegistryRoot::CurrentUser), dir_.File("h/.config/autostart/"));
}

TEST_F(RegistryTest, RunValueIsADesktopEntry) {
    // The value is the Exec= command line; a blank survives in a quoted argument.
    const std::string command =
        ExecArgument("/opt/电源 管理/ristova") + " --folder " + ExecArgument("/srv/泵房/");
    WriteRegistryText(kMachine, kRunKey, "Ristova", command);
    EXPECT_EQ(dir_.Read("etc/autostart/Ristova.desktop"),
              "[Desktop Entry]\nType=Application\nName=Ristova\n"
              "Exec=\"/opt/电源 管理/ristova\" --folder /srv/泵房/\n");
    EXPECT_TRUE(RegistryTextEquals(kMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                                   "Ristova", "\"/OPT/电源 管理/RISTOVA\" --folder /srv/泵房/"));
    EXPECT_FALSE(RegistryTextEquals(kMachine, kRunKey, "Ristova", "/opt/电源 管理/ristova"));
    // Quoting and the value's own escapes come back as written.
    const std::string odd = ExecArgument("/opt/a\"b$c`d\\e%f/ristova");
    EXPECT_EQ(odd, "\"/opt/a\\\"b\\$c\\`d\\\\e%%f/ristova\"");
    WriteRegistryText(kMachine, kRunKey, "Ristova", odd);
    EXPECT_TRUE(RegistryTextEquals(kMachine, kRunKey, "Ristova", odd));

    DeleteRegistryValue(kMachine, kRunKey, "Ristova");
    EXPECT_FALSE(RegistryTextEquals(kMachine, kRunKey, "Ristova", odd));
    EXPECT_TRUE(RegistryTextEquals(kMachine, kRunKey, "Ristova", ""));  // absent reads empty

    dir_.Write("etc/autostart/Ristova.desktop",
               "[Other]\nExec=/wrong\n[Desktop Entry]\r\nExec='/opt/r'\\s\"/x y\"\r\n");
    EXPECT_TRUE(RegistryTextEquals(kMachine, kRunKey, "Ristova", "'/opt/r' \"/x y\""));
}

TEST_F(RegistryTest, OtherKeysBadNamesAndMissingRightsDoNothing) {
    WriteRegistryText(kMachine, "software\\other", "Ristova", "/x");
    WriteRegistryText(kMachine, kRunKey, "../escape", "/x");
    EXPECT_FALSE(DirectoryExists(dir_.File("etc")));
    EXPECT_TRUE(RegistryTextEquals(kMachine, "software\\other", "Ristova", ""));

    dir_.Write("etc", "a file where the folder should be");
    WriteRegistryText(kMachine, kRunKey, "Ristova", "/x");
    EXPECT_FALSE(RegistryTextEquals(kMachine, kRunKey, "Ristova", "/x"));
    WriteRegistryText(RegistryRoot::CurrentUser, kRunKey, "Ristova", "/old");
    ASSERT_EQ(::chmod(dir_.File("home/autostart/Ristova.desktop").c_str(), 0444), 0);
    WriteRegistryText(RegistryRoot::CurrentUser, kRunKey, "Ristova", "/new");
    EXPECT_TRUE(RegistryTextEquals(RegistryRoot::CurrentUser, kRunKey, "Ristova", "/old"));
}

}  // namespace
}  // namespace ristova
