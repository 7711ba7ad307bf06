// The folder lock's file on POSIX: made in the folder itself, never through
// a link that someone put in its place.
#include "base/FolderLock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "base/Files.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

TEST(FolderLockTest, ALinkInPlaceOfTheLockFileIsRefusedAndItsTargetNotMade) {
    test::TempDir dir;
    const std::string folder = dir.Path() + "box/";
    ASSERT_TRUE(ForceDirectories(folder));
    const std::string lockFile = folder + kFolderLockFileName;

    // Dangling: its target would be created with our rights.
    const std::string target = dir.Path() + "elsewhere";
    ASSERT_EQ(::symlink(target.c_str(), lockFile.c_str()), 0);
    FolderLock lock;
    EXPECT_EQ(lock.Acquire(folder), FolderLock::Result::Link);
    EXPECT_NE(lock.Error().find(lockFile), std::string::npos) << lock.Error();
    EXPECT_FALSE(FileExists(target));

    // To a file that exists: not locked through the link either.
    dir.Write("existing", "keep");
    ASSERT_EQ(::unlink(lockFile.c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("existing").c_str(), lockFile.c_str()), 0);
    EXPECT_EQ(lock.Acquire(folder), FolderLock::Result::Link);
    EXPECT_EQ(dir.Read("existing"), "keep");

    ASSERT_EQ(::unlink(lockFile.c_str()), 0);
    EXPECT_EQ(lock.Acquire(folder), FolderLock::Result::Locked);
}

}  // namespace
}  // namespace ristova
