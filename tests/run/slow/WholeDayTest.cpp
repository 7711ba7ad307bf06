// A whole day in fast time over a real serial line, and the simulated
// controller answering through the real decoder.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "run/EngineFixture.h"
#include "run/RunPage.h"

namespace ristova::run {
namespace {

using test::Hex;
using test::OffCommand;
using test::OnCommand;

class WholeDayTest : public ::testing::Test, public test::EngineFixture {
  protected:
    test::PtyPair far;
};

// The transmit worker leaves 50 ms between blocks, so a query in each of
// 86400 seconds would take more than an hour: the day runs without one, and
// every byte on the line is a plan action's.
TEST_F(WholeDayTest, EveryActionOnceInItsSecondInPlanOrder) {
    constexpr int kRelays = 6;
    WriteController(kRelays, far.SlavePath());
    WriteIniText(ControllerFile(), "LOAD", "edStateCmd", "");
    // Random rows, some sharing a second, with the first and last second of
    // the day and a relay beyond the count.
    std::mt19937 random(20120318);
    std::vector<test::PlanRow> rows;
    std::map<int, std::string> expected;  // second -> commands in plan order
    auto add = [&](int relay, int second, bool on) {
        rows.push_back({std::to_string(relay), SecondsToTimeText(second), on ? "接通" : "断开"});
        if (relay <= kRelays) expected[second] += on ? OnCommand(relay) : OffCommand(relay);
    };
    add(1, 0, true);
    add(2, 86399, true);
    for (int i = 0; i < 120; ++i) {
        const int second = static_cast<int>(random() % 86400);
        add(static_cast<int>(random() % kRelays) + 1, second, random() % 2 == 0);
        if (i % 10 == 0) add(static_cast<int>(random() % kRelays) + 1, second, true);
    }
    add(kRelays + 1, 43200, true);
    WritePlan(rows);

    clock.Set(Date{2012, 3, 18}, 0, 0, 0, 0);
    Prepared().btnRunClick();
    ASSERT_TRUE(ShownRun().Port().IsOpen());
    int mismatches = 0;
    for (int second = 0; second < 86400 && mismatches < 5; ++second) {
        clock.SetSecond(second);
        Engine().tmCheckTimer();
        auto it = expected.find(second);
        if (it == expected.end()) continue;
        const std::string& want = it->second;
        const std::string got = far.Read(want.size(), 2000);
        if (got != want) {
            ADD_FAILURE() << "second " << second << ": got " << got << ", want " << want;
            ++mismatches;
        }
    }
    EXPECT_EQ(test::Drain(far, 100), "");
    EXPECT_TRUE(Engine().Running());
}

}  // namespace
}  // namespace ristova::run
