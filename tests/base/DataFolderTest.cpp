// Where the data lives and where plug-ins are found.
#include "base/DataFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/CommandLine.h"
#include "base/Files.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

TEST(DataFolderTest, PortableInstalledAndGivenFolders) {
    test::TempDir dir;
    const std::string exe = dir.Path() + "bin/";
    ASSERT_TRUE(ForceDirectories(exe));
    const FolderEnv env{"", "/home/op"};
    EXPECT_EQ(ChooseProgramFolder("", exe, env), exe);
    EXPECT_EQ(ChooseProgramFolder("/srv/box", exe, env), "/srv/box/");

    // Installed: the plug-in folder beside it, and (for all but root) no write bits.
    ASSERT_TRUE(ForceDirectories(InstalledPluginFolder(exe)));
    ASSERT_EQ(::chmod(exe.c_str(), 0555), 0);
    EXPECT_EQ(ChooseProgramFolder("", exe, env), "/home/op/.local/share/ristova/");
    EXPECT_EQ(ChooseProgramFolder("", exe, FolderEnv{"/xdg/data", "/home/op"}),
              "/xdg/data/ristova/");
    // A relative XDG_DATA_HOME is not a base directory.
    EXPECT_EQ(ChooseProgramFolder("", exe, FolderEnv{"rel", "/home/op"}),
              "/home/op/.local/share/ristova/");
    EXPECT_EQ(ChooseProgramFolder("/srv/box/", exe, env), "/srv/box/");
    // No home: nothing is chosen (never a folder under /tmp) unless named.
    for (const FolderEnv& homeless : {FolderEnv{"", ""}, FolderEnv{"rel", "rel"}})
        EXPECT_EQ(ChooseProgramFolder("", exe, homeless), "");
    EXPECT_EQ(ChooseProgramFolder("", exe, FolderEnv{"/xdg", ""}), "/xdg/ristova/");
    EXPECT_EQ(ChooseProgramFolder("/srv/box", exe, FolderEnv{}), "/srv/box/");
    ::chmod(exe.c_str(), 0755);
}

TEST(DataFolderTest, AUsersPluginShadowsAnInstalledOneOfTheSameName) {
    test::TempDir dir;
    const std::string user = dir.Path() + "user/", installed = dir.Path() + "sys/";
    ASSERT_TRUE(ForceDirectories(user) && ForceDirectories(installed));
    dir.Write("user/Mine.so", "u");
    dir.Write("user/Both.so", "u");
    dir.Write("sys/Both.so", "s");
    dir.Write("sys/Shipped.so", "s");
    dir.Write("sys/readme.txt", "s");

    EXPECT_EQ(ListPluginFiles(user, installed),
              (std::vector<std::string>{"Both.so", "Mine.so", "Shipped.so"}));
    EXPECT_EQ(PluginFolderOf(user, installed, "Both.so"), user);
    EXPECT_EQ(PluginFolderOf(user, installed, "Shipped.so"), installed);
    EXPECT_EQ(PluginFolderOf(user, installed, "Missing.so"), user);
    EXPECT_EQ(ListPluginFiles(user, dir.Path() + "none/"),
              (std::vector<std::string>{"Both.so", "Mine.so"}));
}

TEST(DataFolderTest, CommandLineTakesOurOptionsAndLeavesTheRest) {
    const char* args[] = {"ristova", "--folder", "/srv/a", "-platform", "offscreen", "--version"};
    CommandLine cl = ParseCommandLine(6, const_cast<char**>(args));
    EXPECT_EQ(cl.folder, "/srv/a");
    EXPECT_TRUE(cl.version);
    EXPECT_EQ(cl.other, (std::vector<std::string>{"-platform", "offscreen"}));
    EXPECT_TRUE(cl.error.empty());

    const char* bad[] = {"ristova", "--folder"};
    EXPECT_FALSE(ParseCommandLine(2, const_cast<char**>(bad)).error.empty());
    const char* eq[] = {"ristova", "--folder=/x"};
    EXPECT_EQ(ParseCommandLine(2, const_cast<char**>(eq)).folder, "/x");
}

}  // namespace
}  // namespace ristova
