#include "controller/ControllerFile.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/Codec.h"
#include "app/Errors.h"
#include "app/Files.h"
#include "app/GridOps.h"
#include "app/IniFile.h"
#include "support/TempDir.h"

namespace ristova::controller {
namespace {

using test::TempDir;

constexpr const char* kRow0 =
    "继电器开关^^接通指令^^断开指令^^常开开关用途^^常闭开关用途^^启动时接通^^";

std::string CommandFile(const TempDir& dir, const std::string& rows) {
    return dir.Write("c.PSW", codec::ToCodePage("[COMMAND]\r\n" + rows));
}

TEST(ControllerFile, CreatedFileHoldsOnlyTheMarker) {
    TempDir dir;
    const std::string path = dir.File("未命名电源设备.PSW");
    CreateControllerFile(path);
    EXPECT_EQ(dir.Read("未命名电源设备.PSW"),
              codec::ToCodePage("[LOAD]\r\nFLAG=Quelmar电源控制文件\r\n"));
    WriteKey(path, kComm, kPortWrite, "COM3");
    EXPECT_EQ(ReadKey(path, kComm, kPortRead), "COM3");
    EXPECT_EQ(ReadKey(dir.File("none.PSW"), kComm, kPortRead), "");
}

TEST(ControllerFile, TableWithoutRow0IsEmpty) {
    TempDir dir;
    const std::string path = CommandFile(dir, "Row1=   1^^AA^^BB^^^^^^^^\r\nRow2=   2^^CC^^\r\n");
    StringGrid grid(6, 10);
    grid.SetCell(1, 7, "stale hidden row");
    ReadCommandTable(path, grid);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.ColCount(), 6);
    EXPECT_EQ(grid.Cell(0, 0), "继电器开关");
    EXPECT_EQ(grid.Cell(5, 0), "启动时接通");
    EXPECT_EQ(grid.Cell(0, 1), "   1");
    EXPECT_EQ(grid.Cell(1, 1), "");
    grid.SetRowCount(10);
    EXPECT_EQ(grid.Cell(1, 7), "");
}

TEST(ControllerFile, GapEndsTableAndExtraCellsAreDropped) {
    TempDir dir;
    const std::string path = CommandFile(dir, std::string("Row0=") + kRow0 + "x^^y^^\r\n" +
                                                  "Row1=  99^^AA^^BB^^不存在^^灯^^ √^^extra^^\r\n"
                                                  "Row2=   2^^CC\r\n"
                                                  "Row4=   4^^DD^^\r\n");
    StringGrid grid(6, 2);
    ReadCommandTable(path, grid);
    EXPECT_EQ(grid.ColCount(), 6);
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.Cell(0, 1), "   1");  // numbered by the reader
    EXPECT_EQ(grid.Cell(3, 1), "不存在");
    EXPECT_EQ(grid.Cell(5, 1), " √");
    EXPECT_EQ(grid.Cell(1, 2), "CC");  // fewer cells: the rest stay empty
    EXPECT_EQ(grid.Cell(2, 2), "");
    // The cells beyond the sixth column are not written back.
    WriteCommandTableAndDescription(path, grid, {});
    EXPECT_EQ(ReadKey(path, kCommand, "Row1"), "1^^AA^^BB^^不存在^^灯^^ √^^");
    EXPECT_EQ(ReadKey(path, kCommand, "Row4"), "");
}

TEST(ControllerFile, SaveAndLoadRoundTrip) {
    TempDir dir;
    const std::string path = dir.File("Quelmar电源控制器.PSW");
    CreateControllerFile(path);
    WriteKey(path, kLoad, kComChl, "2");
    StringGrid grid(6, 2);
    ReadCommandTable(path, grid);
    grid.SetRowCount(3);
    NumberGridRows(grid, 0, 1, ' ', 4);
    grid.SetCell(1, 1, "4F2830302C30312C312945");
    grid.SetCell(3, 1, "不存在");
    grid.SetCell(4, 1, "不存在");
    grid.SetCell(5, 1, " X");
    grid.SetCell(3, 2, "电视 😀");
    const std::vector<std::string> description{"第一行", "", "third line"};
    WriteCommandTableAndDescription(path, grid, description);

    EXPECT_EQ(ReadKey(path, kCommand, "Row0"), kRow0);
    EXPECT_EQ(ReadKey(path, kCommand, "Row1"), "1^^4F2830302C30312C312945^^^^不存在^^不存在^^ X^^");
    EXPECT_NE(dir.Read("Quelmar电源控制器.PSW")
                  .find(codec::ToCodePage(
                      "Row1=   1^^4F2830302C30312C312945^^^^不存在^^不存在^^ X^^\r\n")),
              std::string::npos);
    EXPECT_EQ(ReadKey(path, kDescript, kSpecif), "第一行╋╋third line╋");
    EXPECT_EQ(ReadDescription(path), description);
    EXPECT_EQ(ReadKey(path, kLoad, kFlag), "Quelmar电源控制文件");  // other keys stay

    StringGrid back(6, 2);
    ReadCommandTable(path, back);
    ASSERT_EQ(back.RowCount(), 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 6; ++c) EXPECT_EQ(back.Cell(c, r), grid.Cell(c, r)) << c << "," << r;

    // Fewer relays on the next save: the old rows go.
    grid.SetRowCount(2);
    WriteCommandTableAndDescription(path, grid, {});
    EXPECT_EQ(ReadKey(path, kCommand, "Row2"), "");
    EXPECT_TRUE(ReadDescription(path).empty());
}

TEST(ControllerFile, RefusedSaveKeepsTheFileAndDeleteRemovesReadOnlyFiles) {
    TempDir dir;
    const std::string path = CommandFile(dir, std::string("Row0=") + kRow0 + "\r\n");
    const std::string before = dir.Read("c.PSW");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    StringGrid grid(6, 2);
    EXPECT_THROW(WriteCommandTableAndDescription(path, grid, {"x"}), OperatorError);
    EXPECT_EQ(dir.Read("c.PSW"), before);
    DeleteControllerFile(path);
    EXPECT_FALSE(FileExists(path));
    DeleteControllerFile(path);
}

}  // namespace
}  // namespace ristova::controller
