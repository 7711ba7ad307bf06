#include "app/IniFile.h"

#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

#include "app/Codec.h"
#include "app/Errors.h"
#include "app/Files.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;
using namespace std::string_literals;

void ExpectUnableToWrite(const std::string& path, const std::function<void()>& write) {
    try {
        write();
        ADD_FAILURE() << "the write to " << path << " was not refused";
    } catch (const OperatorError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

TEST(IniFile, RoundTripsTextsInCodePage936) {
    TempDir dir;
    const std::string file = dir.File("系统参数.INI");
    const std::string outsideGbk = "😀𠀀 and 电源控制器 ╋ √";
    WriteIniText(file, "LOAD", "sPowerFn", "Quelmar电源控制器.PSW");
    WriteIniText(file, "中文节", "键", outsideGbk);
    EXPECT_EQ(ReadIniText(file, "LOAD", "sPowerFn"), "Quelmar电源控制器.PSW");
    EXPECT_EQ(ReadIniText(file, "中文节", "键"), outsideGbk);
    EXPECT_EQ(dir.Read("系统参数.INI"),
              "[LOAD]\r\nsPowerFn=Quelmar" + codec::ToCodePage("电源控制器") + ".PSW\r\n[" +
                  codec::ToCodePage("中文节") + "]\r\n" + codec::ToCodePage("键") + "=" +
                  codec::ToCodePage(outsideGbk) + "\r\n");
}

TEST(IniFile, NamesMatchWithoutCaseAndValuesAreTrimmed) {
    TempDir dir;
    const std::string file =
        dir.Write("a.INI", "[load]\r\n  CHKRUN =  yes  \t\r\n[Comm]\nComm1=COM2\n");
    EXPECT_EQ(ReadIniText(file, "LOAD", "chkRun"), "yes");
    EXPECT_EQ(ReadIniText(file, "COMM", "COMM1"), "COM2");
    WriteIniText(file, "LoAd", "ChkRun", "NO");
    EXPECT_EQ(dir.Read("a.INI"), "[load]\r\n  CHKRUN =NO\r\n[Comm]\nComm1=COM2\n");

    // Case folding is for single-byte letters: these two characters differ
    // only in a trail byte that looks like 'a' and 'A'.
    const std::string lowerTrail = codec::FromCodePage("\xB0\x61");
    const std::string upperTrail = codec::FromCodePage("\xB0\x41");
    WriteIniText(file, lowerTrail, "k", "1");
    EXPECT_EQ(ReadIniText(file, upperTrail, "k"), "");
    EXPECT_EQ(ReadIniText(file, lowerTrail, "K"), "1");
    // A trail byte that looks like ']' does not close the section name.
    const std::string bracketTrail = codec::FromCodePage("\xB0\x5D");
    WriteIniText(file, bracketTrail + "x", "k", "2");
    EXPECT_EQ(ReadIniText(file, bracketTrail + "x", "k"), "2");
    EXPECT_EQ(ReadIniText(file, bracketTrail, "k"), "");
}

TEST(IniFile, EmptyValueIsNotAMissingKey) {
    TempDir dir;
    const std::string file = dir.Write("a.INI", "[EDIT]\r\ncbEdFn=\r\nother = x\r\n");
    EXPECT_EQ(ReadIniTextDef(file, "EDIT", "cbEdFn", "计划表.tab"), "");
    EXPECT_EQ(ReadIniTextDef(file, "EDIT", "missing", "计划表.tab"), "计划表.tab");
    EXPECT_EQ(ReadIniTextDef(file, "NOSECTION", "cbEdFn", "D"), "D");
    EXPECT_EQ(ReadIniTextDef(dir.File("none.INI"), "EDIT", "cbEdFn", "D"), "D");
    EXPECT_EQ(ReadIniText(dir.File("none.INI"), "EDIT", "cbEdFn"), "");
    // Keys before the first section belong to no section.
    const std::string loose = dir.Write("b.INI", "k=v\r\n[S]\r\n");
    EXPECT_EQ(ReadIniTextDef(loose, "S", "k", "D"), "D");
}

TEST(IniFile, LongValuesAreCutOnACharacterBoundary) {
    TempDir dir;
    const std::string file = dir.File("a.INI");
    WriteIniText(file, "S", "ascii", std::string(5000, 'x'));
    EXPECT_EQ(ReadIniText(file, "S", "ascii"), std::string(2047, 'x'));
    std::string chinese = "ab";
    for (int i = 0; i < 2500; ++i) chinese += "电";
    WriteIniText(file, "S", "wide", chinese);
    const std::string back = ReadIniText(file, "S", "wide");
    EXPECT_EQ(codec::CodePageLength(back), 2046u);  // one more would be 2048
    EXPECT_EQ(back, chinese.substr(0, back.size()));
    // The stored value itself stays whole.
    EXPECT_NE(dir.Read("a.INI").find(codec::ToCodePage(chinese)), std::string::npos);
}

TEST(IniFile, WriteChangesNoOtherLine) {
    TempDir dir;
    const std::string original =
        "; comment before sections\n"
        "loose line\r\n"
        "[LOAD]\r\n"
        "chkRun=YES\r\n"
        "  odd line without equals\r\r\n"
        "chkStartON = NO   \n"
        "\r\n"
        "[RUN]\r\n"
        "sPowerFn=a\0b.PSW\r\n"
        "\xFF\xFE garbage \x80\r\n"
        "last=1"s;
    const std::string file = dir.Write("a.INI", original);
    ASSERT_EQ(ReadIniText(file, "RUN", "last"), "1");

    WriteIniText(file, "load", "chkstarton", "YES");
    std::string expected = original;
    expected.replace(expected.find("chkStartON = NO   \n"), 19, "chkStartON =YES\n");
    EXPECT_EQ(dir.Read("a.INI"), expected);

    WriteIniText(file, "LOAD", "chkAutoDelete",
                 "NO");  // behind the last key, before the blank line
    expected.insert(expected.find("\r\n[RUN]"), "chkAutoDelete=NO\r\n");
    EXPECT_EQ(dir.Read("a.INI"), expected);

    WriteIniText(file, "RUN", "new", "v");  // the last line had no line end
    expected += "\r\nnew=v\r\n";
    EXPECT_EQ(dir.Read("a.INI"), expected);

    WriteIniText(file, "EDIT", "cbEdFn", "计划表.tab");
    expected += "[EDIT]\r\ncbEdFn=" + codec::ToCodePage("计划表.tab") + "\r\n";
    EXPECT_EQ(dir.Read("a.INI"), expected);
    EXPECT_EQ(ReadIniText(file, "RUN", "sPowerFn"), std::string("a\0b.PSW", 7));

    // A line break in a value cannot forge another key.
    WriteIniText(file, "EDIT", "cbEdFn", "x\r\nchkRun=YES");
    EXPECT_EQ(ReadIniText(file, "EDIT", "chkRun"), "");
    EXPECT_EQ(ReadIniText(file, "EDIT", "cbEdFn"), "x  chkRun=YES");
}

TEST(IniFile, FirstOfDuplicatesWins) {
    TempDir dir;
    const std::string file = dir.Write("a.INI", "[S]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\nj=4\r\n");
    EXPECT_EQ(ReadIniText(file, "S", "k"), "1");
    EXPECT_EQ(ReadIniText(file, "S", "j"), "");
    WriteIniText(file, "S", "k", "9");
    EXPECT_EQ(dir.Read("a.INI"), "[S]\r\nk=9\r\nk=2\r\n[s]\r\nk=3\r\nj=4\r\n");
}

TEST(IniFile, RefusedWritesThrowAndKeepTheOldFile) {
    TempDir dir;
    const std::string file = dir.Write("ro.INI", "[S]\r\nk=old\r\n[T]\r\nx=1\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    ExpectUnableToWrite(file, [&] { WriteIniText(file, "S", "k", "new"); });
    ExpectUnableToWrite(file, [&] { EraseIniSection(file, "T"); });
    StringGrid grid(2, 2);
    ExpectUnableToWrite(file, [&] { SaveGridToIni(file, "S", grid); });
    EXPECT_EQ(dir.Read("ro.INI"), "[S]\r\nk=old\r\n[T]\r\nx=1\r\n");

    const std::string noFolder = dir.File("missing/a.INI");
    ExpectUnableToWrite(noFolder, [&] { WriteIniText(noFolder, "S", "k", "v"); });
    WriteIniText("", "S", "k", "v");  // no file name: nothing happens
}

TEST(IniFile, DamagedFilesStillReadTheirGoodLines) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 7919) % 256));
    bytes += "\n[S]\r\nk=good\r\n";
    bytes += "long=" + std::string(1 << 20, '\x81');  // a megabyte of lead bytes, no line end
    bytes += "\n[T]\n\xFF\xFF=\xFF\nk=\x81\n";
    const std::string file = dir.Write("bad.INI", bytes);
    EXPECT_EQ(ReadIniText(file, "S", "k"), "good");
    EXPECT_EQ(ReadIniText(file, "T", "k"), "\uFFFD");
    EXPECT_LE(ReadIniText(file, "S", "long").size(), 2047u * 3);
    WriteIniText(file, "T", "k", "fixed");
    EXPECT_EQ(ReadIniText(file, "T", "k"), "fixed");
    EXPECT_EQ(ReadIniText(file, "S", "k"), "good");
    EXPECT_EQ(dir.Read("bad.INI").substr(0, 4096), bytes.substr(0, 4096));
}

TEST(IniFile, EraseSectionRemovesItsKeysOnly) {
    TempDir dir;
    const std::string file = dir.Write(
        "a.INI", "[A]\r\nk=1\r\n[COMMAND]\r\nRow0=x\r\n[B]\r\nk=2\r\n[command]\r\nRow1=y\r\n");
    EraseIniSection(file, "Command");
    EXPECT_EQ(dir.Read("a.INI"), "[A]\r\nk=1\r\n[B]\r\nk=2\r\n");
    EraseIniSection(dir.File("none.INI"), "A");
    EXPECT_FALSE(FileExists(dir.File("none.INI")));
}

TEST(IniFile, GridRoundTripAndLoadRules) {
    TempDir dir;
    const std::string file = dir.File("a.PSW");
    StringGrid grid(3, 3);
    grid.SetCell(0, 0, "继电器开关");
    grid.SetCell(1, 0, "接通指令");
    grid.SetCell(0, 1, "1");
    grid.SetCell(1, 1, "4F28");
    grid.SetCell(2, 2, "常开 😀");
    WriteIniText(file, "COMMAND", "Row7", "stale");
    SaveGridToIni(file, "COMMAND", grid);
    EXPECT_EQ(ReadIniText(file, "COMMAND", "Row7"), "");
    EXPECT_EQ(ReadIniText(file, "COMMAND", "Row0"), "继电器开关^^接通指令^^^^");

    StringGrid back(2, 5);  // fewer columns, more rows than stored
    LoadGridFromIni(file, "command", back);
    EXPECT_EQ(back.ColCount(), 3);
    EXPECT_EQ(back.RowCount(), 5);  // never lowered
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(back.Cell(c, r), grid.Cell(c, r)) << c << "," << r;

    // An empty row ends the table.
    const std::string gap =
        dir.Write("gap.PSW", "[COMMAND]\r\nRow0=a^^b^^\r\nRow1=1^^\r\nRow2=\r\nRow3=3^^\r\n");
    StringGrid g(2, 2);
    LoadGridFromIni(gap, "COMMAND", g);
    EXPECT_EQ(g.RowCount(), 2);
    EXPECT_EQ(g.Cell(0, 1), "1");
    EXPECT_EQ(g.Cell(0, 3), "");
}

}  // namespace
}  // namespace ristova
