#include "plan/PlanEditorPage.h"


#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "plan/PlanFile.h"
#include "support/PageContext.h"

namespace ristova::plan {
namespace {

struct Row {
    std::string relay, time, action;
};

class PlanEditorPageTest : public ::testing::Test {
  protected:
    PlanEditorPageTest() : page(pc.ctx) { pc.clock.now.date = {2012, 3, 18}; }

    // A controller file with relays 1..n; relay k's contacts are "on k" and "off k".
    void MakeController(const std::string& name, int relays) {
        const std::string path = pc.File(name);
        WriteIniText(path, "COMMAND", "Row0",
                     "继电器开关^^接通指令^^断开指令^^常开开关用途^^常闭开关用途^^启动时接通^^");
        for (int k = 1; k <= relays; ++k) {
            const std::string n = std::to_string(k);
            WriteIniText(path, "COMMAND", "Row" + n, n + "^^^^^^on " + n + "^^off " + n + "^^^^");
        }
    }
    void Remember(std::string_view key, std::string_view value) {
        WriteIniText(pc.ctx.settingsFile, "EDIT", key, value);
    }
    // Opens controller A.PSW with 8 relays on its default table.
    void OpenA() {
        MakeController("A.PSW", 8);
        Remember("sPowerFn", "A.PSW");
        page.InitPlanEditor();
    }
    void Type(const std::vector<Row>& rows) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            page.btnAddClick();
            const int r = page.sgEdPlan().Row();
            page.sgEdPlanSetEditText(1, r, rows[i].relay);
            page.sgEdPlanSetEditText(2, r, rows[i].time);
            page.sgEdPlan().SetCell(3, r, rows[i].action);
        }
    }
    std::vector<std::string> Column(const StringGrid& g, int col) {
        std::vector<std::string> cells;
        for (int r = 1; r < g.RowCount(); ++r) cells.push_back(g.Cell(col, r));
        return cells;
    }
    StringGrid Stored(const std::string& path) {
        StringGrid g(6, 2, 1, 1);
        LoadPlanGrid(path, g);
        return g;
    }

    test::PageContext pc;
    PlanEditorPage page;
};

TEST_F(PlanEditorPageTest, NothingRememberedLeavesThePageAsItIs) {
    page.InitPlanEditor();
    EXPECT_EQ(page.lbEdFn(), "当前编辑计划表：无");
    EXPECT_EQ(page.sEdPlanFn(), "");
    page.btnAddClick();
    page.btnSavePlanClick();
    page.btnDelPlanFnClick();
    EXPECT_FALSE(page.SaveAsProposalFor().has_value());
    EXPECT_FALSE(FileExists(pc.ctx.settingsFile));
}

TEST_F(PlanEditorPageTest, RememberedControllerThatIsGoneEmptiesThePage) {
    OpenA();
    Remember("sPowerFn", "GONE.PSW");
    page.btnReGetDevicesClick();
    EXPECT_EQ(page.sEdPowerFn(), "");
    EXPECT_EQ(page.sEdPlanFn(), "");
    EXPECT_EQ(page.cbEditDevList().itemIndex, -1);
    EXPECT_TRUE(page.cbEdFn().items.empty());
    EXPECT_EQ(page.lbEdFn(), "当前编辑计划表：无");
    EXPECT_EQ(page.sgedDev().RowCount(), 2);
    EXPECT_EQ(page.sgedDev().Cell(3, 1), "");
}

TEST_F(PlanEditorPageTest, RefreshWithNothingRememberedOpensNoTableOfTheProgramFolder) {
    OpenA();
    Remember("sPowerFn", "");
    page.btnReGetDevicesClick();
    ASSERT_FALSE(page.cbEdFn().items.empty());
    page.cbEdFnChange(0);
    EXPECT_EQ(page.sEdPlanFn(), "");
    page.btnAddClick();
    page.sgEdPlanSetEditText(1, 1, "01");
    page.btnSavePlanClick();
    EXPECT_FALSE(FileExists(pc.File("计划表.tab")));
}

TEST_F(PlanEditorPageTest, NewControllerGetsItsFolderAndAnEmptyDefaultTable) {
    OpenA();
    EXPECT_TRUE(DirectoryExists(pc.File("A/")));
    EXPECT_EQ(page.cbEdFn().items, std::vector<std::string>{"计划表.tab"});
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/计划表.tab"));
    EXPECT_EQ(page.lbEdFn(), "【当前编辑计划表】 " + pc.File("A/计划表.tab"));
    EXPECT_EQ(page.sgEdPlan().RowCount(), 2);
    EXPECT_EQ(page.sgEdPlan().Cell(2, 0), "动作时间");
    EXPECT_EQ(page.sgedDev().RowCount(), 9);
    EXPECT_EQ(page.sgedDev().Cell(0, 3), "   3");
    EXPECT_EQ(page.sgedDev().Cell(3, 3), "on 3");
    EXPECT_FALSE(FileExists(page.sEdPlanFn()));
    page.btnSavePlanClick();
    EXPECT_EQ(pc.Read("A/计划表.tab"), "  1^^^^^^^^^^^^\r\n");
}

TEST_F(PlanEditorPageTest, SavingSortsByRelayOrByTimeAndTheSelectionFollows) {
    OpenA();
    Type({{"02", "08:00:00", "接通"}, {"01", "09:00:00", "接通"}, {"02", "07:00:00", "接通"}});
    page.sgEdPlanSelectCell(2, 1);  // relay 02 at 08:00:00
    page.btnSavePlanClick();
    EXPECT_EQ(Column(page.sgEdPlan(), 1), (std::vector<std::string>{"01", "02", "02"}));
    EXPECT_EQ(Column(page.sgEdPlan(), 2),
              (std::vector<std::string>{"09:00:00", "07:00:00", "08:00:00"}));
    EXPECT_EQ(page.sgEdPlan().Row(), 3);
    EXPECT_EQ(Column(page.sgEdPlan(), 0), (std::vector<std::string>{"  1", "  2", "  3"}));

    page.rbTimeClick();
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "LOAD", "rbJDQ"), "按动作时间排序");
    // Choosing the order re-sorts nothing by itself.
    EXPECT_EQ(Column(page.sgEdPlan(), 2)[0], "09:00:00");
    page.btnSavePlanClick();
    EXPECT_EQ(Column(page.sgEdPlan(), 2),
              (std::vector<std::string>{"07:00:00", "08:00:00", "09:00:00"}));
    EXPECT_EQ(Column(page.sgEdPlan(), 1), (std::vector<std::string>{"02", "02", "01"}));
    EXPECT_EQ(page.sgEdPlan().Row(), 2);

    const StringGrid stored = Stored(page.sEdPlanFn());
    EXPECT_EQ(Column(stored, 2), (std::vector<std::string>{"07:00:00", "08:00:00", "09:00:00"}));

    // Removing a last row of an unknown relay does not hand the selection to
    // the row above it.
    page.btnAddClick();
    page.sgEdPlanSetEditText(1, 4, "09");
    page.sgEdPlanSelectCell(1, 1);  // relay 02 at 07:00:00
    page.rbJDQClick();
    EXPECT_THROW(page.btnSavePlanClick(), OperatorError);
    EXPECT_EQ(page.sgEdPlan().RowCount(), 4);
    EXPECT_EQ(page.sgEdPlan().Row(), 2);
    EXPECT_EQ(page.sgEdPlan().Cell(2, 2), "07:00:00");
}

TEST_F(PlanEditorPageTest, SavingCompletesAndChecksEveryRow) {
    OpenA();
    Type({{"03", "8:5:0", ""},
          {"09", "10:00:00", "接通"},
          {"0", "10:00:00", "接通"},
          {"$2", "10:00:00", "接通"},
          {"08", "99:99:99", "接通"},
          {"08", "08:75:00", "接通"},
          {"08", "10:00:00", "接通"}});
    // The dropped rows are named in one message, after the others are saved;
    // a time that cannot be read is never made into another time.
    try {
        page.btnSavePlanClick();
        ADD_FAILURE() << "the dropped rows were not reported";
    } catch (const OperatorError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "第2、3、4行的继电器号不在1..8之间,第5、6行的时间无法识别,这些行未保存");
    }
    const StringGrid& g = page.sgEdPlan();
    ASSERT_EQ(g.RowCount(), 3);
    EXPECT_EQ(g.Cell(1, 1), "03");
    EXPECT_EQ(g.Cell(2, 1), "08:05:00");
    EXPECT_EQ(g.Cell(3, 1), "断开");
    EXPECT_EQ(g.Cell(4, 1), "on 3");
    EXPECT_EQ(g.Cell(5, 1), "off 3");
    const StringGrid stored = Stored(page.sEdPlanFn());
    EXPECT_EQ(Column(stored, 1), (std::vector<std::string>{"03", "08"}));
    EXPECT_EQ(Column(stored, 2), (std::vector<std::string>{"08:05:00", "10:00:00"}));
    EXPECT_EQ(Column(stored, 3), (std::vector<std::string>{"断开", "接通"}));
}

TEST_F(PlanEditorPageTest, SaveAsProposesTomorrowAndStoresTheNameUpperCasedInThePlanFolder) {
    OpenA();
    Type({{"01", "07:00:00", "接通"}});
    page.btnSavePlanClick();
    const std::string before = pc.Read("A/计划表.tab");
    Type({{"02", "08:00:00", "接通"}});

    const auto proposal = page.SaveAsProposalFor();
    ASSERT_TRUE(proposal);
    EXPECT_EQ(proposal->folder, pc.File("A/"));
    EXPECT_EQ(proposal->fileName, pc.File("A/2012-03-19.tab"));

    page.btnSaveAsClick(std::nullopt);
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/计划表.tab"));

    // The folder chosen in the dialog does not matter.
    page.btnSaveAsClick("/somewhere/else/2012-03-19.tab");
    EXPECT_TRUE(FileExists(pc.File("A/2012-03-19.TAB")));
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/2012-03-19.TAB"));
    EXPECT_EQ(page.cbEdFn().Text(), "2012-03-19.TAB");
    EXPECT_EQ(page.lbEdFn(), "【当前编辑计划表】 " + pc.File("A/2012-03-19.TAB"));
    EXPECT_EQ(page.sgEdPlan().RowCount(), 3);
    EXPECT_EQ(pc.Read("A/计划表.tab"), before);
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "EDIT", "cbEdFn"), "");

    page.btnSaveAsClick(pc.File("A/weekly.txt"));
    EXPECT_EQ(page.cbEdFn().Text(), "WEEKLY.TAB");
    EXPECT_EQ(page.cbEdFn().items.size(), 3u);
}

TEST_F(PlanEditorPageTest, FailedSaveAsReturnsToTheTableThatWasOpen) {
    OpenA();
    Type({{"01", "07:00:00", "接通"}});
    // A folder where the file should go refuses the write, also for root.
    ASSERT_TRUE(ForceDirectories(pc.File("A/BAD.TAB")));
    EXPECT_THROW(page.btnSaveAsClick(pc.File("A/bad.tab")), OperatorError);
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/计划表.tab"));
    EXPECT_EQ(page.cbEdFn().Text(), "计划表.tab");
    EXPECT_EQ(page.sgEdPlan().Cell(1, 1), "01");
    page.btnSavePlanClick();
    EXPECT_TRUE(FileExists(pc.File("A/计划表.tab")));
}

// Dropped rows are reported after the new table is written: by then it is
// the open one, and the next "保存表" goes to it, not to the old table.
TEST_F(PlanEditorPageTest, SaveAsWithDroppedRowsKeepsEditingTheNewTable) {
    OpenA();
    Type({{"01", "07:00:00", "接通"}});
    page.btnSavePlanClick();
    const std::string before = pc.Read("A/计划表.tab");
    Type({{"09", "08:00:00", "接通"}});
    EXPECT_THROW(page.btnSaveAsClick(pc.File("A/2012-03-19.tab")), OperatorError);
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/2012-03-19.TAB"));
    EXPECT_EQ(page.cbEdFn().Text(), "2012-03-19.TAB");
    EXPECT_EQ(page.lbEdFn(), "【当前编辑计划表】 " + pc.File("A/2012-03-19.TAB"));

    Type({{"02", "09:00:00", "接通"}});
    page.btnSavePlanClick();
    EXPECT_EQ(pc.Read("A/计划表.tab"), before);
    EXPECT_EQ(Column(Stored(pc.File("A/2012-03-19.TAB")), 1),
              (std::vector<std::string>{"01", "02"}));
}

TEST_F(PlanEditorPageTest, DeletingNeverTouchesTheDefaultTable) {
    OpenA();
    page.btnSavePlanClick();
    page.btnDelPlanFnClick();
    EXPECT_TRUE(FileExists(pc.File("A/计划表.tab")));

    page.btnSaveAsClick(pc.File("A/计划表"));  // stored as 计划表.TAB
    page.btnDelPlanFnClick();
    EXPECT_TRUE(FileExists(page.sEdPlanFn()));

    page.btnSaveAsClick(pc.File("A/2012-03-20.tab"));
    ASSERT_TRUE(FileExists(pc.File("A/2012-03-20.TAB")));
    page.btnDelPlanFnClick();
    EXPECT_FALSE(FileExists(pc.File("A/2012-03-20.TAB")));
    EXPECT_EQ(page.cbEdFn().Text(), "计划表.tab");
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/计划表.tab"));
}

// A settings file that refuses writes: each choice is carried out in full
// before the refusal is reported, and the open table is what delete judges.
TEST_F(PlanEditorPageTest, ARefusedSettingWriteLeavesTheChoiceWholeAndTheDefaultSafe) {
    OpenA();
    page.btnSavePlanClick();
    page.btnSaveAsClick(pc.File("A/2012-03-20.tab"));
    MakeController("B.PSW", 2);
    page.btnReGetDevicesClick();
    test::SetReadOnly(pc.ctx.settingsFile);

    EXPECT_THROW(page.cbEdFnChange(page.cbEdFn().IndexOf("计划表.tab")), OperatorError);
    EXPECT_EQ(page.sEdPlanFn(), pc.File("A/计划表.tab"));
    page.btnDelPlanFnClick();
    EXPECT_TRUE(FileExists(pc.File("A/计划表.tab")));

    EXPECT_THROW(page.cbEditDevListChange(page.cbEditDevList().IndexOf("B.PSW")), OperatorError);
    EXPECT_EQ(page.sEdPlanFn(), pc.File("B/计划表.tab"));
    EXPECT_EQ(page.sgedDev().RowCount(), 3);
    test::SetReadOnly(pc.ctx.settingsFile, false);
}

TEST_F(PlanEditorPageTest, ChoosingControllersAndTablesIsRemembered) {
    OpenA();
    MakeController("B.PSW", 2);
    page.btnReGetDevicesClick();
    ASSERT_EQ(page.cbEditDevList().items.size(), 2u);
    const int b = page.cbEditDevList().IndexOf("B.PSW");
    ASSERT_TRUE(ForceDirectories(pc.File("B/")));
    pc.dir.Write("B/x.tab", "  1^^02^^06:00:00^^\xBD\xD3\xCD\xA8^^^^^^\r\n");
    page.cbEditDevListChange(b);
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "EDIT", "sPowerFn"), "B.PSW");
    EXPECT_EQ(page.cbEdFn().Text(), "计划表.tab");
    EXPECT_EQ(page.sgedDev().RowCount(), 3);
    page.cbEdFnChange(page.cbEdFn().IndexOf("x.tab"));
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "EDIT", "cbEdFn"), "x.tab");
    EXPECT_EQ(page.sgEdPlan().Cell(3, 1), "接通");

    page.sgEdPlan().SetCell(1, 1, "01");
    page.btnRestoreClick();
    EXPECT_EQ(page.sgEdPlan().Cell(1, 1), "02");

    PlanEditorPage next(pc.ctx);
    next.InitPlanEditor();
    EXPECT_EQ(next.sEdPlanFn(), pc.File("B/x.tab"));
}

TEST_F(PlanEditorPageTest, RowsCellsMasksAndActionToggle) {
    OpenA();
    page.btnAddClick();
    EXPECT_EQ(page.sgEdPlan().RowCount(), 2);  // the empty table reuses its row
    page.sgEdPlanSetEditText(1, 1, "01");
    page.btnAddClick();
    page.btnAddClick();
    EXPECT_EQ(page.sgEdPlan().RowCount(), 4);
    EXPECT_EQ(page.sgEdPlan().Row(), 3);
    page.sgEdPlanSelectCell(1, 1);
    page.btnDelClick();
    EXPECT_EQ(page.sgEdPlan().RowCount(), 3);
    EXPECT_EQ(page.sgEdPlan().Cell(0, 2), "  2");

    page.sgEdPlanSelectCell(2, 1);
    EXPECT_TRUE(page.sgEdPlanEditing());
    page.sgEdPlanDblClick();
    EXPECT_EQ(page.sgEdPlan().Cell(3, 1), "");
    page.sgEdPlanSelectCell(3, 1);
    EXPECT_FALSE(page.sgEdPlanEditing());
    for (const char* expected : {"接通", "断开", "接通"}) {
        page.sgEdPlanDblClick();
        EXPECT_EQ(page.sgEdPlan().Cell(3, 1), expected);
    }
    page.sgEdPlanSetEditText(3, 1, "typed");
    EXPECT_EQ(page.sgEdPlan().Cell(3, 1), "接通");
    page.sgEdPlanSelectCell(0, 1);  // the fixed column cannot be selected
    EXPECT_EQ(page.sgEdPlan().Col(), 3);

    EXPECT_EQ(PlanEditorPage::sgEdPlanGetEditMask(1), "00");
    EXPECT_EQ(PlanEditorPage::sgEdPlanGetEditMask(2), "00:00:00");
    EXPECT_EQ(PlanEditorPage::sgEdPlanGetEditMask(3), "");
}

TEST(PlanEditorMasks, TypedEntriesAreCompletedOrRefused) {
    auto complete = [](int col, std::string_view typed) {
        return PlanEditorPage::CompleteMaskedEntry(col, typed).value_or("refused");
    };
    EXPECT_EQ(complete(1, "3"), "03");
    EXPECT_EQ(complete(1, "12"), "12");
    EXPECT_EQ(complete(1, "3_"), "03") << "typed through a mask";
    EXPECT_EQ(complete(1, ""), "refused");
    EXPECT_EQ(complete(1, "123"), "refused");
    EXPECT_EQ(complete(1, "a"), "refused");
    EXPECT_EQ(complete(2, "9:5:0"), "09:05:00");
    EXPECT_EQ(complete(2, "9:5"), "09:05:00");
    EXPECT_EQ(complete(2, "9:5:"), "09:05:00");
    EXPECT_EQ(complete(2, "090500"), "09:05:00");
    EXPECT_EQ(complete(2, "0905"), "09:05:00");
    EXPECT_EQ(complete(2, "09:__:__"), "refused");
    EXPECT_EQ(complete(2, "09"), "refused");
    EXPECT_EQ(complete(2, "9::0"), "refused");
    EXPECT_EQ(complete(2, "1:2:3:4"), "refused");
    EXPECT_EQ(complete(2, "123:0:0"), "refused");
    EXPECT_EQ(complete(2, "087500"), "refused") << "no minute 75";
    EXPECT_EQ(complete(2, "24:00:00"), "refused");
}

TEST_F(PlanEditorPageTest, SortButtonsFromTheSettingsFile) {
    page.LoadSortButtons();
    EXPECT_TRUE(page.rbJDQ());
    EXPECT_FALSE(FileExists(pc.ctx.settingsFile));

    WriteIniText(pc.ctx.settingsFile, "LOAD", "rbJDQ", "按动作时间排序");
    PlanEditorPage byTime(pc.ctx);
    byTime.LoadSortButtons();
    EXPECT_TRUE(byTime.rbTime());
    EXPECT_FALSE(byTime.rbJDQ());

    // A text naming neither button unchecks both, and saving sorts by time.
    WriteIniText(pc.ctx.settingsFile, "LOAD", "rbJDQ", "other");
    PlanEditorPage other(pc.ctx);
    other.LoadSortButtons();
    EXPECT_FALSE(other.rbJDQ());
    EXPECT_FALSE(other.rbTime());
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "LOAD", "rbJDQ"), "other");
    MakeController("A.PSW", 8);
    Remember("sPowerFn", "A.PSW");
    other.InitPlanEditor();
    other.btnAddClick();
    other.sgEdPlanSetEditText(1, 1, "02");
    other.sgEdPlanSetEditText(2, 1, "07:00:00");
    other.btnAddClick();
    other.sgEdPlanSetEditText(1, 2, "01");
    other.sgEdPlanSetEditText(2, 2, "09:00:00");
    other.btnSavePlanClick();
    EXPECT_EQ(Column(other.sgEdPlan(), 1), (std::vector<std::string>{"02", "01"}));
}

}  // namespace
}  // namespace ristova::plan
