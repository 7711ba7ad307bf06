// A run over the simulated controller, journaled: every kind of event the
// engine publishes reaches the file with its source and result.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "run/EngineFixture.h"
#include "run/Journal.h"
#include "run/RunPage.h"
#include "support/Simulator.h"

namespace ristova::run {
namespace {

class JournalRunTest : public ::testing::Test, public test::EngineFixture {};

TEST_F(JournalRunTest, ARunOverTheSimulatorIsInTheJournal) {
    test::SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    WriteController(4, sim.SlavePath(), {4});
    WritePlan({{"2", "08:00:01", "接通"}, {"3", "08:00:02", "接通"}});
    boxes.chkStartON = true;
    Journal journal(dir.Path(), ctx.settingsFile);
    Engine().Events().Add(&journal);
    clock.Set(Date{2012, 3, 18}, 8, 0, 0, 500);
    Prepared().btnRunClick();
    clock.Set(Date{2012, 3, 18}, 8, 0, 1, 0);
    Engine().tmCheckTimer();
    // A late tick: second 2 is caught up.
    clock.Set(Date{2012, 3, 18}, 8, 0, 3, 0);
    Engine().tmCheckTimer();
    ASSERT_TRUE(poster.PumpUntil([&] { return Engine().sJDQState() == "0111"; }, 3000));
    Engine().tmRunTimer();
    Engine().sgStateMouseDown(MouseButton::Left, 1, 2);
    ASSERT_TRUE(poster.PumpUntil([&] { return Engine().sJDQState() == "0011"; }, 3000));
    Engine().btnStopClick();
    Engine().Events().Remove(&journal);
    journal.Flush();

    std::set<std::string> seen;
    for (const RunEvent& e : ReadJournalDay(journal.FilePath(), kController, Date{2012, 3, 18})) {
        seen.insert(e.kind + " " + e.source + " " + e.result + " " + std::to_string(e.relay));
        EXPECT_EQ(e.at.substr(0, 17), "2012-03-18 08:00:");
    }
    for (const char* want :
         {"run engine plan chosen 0", "run engine started 0", "on start-on sent 4",
          "on plan sent 2", "on catch-up sent 3", "state board 1 2", "state board 1 3",
          "state board 1 4", "off manual sent 2", "state board 0 2", "run engine stopped 0"}) {
        EXPECT_TRUE(seen.count(want)) << want;
    }
    EXPECT_EQ(journal.Dropped(), 0u);
}

}  // namespace
}  // namespace ristova::run
