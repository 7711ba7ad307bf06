#include "run/RunPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>

#include "base/Errors.h"
#include "base/Files.h"
#include "run/EngineFixture.h"

namespace ristova::run {
namespace {

using test::Hex;
using test::kQuery;
using test::OffCommand;
using test::OnCommand;

constexpr Date kDay{2012, 3, 18};  // a Sunday

class RunEngineTest : public ::testing::Test, public test::EngineFixture {
  protected:
    void StartAt(int hour, int minute, int second, int ms = 500) {
        clock.Set(kDay, hour, minute, second, ms);
        Prepared().btnRunClick();
        ASSERT_TRUE(Engine().Running());
        ASSERT_TRUE(ShownRun().Port().IsOpen());
    }
    // One check tick at the start of the given second of the current day.
    void TickAt(int hour, int minute, int second, int ms = 0) {
        clock.Set(clock.Now().date, hour, minute, second, ms);
        Engine().tmCheckTimer();
    }
    // The bytes of one tick at the far end: its commands, then the query.
    void ExpectSent(const std::string& commands, const std::string& why) {
        const std::string expected = commands + kQuery;
        EXPECT_EQ(far.Read(expected.size(), 2000), expected) << why;
    }
    std::string Panel3() const { return status.Panel(3); }

    test::PtyPair far;
};

TEST_F(RunEngineTest, FillRunDeviceListSelectsTheStoredControllerAndBuildsTheMonitor) {
    WriteController(2, far.SlavePath(), {}, "乙.PSW");
    WriteController(3, far.SlavePath());
    WritePlan({{"2", "8:30", "接通"},
               {"x", "08:30:00:99", "断开"},
               {"  3 ", "23:59:59", "开"},
               {"1", "", "接通"}});
    RunPage& e = Prepared();
    EXPECT_EQ(e.cbRunDevList().Items, (std::vector<std::string>{"乙.PSW", "泵房.PSW"}));
    EXPECT_EQ(e.cbRunDevList().Text(), "泵房.PSW");
    EXPECT_EQ(e.sRunPowerFn(), dir.File("泵房.PSW"));
    EXPECT_EQ(e.sRunPlanFn(), dir.File("泵房/计划表.tab"));
    EXPECT_EQ(e.lbRunFn(), "【运行计划表】" + dir.File("泵房/计划表.tab"));
    EXPECT_EQ(e.sJDQState(), "000");
    ASSERT_EQ(e.sgState().RowCount(), 4);
    EXPECT_EQ(e.sgState().Cell(2, 3), "灯3");
    EXPECT_EQ(e.sgState().Cell(3, 3), "不存在");
    // Rows that cannot be understood are kept in place and never acted on:
    // a relay that is no number, an action that is neither, an empty time.
    EXPECT_EQ(e.PlanActions(),
              (std::vector<plan::TPlanAction>{
                  {2, 30600, true}, {0, -1, false}, {0, -1, false}, {0, -1, false}}));
    EXPECT_EQ(status.Panel(3), " 计划表中有3行无法识别,未执行");
    // Nothing is sent or opened before a start.
    EXPECT_FALSE(e.Running());
    EXPECT_TRUE(e.BtnRunEnabled());
    EXPECT_FALSE(e.BtnStopEnabled());
    EXPECT_EQ(e.lbState(), "状态指令：");
    EXPECT_EQ(e.lbCom(), "通信状态：");
    EXPECT_EQ(e.lbCmd(), "处理程序：");
    EXPECT_EQ(e.lbDev(), "适用硬件：");
    EXPECT_EQ(e.Lamp(), LampColour::Yellow);
}

// Two controllers whose names differ only in case: each list entry opens
// its own file.
TEST_F(RunEngineTest, PickingAnEntryOpensExactlyThatFile) {
    WriteController(2, far.SlavePath(), {}, "Pump.PSW");
    WriteController(3, far.SlavePath(), {}, "pump.PSW");
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "pump.PSW");
    RunPage& e = Prepared();
    EXPECT_EQ(e.sRunPowerFn(), dir.File("pump.PSW"));
    const auto& items = e.cbRunDevList().Items;
    const int upper = static_cast<int>(
        std::find(items.begin(), items.end(), "Pump.PSW") - items.begin());
    e.cbRunDevListChange(upper);
    EXPECT_EQ(e.sRunPowerFn(), dir.File("Pump.PSW"));
}

TEST_F(RunEngineTest, FillRunDeviceListFallsBackToTheFirstEntryOrTheDefaultName) {
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "");
    Prepared();
    EXPECT_EQ(Engine().cbRunDevList().Items, std::vector<std::string>{"Quelmar电源控制器.PSW"});
    EXPECT_FALSE(FileExists(dir.File("Quelmar电源控制器.PSW")));
    EXPECT_EQ(Engine().sJDQState(), "0");

    WriteController(2, far.SlavePath(), {}, "乙.PSW");
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "丙.PSW");
    Engine().FillRunDeviceList();
    EXPECT_EQ(Engine().cbRunDevList().Items, (std::vector<std::string>{"乙.PSW", "丙.PSW"}));
    EXPECT_EQ(Engine().cbRunDevList().ItemIndex, 1);
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "");
    Engine().FillRunDeviceList();
    EXPECT_EQ(Engine().cbRunDevList().Text(), "乙.PSW");

    // A name reaching outside the folder counts as none, in either key.
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "sub/../乙.PSW");
    WriteIniText(ctx.settingsFile, "RUN", "Controllers", "../丙.PSW,/乙.PSW");
    Engine().FillRunDeviceList();
    EXPECT_EQ(ShownRun().ControllerPath(), dir.File("乙.PSW"));
    EXPECT_EQ(Engine().cbRunDevList().Items, (std::vector<std::string>{"乙.PSW"}));
}

TEST_F(RunEngineTest, StartShowsTheRunTextsAndStopClosesThePort) {
    WriteController(3, far.SlavePath());
    test::PtyPair testPortEnd;
    com1.SetCommPort(testPortEnd.SlavePath());
    ASSERT_TRUE(com1.OpenPort());
    StartAt(8, 0, 0);
    RunPage& e = Engine();
    EXPECT_FALSE(com1.IsOpen());
    EXPECT_EQ(e.lbState(), "状态指令:" + Hex(kQuery));
    EXPECT_EQ(e.lbCmd(), "处理程序:" + ctx.sDllPath + test::Library("SimRelay"));
    EXPECT_EQ(e.lbCom(), "通信状态:正常启动");
    // The description comes from the decoder's host once it has loaded.
    EXPECT_TRUE(
        poster.PumpUntil([&] { return e.lbDev() == "适用硬件:Ristova 模拟继电器控制器"; }, 20000))
        << e.lbDev();
    EXPECT_EQ(e.sJDQState(), "000");
    EXPECT_FALSE(e.BtnRunEnabled());
    EXPECT_TRUE(e.BtnStopEnabled());
    EXPECT_TRUE(ShownRun().Plugin().IsLoaded());

    const auto revision = e.Revision();
    e.btnStopClick();
    EXPECT_GT(e.Revision(), revision);
    EXPECT_FALSE(e.Running());
    EXPECT_FALSE(ShownRun().Port().IsOpen());
    EXPECT_TRUE(e.BtnRunEnabled());
    EXPECT_FALSE(e.BtnStopEnabled());
    // Stopped: a tick does nothing.
    TickAt(8, 0, 1);
    EXPECT_EQ(test::Drain(far, 50), "");
}

TEST_F(RunEngineTest, APortThatCannotBeOpenedRunsAsALostLine) {
    WriteController(2, "/dev/ristova-no-such-port");
    WritePlan({{"1", "08:00:01", "接通"}});
    clock.Set(kDay, 8, 0, 0, 500);
    Prepared().btnRunClick();
    RunPage& e = Engine();
    EXPECT_EQ(e.lbCom(), "通信状态:启动失败,端口不存在");
    EXPECT_TRUE(e.Running());
    EXPECT_FALSE(ShownRun().Port().IsOpen());
    EXPECT_EQ(e.Line(), LineState::Lost);
    EXPECT_TRUE(e.StatesUnknown());
    TickAt(8, 0, 1);
    EXPECT_EQ(Panel3(), " 通信中断,未发送:" + Hex(OnCommand(1)));
    // A reopen that fails says why and that the engine is at it.
    TickAt(8, 0, 3);
    EXPECT_EQ(e.lbCom(), "通信状态:启动失败,端口不存在,正在重新连接");
    e.tmRunTimer();
    EXPECT_EQ(e.sgState().Cell(1, 1), "0");
    EXPECT_EQ(e.Lamp(), LampColour::Yellow);
}

TEST_F(RunEngineTest, ANonIntegerRateOrTimeOutEndsTheStartStopped) {
    for (const char* key : {"edBound", "edTimeOut"}) {
        WriteController(2, far.SlavePath());
        WriteIniText(ControllerFile(), "COMM", key, "96O0");
        clock.Set(kDay, 8, 0, 0);
        Prepared();
        try {
            Engine().btnRunClick();
            ADD_FAILURE() << key << " was accepted";
        } catch (const OperatorError& error) {
            EXPECT_STREQ(error.what(), "'96O0' is not a valid integer value") << key;
        }
        RunPage& e = Engine();
        EXPECT_FALSE(e.Running());
        EXPECT_TRUE(e.BtnRunEnabled());
        EXPECT_FALSE(e.BtnStopEnabled());
        EXPECT_EQ(e.lbState(), "状态指令:" + Hex(kQuery));
        EXPECT_EQ(e.lbCmd(), "处理程序:" + ctx.sDllPath + test::Library("SimRelay"));
        EXPECT_EQ(e.lbCom(), "通信状态：");
        EXPECT_FALSE(ShownRun().Port().IsOpen());
    }
    // An empty value is present and not a number either; other fields fall
    // back to their defaults.
    WriteController(2, far.SlavePath());
    WriteIniText(ControllerFile(), "COMM", "edBound", "");
    EXPECT_THROW(Engine().btnRunClick(), OperatorError);
}

// Values that no line can take: the run goes on as with a port that does not
// open, lbCom says why, and no reconnect opens the line at the old settings.
TEST_F(RunEngineTest, SettingsNoLineCanTakeKeepThePortClosedWithTheirReason) {
    WriteController(2, far.SlavePath());
    StartAt(8, 0, 0);
    Engine().btnStopClick();
    for (const auto& [key, value, reason] :
         {std::tuple{"edBound", "0", "波特率无效:0"},
          std::tuple{"edTimeOut", "70000", "超时无效:70000"},
          std::tuple{"ByteSize", "x", "数据位无效:x"}, std::tuple{"Parity", "9", "校验位无效:9"}}) {
        ForceDeleteFile(ControllerFile());
        WriteController(2, far.SlavePath());
        WriteIniText(ControllerFile(), "COMM", key, value);
        clock.Set(kDay, 8, 0, 0);
        Engine().btnRunClick();
        RunPage& e = Engine();
        EXPECT_TRUE(e.Running());
        EXPECT_FALSE(ShownRun().Port().IsOpen()) << key;
        EXPECT_EQ(e.lbCom(), std::string("通信状态:启动失败,") + reason);
        TickAt(8, 0, 3);
        EXPECT_FALSE(ShownRun().Port().IsOpen()) << key;
        EXPECT_EQ(e.Line(), LineState::Lost);
        e.btnStopClick();
    }
}

TEST_F(RunEngineTest, SwitchOnAtStartGoesOutOnTheRunPortRightAfterItOpens) {
    WriteController(3, far.SlavePath(), {1, 3});
    boxes.chkStartON = true;
    StartAt(8, 0, 0);
    const std::string expected = OnCommand(1) + OnCommand(3);
    EXPECT_EQ(far.Read(expected.size(), 2000), expected);
    EXPECT_EQ(sleeper.pauses, (std::vector<int>{10, 10}));
    EXPECT_EQ(Panel3(), " 发送数据:" + Hex(OnCommand(3)));

    boxes.chkStartON = false;
    Engine().btnStopClick();
    Engine().btnRunClick();
    EXPECT_EQ(test::Drain(far, 50), "");
}

TEST_F(RunEngineTest, EachActionGoesOutInItsSecondInPlanOrderThenOneQuery) {
    WriteController(3, far.SlavePath());
    WritePlan({{"1", "08:00:01", "接通"},
               {"2", "08:00:03", "接通"},
               {"1", "08:00:03", "断开"},
               {"0", "08:00:02", "接通"},
               {"x", "08:00:02", "接通"},
               {"0x3", "08:00:02", "接通"},
               {"$2", "08:00:02", "接通"},
               {"9", "08:00:02", "接通"},  // beyond the relay count
               {"3", "8:0:4", "接通"},
               {"3", "08:00:05:99", "断开"},
               {"3", "8.00", "断开"},
               {"3", "ab:00:05", "断开"},
               {"3", "25:00:05", "断开"}});
    StartAt(8, 0, 0);
    TickAt(8, 0, 1);
    ExpectSent(OnCommand(1), "08:00:01");
    EXPECT_EQ(Engine().sgState().Row(), 1);
    TickAt(8, 0, 2);
    ExpectSent("", "08:00:02: relay 0, not a number, beyond the count, not decimal");
    sleeper.pauses.clear();
    TickAt(8, 0, 3);
    ExpectSent(OnCommand(2) + OffCommand(1), "08:00:03");
    EXPECT_EQ(sleeper.pauses, (std::vector<int>{20, 20}));
    EXPECT_EQ(Engine().sgState().Row(), 1);
    EXPECT_EQ(Panel3(), " 发送数据:" + Hex(OffCommand(1)));
    TickAt(8, 0, 4);
    ExpectSent(OnCommand(3), "08:00:04");
    EXPECT_EQ(Engine().sgState().Row(), 3);
    // Times that cannot be read are never acted on, at no second.
    for (int s = 5; s <= 8; ++s) {
        clock.Set(kDay, 8, 0, s);
        Engine().tmCheckTimer();
    }
    EXPECT_EQ(far.Read(4 * std::string(kQuery).size(), 2000),
              std::string(kQuery) + kQuery + kQuery + kQuery);
    EXPECT_EQ(plan::CountUnreadablePlanRows(Engine().sgPlan()), 7);
}

TEST_F(RunEngineTest, LateTicksCatchUpAndNoSecondIsHandledTwice) {
    WriteController(3, far.SlavePath());
    WritePlan({{"1", "08:00:01", "接通"},
               {"2", "08:00:02", "接通"},
               {"1", "08:00:03", "断开"},
               {"3", "08:00:05", "接通"},
               {"3", "08:00:06", "断开"}});
    // Started in the second of the first action: it is still carried out.
    StartAt(8, 0, 1);
    TickAt(8, 0, 3, 900);
    ExpectSent(OnCommand(1) + OnCommand(2) + OffCommand(1), "three seconds in one late tick");
    TickAt(8, 0, 3, 950);
    ExpectSent("", "a second tick in the same second");
    TickAt(8, 0, 2);
    ExpectSent("", "the clock went back");
    TickAt(8, 0, 5);
    ExpectSent(OnCommand(3), "08:00:05");
    // Stop and start in the same second repeats nothing.
    Engine().btnStopClick();
    Engine().btnRunClick();
    TickAt(8, 0, 5, 600);
    ExpectSent("", "after stop and start");
    TickAt(8, 0, 6);
    ExpectSent(OffCommand(3), "08:00:06");
}

TEST_F(RunEngineTest, AGapOfMoreThan120SecondsCarriesOutTheLastActionOfEachRelay) {
    WriteController(3, far.SlavePath());
    WritePlan({{"2", "08:01:50", "接通"},
               {"1", "08:00:10", "接通"},
               {"1", "08:01:00", "断开"},
               {"3", "08:03:00", "接通"},
               {"3", "08:03:00", "断开"},
               {"3", "08:05:10", "接通"},
               {"3", "08:05:20", "断开"}});
    StartAt(8, 0, 0, 0);
    TickAt(8, 0, 0);
    ExpectSent("", "08:00:00");
    // 120 seconds late: still second by second, in time order.
    TickAt(8, 2, 0);
    ExpectSent(OnCommand(1) + OffCommand(1) + OnCommand(2), "gap of 120 s");
    // 181 seconds: only the last of each relay, in plan order; of two rows
    // in the same second the later row.
    // The other relays are put back after it, in relay order.
    TickAt(8, 5, 1);
    ExpectSent(OffCommand(3) + OffCommand(1) + OnCommand(2), "gap of 181 s");
    TickAt(8, 7, 2);
    ExpectSent(OffCommand(3) + OffCommand(1) + OnCommand(2), "gap of 121 s");
}

TEST_F(RunEngineTest, DaylightSavingStepsForwardAndBack) {
    WriteController(3, far.SlavePath());
    WritePlan({{"2", "02:40:00", "接通"},
               {"1", "02:10:00", "接通"},
               {"1", "02:20:00", "断开"},
               {"3", "03:00:01", "接通"},
               {"3", "03:00:02", "断开"}});
    StartAt(1, 59, 58);
    TickAt(1, 59, 59);
    ExpectSent("", "01:59:59");
    // 02:00 becomes 03:00.
    TickAt(3, 0, 0);
    ExpectSent(OnCommand(2) + OffCommand(1), "step forward");
    TickAt(3, 0, 1);
    ExpectSent(OnCommand(3), "03:00:01");
    // 03:00 becomes 02:00 again: nothing is repeated.
    TickAt(2, 0, 0);
    ExpectSent("", "step back");
    TickAt(2, 40, 0);
    ExpectSent("", "02:40 again");
    TickAt(3, 0, 1);
    ExpectSent("", "03:00:01 again");
    TickAt(3, 0, 2);
    ExpectSent(OffCommand(3), "03:00:02 once the clock is past it again");
}

TEST_F(RunEngineTest, ACommandOfMoreThan256BytesIsRefusedAndNothingSent) {
    WriteController(3, far.SlavePath());
    WriteIniText(ControllerFile(), "COMMAND", "Row1",
                 "1^^" + std::string(514, '4') + "^^" + std::string(512, '5') + "^^^^^^ X^^");
    WritePlan({{"1", "08:00:01", "接通"}, {"1", "08:00:02", "断开"}});
    StartAt(8, 0, 0);
    TickAt(8, 0, 1);
    ExpectSent("", "257 bytes");
    EXPECT_EQ(Panel3(), " 指令超过256字节,未发送");
    TickAt(8, 0, 2);
    ExpectSent(std::string(256, 'U'), "256 bytes");
}

// Blanks in a command text are ignored; any other character that is no hex
// digit keeps the command off the line, for timed commands and the query.
TEST_F(RunEngineTest, CommandTextsThatAreNoHexAreNotSent) {
    WriteController(2, far.SlavePath(), {2});
    WriteIniText(ControllerFile(), "COMMAND", "Row1", "1^^41 42^^0x41^^^^^^ X^^");
    WriteIniText(ControllerFile(), "COMMAND", "Row2", "2^^4O^^\t4 3^^^^^^ √^^");
    WritePlan({{"1", "08:00:01", "接通"}, {"1", "08:00:02", "断开"}, {"2", "08:00:03", "断开"}});
    boxes.chkStartON = true;
    StartAt(8, 0, 0);
    EXPECT_EQ(Panel3(), " 指令含非十六进制字符,未发送:4O");
    TickAt(8, 0, 1);
    ExpectSent("AB", "blanks between the digits");
    TickAt(8, 0, 2);
    ExpectSent("", "0x41");
    EXPECT_EQ(Panel3(), " 指令含非十六进制字符,未发送:0x41");
    TickAt(8, 0, 3);
    ExpectSent("C", "a tab and blanks");
}

TEST_F(RunEngineTest, AStateQueryThatIsNoHexIsNotSent) {
    WriteController(2, far.SlavePath());
    WriteIniText(ControllerFile(), "LOAD", "edStateCmd", "5Q");
    StartAt(8, 0, 0);
    TickAt(8, 0, 1);
    EXPECT_EQ(test::Drain(far), "");
    EXPECT_EQ(Panel3(), " 指令含非十六进制字符,未发送:5Q");
}

TEST_F(RunEngineTest, ReceivedBlocksToggleTheLampAndReplaceTheStates) {
    WriteController(3, far.SlavePath());
    StartAt(8, 0, 0);
    RunPage& e = Engine();
    far.Write(std::string("\x01\x0A\xFF", 3));
    ASSERT_TRUE(poster.PumpUntil([&] { return e.Lamp() == LampColour::Red; }, 2000));
    EXPECT_EQ(Panel3(), " 接收数据:010AFF");
    EXPECT_EQ(e.sJDQState(), "000");
    far.Write("S(00,101)E");
    ASSERT_TRUE(poster.PumpUntil([&] { return e.sJDQState() == "101"; }, 2000))
        << Panel3() << " " << e.sJDQState() << " " << (int)e.Lamp();
    EXPECT_EQ(e.Lamp(), LampColour::Yellow);
    EXPECT_EQ(e.sgState().Cell(1, 1), "");
    e.tmRunTimer();
    EXPECT_EQ(e.sgState().Cell(1, 1), "1");
    EXPECT_EQ(e.sgState().Cell(1, 2), "0");
    EXPECT_EQ(e.sgState().Cell(1, 3), "1");
}

TEST_F(RunEngineTest, PluginsThatAreMissingIncompleteNullOrTooLong) {
    ctx.sDllPath = RISTOVA_TEST_PLUGIN_DIR;
    struct Case {
        std::string plugin;
        const char* lbDev;
        std::string statesAfterAnswer;
    };
    // "../" leaves the plug-in folder and is never loaded. What does not
    // load is told in panel 3.
    for (const Case& c : {Case{test::Library("missing"), "适用硬件:", "000"},
                          Case{test::Library("../PowerDll/SimRelay"), "适用硬件:", "000"},
                          Case{test::Library("descriptiononly"), "适用硬件:only a description", "000"},
                          Case{test::Library("null"), "适用硬件:", "000"},
                          Case{test::Library("long"), "适用硬件:long", std::string(40, '1')}}) {
        WriteController(3, far.SlavePath(), {}, kController, c.plugin);
        clock.Set(kDay, 8, 0, 0);
        // Each controller's own plug-in replaces the one loaded before.
        Prepared().btnRunClick();
        const controller::StatePlugin& plugin = ShownRun().Plugin();
        if (plugin.IsLoaded()) {
            ASSERT_TRUE(poster.PumpUntil([&] { return Engine().lbDev() == c.lbDev; }, 20000))
                << c.plugin;
        }
        EXPECT_EQ(Engine().lbDev(), c.lbDev) << c.plugin;
        EXPECT_EQ(Panel3() == std::string(" 状态数据处理程序无法加载:") + c.plugin,
                  !plugin.IsLoaded())
            << c.plugin;
        const auto lamp = Engine().Lamp();
        far.Write("S(00,111)E");
        ASSERT_TRUE(poster.PumpUntil(
            [&] { return Engine().Lamp() != lamp && plugin.Pending() == 0; }, 20000))
            << c.plugin;
        EXPECT_EQ(Panel3(), " 接收数据:" + Hex("S(00,111)E")) << c.plugin;
        EXPECT_EQ(Engine().sJDQState(), c.statesAfterAnswer) << c.plugin;
        Engine().tmRunTimer();
        EXPECT_EQ(Engine().sgState().Cell(1, 3), c.statesAfterAnswer.substr(2, 1)) << c.plugin;
        EXPECT_EQ(Engine().sgState().RowCount(), 4);
        Engine().btnStopClick();
    }
}

TEST_F(RunEngineTest, ManualSwitchingOnlyInColumnOneWhileRunningAndAllowed) {
    WriteController(3, far.SlavePath());
    Prepared();
    RunPage& e = Engine();
    e.sgStateMouseDown(MouseButton::Left, 1, 1);
    EXPECT_FALSE(e.CursorIsHand(1, 1));
    EXPECT_EQ(e.sgState().Row(), 1);
    StartAt(8, 0, 0);
    // The click goes by the state the board last reported.
    ShownRun().COMRUNReceiveData("S(00,1)E", 8);
    ASSERT_TRUE(poster.PumpUntil([&] { return e.sJDQState() == "1"; }, 20000));
    EXPECT_TRUE(e.CursorIsHand(1, 3));
    for (int col : {0, 2, 3}) EXPECT_FALSE(e.CursorIsHand(col, 1));
    EXPECT_FALSE(e.CursorIsHand(1, 0));
    EXPECT_FALSE(e.CursorIsHand(1, 4));
    e.sgStateMouseDown(MouseButton::Right, 1, 1);
    e.sgStateMouseDown(MouseButton::Left, 2, 1);
    e.sgStateMouseDown(MouseButton::Left, 1, 0);
    EXPECT_EQ(test::Drain(far, 50), "");

    sleeper.pauses.clear();
    e.sgStateMouseDown(MouseButton::Left, 1, 1);
    const std::string off = OffCommand(1) + kQuery;
    EXPECT_EQ(far.Read(off.size(), 2000), off);
    EXPECT_EQ(sleeper.pauses, std::vector<int>{20});
    EXPECT_EQ(Panel3(), " 发送数据:" + Hex(OffCommand(1)));
    // State cell "0" and an empty one both switch on.
    e.sgStateMouseDown(MouseButton::Left, 1, 2);
    EXPECT_EQ(e.sgState().Row(), 2);
    const std::string on = OnCommand(2) + kQuery;
    EXPECT_EQ(far.Read(on.size(), 2000), on);
    // A remote set sends the same, but never pauses the main thread.
    sleeper.pauses.clear();
    EXPECT_EQ(ShownRun().Switch(1, true, "remote"), SwitchResult::Queued);
    const std::string remote = OnCommand(1) + kQuery;
    EXPECT_EQ(far.Read(remote.size(), 2000), remote);
    EXPECT_TRUE(sleeper.pauses.empty());

    boxes.chkManOperate = false;
    EXPECT_FALSE(e.CursorIsHand(1, 1));
    e.sgStateMouseDown(MouseButton::Left, 1, 1);
    e.btnStopClick();
    boxes.chkManOperate = true;
    e.sgStateMouseDown(MouseButton::Left, 1, 1);
    EXPECT_FALSE(e.CursorIsHand(1, 1));
    EXPECT_EQ(test::Drain(far, 50), "");
}

TEST_F(RunEngineTest, ChoosingAnotherControllerStopsAndKeepsTheMonitorRows) {
    test::PtyPair otherEnd;
    WriteController(3, far.SlavePath());
    WriteController(2, otherEnd.SlavePath(), {}, "乙.PSW");
    WritePlan({{"1", "08:00:01", "接通"}}, "计划表.tab", "乙");
    StartAt(8, 0, 0);
    RunPage& e = Engine();
    e.cbRunDevListChange(0);
    EXPECT_EQ(e.cbRunDevList().Text(), "乙.PSW");
    EXPECT_EQ(ReadIniText(ctx.settingsFile, "RUN", "sPowerFn"), "乙.PSW");
    EXPECT_FALSE(e.Running());
    EXPECT_FALSE(ShownRun().Port().IsOpen());
    EXPECT_TRUE(e.BtnRunEnabled());
    EXPECT_FALSE(e.BtnStopEnabled());
    EXPECT_EQ(e.sRunPlanFn(), dir.File("乙/计划表.tab"));
    EXPECT_EQ(e.sJDQState(), "00");
    EXPECT_EQ(e.sgState().RowCount(), 4);
    e.btnRunClick();
    TickAt(8, 0, 1);
    const std::string expected = OnCommand(1) + kQuery;
    EXPECT_EQ(otherEnd.Read(expected.size(), 2000), expected);
    EXPECT_EQ(test::Drain(far, 50), "");
}

TEST_F(RunEngineTest, ClockTickShowsDateAndTimeAndStartsAtMidnightWithChkRun) {
    WriteController(2, far.SlavePath());
    boxes.chk4Level = true;
    WritePlan({{"1", "00:00:00", "接通"}, {"1", "23:59:59", "接通"}});
    WritePlan({{"2", "00:00:00", "接通"}}, "2012-03-19.tab");
    clock.Set(kDay, 23, 59, 58, 250);
    Prepared();
    Engine().Timer1Timer();
    EXPECT_EQ(status.Panel(0), " 2012-03-18");
    EXPECT_EQ(status.Panel(1), " 23:59:58");
    // Stopped and chkRun clear: the new day's plan is selected, no start.
    clock.Set(Date{2012, 3, 19}, 0, 0, 0, 300);
    Engine().Timer1Timer();
    EXPECT_EQ(Engine().LastRunDate(), (Date{2012, 3, 19}));
    EXPECT_EQ(Engine().sRunPlanFn(), dir.File("泵房/2012-03-19.tab"));
    EXPECT_FALSE(Engine().Running());
    // With chkRun a stopped engine starts at the next midnight.
    boxes.chkRun = true;
    clock.Set(Date{2012, 3, 20}, 0, 0, 0, 300);
    Engine().Timer1Timer();
    EXPECT_TRUE(Engine().Running());
    EXPECT_EQ(Engine().sRunPlanFn(), dir.File("泵房/计划表.tab"));
    TickAt(0, 0, 1);
    ExpectSent(OnCommand(1), "second 0 of the new day, caught up");
}

TEST_F(RunEngineTest, ARunningEngineGoesOnOverMidnightOnTheNewDaysPlan) {
    WriteController(3, far.SlavePath());
    test::PtyPair testPortEnd;
    boxes.chk4Level = true;
    WritePlan({{"1", "23:59:59", "接通"}, {"1", "00:00:00", "断开"}});
    WritePlan({{"2", "00:00:00", "接通"}, {"3", "00:00:01", "接通"}}, "2012-03-19.tab");
    StartAt(23, 59, 58);
    TickAt(23, 59, 59);
    ExpectSent(OnCommand(1), "23:59:59");
    com1.SetCommPort(testPortEnd.SlavePath());
    ASSERT_TRUE(com1.OpenPort());
    // The check tick sees the new date first.
    clock.Set(Date{2012, 3, 19}, 0, 0, 0, 1);
    Engine().tmCheckTimer();
    EXPECT_TRUE(Engine().Running());
    EXPECT_FALSE(com1.IsOpen());
    EXPECT_EQ(Engine().sRunPlanFn(), dir.File("泵房/2012-03-19.tab"));
    EXPECT_EQ(Engine().LastRunDate(), (Date{2012, 3, 19}));
    ExpectSent(OnCommand(2), "00:00:00 of the new plan");
    clock.Set(Date{2012, 3, 19}, 0, 0, 0, 400);
    Engine().Timer1Timer();
    TickAt(0, 0, 1);
    ExpectSent(OnCommand(3), "00:00:01");
}

TEST_F(RunEngineTest, ALateTickOverMidnightFinishesTheOldDayThenStartsTheNew) {
    WriteController(3, far.SlavePath());
    boxes.chk4Level = true;
    WritePlan({{"1", "23:59:59", "接通"}, {"3", "00:00:00", "断开"}});
    WritePlan({{"2", "00:00:00", "接通"}, {"3", "00:00:02", "接通"}}, "2012-03-19.tab");
    StartAt(23, 59, 57);
    TickAt(23, 59, 58);
    ExpectSent("", "23:59:58");
    clock.Set(Date{2012, 3, 19}, 0, 0, 2, 0);
    Engine().Timer1Timer();
    Engine().tmCheckTimer();
    ExpectSent(OnCommand(1) + OnCommand(2) + OnCommand(3), "four seconds over midnight");
}

TEST_F(RunEngineTest, TheClockSetBackOverMidnightRepeatsNothing) {
    WriteController(3, far.SlavePath());
    WritePlan({{"1", "23:59:55", "接通"}, {"2", "00:00:03", "接通"}, {"3", "00:00:08", "接通"}});
    StartAt(23, 59, 54);
    TickAt(23, 59, 55);
    ExpectSent(OnCommand(1), "23:59:55");
    clock.Set(Date{2012, 3, 19}, 0, 0, 5, 0);
    Engine().Timer1Timer();
    Engine().tmCheckTimer();
    ExpectSent(OnCommand(2), "00:00:05 of the new day");
    // Back to the old day: it was handled to its end already.
    clock.Set(kDay, 23, 59, 50, 0);
    Engine().Timer1Timer();
    EXPECT_TRUE(Engine().Running());
    TickAt(23, 59, 56);
    ExpectSent("", "23:59:56 again");
    // A stop and start behind the handled seconds keeps them handled.
    Engine().btnStopClick();
    Engine().btnRunClick();
    TickAt(23, 59, 59);
    ExpectSent("", "23:59:59 again");
    clock.Set(Date{2012, 3, 19}, 0, 0, 4, 0);
    Engine().Timer1Timer();
    Engine().tmCheckTimer();
    ExpectSent("", "00:00:04 again");
    TickAt(0, 0, 8);
    ExpectSent(OnCommand(3), "00:00:08 once the clock is past the handled seconds");
    // A clock that was a day ahead and is corrected runs the plan from now on.
    clock.Set(kDay, 0, 0, 7, 0);
    Engine().Timer1Timer();
    Engine().tmCheckTimer();
    ExpectSent("", "00:00:07 of the corrected day");
    TickAt(0, 0, 8);
    ExpectSent(OnCommand(3), "00:00:08 of the corrected day");
}

struct RunEventsSeen : IRunEventSink {
    void OnRunEvent(const RunEvent& event) override {
        if (event.kind == "run") seen.push_back(event.result + ":" + event.detail);
    }
    std::vector<std::string> seen;
};

TEST_F(RunEngineTest, ASavedTableTakesOverTheRestOfTheDayWithoutRepeatingASecond) {
    WriteController(3, far.SlavePath());
    WritePlan({{"1", "08:00:05", "接通"}});
    // An old table that the start's housekeeping deletes.
    WritePlan({{"1", "08:00:05", "接通"}}, "2011-01-01.tab");
    boxes.chkAutoDelete = true;
    RunEventsSeen events;
    StartAt(8, 0, 0);
    ASSERT_FALSE(FileExists(dir.File("泵房/2011-01-01.tab")));
    Engine().Events().Add(&events);
    TickAt(8, 0, 2);
    ExpectSent("", "08:00:02");
    Engine().Timer1Timer();
    EXPECT_EQ(events.seen, std::vector<std::string>{}) << "the table in force did not change";
    EXPECT_EQ(Panel3(), "");

    // The editor replaces the table: an action of a second already handled
    // and two still to come.
    WritePlan({{"2", "08:00:01", "接通"}, {"3", "08:00:04", "接通"}, {"1", "08:00:06", "断开"}});
    Engine().Timer1Timer();
    EXPECT_EQ(Panel3(), " 计划表已更新:计划表.tab");
    EXPECT_EQ(events.seen, std::vector<std::string>{"plan reloaded:计划表.tab"});
    EXPECT_EQ(Engine().sgPlan().Cell(1, 3), "1");
    TickAt(8, 0, 5);
    ExpectSent(OnCommand(3), "08:00:05: the new 08:00:04, not the old 08:00:05 nor 08:00:01");
    TickAt(8, 0, 6);
    ExpectSent(OffCommand(1), "08:00:06");
    Engine().Timer1Timer();
    EXPECT_EQ(events.seen.size(), 1u) << "one reload per change";
    Engine().Events().Remove(&events);
}

TEST_F(RunEngineTest, ATableAddedOrDeletedIsChosenAgainByTheFourLevelRule) {
    boxes.chk4Level = true;
    WriteController(2, far.SlavePath());
    WritePlan({{"1", "08:00:03", "接通"}});
    StartAt(8, 0, 0);
    WritePlan({{"2", "08:00:03", "接通"}}, "星期日.tab");
    Engine().Timer1Timer();
    EXPECT_EQ(ExtractFileName(Engine().sRunPlanFn()), "星期日.tab");
    EXPECT_EQ(Panel3(), " 计划表已更新:星期日.tab");
    TickAt(8, 0, 3);
    ExpectSent(OnCommand(2), "the weekday's table");
    ForceDeleteFile(dir.File("泵房/星期日.tab"));
    Engine().Timer1Timer();
    EXPECT_EQ(ExtractFileName(Engine().sRunPlanFn()), "计划表.tab");
    EXPECT_NE(Engine().lbRunFn().find("计划表.tab"), std::string::npos);
}

TEST_F(RunEngineTest, AutoDeleteRemovesOldPlansAtEachStartOnlyWhenSet) {
    WriteController(2, far.SlavePath());
    WritePlan({}, "2012-02-01.tab");
    WritePlan({}, "2012-02-20.tab");
    clock.Set(kDay, 8, 0, 0);
    Prepared().btnRunClick();
    EXPECT_TRUE(FileExists(dir.File("泵房/2012-02-01.tab")));
    Engine().btnStopClick();
    boxes.chkAutoDelete = true;
    Engine().btnRunClick();
    EXPECT_FALSE(FileExists(dir.File("泵房/2012-02-01.tab")));
    EXPECT_TRUE(FileExists(dir.File("泵房/2012-02-20.tab")));
    // And at a change of date.
    clock.Set(Date{2012, 3, 22}, 0, 0, 0, 200);
    Engine().Timer1Timer();
    EXPECT_FALSE(FileExists(dir.File("泵房/2012-02-20.tab")));
}

TEST_F(RunEngineTest, MillisecondsToNextSecond) {
    clock.Set(kDay, 8, 0, 0, 0);
    EXPECT_EQ(Engine().MillisecondsToNextSecond(), 1000);
    clock.Set(kDay, 8, 0, 0, 999);
    EXPECT_EQ(Engine().MillisecondsToNextSecond(), 1);
    clock.Set(kDay, 8, 0, 0, 250);
    EXPECT_EQ(Engine().MillisecondsToNextSecond(), 750);
}

}  // namespace
}  // namespace ristova::run
