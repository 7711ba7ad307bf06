#include "run/PlanSelection.h"

#include <gtest/gtest.h>

#include "base/Files.h"
#include "base/IniFile.h"
#include "plan/PlanFile.h"
#include "run/EngineFixture.h"
#include "run/RunPage.h"
#include "support/TempDir.h"

namespace ristova::run {
namespace {

using test::TempDir;

const Date kSunday{2012, 3, 18};

// A program folder with a controller and its plan folder holding `tables`.
class PlanSelectionTest : public ::testing::Test {
  protected:
    std::string Folder() { return dir_.Path() + "泵房/"; }
    void Tables(std::initializer_list<const char*> names) {
        ForceDirectories(Folder());
        for (const char* name : names) dir_.Write(std::string("泵房/") + name, "");
    }
    TempDir dir_;
};

TEST_F(PlanSelectionTest, FourLevelsInOrder) {
    Tables({"03-18.tab", "星期日.tab", "计划表.tab"});
    EXPECT_EQ(ChoosePlanName(Folder(), true, kSunday), "03-18.tab");
    Tables({"2012-03-18.tab"});
    EXPECT_EQ(ChoosePlanName(Folder(), true, kSunday), "2012-03-18.tab");
    EXPECT_EQ(ChoosePlanName(Folder(), false, kSunday), "计划表.tab");
    EXPECT_EQ(ChoosePlanName(Folder(), true, Date{2012, 3, 25}), "星期日.tab");
    EXPECT_EQ(ChoosePlanName(Folder(), true, Date{2012, 3, 24}), "计划表.tab");
}

TEST_F(PlanSelectionTest, WeekdaysAreNamedFromSundayAndTheDefaultNeedNotExist) {
    Tables({"星期一.tab", "星期六.tab"});
    EXPECT_EQ(ChoosePlanName(Folder(), true, kSunday), "计划表.tab");
    EXPECT_EQ(ChoosePlanName(Folder(), true, Date{2012, 3, 19}), "星期一.tab");
    EXPECT_EQ(ChoosePlanName(Folder(), true, Date{2012, 3, 24}), "星期六.tab");
    EXPECT_EQ(ChoosePlanName(dir_.File("none/"), true, kSunday), "计划表.tab");
}

TEST_F(PlanSelectionTest, StoredNamesInUpperCaseAreFoundUnderTheirOwnName) {
    Tables({"2012-03-19.TAB", "计划表.TAB"});
    EXPECT_EQ(ChoosePlanName(Folder(), true, Date{2012, 3, 19}), "2012-03-19.TAB");
    EXPECT_EQ(ChoosePlanName(Folder(), false, Date{2012, 3, 19}), "计划表.TAB");
}

// The run page as a run's plan selection leaves it.
class PageSelectionTest : public ::testing::Test, public test::EngineFixture {};

TEST_F(PageSelectionTest, ThePlanAndTheCommandsAreLoadedAndTheStatesReset) {
    ForceDirectories(dir.File("泵房"));
    dir.Write("泵房/2012-03-18.TAB", "  1^^02^^07:30:00^^\xBD\xD3\xCD\xA8^^^^^^\r\n");
    dir.Write("泵房.PSW",
              "[COMMAND]\r\nRow0=a^^b^^c^^d^^e^^f^^\r\nRow1=x^^55AA01^^55AA00^^lamp^^"
              "\xB2\xBB\xB4\xE6\xD4\xDA^^ \xA1\xCC^^\r\n"
              "Row2=y^^55AA11^^55AA10^^fan^^door^^ X^^\r\n");
    boxes.chk4Level = true;
    clock.Set(kSunday, 8, 0, 0);
    RunPage& page = Engine();
    page.sgPlan().SetWidth(400);
    page.sgPower().SetWidth(600);
    page.FillRunDeviceList();
    EXPECT_EQ(page.sRunPlanFn(), dir.File("泵房/2012-03-18.TAB"));
    EXPECT_EQ(page.lbRunFn(), "【运行计划表】" + page.sRunPlanFn());
    EXPECT_EQ(page.sJDQState(), "00");

    const StringGrid& sgPlan = page.sgPlan();
    ASSERT_EQ(sgPlan.RowCount(), 2);
    EXPECT_EQ(sgPlan.Cell(1, 1), "02");
    EXPECT_EQ(sgPlan.Cell(3, 1), "接通");
    EXPECT_EQ(sgPlan.ColWidth(4) + sgPlan.ColWidth(5), 400 - (28 + 38 + 51 + 52) - 6 - 1 - 1);
    EXPECT_EQ(sgPlan.ColWidth(4), sgPlan.ColWidth(5) - 1);

    const StringGrid& sgPower = page.sgPower();
    ASSERT_EQ(sgPower.RowCount(), 3);
    EXPECT_EQ(sgPower.Cell(0, 0), "继电器开关");
    EXPECT_EQ(sgPower.Cell(0, 1), "   1");
    EXPECT_EQ(sgPower.Cell(4, 1), "不存在");
    EXPECT_EQ(sgPower.Cell(5, 1), " √");
    // Two relays need no scroll bar; no fixed column.
    EXPECT_EQ(sgPower.ColWidth(3) + sgPower.ColWidth(4), 600 - (64 + 153 + 161 + 64) - 6 - 1);
}

TEST_F(PageSelectionTest, AMissingControllerAndTableGiveOneEmptyRowEach) {
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "A.B.PSW");
    WriteController(3, "COM1", {}, "C.PSW");
    RunPage& page = Engine();
    page.cbRunDevListChange("C.PSW");
    page.btnRunClick();
    page.cbRunDevListChange("A.B.PSW");
    EXPECT_EQ(page.sRunPlanFn(), dir.Path() + "A.B/计划表.tab");
    EXPECT_EQ(page.sJDQState(), "0");
    EXPECT_EQ(page.sgPlan().RowCount(), 2);
    EXPECT_EQ(page.sgPlan().Cell(0, 1), "  1");
    EXPECT_EQ(page.sgPower().RowCount(), 2);
    EXPECT_EQ(page.sgPower().Cell(1, 1), "");
    page.sgPower().SetRowCount(4);
    EXPECT_EQ(page.sgPower().Cell(1, 3), "") << "rows of the previous controller do not linger";
}

}  // namespace
}  // namespace ristova::run
