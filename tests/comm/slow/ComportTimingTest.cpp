// Timing and fault scenarios of the serial component against the simulated
// controller; each takes seconds, hence the "slow" label.
#include <unistd.h>

#include "comm/ComportFixture.h"
#include "support/Simulator.h"

namespace ristova::test {
namespace {

using namespace std::chrono_literals;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

using ComportTiming = ComportFixture;

TEST_F(ComportTiming, AnIdleOpenPortCostsNoCpu) {
    ASSERT_TRUE(port.OpenPort());
    double before = CpuSeconds();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(CpuSeconds() - before, 0.02);
}

TEST_F(ComportTiming, SilenceLongerThanReadTimeoutEndsABlock) {
    port.SetReadTimeout(60);
    ASSERT_TRUE(port.OpenPort());
    // Gaps well inside the time-out keep one block, a long gap starts another.
    for (char c : std::string("abcd")) {
        pty.Write(std::string(1, c));
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(300ms);
    pty.Write("ef");
    ASSERT_TRUE(PumpUntilReceived(6));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], "abcd");
    EXPECT_EQ(blocks[1], "ef");
}

TEST_F(ComportTiming, ControllerThatHangsUpAndComesBackUnderTheSameName) {
    EnableLog();
    std::string link = dir.File("ttyRELAY");
    SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--link", link, "--hangup-after", "1", "--split"})) << sim.Error();
    port.SetCommPort(link);
    ASSERT_TRUE(port.OpenPort());
    ASSERT_TRUE(port.SendData("Q(00)E", 6));
    ASSERT_TRUE(PumpUntilReceived(15));
    EXPECT_EQ(Received(), "S(00,00000000)E");

    ASSERT_TRUE(sim.WaitExit(3000));
    ASSERT_TRUE(WaitForLog(" Read thread shutting down"));
    EXPECT_NE(Log().find("ERROR_INVALID_HANDLE"), std::string::npos);
    EXPECT_NE(port.CommFileHandle(), kNoHandle);
    double before = CpuSeconds();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(CpuSeconds() - before, 0.05) << "no spinning on a dead device";

    SimulatorProcess again;
    ASSERT_TRUE(again.Start({"--link", link})) << again.Error();
    port.ClosePort();
    blocks.clear();
    ASSERT_TRUE(port.OpenPort());
    ASSERT_TRUE(port.SendData("O(00,03,1)EQ(00)E", 17));
    ASSERT_TRUE(PumpUntilReceived(15));
    EXPECT_EQ(Received(), "S(00,00100000)E");
    ASSERT_TRUE(again.WaitForCommands(2, 2000));
    EXPECT_EQ(again.Commands()[0].text, "O(00,03,1)E");
}

}  // namespace
}  // namespace ristova::test
