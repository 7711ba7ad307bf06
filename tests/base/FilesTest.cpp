#include "base/Files.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

TEST(Files, ListFolderFilesMatchesMaskWithoutCaseListsEveryKindSortedByName) {
    TempDir dir;
    for (const char* name : {"a.PSW", "b.psw", "系统.Psw", "c.tab"}) dir.Write(name, "");
    ASSERT_TRUE(ForceDirectories(dir.File("sub.psw/计划")));
    std::vector<std::string> list{"stale"};
    ListFolderFiles(list, dir.Path().substr(0, dir.Path().size() - 1), "*.PSW");
    EXPECT_THAT(list, ElementsAre("a.PSW", "b.psw", "sub.psw", "系统.Psw"));
    ListFolderFiles(list, dir.Path(), "*");
    EXPECT_EQ(list.size(), 5u);  // no "." or ".."

    const std::string readOnly = dir.File("a.PSW");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    EXPECT_TRUE(IsReadOnlyFile(readOnly));
    ForceDeleteFile(readOnly);
    EXPECT_FALSE(FileExists(readOnly));
}

TEST(Files, APipeUnderAFileNameReadsAsNoFileAndIsNotWritten) {
    TempDir dir;
    const std::string fifo = dir.File("fifo.INI");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::string bytes = "stale";
    EXPECT_FALSE(ReadFileBytes(fifo, bytes));  // would block for ever on open or read
    EXPECT_EQ(bytes, "");
    EXPECT_THROW(WriteFileAtomically(fifo, "x"), OperatorError);
}

TEST(Files, AtomicWriteKeepsPermissionsAndWritesThroughLinks) {
    TempDir dir;
    const std::string path = dir.Write("real", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const std::string link = dir.File("link");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    WriteFileAtomically(link, "new");
    EXPECT_EQ(dir.Read("real"), "new");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(Files, RefusedWritesKeepTheOldContentAndLeaveNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.Write("ro.INI", "old");
    auto refused = [](const std::string& target) {
        try {
            WriteFileAtomically(target, std::string(1000, 'x'));
        } catch (const OperatorError& e) {
            return std::string(e.what()) == "Unable to write to " + target;
        }
        return false;
    };
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(refused(path));  // even as root
    EXPECT_TRUE(refused(dir.File("missing/x.INI")));

    // A write that fails half-way: the file size limit stands in for a full disk.
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool fullDiskRefused = refused(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_TRUE(fullDiskRefused);

    EXPECT_EQ(dir.Read("ro.INI"), "old");
    std::vector<std::string> left;
    ListFolderFiles(left, dir.Path(), "*");
    EXPECT_THAT(left, UnorderedElementsAre("ro.INI"));
}

}  // namespace
}  // namespace ristova
