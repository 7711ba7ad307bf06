// The component on Windows devices: port names, the port held alone,
// failed opens, a hang-up and the same name opened again. The far end is a
// pseudo-terminal behind the COM port under Wine (support/win32/far_end.py);
// what every platform shares is in comm/ComportTest.cpp.
#include <thread>

#include "comm/ComportFixture.h"
#include "comm/PortDiscovery.h"

namespace ristova::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using SerialPort = ComportFixture;

TEST_F(SerialPort, APortIsHeldAlone) {
    EXPECT_EQ(TMyComport::DevicePath("com12"), "\\\\.\\COM12");
    EXPECT_EQ(TMyComport::DevicePath("COM0"), "COM0");
    ASSERT_TRUE(port.OpenPort());
    TMyComport other(poster);
    other.SetCommPort(pty.SlavePath());
    EXPECT_FALSE(other.OpenPort());
    EXPECT_EQ(other.LastOpenFailure(), PortOpenFailure::Busy);
    EXPECT_EQ(other.CommFileHandle(), kNoHandle);
    port.ClosePort();
    EXPECT_TRUE(other.OpenPort()) << other.LastError();
}

TEST_F(SerialPort, FailedOpensLeaveItClosedAndSayWhy) {
    EnableLog();
    port.SetCommPort("COM99");
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.LastOpenFailure(), PortOpenFailure::NoDevice);
    EXPECT_EQ(port.OpenFailureReason(), "端口不存在");
    // Devices and files that are no serial line.
    for (const std::string& path : {std::string("\\\\.\\NUL"), dir.Write("plain", "x")}) {
        port.SetCommPort(path);
        EXPECT_FALSE(port.OpenPort()) << path;
        EXPECT_EQ(port.CommFileHandle(), kNoHandle);
        EXPECT_NE(Log().find("打开端口类型错误:" + path), std::string::npos) << path;
    }
    port.SetCommPort(pty.SlavePath());
    EXPECT_TRUE(port.OpenPort()) << port.LastError();
}

TEST_F(SerialPort, AHangUpEndsTheLineAndTheSameNameOpensAgain) {
    EnableLog();
    const std::string name = pty.SlavePath();
    int ended = 0;
    port.SetOnLineEnded([&] { ++ended; });
    ASSERT_TRUE(port.OpenPort());
    pty.Write("up");
    ASSERT_TRUE(PumpUntilReceived(2));

    pty.CloseMaster();
    ASSERT_TRUE(WaitForLog(" Read thread shutting down", 5000)) << Log();
    EXPECT_NE(port.CommFileHandle(), kNoHandle) << "stays open until ClosePort";
    EXPECT_TRUE(poster.PumpUntil([&] { return ended == 1; }, 3000));
    EXPECT_TRUE(port.LineEnded());
    // The transmit worker ends at its next write at the latest.
    std::vector<SendFate> fates;
    port.SendData("x", 1, [&](SendFate f, Clock::time_point) { fates.push_back(f); });
    EXPECT_TRUE(poster.PumpUntil([&] { return !fates.empty(); }, 3000));
    poster.PumpFor(100);
    EXPECT_EQ(ended, 1);

    // A new device under the same name, as an adapter plugged in again.
    port.ClosePort();
    PtyPair again;
    ASSERT_EQ(again.SlavePath(), name) << "the helper hands out the freed line first";
    port.SetOnLineEnded({});
    ASSERT_TRUE(port.OpenPort()) << port.LastError();
    ASSERT_TRUE(port.SendData("ok", 2));
    EXPECT_EQ(again.Read(2, 3000), "ok");
}

}  // namespace
}  // namespace ristova::test
