// A start that puts the board where the day's plan wants it, and a board
// that does not follow its commands, over the simulated controller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/EngineFixture.h"
#include "run/Journal.h"
#include "run/RunPage.h"
#include "support/Simulator.h"

namespace ristova::run {
namespace {

constexpr Date kDay{2012, 3, 18};

class RestoreConfirmTest : public ::testing::Test, public test::EngineFixture {
  protected:
    void TearDown() override {
        if (journal) Engine().Events().Remove(journal.get());
    }
    void StartAt(int hour, int minute, const std::vector<std::string>& simArgs,
                 const std::vector<int>& startOn = {}) {
        const std::string link = dir.File("ttyRelay");
        std::vector<std::string> args = {"--relays", "3", "--link", link};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        ASSERT_TRUE(sim.Start(args)) << sim.Error();
        WriteController(3, link, startOn);
        clock.Set(kDay, hour, minute, 0, 500);
        Prepared();
        journal = std::make_unique<Journal>(dir.Path());
        Engine().Events().Add(journal.get());
        Engine().btnRunClick();
        ASSERT_TRUE(Engine().Running());
    }
    std::vector<std::string> Switches() const {
        std::vector<std::string> out;
        for (const test::SimulatorCommand& c : sim.Commands())
            if (c.text[0] == 'O') out.push_back(c.text);
        return out;
    }
    // One check tick a second; the board's answer is decoded before the next.
    void RunSeconds(int hour, int minute, int from, int to) {
        for (int s = from; s <= to; ++s) {
            clock.Set(kDay, hour, minute, s);
            const std::size_t asked = sim.Commands().size();
            Engine().tmCheckTimer();
            ASSERT_TRUE(sim.WaitForCommands(asked + 1, 3000));
            poster.PumpUntil([&] { return false; }, 150);
        }
    }

    test::SimulatorProcess sim;
    std::unique_ptr<Journal> journal;
};

TEST_F(RestoreConfirmTest, AStartLateInTheDayPutsTheBoardWhereThePlanWantsIt) {
    WritePlan({{"1", "07:00:00", "接通"}, {"2", "06:00:00", "接通"}, {"2", "07:01:00", "断开"},
               {"3", "09:00:00", "接通"}});
    boxes.chkStartON = true;
    boxes.chkRestoreOnStart = true;
    StartAt(7, 5, {}, {2});
    // Relay 2's start-on command stands; relay 3 has nothing due yet.
    ASSERT_TRUE(sim.WaitForCommands(2, 2000));
    EXPECT_EQ(Switches(), (std::vector<std::string>{test::OnCommand(2), test::OnCommand(1)}));
    auto restored = [&] {
        journal->Flush();
        int sent = 0;
        for (const RunEvent& e : ReadJournalDay(journal->FilePath(), kController, kDay))
            sent += e.source == "restore" && e.result == "sent" ? 1 : 0;
        return sent;
    };
    // "sent" is journaled once the writer has written the bytes.
    EXPECT_TRUE(poster.PumpUntil([&] { return restored() == 1; }, 3000));
}

TEST_F(RestoreConfirmTest, WithoutRestoreOnlyTheStartOnCommandsGo) {
    WritePlan({{"1", "07:00:00", "接通"}, {"3", "07:02:00", "接通"}});
    boxes.chkStartON = true;
    StartAt(7, 5, {}, {2});
    RunSeconds(7, 5, 1, 2);
    EXPECT_EQ(Switches(), std::vector<std::string>{test::OnCommand(2)});
}

TEST_F(RestoreConfirmTest, ARelayThatDoesNotFollowIsJournaledFramedAndNamed) {
    WritePlan({{"1", "07:05:01", "接通"}, {"2", "07:05:01", "接通"}, {"2", "07:05:05", "断开"}});
    StartAt(7, 5, {"--stuck", "2"});
    RunSeconds(7, 5, 1, 3);
    EXPECT_FALSE(Engine().RelayMismatch(1));
    EXPECT_TRUE(Engine().RelayMismatch(2));
    EXPECT_EQ(status.Panel(3), " 继电器2未按指令动作");
    RunSeconds(7, 5, 4, 4);
    EXPECT_TRUE(Engine().RelayMismatch(2)) << "framed until it follows";
    journal->Flush();
    std::vector<std::string> mismatches;
    for (const RunEvent& e : ReadJournalDay(journal->FilePath(), kController, kDay))
        if (e.kind == "mismatch")
            mismatches.push_back(std::to_string(e.relay) + " " + e.source + " " + e.result + " " +
                                 e.detail);
    EXPECT_EQ(mismatches, std::vector<std::string>{"2 board 0 wanted 1"});
    // Once the board shows what the plan wants, the frame goes.
    RunSeconds(7, 5, 5, 5);
    EXPECT_FALSE(Engine().RelayMismatch(2));
}

}  // namespace
}  // namespace ristova::run
