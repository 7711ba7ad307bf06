#include "app/Files.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>

#include "app/Errors.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;
using ::testing::UnorderedElementsAre;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

void ExpectRefused(const std::string& path, std::string_view bytes) {
    try {
        WriteFileAtomically(path, bytes);
        ADD_FAILURE() << "write to " << path << " was not refused";
    } catch (const OperatorError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

TEST(Files, ListFolderFilesMatchesMaskWithoutCaseAndListsEveryKind) {
    TempDir dir;
    dir.Write("a.PSW", "");
    dir.Write("b.psw", "");
    dir.Write("系统.Psw", "");
    dir.Write("c.tab", "");
    ASSERT_EQ(::mkdir(dir.File("sub.psw").c_str(), 0755), 0);
    std::vector<std::string> list{"stale"};
    std::string folder = dir.Path();
    folder.pop_back();  // the separator is added when missing
    ListFolderFiles(list, folder, "*.PSW");
    EXPECT_THAT(list, UnorderedElementsAre("a.PSW", "b.psw", "系统.Psw", "sub.psw"));
    ListFolderFiles(list, dir.Path(), "*");
    EXPECT_EQ(list.size(), 5u);  // no "." or ".."
    ListFolderFiles(list, dir.File("missing"), "*");
    EXPECT_TRUE(list.empty());
}

TEST(Files, ForceDeleteFileRemovesReadOnlyFiles) {
    TempDir dir;
    const std::string path = dir.Write("ro.PSW", "x");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(IsReadOnlyFile(path));
    ForceDeleteFile(path);
    EXPECT_FALSE(FileExists(path));
    ForceDeleteFile(path);  // missing: nothing happens
}

TEST(Files, ExistenceAndFolders) {
    TempDir dir;
    const std::string file = dir.Write("f", "");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_FALSE(IsReadOnlyFile(file));
    EXPECT_FALSE(IsReadOnlyFile(dir.File("missing")));
    EXPECT_TRUE(ForceDirectories(dir.File("a/b/计划")));
    EXPECT_TRUE(DirectoryExists(dir.File("a/b/计划/")));
    EXPECT_FALSE(ForceDirectories(file + "/below"));
}

TEST(Files, AtomicWriteCreatesReplacesAndKeepsPermissions) {
    TempDir dir;
    const std::string path = dir.File("设置.INI");
    WriteFileAtomically(path, "one");
    EXPECT_EQ(dir.Read("设置.INI"), "one");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WriteFileAtomically(path, "two");
    EXPECT_EQ(dir.Read("设置.INI"), "two");
    EXPECT_EQ(ModeOf(path), 0640u);
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ(bytes, "two");
    EXPECT_FALSE(ReadFileBytes(dir.File("missing"), bytes));
    EXPECT_FALSE(ReadFileBytes(dir.Path(), bytes));
}

TEST(Files, AtomicWriteThroughSymbolicLinkKeepsTheLink) {
    TempDir dir;
    const std::string real = dir.Write("real", "old");
    const std::string link = dir.File("link");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    WriteFileAtomically(link, "new");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.Read("real"), "new");
}

TEST(Files, RefusedWritesKeepTheOldContentAndLeaveNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.Write("ro.INI", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ExpectRefused(path, "new");  // refused even when running as root
    EXPECT_EQ(dir.Read("ro.INI"), "old");
    ExpectRefused(dir.File("missing/x.INI"), "new");

    // A write that fails half-way (the file size limit stands in for a full disk).
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &small);
    bool refused = false;
    try {
        WriteFileAtomically(path, std::string(1000, 'x'));
    } catch (const OperatorError&) {
        refused = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_TRUE(refused);
    EXPECT_EQ(dir.Read("ro.INI"), "old");

    std::vector<std::string> left;
    ListFolderFiles(left, dir.Path(), "*");
    EXPECT_THAT(left, UnorderedElementsAre("ro.INI"));
}

TEST(Files, PathParts) {
    EXPECT_EQ(ExtractFilePath("/opt/r/系统参数.INI"), "/opt/r/");
    EXPECT_EQ(ExtractFileName("/opt/r/系统参数.INI"), "系统参数.INI");
    EXPECT_EQ(ExtractFilePath("name"), "");
    EXPECT_EQ(RemoveLastExtension("AB.C.PSW"), "AB.C");
    EXPECT_EQ(RemoveLastExtension("/a.b/name"), "/a.b/name");
    EXPECT_EQ(ChangeFileExt("Quelmar电源控制器.PSW", ".tab"), "Quelmar电源控制器.tab");
    EXPECT_EQ(IncludeTrailingSeparator("/opt"), "/opt/");
    EXPECT_EQ(IncludeTrailingSeparator("/opt/"), "/opt/");
    const std::string exe = ExecutableFolder();
    EXPECT_EQ(exe.back(), '/');
    EXPECT_TRUE(DirectoryExists(exe));
}

}  // namespace
}  // namespace ristova
