// The Windows backends of base: file names through the wide calls, the
// read-only attribute, the folder lock, the Run key, the code page, the
// timers and the loop's waits.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/EventLoop.h"
#include "base/Files.h"
#include "base/FolderLock.h"
#include "base/IniFile.h"
#include "base/Registry.h"
#include "base/SecondTicker.h"
#include "base/win32/Waits.h"
#include "base/win32/Wide.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;
using ::testing::ElementsAre;

TEST(Win32Files, ChineseNamesWorkWhateverTheAnsiCodePage) {
    // The ANSI code page here is not 936: only wide calls reach these names.
    TempDir dir;
    const std::string folder = dir.File("泵房");
    ASSERT_TRUE(ForceDirectories(folder + "/计划"));
    EXPECT_TRUE(DirectoryExists(folder + "/计划/"));
    const std::string settings = folder + "/系统参数.INI";
    WriteIniText(settings, "RUN", "sPowerFn", "测试.PSW");
    EXPECT_EQ(ReadIniText(settings, "RUN", "sPowerFn"), "测试.PSW");
    WriteFileAtomically(folder + "/测试.PSW", "[LOAD]\r\n");
    EXPECT_TRUE(IsRegularFile(folder + "/测试.PSW"));
    std::vector<std::string> list;
    ListFolderFiles(list, folder, "*.psw");
    EXPECT_THAT(list, ElementsAre("测试.PSW"));
    // No match through a short 8.3 name: "*.PSW" is not "a.PSWX".
    dir.Write("泵房/a.PSWX", "");
    ListFolderFiles(list, folder, "*.PSW");
    EXPECT_THAT(list, ElementsAre("测试.PSW"));
    EXPECT_EQ(ExtractFilePath(ExecutablePath()), ExecutableFolder());
    EXPECT_EQ(ExecutablePath().find('\\'), std::string::npos);
    EXPECT_EQ(FromNativePath("C:\\数据\\泵房"), "C:/数据/泵房");
}

TEST(Win32Files, TheReadOnlyAttributeRefusesWritesAndTheOldContentStays) {
    TempDir dir;
    const std::string path = dir.Write("只读.tab", "old");
    const std::wstring wide = win32::WidePath(path);
    ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(IsReadOnlyFile(path));
    EXPECT_FALSE(CanWrite(path));
    EXPECT_THROW(WriteFileAtomically(path, "new"), OperatorError);
    EXPECT_EQ(dir.Read("只读.tab"), "old");
    ForceDeleteFile(path);
    EXPECT_FALSE(FileExists(path));

    // A rewrite replaces the file (a new index) and leaves no temporary file.
    const std::string kept = dir.Write("kept.INI", "one");
    const FileStamp before = StampOf(kept);
    WriteFileAtomically(kept, "two!");
    const FileStamp after = StampOf(kept);
    EXPECT_TRUE(after.exists);
    EXPECT_EQ(after.size, 4);
    EXPECT_NE(before, after);
    std::vector<std::string> list;
    ListFolderFiles(list, dir.Path(), "*");
    EXPECT_THAT(list, ElementsAre("kept.INI"));
    EXPECT_TRUE(CanWrite(dir.Path()));
    EXPECT_FALSE(CanWrite(dir.File("missing")));
}

// A secret file's access list, as the token and password checks read it.
TEST(Win32Files, OthersMayReadFollowsTheAccessList) {
    TempDir dir;
    const auto make = [&](const char* name, const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const std::string path = dir.File(name);
        const HANDLE file = ::CreateFileW(win32::WidePath(path).c_str(), GENERIC_WRITE, 0,
                                          &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << name;
        ::CloseHandle(file);
        ::LocalFree(descriptor);
        return path;
    };
    // Everyone ("WD") may read; only the owner, system and administrators.
    EXPECT_TRUE(OthersMayRead(make("open.txt", L"D:P(A;;FR;;;WD)(A;;FA;;;SY)")));
    EXPECT_FALSE(OthersMayRead(make("own.txt", L"D:P(A;;FA;;;SY)(A;;FA;;;BA)")));
    // Users ("BU") may write but not read: no secret is shown.
    EXPECT_FALSE(OthersMayRead(make("drop.txt", L"D:P(A;;FW;;;BU)(A;;FA;;;SY)")));
    // The advice names who must go.
    EXPECT_NE(OwnerOnlyAdvice(dir.File("open.txt"), "chmod 600 it").find("/remove *S-1-1-0"),
              std::string::npos);
    EXPECT_FALSE(OthersMayRead(dir.File("missing.txt")));
}

TEST(Win32FolderLock, ASecondLockOfTheFolderIsRefusedUntilTheFirstGoes) {
    TempDir dir;
    FolderLock first;
    ASSERT_EQ(first.Acquire(dir.Path()), FolderLock::Result::Locked);
    FolderLock second;
    EXPECT_EQ(second.Acquire(dir.Path()), FolderLock::Result::InUse);
    first.Release();
    EXPECT_EQ(second.Acquire(dir.Path()), FolderLock::Result::Locked);
    FolderLock nowhere;
    EXPECT_EQ(nowhere.Acquire(dir.File("no/such/")), FolderLock::Result::Failed);
    EXPECT_FALSE(nowhere.Error().empty());
}

TEST(Win32Registry, TheRunValueIsWrittenReadAndDeleted) {
    const std::string name = "RistovaTest" + std::to_string(::GetCurrentProcessId());
    const std::string command = ExecArgument("C:/Program Files/电源 管理/ristova.exe") +
                                " --folder " + ExecArgument("D:/泵房/");
    // Backslashes before the closing quote are doubled, or they would escape it.
    EXPECT_EQ(command, "\"C:\\Program Files\\电源 管理\\ristova.exe\" --folder D:\\泵房\\");
    EXPECT_EQ(ExecArgument("C:/a b/"), "\"C:\\a b\\\\\"");
    EXPECT_EQ(ExecArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    ASSERT_TRUE(WriteRegistryText(RegistryRoot::CurrentUser, kRunKey, name, command));
    EXPECT_TRUE(RegistryTextEquals(RegistryRoot::CurrentUser,
                                   "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", name,
                                   command));
    EXPECT_EQ(ReadRunValue(RegistryRoot::CurrentUser, name), command);
    EXPECT_FALSE(WriteRegistryText(RegistryRoot::CurrentUser, "software\\other", name, "x"));
    DeleteRegistryValue(RegistryRoot::CurrentUser, kRunKey, name);
    EXPECT_EQ(ReadRunValue(RegistryRoot::CurrentUser, name), "");
    EXPECT_EQ(AutostartFolder(RegistryRoot::LocalMachine),
              "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\");
}

TEST(Win32Codec, CodePage936BothWaysWithBadBytesReplaced) {
    EXPECT_EQ(codec::ToCodePage("通信状态 ok"), "\xCD\xA8\xD0\xC5\xD7\xB4\xCC\xAC ok");
    EXPECT_EQ(codec::FromCodePage("\xCD\xA8\xD0\xC5 ok"), "通信 ok");
    // A lead byte without its trail, and one that starts nothing.
    EXPECT_EQ(codec::FromCodePage("a\xD6"), "a\xEF\xBF\xBD");
    EXPECT_EQ(codec::FromCodePage("\xFF"
                                  "b\xD6\xD0"),
              "\xEF\xBF\xBD"
              "b中");
    // Broken UTF-8: one '?' for each broken character, the rest kept.
    EXPECT_EQ(codec::ToCodePage("x\xE4\xB8y中"), "x?y\xD6\xD0");
    EXPECT_EQ(codec::ToCodePage(""), "");
}

TEST(Win32Timers, TheTickerWakesAtTheNextWholeSecondAndStaysQuietWhenStopped) {
    SecondTicker ticker;
    ticker.Start();
    ASSERT_EQ(::WaitForSingleObject(ticker.Handle(), 1500), WAIT_OBJECT_0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count() %
                    1000;
    EXPECT_LT(ms, 100) << "woke " << ms << " ms into the second";
    const SecondTicker::Reading r = ticker.Read();
    EXPECT_EQ(r.ticks, 1u);
    EXPECT_FALSE(r.clockStepped);
    // Read re-armed it: not signalled until the next second.
    EXPECT_EQ(ticker.Read().ticks, 0u);
    EXPECT_EQ(::WaitForSingleObject(ticker.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_EQ(::WaitForSingleObject(ticker.Handle(), 1500), WAIT_OBJECT_0);
    ticker.Stop();
    EXPECT_EQ(::WaitForSingleObject(ticker.Handle(), 1200), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Win32Loop, PostedCallsAndTimersRunUntilTheStopRequest) {
    EventLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) loop.Post([&, i] { order.push_back(i); });
    });
    IntervalTimer timer;
    int ticks = 0;
    timer.Start(10);
    loop.Watch(timer.Handle(), [&] {
        ticks += static_cast<int>(timer.Read());
        if (ticks >= 3 && order.size() == 50) {
            timer.Stop();
            // What a console's Ctrl+C or a service's stop turns into.
            win32::RaiseStopSignal(SIGINT);
        }
    });
    EXPECT_EQ(loop.Run(), SIGINT);
    poster.join();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
    EXPECT_GE(ticks, 3);
    // The stop was taken: the next round waits again.
    loop.Post([&] { loop.Quit(); });
    EXPECT_EQ(loop.Run(), 0);
}

}  // namespace
}  // namespace ristova
