// What the engine publishes while it runs: commands with their source and
// result, decoded state changes and run events, stamped by its clock.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "run/EngineFixture.h"
#include "run/EventTexts.h"
#include "run/Journal.h"
#include "run/RunEvents.h"
#include "run/RunPage.h"
#include "run/Timeline.h"

namespace ristova::run {
namespace {

using test::Hex;
using test::OffCommand;
using test::OnCommand;

constexpr Date kDay{2012, 3, 18};

struct Recorder : IRunEventSink {
    void OnRunEvent(const RunEvent& e) override {
        events.push_back(e);
        if (farEnd && (e.kind == "on" || e.kind == "off")) {
            // Only what is there already: no waiting.
            char buffer[512];
            pollfd p{farEnd->Master(), POLLIN, 0};
            while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                const ssize_t n = read(farEnd->Master(), buffer, sizeof buffer);
                if (n <= 0) break;
                received.append(buffer, static_cast<std::size_t>(n));
            }
            const std::string command = e.kind == "on" ? OnCommand(e.relay) : OffCommand(e.relay);
            atFarEnd.push_back(received.find(command) != std::string::npos);
        }
    }
    // "kind source result relay" of each event, for compact expectations.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const RunEvent& e : events)
            lines.push_back(e.kind + " " + e.source + " " + e.result + " " + std::to_string(e.relay));
        return lines;
    }
    std::size_t Commands() const {
        return static_cast<std::size_t>(
            std::count_if(events.begin(), events.end(),
                          [](const RunEvent& e) { return e.kind == "on" || e.kind == "off"; }));
    }
    std::vector<RunEvent> events;
    // When set: at each command event, whether the far end has its bytes.
    test::PtyPair* farEnd = nullptr;
    std::string received;
    std::vector<bool> atFarEnd;
};

// A base before the engine's, so that the recorder and the far end outlive
// the engine: a stop at tear-down still publishes.
struct RecorderHolder {
    test::PtyPair far;
    Recorder rec;
};

// Removes a sink from the engine before the sink goes.
struct Attached {
    RunEventHub& hub;
    IRunEventSink* sink;
    ~Attached() { hub.Remove(sink); }
};

class RunEventsTest : public ::testing::Test, public RecorderHolder, public test::EngineFixture {
  protected:
    // Running at 08:00:00.500 without a plan, the recorder listening.
    void StartRunning(int relays) {
        WriteController(relays, far.SlavePath());
        WritePlan({});
        Engine().Events().Add(&rec);
        clock.Set(kDay, 8, 0, 0, 500);
        Prepared().btnRunClick();
    }
    // A command is published once the writer is done with it.
    void PumpUntilCommands(std::size_t count) {
        ASSERT_TRUE(poster.PumpUntil([&] { return rec.Commands() >= count; }, 3000));
    }
};

TEST_F(RunEventsTest, ARunPublishesEveryCommandStateAndRunEvent) {
    WriteController(3, far.SlavePath(), {3});
    WritePlan({{"1", "08:00:01", "接通"}, {"2", "08:00:03", "接通"}, {"2", "08:00:04", "断开"}});
    boxes.chkStartON = true;
    Engine().Events().Add(&rec);
    clock.Set(kDay, 8, 0, 0, 250);
    Prepared().btnRunClick();
    PumpUntilCommands(1);
    clock.Set(kDay, 8, 0, 1, 5);
    Engine().tmCheckTimer();
    PumpUntilCommands(2);
    // A late tick: the action of second 3 is caught up in second 4's tick.
    clock.Set(kDay, 8, 0, 5, 0);
    Engine().tmCheckTimer();
    PumpUntilCommands(4);
    // The board answers: relay 1 and 3 on; the same answer again changes nothing.
    const std::string answer = "S(00,101)E";
    ShownRun().COMRUNReceiveData(answer.data(), static_cast<std::uint16_t>(answer.size()));
    ShownRun().COMRUNReceiveData(answer.data(), static_cast<std::uint16_t>(answer.size()));
    ASSERT_TRUE(poster.PumpUntil([&] { return ShownRun().Plugin().Pending() == 0; }, 20000));
    Engine().tmRunTimer();
    Engine().sgStateMouseDown(MouseButton::Left, 1, 1);
    PumpUntilCommands(5);
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
    // Stamped when written: never before the command fell due.
    EXPECT_GE(rec.events[2].at, "2012-03-18 08:00:00.250");
    EXPECT_LT(rec.events[2].at, "2012-03-18 08:00:01");
    EXPECT_GE(rec.events[3].at, "2012-03-18 08:00:01.005");
    EXPECT_LT(rec.events[3].at, "2012-03-18 08:00:02");
    EXPECT_EQ(rec.events[3].detail, Hex(OnCommand(1)));
}

TEST_F(RunEventsTest, ACommandIsSentOnceItsBytesAreAtTheFarEndAndStampedThen) {
    StartRunning(3);
    rec.farEnd = &far;
    // The sets share one waiting query: relay 3's command waits out three of
    // the writer's 50 ms pauses (relay 1, the query, relay 2).
    for (int relay = 1; relay <= 3; ++relay) ShownRun().Switch(relay, true, "remote");
    PumpUntilCommands(3);
    EXPECT_EQ(rec.atFarEnd, (std::vector<bool>{true, true, true}));
    std::vector<RunEvent> commands;
    for (const RunEvent& e : rec.events)
        if (e.kind == "on") commands.push_back(e);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2].result, "sent");
    EXPECT_EQ(commands[2].relay, 3);
    // The engine's clock stood still; the stamp moved on with the writer.
    EXPECT_GE(commands[2].at, "2012-03-18 08:00:00.650");
}

// A decoder that crashes costs the answer it was given: an event names the
// plug-in and what happened, and the next answer decodes in a new host.
TEST_F(RunEventsTest, ADecoderThatCrashesIsToldAndTheNextAnswerDecodes) {
    ctx.sDllPath = RISTOVA_TEST_PLUGIN_DIR;
    WriteController(3, far.SlavePath(), {}, kController, "crashy.so");
    WritePlan({});
    Engine().Events().Add(&rec);
    clock.Set(kDay, 8, 0, 0);
    Prepared().btnRunClick();
    auto failures = [&] {
        std::vector<RunEvent> found;
        for (const RunEvent& e : rec.events)
            if (e.result == "decoder-failed") found.push_back(e);
        return found;
    };
    far.Write("crash");
    ASSERT_TRUE(poster.PumpUntil([&] { return !failures().empty(); }, 20000));
    const RunEvent failed = failures()[0];
    EXPECT_EQ(failed.kind + " " + failed.source, "run engine");
    EXPECT_TRUE(failed.detail.starts_with(ctx.sDllPath + "crashy.so: ended: ")) << failed.detail;
    EXPECT_EQ(status.Panel(3), " 状态数据处理程序出错:crashy.so");
    far.Write("101");
    EXPECT_TRUE(poster.PumpUntil([&] { return Engine().sJDQState() == "101"; }, 20000))
        << Engine().sJDQState();
    EXPECT_EQ(failures().size(), 1u);
}

TEST_F(RunEventsTest, CommandsStillQueuedAtAStopOrADateChangeAreJournaledDropped) {
    WriteController(8, far.SlavePath());
    WritePlan({});
    Journal journal(dir.Path());
    Engine().Events().Add(&journal);
    Attached attached{Engine().Events(), &journal};
    Engine().Events().Add(&rec);
    clock.Set(kDay, 23, 59, 58, 0);
    Prepared().btnRunClick();
    // Sixteen blocks with 50 ms after each: relay 8's leaves after 0.7 s.
    for (int relay = 1; relay <= 8; ++relay) ShownRun().Switch(relay, true, "remote");
    Engine().btnStopClick();
    // The close tells every fate before it returns.
    EXPECT_EQ(rec.Commands(), 8u);
    Engine().btnRunClick();
    for (int relay = 1; relay <= 8; ++relay) ShownRun().Switch(relay, false, "remote");
    clock.Set(kDay.AddDays(1), 0, 0, 0, 0);
    Engine().Timer1Timer();
    EXPECT_TRUE(Engine().Running());
    EXPECT_EQ(rec.Commands(), 16u);
    journal.Flush();

    const std::string received = test::Drain(far, 300);
    std::map<std::string, int> fates;
    for (const RunEvent& e : ReadJournalDay(journal.FilePath(), kController, kDay)) {
        if (e.kind != "on" && e.kind != "off") continue;
        const std::string command = e.kind == "on" ? OnCommand(e.relay) : OffCommand(e.relay);
        ++fates[e.kind + std::to_string(e.relay)];
        EXPECT_TRUE(e.result == "sent" || e.result == "dropped") << e.result;
        if (e.result == "dropped") {
            EXPECT_EQ(received.find(command), std::string::npos) << command << " went out";
        }
        if (e.relay == 8) {
            EXPECT_EQ(e.result, "dropped") << e.kind;
        }
    }
    EXPECT_EQ(fates.size(), 16u);
    for (const auto& [command, count] : fates) EXPECT_EQ(count, 1) << command;
}

TEST_F(RunEventsTest, SwitchingSaysWhetherTheCommandWasQueued) {
    StartRunning(2);
    // Relay 2's on command as no hex, too long, and empty.
    for (const std::string& bad :
         {std::string("O(00,02,1)E"), std::string(600, 'A'), std::string()}) {
        // The definition is read at each start.
        WriteIniText(ControllerFile(), "COMMAND", "Row2", "   2^^" + bad + "^^0000^^a^^b^^ X^^");
        Engine().btnStopClick();
        Engine().btnRunClick();
        EXPECT_EQ(ShownRun().Switch(2, true, "remote"), SwitchResult::NotSent) << bad;
        EXPECT_EQ(rec.events.back().result, "not-sent") << bad;
        EXPECT_EQ(Engine().sgStateMouseDown(MouseButton::Left, 1, 2), SwitchResult::NotSent) << bad;
        EXPECT_EQ(rec.events.back().result, "not-sent") << bad;
    }
    EXPECT_EQ(ShownRun().Switch(1, true, "remote"), SwitchResult::Queued);
    EXPECT_EQ(ShownRun().Switch(3, true, "remote"), SwitchResult::Refused);
    EXPECT_EQ(Engine().sgStateMouseDown(MouseButton::Right, 1, 1), SwitchResult::Refused);
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
    EXPECT_EQ(ResultText("line", "lost") + ResultText("journal", "lost"), "通信中断记录丢失");
    // An aggregated row says how many and since when; a look-alike is left as it is.
    EXPECT_EQ(DetailText("on", "aggregated 46 from 08:00:10.004: manual operation off"),
              "自08:00:10.004起共46次,最后:manual operation off");
    for (const char* odd :
         {"aggregated 9 from 08:00", "aggregated 99999999999999999999 from 08:00:10.004"})
        EXPECT_EQ(DetailText("state", odd), odd);
}

// A cell that a spreadsheet would run as a formula is exported as text.
TEST(EventTextsTest, CsvCellsStartingLikeAFormulaAreText) {
    const std::string csv =
        EventsToCsv({{"t", "=cmd|' /c calc'!A1.PSW", 1, "on", "manual", "sent", "+1"},
                     {"t", "@SUM(A1)", 0, "run", "engine", "error", "-2,x"}});
    EXPECT_NE(csv.find("\r\nt,'=cmd|' /c calc'!A1.PSW,1,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",'+1\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\nt,'@SUM(A1),,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"'-2,x\"\r\n"), std::string::npos) << csv;
}

}  // namespace
}  // namespace ristova::run
