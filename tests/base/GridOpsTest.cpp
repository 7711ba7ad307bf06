#include "base/GridOps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <random>

#include "base/Codec.h"
#include "base/Errors.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// A grid with a title row and the given body rows.
StringGrid MakeGrid(int cols, const std::vector<std::vector<std::string>>& rows) {
    StringGrid grid(cols, static_cast<int>(rows.size()) + 1);
    for (int c = 0; c < cols; ++c) grid.SetCell(c, 0, "T" + std::to_string(c));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < static_cast<int>(rows[r].size()); ++c)
            grid.SetCell(c, r + 1, rows[r][c]);
    }
    return grid;
}

std::vector<std::string> Column(const StringGrid& grid, int col) {
    std::vector<std::string> out;
    for (int r = 1; r < grid.RowCount(); ++r) out.push_back(grid.Cell(col, r));
    return out;
}

TEST(StringGrid, HiddenRowsKeepTheirCellsButDroppedColumnsAreGone) {
    StringGrid grid(3, 4);
    grid.SetCell(2, 3, "x");
    grid.SetRow(3);
    grid.SetRowCount(2);
    EXPECT_EQ(grid.Row(), 1);
    grid.SetRowCount(4);
    EXPECT_EQ(grid.Cell(2, 3), "x");
    grid.SetColCount(2);
    grid.SetColCount(3);
    EXPECT_EQ(grid.Cell(2, 3), "");
    EXPECT_EQ(grid.Cell(-1, 0), "");
    EXPECT_EQ(grid.Cell(50, 5000), "");
    grid.SetRow(0);
    EXPECT_EQ(grid.Row(), 1) << "the title row is not selectable";
}

TEST(GridOps, RowTextRoundTripsIntoAWiderGrid) {
    StringGrid three = MakeGrid(3, {{"  1", "03", "08:00:00"}});
    std::string text = GridRowToText(three, 1);
    EXPECT_EQ(text, "  1^^03^^08:00:00^^");
    EXPECT_EQ(CountCells(text), 3);

    StringGrid six = MakeGrid(6, {{"a", "b", "c", "d", "e", "f"}});
    TextToGridRow(text, six, 1);
    EXPECT_EQ(GridRowToText(six, 1), "  1^^03^^08:00:00^^^^^^^^");

    StringGrid two = MakeGrid(2, {{"old", "old"}});
    TextToGridRow("tail only", two, 1);
    EXPECT_EQ(GridRowToText(two, 1), "tail only^^^^");
    TextToGridRow("a^^b^^c^^d^^", two, 1);
    EXPECT_EQ(GridRowToText(two, 1), "a^^b^^");
    TextToGridRow("x^^y", two, 1);
    EXPECT_EQ(two.Cell(1, 1), "y");
    EXPECT_EQ(CountCells("^^^"), 1);
    EXPECT_EQ(CountCells("^^^^"), 2);
    EXPECT_EQ(CountCells(""), 0);
}

TEST(GridOps, ClearTitleAndNumber) {
    StringGrid grid = MakeGrid(3, {{"a", "b"}, {"c", "d"}, {"e", "f"}});
    ClearGrid(grid);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(0, 0), "T0");
    grid.SetRowCount(4);
    EXPECT_THAT(Column(grid, 0), ElementsAre("", "", "")) << "hidden rows come back empty";

    SetGridTitles(grid, {"序号", "继电器", "动作时间", "动作类型"});
    EXPECT_EQ(grid.ColCount(), 4);
    grid.SetRowCount(13);
    NumberGridRows(grid, 0, 1, ' ', 3);
    EXPECT_EQ(grid.Cell(0, 12), " 12");
}

TEST(GridOps, AddGridRowReusesAnEmptyGridAndEmptiesTheNewRow) {
    StringGrid grid = MakeGrid(3, {{"  1", "", "08:00:00"}});
    AddGridRow(grid);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Row(), 1);

    grid.SetCell(1, 1, "01");
    grid.SetCell(1, 2, "stale");  // a hidden row from before
    AddGridRow(grid);
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.Row(), 2);
    EXPECT_EQ(grid.Cell(1, 2), "");

    // An empty first row above filled ones does not make the grid empty.
    grid.SetCell(1, 1, "");
    grid.SetCell(1, 2, "02");
    AddGridRow(grid);
    EXPECT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(grid.Cell(1, 2), "02");
    EXPECT_EQ(grid.Row(), 3);
}

TEST(GridOps, DeleteGridRowInEachOfItsThreeCases) {
    StringGrid single = MakeGrid(2, {{"a", "b"}});
    DeleteGridRow(single, 1);
    EXPECT_EQ(single.RowCount(), 2);
    EXPECT_EQ(single.Cell(0, 1), "");

    StringGrid last = MakeGrid(2, {{"a"}, {"b"}, {"c"}});
    last.SetRow(3);
    DeleteGridRow(last, 3);
    EXPECT_EQ(last.RowCount(), 3);
    EXPECT_EQ(last.Row(), 2);
    EXPECT_THAT(Column(last, 0), ElementsAre("a", "b"));

    StringGrid middle = MakeGrid(2, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}});
    middle.SetRow(2);
    DeleteGridRow(middle, 2);
    EXPECT_EQ(middle.RowCount(), 4);
    EXPECT_EQ(middle.Row(), 2);
    EXPECT_THAT(Column(middle, 1), ElementsAre("1", "3", "4"));
    middle.SetRowCount(5);
    EXPECT_EQ(middle.Cell(0, 4), "") << "the old last row is emptied";

    DeleteGridRow(middle, 0);
    DeleteGridRow(middle, 9);
    EXPECT_THAT(Column(middle, 0), ElementsAre("a", "c", "d", ""));
    EXPECT_EQ(middle.Cell(0, 0), "T0");
}

TEST(GridOps, SortIsOrdinalOnUnsignedBytesAndMovesWholeRows) {
    StringGrid grid = MakeGrid(2, {{"10", "ten"}, {"09", "nine"}, {"1", "one"}});
    SortGridByColumn(grid, 0, 1, 3);
    EXPECT_THAT(Column(grid, 0), ElementsAre("09", "1", "10"));
    EXPECT_THAT(Column(grid, 1), ElementsAre("nine", "one", "ten"));

    StringGrid wide = MakeGrid(1, {{"中"}, {"z"}, {""}, {"Z"}});
    SortGridByColumn(wide, 0, 1, 4);
    EXPECT_THAT(Column(wide, 0), ElementsAre("", "Z", "z", "中"));

    StringGrid title = MakeGrid(1, {{"b"}, {"a"}});
    SortGridByColumn(title, 0, 2, 1);
    EXPECT_THAT(Column(title, 0), ElementsAre("b", "a")) << "a reversed range sorts nothing";
}

TEST(GridOps, SortIsTheUnstableQuicksortAndKeepsEveryRow) {
    // The pivot is "a"; rows 1 and 3 swap first, so the two a rows end up
    // in reverse order, which a stable sort would not do.
    StringGrid grid = MakeGrid(2, {{"b", "1"}, {"a", "2"}, {"a", "3"}});
    SortGridByColumn(grid, 0, 1, 3);
    EXPECT_THAT(Column(grid, 0), ElementsAre("a", "a", "b"));
    EXPECT_THAT(Column(grid, 1), ElementsAre("3", "2", "1"));

    std::mt19937 rng(7);
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 2000; ++i) rows.push_back({std::to_string(rng() % 50), std::to_string(i)});
    StringGrid many = MakeGrid(2, rows);
    SortGridByColumn(many, 0, 1, many.RowCount() - 1);
    auto keys = Column(many, 0);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    auto tags = Column(many, 1), before = Column(MakeGrid(2, rows), 1);
    std::sort(tags.begin(), tags.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(tags, before) << "every row is still there once";
}

TEST(GridOps, SortGridGroupsSortsEachRunOfEqualKeys) {
    StringGrid grid = MakeGrid(3, {{"", "02", "08:00:00"},
                                   {"", "01", "09:00:00"},
                                   {"", "01", "07:00:00"},
                                   {"", "02", "06:00:00"}});
    SortGridByColumn(grid, 1, 1, 4);
    SortGridGroups(grid, 1, 2, 1, 4);
    EXPECT_THAT(Column(grid, 1), ElementsAre("01", "01", "02", "02"));
    EXPECT_THAT(Column(grid, 2), ElementsAre("07:00:00", "09:00:00", "06:00:00", "08:00:00"));

    SortGridByColumn(grid, 2, 1, 4);
    SortGridGroups(grid, 2, 1, 1, 4);
    EXPECT_THAT(Column(grid, 2), ElementsAre("06:00:00", "07:00:00", "08:00:00", "09:00:00"));
    EXPECT_THAT(Column(grid, 1), ElementsAre("02", "01", "02", "01"));
}

TEST(GridOps, SaveWritesBodyRowsAsCodePageLinesEndingInCrLf) {
    TempDir dir;
    StringGrid grid = MakeGrid(3, {{"  1", "03", "接通"}, {"  2", "", ""}});
    SaveGridToTextFile(grid, dir.File("t.tab"));
    EXPECT_EQ(dir.Read("t.tab"), "  1^^03^^\xBD\xD3\xCD\xA8^^\r\n  2^^^^^^\r\n");
    SaveGridToTextFile(grid, "");  // nothing happens
    EXPECT_THROW(SaveGridToTextFile(grid, dir.File("missing/t.tab")), OperatorError);
    // A cell the row format cannot hold: the file stays as it was.
    grid.SetCell(2, 2, "断开^");
    EXPECT_THROW(SaveGridToTextFile(grid, dir.File("t.tab")), OperatorError);
    // Nor one with a character the code page lacks (it would come back "?").
    grid.SetCell(2, 2, "\xEE\x9E\x8F");
    EXPECT_THROW(SaveGridToTextFile(grid, dir.File("t.tab")), OperatorError);
    EXPECT_EQ(dir.Read("t.tab"), "  1^^03^^\xBD\xD3\xCD\xA8^^\r\n  2^^^^^^\r\n");
}

// A table edited in a Linux text editor is UTF-8; one from the program or
// from the other side is code page 936. Either reads as the same text.
TEST(GridOps, LoadReadsUtf8FilesAsUtf8AndAllOthersAsTheCodePage) {
    TempDir dir;
    const std::string row = "  1^^03^^08:00:00^^接通^^\r\n";
    for (const std::string& bytes :
         {row, "\xEF\xBB\xBF" + row, codec::ToCodePage(row)}) {
        dir.Write("t.tab", bytes);
        StringGrid g;
        LoadGridFromTextFile(g, dir.File("t.tab"));
        EXPECT_EQ(g.Cell(0, 1), "  1");
        EXPECT_EQ(g.Cell(3, 1), "接通");
    }
    // Code page bytes that also pass as UTF-8 are not possible here: "接通"
    // in the code page is no valid UTF-8, and an ASCII file reads the same.
    EXPECT_FALSE(codec::IsValidUtf8(codec::ToCodePage("接通")));
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x8E"})
        EXPECT_FALSE(codec::IsValidUtf8(bad)) << bad;
    EXPECT_TRUE(codec::IsValidUtf8("a接通😀"));
}

TEST(GridOps, LoadTakesEveryKindOfLineEnd) {
    TempDir dir;
    struct Case {
        const char* bytes;
        std::vector<std::string> col0;
    };
    const Case cases[] = {
        {"a^^\nb^^\n", {"a", "b"}},
        {"a^^\r\nb^^\r\n", {"a", "b"}},
        {"a^^\r\nb^^", {"a", "b"}},
        {"a^^\r\n", {"a"}},
        {"a^^\r\n\r\n", {"a", ""}},
        {"a\rb^^\r\n", {"a\rb"}},
        {"", {""}},
    };
    for (const Case& c : cases) {
        StringGrid grid = MakeGrid(2, {{"x", "x"}, {"y", "y"}, {"z", "z"}});
        LoadGridFromTextFile(grid, dir.Write("t.tab", c.bytes));
        EXPECT_THAT(Column(grid, 0), ElementsAreArray(c.col0)) << '"' << c.bytes << '"';
        EXPECT_EQ(grid.Cell(1, 1), "") << '"' << c.bytes << '"';
        EXPECT_EQ(grid.Cell(0, 0), "T0");
    }
    StringGrid grid = MakeGrid(2, {{"x", "x"}, {"y", "y"}});
    LoadGridFromTextFile(grid, dir.File("none.tab"));
    EXPECT_THAT(Column(grid, 0), ElementsAre(""));
}

TEST(GridOps, LoadWidensToTheFirstLineAndDecodesTheCodePage) {
    TempDir dir;
    StringGrid grid = MakeGrid(2, {{}});
    LoadGridFromTextFile(grid, dir.Write("t.tab", "1^^2^^\xBD\xD3\xCD\xA8^^\r\n4^^5^^6^^7^^\r\n"));
    EXPECT_EQ(grid.ColCount(), 3);
    EXPECT_EQ(grid.Cell(2, 1), "接通");
    EXPECT_EQ(grid.Cell(2, 2), "6") << "cells beyond the columns are dropped";
}

TEST(GridOps, LoadSurvivesGarbageAndHugeLines) {
    TempDir dir;
    std::string bytes("\xFF\x81\x00\x80^^garbage\r\n", 15);
    bytes += std::string(1 << 20, 'x') + "^^\r\n";
    bytes += std::string(1 << 20, '^') + "\r\n";
    bytes += "ok^^\xBD\xD3\xCD\xA8^^\r\n";
    StringGrid grid = MakeGrid(2, {{}});
    LoadGridFromTextFile(grid, dir.Write("t.tab", bytes));
    ASSERT_EQ(grid.RowCount(), 5);
    EXPECT_EQ(grid.Cell(1, 1), "garbage");
    EXPECT_EQ(grid.Cell(0, 2).size(), 1u << 20);
    EXPECT_EQ(grid.Cell(0, 4), "ok");
    EXPECT_EQ(grid.Cell(1, 4), "接通");
}

TEST(GridOps, StretchGridColumnFillsTheWidth) {
    StringGrid grid(6, 2, 1, 1);
    const int widths[] = {28, 38, 51, 52, 70, 78};
    for (int c = 0; c < 6; ++c) grid.SetColWidth(c, widths[c]);
    grid.SetWidth(400);
    const int others = 28 + 38 + 51 + 52 + 70;

    StretchGridColumn(grid, 5);
    EXPECT_EQ(grid.ColWidth(5), 400 - others - 6 - 1 - 1);
    grid.SetShowsVScrollBar(true);
    grid.SetScrollBarSize(17);
    StretchGridColumn(grid, 5);
    EXPECT_EQ(grid.ColWidth(5), 400 - others - 17 - 6 - 2 - 1);
    grid.SetDrawsVertLines(false);
    StretchGridColumn(grid, 5);
    EXPECT_EQ(grid.ColWidth(5), 400 - others - 17 - 6 - 2 + 5);
    grid.SetWidth(100);
    StretchGridColumn(grid, 5);
    EXPECT_EQ(grid.ColWidth(5), 0) << "too narrow a grid gives no negative width";

    grid.SetWidth(400);
    grid.SetShowsVScrollBar(false);
    grid.SetDrawsVertLines(true);
    FitPlanGridColumns(grid);
    const int sum = 70 + (400 - others - 8);
    EXPECT_EQ(grid.ColWidth(4), sum / 2);
    EXPECT_EQ(grid.ColWidth(5), sum - sum / 2);
}

}  // namespace
}  // namespace ristova
