// Two controllers on two simulated boards in one ristova-run, each with a
// plan of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "app/RunnerFixture.h"
#include "base/IniFile.h"
#include "run/Journal.h"
#include "support/Simulator.h"

namespace ristova {
namespace {

using Clock = std::chrono::system_clock;

class SiteRunTest : public ::testing::Test, public test::RunnerFixture {
  protected:
    // How late each of the commands arrived after the start of its second;
    // empty when one is missing.
    static std::vector<long long> Lateness(const test::SimulatorProcess& sim,
                                           const std::vector<std::pair<std::string, std::time_t>>& due) {
        std::vector<long long> late;
        for (const auto& [text, second] : due)
            for (const test::SimulatorCommand& c : sim.Commands())
                if (c.text == text)
                    late.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       c.firstByte - Clock::from_time_t(second))
                                       .count());
        return late;
    }
};

TEST_F(SiteRunTest, EachBoardGetsItsOwnPlanAndALostLineLeavesTheOtherAlone) {
    test::SimulatorProcess a, b;
    ASSERT_TRUE(a.Start({"--relays", "4"})) << a.Error();
    // The plan starts once the runner is surely up; the second board hangs
    // up between its two commands.
    const std::time_t t0 = std::time(nullptr) + 7;
    ASSERT_TRUE(b.Start({"--relays", "4", "--hangup-after", "10"})) << b.Error();
    MakeFolder(a.SlavePath(), t0,
               {{"1", test::TimeText(t0), "接通"}, {"1", test::TimeText(t0 + 4), "断开"},
                {"3", test::TimeText(t0 + 6), "接通"}});
    WriteController(4, b.SlavePath(), {}, "乙.PSW");
    WritePlan({{"2", test::TimeText(t0 + 1), "接通"}, {"2", test::TimeText(t0 + 5), "断开"}},
              "计划表.tab", "乙");
    WriteIniText(ctx.settingsFile, "RUN", "Controllers", std::string(kController) + ",乙.PSW");

    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    std::vector<std::string> lines;
    ASSERT_TRUE(test::ReadUntil(runner, " run engine started", lines, test::kProgramStartMs));
    ASSERT_TRUE(test::ReadUntil(runner, " 3 on plan sent ", lines, 30000));
    kill(runner.Pid(), SIGTERM);
    ASSERT_TRUE(runner.WaitExit(5000));
    EXPECT_EQ(test::ExitCode(runner.Status()), 0);

    // Each board its own commands, each in its second, also after the
    // other's line went away.
    const std::vector<long long> lateA =
        Lateness(a, {{test::OnCommand(1), t0}, {test::OffCommand(1), t0 + 4},
                     {test::OnCommand(3), t0 + 6}});
    ASSERT_EQ(lateA.size(), 3u);
    for (long long ms : lateA) {
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, 1000) << "a command left its second";
    }
    const std::vector<long long> lateB = Lateness(b, {{test::OnCommand(2), t0 + 1}});
    ASSERT_EQ(lateB.size(), 1u);
    EXPECT_LT(lateB[0], 1000);
    for (const test::SimulatorCommand& c : a.Commands()) EXPECT_NE(c.text, test::OnCommand(2));
    for (const test::SimulatorCommand& c : b.Commands()) EXPECT_NE(c.text, test::OnCommand(1));

    // The journal holds both controllers' rows; the second's line was lost.
    const Date today = test::Today();
    const auto rowsA = run::ReadJournalDay(dir.File(run::kJournalFileName), kController, today);
    const auto rowsB = run::ReadJournalDay(dir.File(run::kJournalFileName), "乙.PSW", today);
    auto count = [](const std::vector<run::RunEvent>& rows, const std::string& kind,
                    const std::string& result) {
        int n = 0;
        for (const run::RunEvent& e : rows) n += e.kind == kind && e.result == result;
        return n;
    };
    EXPECT_EQ(count(rowsA, "on", "sent"), 2);
    EXPECT_EQ(count(rowsB, "on", "sent"), 1);
    EXPECT_GE(count(rowsB, "line", "lost"), 1);
    EXPECT_EQ(count(rowsA, "line", "lost"), 0);
}

}  // namespace
}  // namespace ristova
