#include "plan/PlanFile.h"

#include <gtest/gtest.h>

#include "base/GridOps.h"
#include "support/TempDir.h"

namespace ristova::plan {
namespace {

using test::TempDir;

TEST(PlanFile, FolderDropsOnlyTheLastExtension) {
    EXPECT_EQ(PlanFolder("/opt/r/", "/opt/r/AB.C.PSW"), "/opt/r/AB.C/");
    EXPECT_EQ(PlanFolder("/opt/r/", "Quelmar电源控制器.PSW"), "/opt/r/Quelmar电源控制器/");
    EXPECT_EQ(PlanFolder("/opt/r", "泵房.PSW"), "/opt/r/泵房/");
}

TEST(PlanFile, NamesMatchWithoutLatinCaseExactNameFirst) {
    TempDir dir;
    dir.Write("2012-03-19.TAB", "");
    EXPECT_EQ(FindPlanFileName(dir.Path(), "2012-03-19.tab"), "2012-03-19.TAB");
    EXPECT_EQ(ResolvePlanPath(dir.Path(), "2012-03-19.tab"), dir.File("2012-03-19.TAB"));
    EXPECT_TRUE(PlanFileExists(dir.Path(), "2012-03-19.Tab"));
    EXPECT_FALSE(PlanFileExists(dir.Path(), "2012-03-20.tab"));
    EXPECT_EQ(ResolvePlanPath(dir.Path(), "计划表.tab"), dir.File("计划表.tab"));

    dir.Write("2012-03-19.tab", "");
    EXPECT_EQ(FindPlanFileName(dir.Path(), "2012-03-19.tab"), "2012-03-19.tab");
    EXPECT_EQ(FindPlanFileName(dir.Path(), "2012-03-19.TAB"), "2012-03-19.TAB");

    EXPECT_EQ(FindPlanFileName(dir.File("missing/"), "2012-03-19.tab"), "");
}

TEST(PlanFile, LoadKeepsSixCellsRenumbersAndTitles) {
    TempDir dir;
    // Eight cells a line and stale row numbers; the name differs in case.
    dir.Write("X.TAB",
              "  7^^03^^07:30:00^^\xBD\xD3\xCD\xA8^^lamp^^\xB2\xBB\xB4\xE6\xD4\xDA^^g^^h^^\r\n"
              "  9^^01^^08:00:00^^\xB6\xCF\xBF\xAA^^^^^^\r\n");
    StringGrid grid(4, 9);
    grid.SetCell(1, 5, "stale");
    LoadPlanGrid(dir.File("x.tab"), grid);
    ASSERT_EQ(grid.ColCount(), 6);
    ASSERT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.Cell(0, 0), "序号");
    EXPECT_EQ(grid.Cell(5, 0), "常闭开关用途");
    EXPECT_EQ(grid.Cell(0, 1), "  1");
    EXPECT_EQ(grid.Cell(0, 2), "  2");
    EXPECT_EQ(grid.Cell(3, 1), "接通");
    EXPECT_EQ(grid.Cell(5, 1), "不存在");
    EXPECT_EQ(grid.Cell(3, 2), "断开");

    SavePlanGrid(grid, dir.File("x.tab"));
    EXPECT_EQ(dir.Read("X.TAB"),
              "  1^^03^^07:30:00^^\xBD\xD3\xCD\xA8^^lamp^^\xB2\xBB\xB4\xE6\xD4\xDA^^\r\n"
              "  2^^01^^08:00:00^^\xB6\xCF\xBF\xAA^^^^^^\r\n")
        << "the stored file is replaced, not given a twin in another case";
    EXPECT_EQ(dir.Read("x.tab"), "");
}

TEST(PlanFile, MissingAndOddTablesLoadWithoutFuss) {
    TempDir dir;
    StringGrid grid(6, 4);
    grid.SetCell(1, 1, "05");
    LoadPlanGrid(dir.File("nowhere/计划表.tab"), grid);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(0, 1), "  1");
    EXPECT_EQ(grid.Cell(1, 1), "");
    EXPECT_EQ(grid.Cell(1, 0), "继电器");

    // An empty relay cell in the first row is kept where the engine looks.
    dir.Write("a.tab", "  1^^^^07:00:00^^on^^^^^^\r\n  2^^02^^08:00:00^^on^^^^^^\r\n\r\n");
    LoadPlanGrid(dir.File("a.tab"), grid);
    ASSERT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(grid.Cell(1, 1), "");
    EXPECT_EQ(grid.Cell(1, 2), "02");
    EXPECT_EQ(grid.Cell(0, 3), "  3") << "the blank last line is an extra empty row";
    EXPECT_EQ(grid.Cell(1, 3), "");
}

}  // namespace
}  // namespace ristova::plan
