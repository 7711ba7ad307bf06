#include "base/IniFile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

using test::TempDir;
using namespace std::string_literals;
using codec::ToCodePage;

// A settings file saved as UTF-8 (with or without the mark) is read as
// UTF-8; the next write stores the whole file in the code page.
TEST(IniFile, Utf8FilesAreReadAsUtf8AndWrittenBackInTheCodePage) {
    TempDir dir;
    for (const std::string& mark : {""s, "\xEF\xBB\xBF"s}) {
        const std::string path = dir.Write("s.ini", mark + "[运行]\nsPowerFn=泵房.PSW\n");
        EXPECT_EQ(ReadIniText(path, "运行", "sPowerFn"), "泵房.PSW");
        WriteIniText(path, "运行", "x", "1");
        EXPECT_EQ(dir.Read("s.ini"), ToCodePage("[运行]\nsPowerFn=泵房.PSW\nx=1\r\n"));
        EXPECT_EQ(ReadIniText(path, "运行", "sPowerFn"), "泵房.PSW");
    }
}

// "廿" is D8 A5 in the code page, which is also valid UTF-8: the file it
// alone would make gets a code page comment, so that it reads back.
TEST(IniFile, CodePageBytesThatLookLikeUtf8StillReadBack) {
    TempDir dir;
    const std::string path = dir.File("s.ini");
    WriteIniText(path, "S", "K", "廿");
    EXPECT_EQ(ReadIniText(path, "S", "K"), "廿");
    WriteIniText(path, "S", "L", "廿");
    EXPECT_EQ(ReadIniText(path, "S", "L"), "廿");
    EXPECT_EQ(dir.Read("s.ini"), ToCodePage("[S]\r\nK=廿\r\n; 代码页936\r\nL=廿\r\n"));
}

TEST(IniFile, NamesMatchWithoutCaseOfSingleByteLettersOnly) {
    TempDir dir;
    const std::string file = dir.Write("a.INI", "[load]\r\n  CHKRUN =  yes  \t\r\n");
    EXPECT_EQ(ReadIniText(file, "LOAD", "chkRun"), "yes");
    WriteIniText(file, "LoAd", "ChkRun", "NO");
    EXPECT_EQ(dir.Read("a.INI"), "[load]\r\n  CHKRUN =NO\r\n");
    // These characters differ only in a trail byte that looks like 'a' or 'A';
    // another one has a trail byte that looks like ']'.
    const std::string lowerTrail = codec::FromCodePage("\xB0\x61");
    const std::string bracketTrail = codec::FromCodePage("\xB0\x5D");
    WriteIniText(file, lowerTrail, "k", "1");
    WriteIniText(file, bracketTrail + "x", "k", "2");
    EXPECT_EQ(ReadIniText(file, codec::FromCodePage("\xB0\x41"), "k"), "");
    EXPECT_EQ(ReadIniText(file, lowerTrail, "K"), "1");
    EXPECT_EQ(ReadIniText(file, bracketTrail + "x", "k"), "2");
}

TEST(IniFile, EmptyValueIsNotAMissingKeyAndFirstDuplicateWins) {
    TempDir dir;
    const std::string file =
        dir.Write("a.INI", "k=loose\r\n[E]\r\ne=\r\nk=1\r\nk=2\r\n[e]\r\nj=3\r\n");
    EXPECT_EQ(ReadIniTextDef(file, "E", "e", "D"), "");
    EXPECT_EQ(ReadIniTextDef(file, "E", "missing", "D"), "D");
    EXPECT_EQ(ReadIniTextDef(file, "X", "k", "D"), "D");
    EXPECT_EQ(ReadIniTextDef(dir.File("none.INI"), "E", "e", "D"), "D");
    EXPECT_EQ(ReadIniText(file, "E", "k"), "1");
    EXPECT_EQ(ReadIniText(file, "E", "j"), "");
}

TEST(IniFile, LongValuesAreCutOnACharacterBoundary) {
    TempDir dir;
    const std::string file = dir.File("a.INI");
    WriteIniText(file, "S", "ascii", std::string(5000, 'x'));
    EXPECT_EQ(ReadIniText(file, "S", "ascii"), std::string(2047, 'x'));
    std::string wide = "ab";
    for (int i = 0; i < 2500; ++i) wide += "电";
    WriteIniText(file, "S", "wide", wide);
    const std::string back = ReadIniText(file, "S", "wide");
    EXPECT_EQ(codec::CodePageLength(back), 2046u);  // one more character would be 2048
    EXPECT_EQ(back, wide.substr(0, back.size()));
}

TEST(IniFile, WriteChangesNoOtherLine) {
    TempDir dir;
    std::string expected =
        "; comment\nloose line\r\n[LOAD]\r\nchkRun=YES\r\n  no equals\r\r\nchkStartON = NO   \n"
        "\r\n[RUN]\r\nsPowerFn=a\0b.PSW\r\n\xFF\xFE garbage \x80\r\nlast=1"s;
    const std::string file = dir.Write("a.INI", expected);
    WriteIniText(file, "load", "chkstarton", "YES");  // in place, line end kept
    expected.replace(expected.find("chkStartON = NO   \n"), 19, "chkStartON =YES\n");
    WriteIniText(file, "LOAD", "chkAutoDelete", "NO");  // behind the last key, before the blank
    expected.insert(expected.find("\r\n[RUN]"), "chkAutoDelete=NO\r\n");
    WriteIniText(file, "RUN", "new", "v");  // the last line had no line end
    expected += "\r\nnew=v\r\n";
    WriteIniText(file, "EDIT", "cbEdFn", "计划表.tab");
    expected += "[EDIT]\r\n" + ToCodePage("cbEdFn=计划表.tab") + "\r\n";
    EXPECT_EQ(dir.Read("a.INI"), expected);
    EXPECT_EQ(ReadIniText(file, "RUN", "sPowerFn"), "a\0b.PSW"s);

    // A line break in a value cannot forge another key.
    WriteIniText(file, "EDIT", "cbEdFn", "x\r\nchkRun=YES");
    EXPECT_EQ(ReadIniText(file, "EDIT", "chkRun"), "");
}

TEST(IniFile, RefusedWritesThrowAndKeepTheOldFile) {
    TempDir dir;
    const std::string file = dir.Write("ro.INI", "[S]\r\nk=old\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_THROW(WriteIniText(file, "S", "k", "new"), OperatorError);
    EXPECT_THROW(EraseIniSection(file, "S"), OperatorError);
    EXPECT_THROW(SaveGridToIni(file, "S", StringGrid(2, 2)), OperatorError);
    EXPECT_EQ(dir.Read("ro.INI"), "[S]\r\nk=old\r\n");
    EXPECT_THROW(WriteIniText(dir.File("missing/a.INI"), "S", "k", "v"), OperatorError);
}

// Runs `body` in a child as an ordinary user (nobody when we are root) and
// gives its exit code.
int AsOrdinaryUser(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(IniFile, FilesTheUserMayNotReadOrWriteAreRefusedNotReplaced) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const std::string writeOnly = dir.Write("w.INI", "[S]\r\nk=old\r\nother=1\r\n");
    const std::string othersFile = dir.Write("o.INI", "[S]\r\nk=old\r\n");
    const bool root = ::geteuid() == 0;
    // Nobody may read the first; only its owner (root, when we are root) may
    // write the second.
    ASSERT_EQ(::chmod(writeOnly.c_str(), root ? 0622 : 0200), 0);
    ASSERT_EQ(::chmod(othersFile.c_str(), root ? 0644 : 0444), 0);
    auto refused = [](const std::function<void()>& write) {
        try {
            write();
        } catch (const OperatorError&) {
            return true;
        }
        return false;
    };
    const int code = AsOrdinaryUser([&] {
        int failures = 0;
        failures += !refused([&] { WriteIniText(writeOnly, "S", "k", "new"); });
        failures += !refused([&] { SaveGridToIni(writeOnly, "S", StringGrid(2, 2)); });
        if (root) failures += !refused([&] { WriteIniText(othersFile, "S", "k", "new"); });
        return failures;
    });
    EXPECT_EQ(code, 0);
    ASSERT_EQ(::chmod(writeOnly.c_str(), 0644), 0);
    EXPECT_EQ(dir.Read("w.INI"), "[S]\r\nk=old\r\nother=1\r\n");
    EXPECT_EQ(dir.Read("o.INI"), "[S]\r\nk=old\r\n");
}

TEST(IniFile, DamagedFilesStillReadTheirGoodLines) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 7919) % 256));
    bytes += "\n[S]\r\nk=good\r\nlong=" + std::string(1 << 20, '\x81');  // no line end
    bytes += "\n[T]\n\xFF\xFF=\xFF\nk=\x81\n";
    const std::string file = dir.Write("bad.INI", bytes);
    EXPECT_EQ(ReadIniText(file, "S", "k"), "good");
    EXPECT_EQ(ReadIniText(file, "T", "k"), "\uFFFD");
    WriteIniText(file, "T", "k", "fixed");
    EXPECT_EQ(dir.Read("bad.INI").substr(0, 4096), bytes.substr(0, 4096));
}

TEST(IniFile, GridsAsRowKeys) {
    TempDir dir;
    const std::string file =
        dir.Write("a.PSW", "[COMMAND]\r\nRow7=stale\r\n[B]\r\nk=2\r\n[command]\r\nRow8=y\r\n");
    StringGrid grid(3, 3);
    grid.SetCell(0, 0, "继电器开关");
    grid.SetCell(2, 2, "常开 😀");
    SaveGridToIni(file, "COMMAND", grid);
    EXPECT_EQ(dir.Read("a.PSW"), "[B]\r\nk=2\r\n[COMMAND]\r\n" +
                                     ToCodePage("Row0=继电器开关^^^^^^") + "\r\nRow1=^^^^^^\r\n" +
                                     ToCodePage("Row2=^^^^常开 😀^^") + "\r\n");
    StringGrid back(2, 5);
    LoadGridFromIni(file, "command", back);
    EXPECT_EQ(back.ColCount(), 3);  // raised by Row0
    EXPECT_EQ(back.RowCount(), 5);  // never lowered
    EXPECT_EQ(back.Cell(2, 2), "常开 😀");
    EraseIniSection(file, "Command");
    EXPECT_EQ(dir.Read("a.PSW"), "[B]\r\nk=2\r\n");
}

// A file that repeats one header many times is erased in one pass; the old
// erase took seconds for 40,000 copies, one scan per copy. Timed against a
// tenth of the copies, so that a loaded or sanitized run does not decide it.
TEST(IniFile, ErasingManyCopiesOfASectionIsLinearAndKeepsTheOthers) {
    TempDir dir;
    const auto eraseTime = [&](int copies) {
        std::string bytes = "[Keep]\r\na=1\r\n";
        for (int i = 0; i < copies; ++i) bytes += "[Dup]\r\nk=v\r\n";
        bytes += "[Tail]\r\nb=2\r\n";
        const std::string file = dir.Write("many.INI", bytes);
        const auto start = std::chrono::steady_clock::now();
        EraseIniSection(file, "dup");
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(dir.Read("many.INI"), "[Keep]\r\na=1\r\n[Tail]\r\nb=2\r\n");
        return std::chrono::duration<double>(took).count();
    };
    const double few = eraseTime(4000);
    const double many = eraseTime(40000);
    EXPECT_TRUE(many < 0.5 || many < 40 * few) << many << " s against " << few << " s";
}

}  // namespace
}  // namespace ristova
