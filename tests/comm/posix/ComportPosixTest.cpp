// The component on POSIX devices: device paths, flock against other
// processes, descriptors that must not leak, a link that leads nowhere.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "comm/ComportFixture.h"

namespace ristova::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int OpenDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator{}));
}

using Comport = ComportFixture;

TEST_F(Comport, DevicePathOfPortNames) {
    EXPECT_EQ(TMyComport::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(TMyComport::DevicePath("COM16"), "/dev/ttyS15");
    EXPECT_EQ(TMyComport::DevicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(TMyComport::DevicePath("/dev/serial/by-id/usb-x"), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(TMyComport::DevicePath("COM0"), "COM0");
    EXPECT_EQ(TMyComport::DevicePath("COMX"), "COMX");
    EXPECT_EQ(TMyComport::DevicePath("COM1a"), "COM1a");
    EXPECT_EQ(TMyComport::DevicePath("COM99999"), "/dev/ttyS99998");
    EXPECT_EQ(TMyComport::DevicePath("COM100000"), "COM100000");
}

TEST_F(Comport, DeviceIsUsedExclusively) {
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    int handle = port.CommFileHandle();
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.CommFileHandle(), handle);
    EXPECT_NE(Log().find(" 端口已经打开" + pty.SlavePath()), std::string::npos);

    TMyComport other(poster);
    other.SetCommPort(pty.SlavePath());
    EXPECT_FALSE(other.OpenPort());
    EXPECT_EQ(other.CommFileHandle(), -1);
    EXPECT_NE(Log().find("打开端口失败:" + pty.SlavePath()), std::string::npos);

    // Another process cannot take it either.
    pid_t child = fork();
    if (child == 0) {
        int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 1);

    // The first connection still works both ways.
    ASSERT_TRUE(port.SendData("ok", 2));
    EXPECT_EQ(pty.Read(2, 2000), "ok");
    pty.Write("back");
    EXPECT_TRUE(PumpUntilReceived(4));

    // Released at close, for this process and others.
    port.ClosePort();
    EXPECT_TRUE(other.OpenPort());
}

TEST_F(Comport, FailedOpensLeaveItClosedAndLeakNothing) {
    EnableLog();
    int descriptors = OpenDescriptors();
    port.SetCommPort("/dev/ristova-no-such-device");
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.CommFileHandle(), -1);
    EXPECT_NE(Log().find("打开端口失败:/dev/ristova-no-such-device"), std::string::npos);
    EXPECT_FALSE(port.LastError().empty());

    // Not terminals: a character device and a plain file.
    for (std::string path : {std::string("/dev/null"), dir.Write("plain", "x")}) {
        port.SetCommPort(path);
        EXPECT_FALSE(port.OpenPort()) << path;
        EXPECT_EQ(port.CommFileHandle(), -1);
        EXPECT_NE(Log().find("打开端口类型错误:" + path), std::string::npos);
    }
    port.ClosePort();
    // The log file is open while a logging instance is between OpenPort and
    // ClosePort; the devices must not be.
    EXPECT_LE(OpenDescriptors(), descriptors + 1);

    port.SetCommPort(pty.SlavePath());
    EXPECT_TRUE(port.OpenPort());
    EXPECT_TRUE(port.LastError().empty());
}

TEST_F(Comport, FarEndHangUpEndsWorkersAndCloseOpenRecovers) {
    EnableLog();
    // The component knows the device by a name that survives the device,
    // like a USB adapter that is pulled and plugged in again.
    std::string link = dir.File("ttyLINK");
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
    port.SetCommPort(link);
    int ended = 0;
    port.SetOnLineEnded([&] { ++ended; });
    ASSERT_TRUE(port.OpenPort());
    pty.Write("up");
    ASSERT_TRUE(PumpUntilReceived(2));
    EXPECT_FALSE(port.DeviceGone());

    pty.CloseMaster();
    ASSERT_TRUE(WaitForLog(" Read thread shutting down"));
    EXPECT_NE(Log().find("ERROR_INVALID_HANDLE"), std::string::npos) << Log();
    EXPECT_GE(port.CommFileHandle(), 0) << "stays Open until ClosePort";
    // The owner hears of it on its own thread, once for both workers.
    EXPECT_TRUE(poster.PumpUntil([&] { return ended == 1; }, 2000));
    EXPECT_TRUE(port.LineEnded());

    // No spinning on the dead device.
    double cpu = CpuSeconds();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(CpuSeconds() - cpu, 0.1);

    // The transmit worker ends at its next write; SendData fails after that.
    std::vector<SendFate> fates;
    EXPECT_TRUE(port.SendData("x", 1, [&](SendFate f, Clock::time_point) { fates.push_back(f); }));
    ASSERT_TRUE(WaitForLog(" Write thread shutting down"));
    EXPECT_TRUE(poster.PumpUntil([&] { return !fates.empty(); }, 2000));
    EXPECT_EQ(fates, std::vector<SendFate>{SendFate::Failed});
    EXPECT_FALSE(port.SendData("y", 1));
    EXPECT_NE(Log().find(" 不能给Write thread发送消息!"), std::string::npos);
    poster.PumpFor(100);
    EXPECT_EQ(ended, 1);

    ASSERT_EQ(unlink(link.c_str()), 0);
    EXPECT_TRUE(port.DeviceGone()) << "the name leads nowhere";
    port.ClosePort();
    EXPECT_EQ(port.CommFileHandle(), -1);
    EXPECT_FALSE(port.LineEnded());
    PtyPair replugged;
    ASSERT_EQ(symlink(replugged.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_TRUE(port.OpenPort());
    EXPECT_FALSE(port.DeviceGone());
    replugged.Write("alive");
    EXPECT_TRUE(PumpUntilReceived(7));
    ASSERT_TRUE(port.SendData("yes", 3));
    EXPECT_EQ(replugged.Read(3, 2000), "yes");
    // A close of one's own is no line that ended.
    port.ClosePort();
    poster.PumpFor(100);
    EXPECT_EQ(ended, 1);
}

}  // namespace
}  // namespace ristova::test
