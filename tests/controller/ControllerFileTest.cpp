#include "controller/ControllerFile.h"

#include <gtest/gtest.h>

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "controller/SerialSettings.h"
#include "support/TempDir.h"

namespace ristova::controller {
namespace {

using test::TempDir;

constexpr const char* kRow0 =
    "继电器开关^^接通指令^^断开指令^^常开开关用途^^常闭开关用途^^启动时接通^^";

std::string CommandFile(const TempDir& dir, const std::string& rows) {
    return dir.Write("c.PSW", codec::ToCodePage("[COMMAND]\r\n" + rows));
}

TEST(ControllerFile, TableWithoutRow0IsEmpty) {
    TempDir dir;
    const std::string path = CommandFile(dir, "Row1=   1^^AA^^BB^^^^^^^^\r\n");
    StringGrid grid(6, 10);
    ReadCommandTable(path, grid);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(5, 0), "启动时接通");
    EXPECT_EQ(grid.Cell(0, 1), "   1");
    EXPECT_EQ(grid.Cell(1, 1), "");
}

TEST(ControllerFile, GapEndsTableAndExtraCellsAreDropped) {
    TempDir dir;
    const std::string path = CommandFile(dir, std::string("Row0=") + kRow0 + "x^^y^^\r\n" +
                                                  "Row1=  99^^AA^^BB^^不存在^^灯^^ √^^extra^^\r\n"
                                                  "Row2=   2^^CC\r\nRow4=   4^^DD^^\r\n");
    StringGrid grid(6, 2);
    ReadCommandTable(path, grid);
    EXPECT_EQ(grid.ColCount(), 6);
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.Cell(0, 1), "   1");  // numbered by the reader
    EXPECT_EQ(grid.Cell(5, 1), " √");
    EXPECT_EQ(grid.Cell(1, 2), "CC");
    WriteCommandTableAndDescription(path, grid, {});
    EXPECT_EQ(ReadKey(path, kCommand, "Row1"), "1^^AA^^BB^^不存在^^灯^^ √^^");
    EXPECT_EQ(ReadKey(path, kCommand, "Row4"), "");
}

TEST(ControllerFile, SaveAndLoadRoundTrip) {
    TempDir dir;
    const std::string path = dir.File("Quelmar电源控制器.PSW");
    CreateControllerFile(path);
    WriteKey(path, kComm, kPortWrite, "COM3");
    EXPECT_EQ(ReadKey(path, kComm, kPortRead), "COM3");
    StringGrid grid(6, 2);
    ReadCommandTable(path, grid);
    grid.SetRowCount(3);
    NumberGridRows(grid, 0, 1, ' ', 4);
    grid.SetCell(1, 1, "4F2830302C30312C312945");
    grid.SetCell(3, 2, "电视 😀");
    const std::vector<std::string> description{"第一行", "", "third"};
    WriteCommandTableAndDescription(path, grid, description);
    EXPECT_EQ(ReadKey(path, kDescript, kSpecif), "第一行╋╋third╋");
    EXPECT_EQ(ReadDescription(path), description);
    EXPECT_EQ(ReadKey(path, kLoad, kFlag), "Quelmar电源控制文件");

    StringGrid back(6, 2);
    ReadCommandTable(path, back);
    ASSERT_EQ(back.RowCount(), 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 6; ++c) EXPECT_EQ(back.Cell(c, r), grid.Cell(c, r)) << c << "," << r;
}

// The row format and the description have no escape: texts that would come
// back changed are refused, naming the cell, and nothing is written.
TEST(ControllerFile, TextsTheFileCannotHoldAreRefusedAndNothingIsWritten) {
    TempDir dir;
    const std::string path = CommandFile(dir, std::string("Row0=") + kRow0 + "\r\n");
    const std::string before = dir.Read("c.PSW");
    StringGrid grid(6, 2);
    ReadCommandTable(path, grid);
    grid.SetRowCount(3);
    auto refusal = [&](const std::vector<std::string>& description) {
        try {
            WriteCommandTableAndDescription(path, grid, description);
        } catch (const OperatorError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    for (const char* bad : {"泵^", "a^^b", "^^"}) {
        grid.SetCell(3, 2, bad);
        const std::string message = refusal({"x"});
        EXPECT_NE(message.find("第2行"), std::string::npos) << bad << ": " << message;
        EXPECT_NE(message.find("常开开关用途"), std::string::npos) << message;
        EXPECT_EQ(dir.Read("c.PSW"), before) << bad;
    }
    grid.SetCell(3, 2, "^泵 a^b");
    EXPECT_NE(refusal({"一╋二"}).find("说明第1行"), std::string::npos);
    // The separator is two bytes in the code page, after every line.
    EXPECT_NE(refusal({std::string(1024, 'a'), std::string(1020, 'b')}), "");
    EXPECT_EQ(dir.Read("c.PSW"), before);

    // 1024 + 2 + 1019 + 2 = 2047 bytes fit; a last line break adds no line.
    EXPECT_EQ(refusal({std::string(1024, 'a'), std::string(1019, 'b'), ""}), "");
    EXPECT_EQ(ReadDescription(path), (std::vector<std::string>{std::string(1024, 'a'),
                                                               std::string(1019, 'b')}));
    StringGrid back(6, 2);
    ReadCommandTable(path, back);
    EXPECT_EQ(back.Cell(3, 2), "^泵 a^b");
    // An emptied memo is one empty line.
    EXPECT_EQ(refusal({""}), "");
    EXPECT_EQ(ReadKey(path, kDescript, kSpecif), "");
}

TEST(ControllerFile, RefusedSaveKeepsTheFileAndDeleteRemovesReadOnlyFiles) {
    TempDir dir;
    const std::string path = CommandFile(dir, std::string("Row0=") + kRow0 + "\r\n");
    const std::string before = dir.Read("c.PSW");
    test::SetReadOnly(path);
    EXPECT_THROW(WriteCommandTableAndDescription(path, StringGrid(6, 2), {"x"}), OperatorError);
    EXPECT_EQ(dir.Read("c.PSW"), before);
    DeleteControllerFile(path);
    EXPECT_FALSE(FileExists(path));
}

TEST(ControllerFile, SerialSettingsTakeDefaultsForMissingKeysAndNameUnusableValues) {
    TempDir dir;
    const std::string path = dir.Write("c.PSW", "[LOAD]\r\nFLAG=x\r\n");
    EXPECT_EQ(ReadSerialSettings(path).baud, 9600u);
    const std::vector<std::pair<std::string, std::string>> usable{
        {"COMM1", "/dev/ttyUSB0"}, {"edBound", "250000"}, {"edTimeOut", "65535"},
        {"ByteSize", "2"},         {"StopBits", "2"},     {"Parity", "4"}};
    for (const auto& [key, value] : usable) WriteKey(path, kComm, key, value);
    SerialSettings s = ReadSerialSettings(path);
    EXPECT_EQ(s.Reason(), "");
    EXPECT_EQ(s.port, "/dev/ttyUSB0");
    EXPECT_EQ(s.baud, 250000u);
    EXPECT_EQ(s.readTimeout, 65535);
    EXPECT_EQ(s.dataBits, db7BITS);
    EXPECT_EQ(s.stopBits, sb2BITS);
    EXPECT_EQ(s.parity, ptSPACE);

    struct Case {
        const char* key;
        const char* value;
        const char* reason;  // empty: usable
        bool notInteger;
    };
    // An empty list position counts as missing; an empty rate is no number.
    for (const Case& c :
         {Case{"edBound", "-9600", "波特率无效:-9600", false},
          Case{"edBound", "", "波特率无效:", true}, Case{"StopBits", "x", "停止位无效:x", true},
          Case{"Parity", "", "", false}}) {
        for (const auto& [key, value] : usable) WriteKey(path, kComm, key, value);
        WriteKey(path, kComm, c.key, c.value);
        s = ReadSerialSettings(path);
        EXPECT_EQ(s.Reason(), c.reason) << c.key << "=" << c.value;
        EXPECT_EQ(!s.problems.empty() && s.problems[0].notInteger, c.notInteger) << c.key;
    }
    WriteKey(path, kComm, "edBound", "0");
    WriteKey(path, kComm, "Parity", "9");
    EXPECT_EQ(ReadSerialSettings(path).Reason(), "波特率无效:0,校验位无效:9");

    for (const char* count : {"0", "十"}) {
        WriteKey(path, kLoad, kComChl, count);
        EXPECT_EQ(RelayCountProblem(path).value_or(SettingProblem{}).reason,
                  std::string("继电器数量无效:") + count);
    }
    WriteKey(path, kLoad, kComChl, "32");
    EXPECT_FALSE(RelayCountProblem(path));
}

TEST(ControllerFile, AFileWithoutMarkerOrCommandTableCannotRun) {
    TempDir dir;
    const std::string path = dir.Write("c.PSW", "\x8f\x01random\xff bytes\r\n=[");
    EXPECT_NE(UnusableControllerReason(path).find("FLAG="), std::string::npos);
    CreateControllerFile(path);
    EXPECT_EQ(UnusableControllerReason(path), "没有指令表");
    WriteKey(path, kCommand, "Row0", kRow0);
    EXPECT_EQ(UnusableControllerReason(path), "没有指令表");
    WriteKey(path, kCommand, "Row1", "   1^^AA^^^^^^^^ X^^");
    EXPECT_EQ(UnusableControllerReason(path), "");
}

}  // namespace
}  // namespace ristova::controller
