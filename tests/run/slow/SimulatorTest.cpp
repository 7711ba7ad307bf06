// The engine against the simulated controller, decoding its answers with
// the project's own decoder plug-in.
#include <gtest/gtest.h>

#include <string>

#include "run/EngineFixture.h"
#include "run/RunPage.h"
#include "support/Simulator.h"

namespace ristova::run {
namespace {

class SimulatorTest : public ::testing::Test, public test::EngineFixture {
  protected:
    void StartOn(const std::string& port) {
        WriteController(4, port);
        WritePlan(
            {{"2", "08:00:01", "接通"}, {"4", "08:00:01", "接通"}, {"2", "08:00:02", "断开"}});
        clock.Set(Date{2012, 3, 18}, 8, 0, 0, 500);
        Prepared().btnRunClick();
        ASSERT_TRUE(ShownRun().Port().IsOpen());
    }
    // A check tick, then the 200 ms tick until the monitor shows `states`.
    bool TickUntil(int second, const std::string& states) {
        clock.Set(Date{2012, 3, 18}, 8, 0, second, 0);
        Engine().tmCheckTimer();
        return MonitorShows(states);
    }
    bool MonitorShows(const std::string& states) {
        return poster.PumpUntil(
            [&] {
                Engine().tmRunTimer();
                std::string shown;
                for (int r = 1; r <= 4; ++r) shown += Engine().sgState().Cell(1, r);
                return shown == states;
            },
            3000);
    }
};

TEST_F(SimulatorTest, TimedAndManualSwitchingShowUpInTheMonitor) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    StartOn(sim.SlavePath());
    ASSERT_TRUE(TickUntil(1, "0101"));
    EXPECT_EQ(Engine().sJDQState(), "0101");
    ASSERT_TRUE(TickUntil(2, "0001"));
    // By hand: relay 4 is on, so a click switches it off; relay 1 is off.
    Engine().sgStateMouseDown(MouseButton::Left, 1, 4);
    ASSERT_TRUE(MonitorShows("0000"));
    Engine().sgStateMouseDown(MouseButton::Left, 1, 1);
    ASSERT_TRUE(MonitorShows("1000"));
    EXPECT_EQ(status.Panel(3), " 接收数据:" + test::Hex("S(00,1000)E"));
}

}  // namespace
}  // namespace ristova::run
