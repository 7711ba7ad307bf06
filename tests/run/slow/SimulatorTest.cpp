// The engine against the simulated controller, decoding its answers with
// the project's own decoder plug-in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
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

// 500 requests from the broker at once, a plan action due 2 s later: the
// line's queue keeps one request a relay, serves the plan first, and each
// request is journaled sent or dropped for a newer one. The engine's seconds
// pass twice as fast as the line's, so that requests still wait when the
// plan falls due (a terminal takes bytes without a baud rate's delay).
TEST_F(SimulatorTest, AFloodOfRequestsNeverHoldsUpThePlan) {
    using namespace std::chrono;
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "32"})) << sim.Error();
    WriteController(32, sim.SlavePath());
    WritePlan({{"32", "08:00:02", "接通"}});
    struct : IRunEventSink {
        int sent = 0, replaced = 0, other = 0, planSent = 0;
        void OnRunEvent(const RunEvent& e) override {
            if (e.source == "plan") planSent += e.result == "sent";
            if (e.source != "remote") return;
            if (e.result == "sent")
                ++sent;
            else if (e.result == "dropped" && e.detail == kReplaced)
                ++replaced;
            else
                ++other;
        }
    } fates;
    Engine().Events().Add(&fates);
    clock.Set(Date{2012, 3, 18}, 8, 0, 0, 500);
    Prepared().btnRunClick();

    std::string wanted(32, '0');
    const auto floodAt = steady_clock::now();
    for (int i = 0; i < 500; ++i) {
        const int relay = i % 32 + 1;
        const bool on = (i / 32 + relay) % 2 == 1;
        wanted[relay - 1] = on ? '1' : '0';
        EXPECT_EQ(ShownRun().Switch(relay, on, "remote"), SwitchResult::Queued);
    }
    ASSERT_EQ(wanted[31], '0') << "the plan's command must be the newer one";
    wanted[31] = '1';
    // Pumps while the condition is looked at every few ms.
    auto pumpUntil = [&](const std::function<bool()>& done, int timeoutMs) {
        const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
        while (!done() && steady_clock::now() < deadline) poster.PumpFor(5);
        return done();
    };
    auto tickAt = [&](int second) {
        pumpUntil([&] { return steady_clock::now() >= floodAt + milliseconds(500 * second); },
                  5000);
        clock.Set(Date{2012, 3, 18}, 8, 0, second, 0);
        const auto start = system_clock::now();
        Engine().tmCheckTimer();
        return start;
    };
    tickAt(1);
    const auto secondStart = tickAt(2);
    system_clock::time_point planAt{};
    ASSERT_TRUE(pumpUntil(
        [&] {
            for (const auto& c : sim.Commands())
                if (c.firstByte >= secondStart && c.text == test::OnCommand(32))
                    planAt = c.firstByte;
            return planAt != system_clock::time_point{};
        },
        10000));
    const double ms = duration<double, std::milli>(planAt - secondStart).count();
    std::printf(
        "plan action's first byte, behind a flood of 500 requests: %.1f ms after its "
        "second began\n",
        ms);
    EXPECT_LT(ms, 1000.0);

    ASSERT_TRUE(pumpUntil([&] { return fates.sent + fates.replaced == 500; }, 10000));
    EXPECT_EQ(fates.other, 0);
    EXPECT_EQ(fates.planSent, 1);
    int requestsAfter = 0;
    for (const auto& c : sim.Commands()) requestsAfter += c.firstByte > planAt && c.text[0] == 'O';
    EXPECT_GT(requestsAfter, 0) << "the plan went ahead of the waiting requests";
    // Each relay as its latest request (or the plan after it) left it.
    clock.Set(Date{2012, 3, 18}, 8, 0, 3, 0);
    Engine().tmCheckTimer();
    EXPECT_TRUE(poster.PumpUntil([&] { return Engine().sJDQState() == wanted; }, 5000))
        << Engine().sJDQState() << " wanted " << wanted;
    Engine().Events().Remove(&fates);
}

}  // namespace
}  // namespace ristova::run
