// What the engine publishes while it runs: commands with their source and
// result, decoded state changes and run events, stamped by its clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run/EngineFixture.h"
#include "run/EventTexts.h"
#include "run/RunEngine.h"
#include "run/RunEvents.h"

namespace ristova::run {
namespace {

using test::Hex;
using test::OnCommand;

constexpr Date kDay{2012, 3, 18};

struct Recorder : IRunEventSink {
    void OnRunEvent(const RunEvent& e) override { events.push_back(e); }
    // "kind source result relay" of each event, for compact expectations.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const RunEvent& e : events)
            lines.push_back(e.kind + " " + e.source + " " + e.result + " " + std::to_string(e.relay));
        return lines;
    }
    std::vector<RunEvent> events;
};

// A base before the engine's, so that the recorder outlives the engine: a
// stop at tear-down still publishes.
struct RecorderHolder {
    Recorder rec;
};

class RunEventsTest : public ::testing::Test, public RecorderHolder, public test::EngineFixture {
  protected:
    test::PtyPair far;
};

TEST_F(RunEventsTest, ARunPublishesEveryCommandStateAndRunEvent) {
    WriteController(3, far.SlavePath(), {3});
    WritePlan({{"1", "08:00:01", "接通"}, {"2", "08:00:03", "接通"}, {"2", "08:00:04", "断开"}});
    boxes.chkStartON = true;
    Engine().Events().Add(&rec);
    clock.Set(kDay, 8, 0, 0, 250);
    Prepared().btnRunClick();
    clock.Set(kDay, 8, 0, 1, 5);
    Engine().tmCheckTimer();
    // A late tick: the action of second 3 is caught up in second 4's tick.
    clock.Set(kDay, 8, 0, 5, 0);
    Engine().tmCheckTimer();
    // The board answers: relay 1 and 3 on; the same answer again changes nothing.
    const std::string answer = "S(00,101)E";
    Engine().COMRUNReceiveData(answer.data(), static_cast<std::uint16_t>(answer.size()));
    Engine().COMRUNReceiveData(answer.data(), static_cast<std::uint16_t>(answer.size()));
    Engine().tmRunTimer();
    Engine().sgStateMouseDown(MouseButton::Left, 1, 1);
    Engine().btnStopClick();
    EXPECT_EQ(rec.Lines(), (std::vector<std::string>{
                               "run engine plan chosen 0", "run engine started 0",
                               "on start-on sent 3",       "on plan sent 1",
                               "on catch-up sent 2",       "off catch-up sent 2",
                               "state board 1 1",          "state board 0 2",
                               "state board 1 3",          "off manual sent 1",
                               "run engine stopped 0"}));
    EXPECT_EQ(rec.events[0].detail, "计划表.tab");
    EXPECT_EQ(rec.events[0].controller, "泵房.PSW");
    EXPECT_EQ(rec.events[2].at, "2012-03-18 08:00:00.250");
    EXPECT_EQ(rec.events[3].at, "2012-03-18 08:00:01.005");
    EXPECT_EQ(rec.events[3].detail, Hex(OnCommand(1)));
}

TEST_F(RunEventsTest, CommandsThatDoNotLeaveAreNotSentWithTheReason) {
    WriteController(2, "/dev/no-such-port");
    WritePlan({{"1", "08:00:01", "接通"}});
    Engine().Events().Add(&rec);
    clock.Set(kDay, 8, 0, 0, 500);
    Prepared().btnRunClick();
    clock.Set(kDay, 8, 0, 1, 0);
    Engine().tmCheckTimer();
    // A port that does not open is a lost line: the action is withheld.
    ASSERT_EQ(rec.events.size(), 4u);
    EXPECT_EQ(rec.events[1].detail, "port not opened");
    EXPECT_EQ(rec.events[2].kind, "line");
    EXPECT_EQ(rec.events[2].result, "lost");
    EXPECT_EQ(rec.events[3].result, "not-sent");
    EXPECT_EQ(rec.events[3].source, "plan");
}

TEST_F(RunEventsTest, AChangeOfDateIsPublishedWithTheNewDaysPlan) {
    WriteController(2, far.SlavePath());
    WritePlan({{"1", "08:00:01", "接通"}});
    clock.Set(kDay, 23, 59, 59, 0);
    Prepared();
    Engine().Events().Add(&rec);
    clock.Set(kDay.AddDays(1), 0, 0, 0, 10);
    Engine().Timer1Timer();
    ASSERT_FALSE(rec.events.empty());
    const auto lines = rec.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "run engine plan chosen 0"), lines.end());
    EXPECT_EQ(lines.back(), "run engine date change 0");
    EXPECT_EQ(rec.events.back().detail, "2012-03-19");
}

}  // namespace
}  // namespace ristova::run

namespace ristova::run {
namespace {

TEST_F(RunEventsTest, TheStopAtAChangeOfControllerBelongsToTheRunsController) {
    WriteController(2, far.SlavePath());
    WriteController(2, far.SlavePath(), {}, "乙.PSW");
    Engine().Events().Add(&rec);
    clock.Set(kDay, 8, 0, 0, 500);
    Prepared().btnRunClick();
    Engine().cbRunDevListChange("乙.PSW");
    ASSERT_GE(rec.events.size(), 3u);
    const auto stop = std::find_if(rec.events.begin(), rec.events.end(),
                                   [](const RunEvent& e) { return e.result == "stopped"; });
    ASSERT_NE(stop, rec.events.end());
    EXPECT_EQ(stop->controller, "泵房.PSW");
    EXPECT_EQ(rec.events.back().result, "plan chosen");
    EXPECT_EQ(rec.events.back().controller, "乙.PSW");
}

// The operator's words for the stored codes: 1 and 0 are states only where
// the kind is one; a code without words is shown as it is.
TEST(EventTextsTest, StatesByKindAndUnknownCodesAsTheyAre) {
    const RunEvent shown = ShownEvent({"t", "A.PSW", 2, "mismatch", "board", "1", "wanted 0"});
    EXPECT_EQ(shown.kind + shown.source + shown.result + shown.detail, "不一致控制器接通应为断开");
    EXPECT_EQ(ResultText("state", "0"), "断开");
    EXPECT_EQ(ResultText("run", "1"), "1");
    EXPECT_EQ(DetailText("on", "wanted 0"), "wanted 0");
    EXPECT_EQ(KindText("blink") + SourceText("timer") + ResultText("on", "late"), "blinktimerlate");
}

}  // namespace
}  // namespace ristova::run
