// The window model's start-up order and the settings boxes, without a
// display: a temporary program folder, a fixed clock and a pumped poster.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Registry.h"
#include "app/MainWindowModel.h"
#include "app/ModuleStartup.h"
#include "support/TempDir.h"

namespace ristova {
namespace {

class FixedClock : public IClock {
  public:
    LocalDateTime now{Date{2012, 2, 16}, 10, 0, 0, 0};
    LocalDateTime Now() override { return now; }
};

class NoSleep : public ISleeper {
  public:
    void SleepMs(int) override {}
};

class MainWindowModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The machine-wide autostart folder lives in the test folder.
        xdg_ = dir_.Path() + "xdg";
        setenv("XDG_CONFIG_DIRS", xdg_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_.Path() + "home").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_DIRS");
        unsetenv("XDG_CONFIG_HOME");
    }

    std::unique_ptr<MainWindowModel> Make() {
        MainWindowOptions o;
        o.programFolder = dir_.Path() + "prog/";
        o.clock = &clock_;
        o.sleeper = &sleeper_;
        ForceDirectories(o.programFolder);
        return std::make_unique<MainWindowModel>(poster_, o);
    }
    std::string Prog(const std::string& name) const { return dir_.Path() + "prog/" + name; }
    std::string Settings() const { return Prog(kSettingsFileBaseName); }
    std::string Load(std::string_view key) const { return ReadIniText(Settings(), "LOAD", key); }
    void WriteSettings(const std::string& utf8) {
        ForceDirectories(dir_.Path() + "prog/");
        std::ofstream(Settings(), std::ios::binary) << codec::ToCodePage(utf8);
    }

    test::TempDir dir_;
    std::string xdg_;
    FixedClock clock_;
    NoSleep sleeper_;
    PumpedPoster poster_;
};

TEST_F(MainWindowModelTest, FirstStartWritesTheFiveSwitchesAndCreatesTheSetupController) {
    auto m = Make();
    m->FormCreate();
    EXPECT_EQ(Load("chk4Level"), "YES");
    EXPECT_EQ(Load("chkRun"), "NO");
    EXPECT_EQ(Load("chkStartON"), "YES");
    EXPECT_EQ(Load("chkAutoDelete"), "NO");
    EXPECT_EQ(Load("chkManOperate"), "NO");
    EXPECT_EQ(Load("rbJDQ"), "");
    // Nothing but the five switches, and no choice of a list.
    std::string raw;
    ReadFileBytes(Settings(), raw);
    std::istringstream lines(codec::FromCodePage(raw));
    int keys = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find('=') != std::string::npos) ++keys;
    EXPECT_EQ(keys, 5);

    EXPECT_TRUE(DirectoryExists(Prog("PowerDll/")));
    EXPECT_EQ(ReadIniText(Prog("未命名电源设备.PSW"), "LOAD", "FLAG"), "Quelmar电源控制文件");
    EXPECT_EQ(m->Setup().cbComDevList().Text(), "未命名电源设备.PSW");
    EXPECT_FALSE(m->Monitor().Running());
    EXPECT_FALSE(m->Boxes().chkAutoStart);
    EXPECT_TRUE(m->OwnerDrawTabs());
    EXPECT_TRUE(m->StateDoubleBuffered());
    EXPECT_EQ(m->Monitor().LastRunDate(), (Date{2012, 2, 16}));
}

TEST_F(MainWindowModelTest, StoredValuesAreReadAndOnlyDifferencesFromTheDesignAreWrittenBack) {
    // chkRun "yes" is set like the design: kept as written. "1" is not a
    // truth value: chkManOperate clears and writes NO. A present empty key
    // reads as clear, not as its default.
    WriteSettings("[load]\nCHKRUN=yes\nchkManOperate=1\nchk4Level=\nchkStartON=TRUE\n");
    auto m = Make();
    m->FormCreate();
    const SettingsBoxes& b = m->Boxes();
    EXPECT_TRUE(b.chkRun);
    EXPECT_FALSE(b.chkManOperate);
    EXPECT_FALSE(b.chk4Level);
    EXPECT_TRUE(b.chkStartON);
    EXPECT_FALSE(b.chkAutoDelete);
    EXPECT_EQ(Load("chkRun"), "yes");
    EXPECT_EQ(Load("chkManOperate"), "NO");
    EXPECT_EQ(Load("chk4Level"), "");
    EXPECT_EQ(Load("chkStartON"), "YES");
    EXPECT_EQ(Load("chkAutoDelete"), "NO");
}

TEST_F(MainWindowModelTest, RefusedWritesStillApplyEveryBoxAndStartUpGoesOn) {
    WriteSettings("[LOAD]\nchkAutoDelete=YES\n");
    chmod(Settings().c_str(), 0444);
    auto m = Make();
    std::vector<std::string> errors;
    m->FormCreate([&](const std::function<void()>& step) {
        try {
            step();
        } catch (const OperatorError& e) {
            errors.push_back(e.what());
        }
    });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Unable to write to " + Settings());
    const SettingsBoxes& b = m->Boxes();
    EXPECT_TRUE(b.chk4Level);
    EXPECT_FALSE(b.chkRun);
    EXPECT_TRUE(b.chkStartON);
    EXPECT_TRUE(b.chkAutoDelete);
    EXPECT_FALSE(b.chkManOperate);
    // The later steps ran.
    EXPECT_EQ(m->Setup().cbComDevList().Text(), "未命名电源设备.PSW");
    EXPECT_TRUE(m->Created());
}

TEST_F(MainWindowModelTest, AutoStartFollowsTheProgramFolder) {
    const std::string desktop = xdg_ + "/autostart/Ristova.desktop";
    auto m = Make();
    m->FormCreate();
    m->chkAutoStartClick(true);
    std::string text;
    ASSERT_TRUE(ReadFileBytes(desktop, text));
    // The running program on the folder it was given, which is not the one it
    // would choose by itself.
    EXPECT_NE(text.find("Exec=" + ExecArgument(ExecutablePath()) + " --folder " +
                        ExecArgument(Prog("")) + "\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(FileExists(ExecutablePath()));

    // Same folder at the next start: the box stays set and the entry stays.
    auto again = Make();
    again->FormCreate();
    EXPECT_TRUE(again->Boxes().chkAutoStart);
    EXPECT_TRUE(FileExists(desktop));
    again.reset();
    m.reset();

    // The folder moved: the old entry no longer matches and goes.
    MainWindowOptions o;
    o.programFolder = dir_.Path() + "moved/";
    o.clock = &clock_;
    o.sleeper = &sleeper_;
    ForceDirectories(o.programFolder);
    MainWindowModel moved(poster_, o);
    moved.FormCreate();
    EXPECT_FALSE(moved.Boxes().chkAutoStart);
    EXPECT_FALSE(FileExists(desktop));
}

TEST(AutoStartCommandLine, NamesTheFolderOnlyWhenTheProgramWouldNotChooseItAndQuotesBlanks) {
    EXPECT_EQ(AutoStartCommandLine("/usr/bin/ristova", "/home/u/.local/share/ristova/",
                                   "/home/u/.local/share/ristova"),
              "/usr/bin/ristova");
    EXPECT_EQ(AutoStartCommandLine("/opt/电源 管理/ristova", "/srv/泵 房/", "/opt/电源 管理/"),
              "\"/opt/电源 管理/ristova\" --folder \"/srv/泵 房/\"");
    // A relative --folder is made absolute: autostart runs in another folder.
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(AutoStartCommandLine("/x/ristova", "demo/", "/x/"),
              "/x/ristova --folder " + ExecArgument(cwd + "/demo/"));
}

TEST_F(MainWindowModelTest, StoredRunStartsRunningDuringStartUpAndShowingPicksPageZero) {
    WriteSettings("[LOAD]\nchkRun=YES\n");
    auto m = Make();
    m->SetActivePage(2);
    m->FormCreate();
    EXPECT_TRUE(m->Monitor().Running());
    EXPECT_FALSE(m->Monitor().BtnRunEnabled());
    m->FormShow();
    EXPECT_EQ(m->ActivePage(), 0);
    m->FormDestroy();
}

// A start-up that crosses midnight after the plan was chosen: the engine's
// date is the plan's, so that the next tick sees the change of date.
TEST_F(MainWindowModelTest, AStartUpOverMidnightKeepsThePlansDate) {
    clock_.now = LocalDateTime{Date{2012, 2, 16}, 23, 59, 59, 900};
    auto m = Make();
    m->FormCreate([&](const std::function<void()>& step) {
        step();
        // The run list is filled by the step that chooses the plan.
        if (!m->Monitor().cbRunDevList().Items.empty())
            clock_.now = LocalDateTime{Date{2012, 2, 17}, 0, 0, 0, 5};
    });
    const Date d = m->Monitor().LastRunDate();
    EXPECT_EQ(d.year * 10000 + d.month * 100 + d.day, 20120216);
}

// Rows the file refuses are kept; only those that find the memory full are
// lost, and panel 3 says how many.
TEST_F(MainWindowModelTest, AJournalThatLosesRowsSaysHowManyOnPanelThree) {
    // A folder where the journal should be: it never opens.
    ForceDirectories(Prog(run::kJournalFileName));
    auto m = Make();
    m->FormCreate();
    const run::RunEvent event{"2012-02-16 10:00:00.000", "x.PSW", 1, "on", "plan", "sent", "01"};
    for (std::size_t i = 0; i < run::JournalLimits{}.maxKeptRows + 10; ++i)
        m->Journal()->OnRunEvent(event);
    EXPECT_GE(m->Journal()->Dropped(), 10u);
    EXPECT_TRUE(poster_.PumpUntil(
        [&] { return m->Status().Panel(3) == " " + run::JournalLossText(m->Journal()->Dropped()); },
        5000))
        << m->Status().Panel(3);
    m->FormDestroy();
}

TEST_F(MainWindowModelTest, TheFoldersManualComesFirstAndNoManualIsSaidInPanelThree) {
    auto m = Make();
    m->FormCreate();
    EXPECT_NE(m->ManualPath(), Prog(kManualFileName));
    m->ReportNoManual("");
    EXPECT_EQ(m->Status().Panel(3), std::string(" ") + kNoManual + Prog(kManualFileName));
    std::ofstream(Prog(kManualFileName)) << "doc";
    EXPECT_EQ(m->ManualPath(), Prog(kManualFileName));
}

}  // namespace
}  // namespace ristova
