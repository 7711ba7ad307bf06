// A run line that hangs up, comes late, splits or garbles its answers, over
// the simulated controller. The engine's clock is the fixture's, so the 2 s
// and 5 s of the line watch pass at once; the line itself is real.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "run/EngineFixture.h"
#include "run/RunPage.h"
#include "support/Simulator.h"

namespace ristova::run {
namespace {

constexpr Date kDay{2012, 3, 18};

class EventLog : public IRunEventSink {
  public:
    void OnRunEvent(const RunEvent& event) override { events.push_back(event); }
    std::vector<std::string> Of(const std::string& source) const {
        std::vector<std::string> out;
        for (const RunEvent& e : events)
            if (e.source == source) out.push_back(e.kind + " " + std::to_string(e.relay) + " " +
                                                  e.result);
        return out;
    }
    std::vector<RunEvent> events;
};

class LineFaultTest : public ::testing::Test, public test::EngineFixture {
  protected:
    void SetUp() override { link = dir.File("ttyRelay"); }
    // The log goes before the engine, which still publishes its stop.
    void TearDown() override { Engine().Events().Remove(&log); }
    void Start(int relays, const std::string& port) {
        WriteController(relays, port);
        clock.Set(kDay, 8, 0, 0, 500);
        Prepared().Events().Add(&log);
        Engine().btnRunClick();
        ASSERT_TRUE(Engine().Running());
    }
    void TickAt(int second, int ms = 0) {
        clock.Set(kDay, 8, 0, second, ms);
        Engine().tmCheckTimer();
    }
    bool PumpUntil(const std::function<bool()>& pred, int ms = 3000) {
        return poster.PumpUntil(pred, ms);
    }
    std::vector<std::string> Logged(const test::SimulatorProcess& sim) const {
        std::vector<std::string> out;
        for (const test::SimulatorCommand& c : sim.Commands())
            if (c.text[0] == 'O') out.push_back(c.text);
        return out;
    }
    std::string States() const {
        std::string shown;
        for (int r = 1; r < Engine().sgState().RowCount(); ++r) shown += Engine().sgState().Cell(1, r);
        return shown;
    }
    RunPage& Engine() const { return const_cast<LineFaultTest*>(this)->EngineFixture::Engine(); }

    std::string link;
    EventLog log;
};

TEST_F(LineFaultTest, AHangUpIsReportedAndTheBoardIsPutBackOnTheSameLink) {
    WritePlan({{"1", "08:00:01", "接通"},
               {"2", "08:00:02", "接通"},
               {"2", "08:00:04", "断开"},
               {"3", "08:00:05", "接通"},
               {"1", "08:00:09", "断开"}});
    test::SimulatorProcess first;
    ASSERT_TRUE(first.Start({"--relays", "4", "--link", link, "--hangup-after", "1.5"}))
        << first.Error();
    Start(4, link);
    EXPECT_EQ(Engine().Line(), LineState::Normal);
    TickAt(1);
    TickAt(2);
    ASSERT_TRUE(PumpUntil([&] { Engine().tmRunTimer(); return States() == "1100"; }));
    ASSERT_TRUE(first.WaitExit(5000));
    // Noticed by the receive worker, without a tick.
    ASSERT_TRUE(PumpUntil([&] { return Engine().Line() == LineState::Lost; }));
    EXPECT_EQ(Engine().lbCom(), "通信状态:通信中断,正在重新连接");
    EXPECT_TRUE(Engine().LbComAlarm());
    EXPECT_TRUE(Engine().StatesUnknown());
    EXPECT_EQ(States(), "1100") << "the last known states stay";
    TickAt(3);  // reopen due only from 2 s after the loss
    TickAt(4);
    EXPECT_EQ(status.Panel(3), " 通信中断,未发送:" + test::Hex(test::OffCommand(2)));
    // A click on an unknown state sends nothing.
    Engine().sgStateMouseDown(MouseButton::Left, 1, 4);
    EXPECT_EQ(status.Panel(3), " 继电器状态未知,不能手动切换");

    test::SimulatorProcess second;
    ASSERT_TRUE(second.Start({"--relays", "4", "--link", link})) << second.Error();
    TickAt(5);
    ASSERT_EQ(Engine().Line(), LineState::Normal);
    EXPECT_EQ(Engine().lbCom(), "通信状态:已重新连接");
    EXPECT_FALSE(Engine().LbComAlarm());
    // Each relay its last command up to now, in relay order; relay 4 had none.
    const std::vector<std::string> reasserted = {test::OnCommand(1), test::OffCommand(2),
                                                 test::OnCommand(3)};
    ASSERT_TRUE(second.WaitForCommands(4, 3000));
    EXPECT_EQ(Logged(second), reasserted);
    // Each is journaled once the writer has written it.
    ASSERT_TRUE(PumpUntil([&] { return log.Of("re-assert").size() == 3; }));
    EXPECT_EQ(log.Of("re-assert"),
              (std::vector<std::string>{"on 1 sent", "off 2 sent", "on 3 sent"}));
    ASSERT_TRUE(PumpUntil([&] { Engine().tmRunTimer(); return States() == "1010"; }));
    EXPECT_FALSE(Engine().StatesUnknown());
    // Timed commands go on, each once.
    for (int s = 6; s <= 9; ++s) TickAt(s);
    ASSERT_TRUE(PumpUntil([&] { Engine().tmRunTimer(); return States() == "0010"; }));
    std::vector<std::string> expected = reasserted;
    expected.push_back(test::OffCommand(1));
    EXPECT_EQ(Logged(second), expected);

    std::vector<std::string> line;
    for (const RunEvent& e : log.events)
        if (e.kind == "line") line.push_back(e.source + " " + e.result);
    EXPECT_EQ(line, (std::vector<std::string>{"engine lost", "engine reconnected"}));
    // The action of the reconnect's second fell due before the reopen.
    EXPECT_EQ(log.Of("plan"), (std::vector<std::string>{"on 1 sent", "on 2 sent", "off 2 not-sent",
                                                        "on 3 not-sent", "off 1 sent"}));
}

TEST_F(LineFaultTest, APortMissingAtStartIsOpenedOnceItAppears) {
    WritePlan({{"2", "08:00:01", "接通"}});
    Start(2, link);
    EXPECT_EQ(Engine().Line(), LineState::Lost);
    TickAt(1);
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "2", "--link", link})) << sim.Error();
    TickAt(2);
    EXPECT_FALSE(ShownRun().Port().IsOpen()) << "1.5 s after the start";
    TickAt(3);
    EXPECT_TRUE(ShownRun().Port().IsOpen());
    EXPECT_EQ(Engine().lbCom(), "通信状态:已重新连接");
    ASSERT_TRUE(sim.WaitForCommands(1, 3000));
    EXPECT_EQ(Logged(sim), (std::vector<std::string>{test::OnCommand(2)}));
    ASSERT_TRUE(PumpUntil([&] { Engine().tmRunTimer(); return States() == "01"; }));
}

TEST_F(LineFaultTest, SplitAnswersAreJoinedAtTheDefaultReadTimeOut) {
    WritePlan({{"2", "08:00:01", "接通"}, {"4", "08:00:01", "接通"}});
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4", "--split"})) << sim.Error();
    Start(4, sim.SlavePath());
    TickAt(1);
    ASSERT_TRUE(PumpUntil([&] { Engine().tmRunTimer(); return States() == "0101"; }));
    // A toggle now goes against the true state: relay 2 is switched off.
    Engine().sgStateMouseDown(MouseButton::Left, 1, 2);
    ASSERT_TRUE(PumpUntil([&] { Engine().tmRunTimer(); return States() == "0001"; }));
    EXPECT_EQ(Engine().Line(), LineState::Normal);
}

TEST_F(LineFaultTest, GarbageAnswersLeaveTheStatesUnknownAfterFiveSeconds) {
    WritePlan({});
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4", "--garbage"})) << sim.Error();
    Start(4, sim.SlavePath());
    for (int s = 1; s <= 4; ++s) {
        TickAt(s);
        ASSERT_TRUE(PumpUntil([&] { return sim.Commands().size() >= static_cast<std::size_t>(s); }));
    }
    poster.PumpFor(200);
    EXPECT_EQ(Engine().Line(), LineState::Normal) << "3.5 s without an answer";
    TickAt(5, 600);
    EXPECT_EQ(Engine().Line(), LineState::NoAnswer);
    EXPECT_EQ(Engine().lbCom(), "通信状态:无应答");
    EXPECT_TRUE(Engine().StatesUnknown());
    Engine().sgStateMouseDown(MouseButton::Left, 1, 1);
    EXPECT_EQ(status.Panel(3), " 继电器状态未知,不能手动切换");
    // Stopping forgets the line: no fault is claimed for a stopped program.
    Engine().btnStopClick();
    EXPECT_EQ(Engine().lbCom(), "通信状态：");
    EXPECT_EQ(Engine().Line(), LineState::Normal);
}

}  // namespace
}  // namespace ristova::run
