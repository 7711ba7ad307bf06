#include "controller/SetupPage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "controller/ControllerFile.h"
#include "support/PageContext.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace ristova::controller {
namespace {

class SetupPageTest : public ::testing::Test {
  protected:
    SetupPageTest() : com1(pc.poster) {}

    // A page over the test folder, with a fixed port list.
    std::unique_ptr<SetupPage> NewPage() {
        auto page = std::make_unique<SetupPage>(pc.ctx, com1);
        page->SetPortScanner([this] { return ports; });
        page->SetDescriptionQuery([](const std::string& name) { return "about " + name; });
        return page;
    }
    std::string Key(const std::string& file, std::string_view section, std::string_view key) {
        return ReadIniText(pc.File(file), section, key);
    }
    void Setting(std::string_view key, std::string_view value) {
        WriteIniText(pc.ctx.settingsFile, "LOAD", key, value);
    }

    test::PageContext pc;
    TMyComport com1;
    std::vector<std::string> ports{"COM1", "COM2", "COM3", "/dev/ttyUSB0"};
};

TEST_F(SetupPageTest, FirstStartCreatesTheDefaultControllerAndWritesTheShownFields) {
    auto page = NewPage();
    EXPECT_EQ(page->spComChl().text, "12");
    EXPECT_EQ(page->edBound().text, "4800");
    EXPECT_EQ(page->lbComState(), "串口状态：未操作");
    page->InitControllerList();

    EXPECT_TRUE(DirectoryExists(pc.ctx.sDllPath));
    ASSERT_EQ(page->cbComDevList().items, std::vector<std::string>{"未命名电源设备.PSW"});
    EXPECT_EQ(page->cbComDevList().itemIndex, 0);
    EXPECT_EQ(page->CurrentPath(), pc.File("未命名电源设备.PSW"));
    const std::string f = "未命名电源设备.PSW";
    EXPECT_EQ(Key(f, "LOAD", "FLAG"), "Quelmar电源控制文件");
    EXPECT_EQ(Key(f, "LOAD", "spComChl"), "10");
    EXPECT_EQ(Key(f, "COMM", "edBound"), "9600");
    EXPECT_EQ(Key(f, "COMM", "edTimeOut"), "20");
    // Unchanged texts and list selections write nothing.
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "");
    EXPECT_EQ(Key(f, "COMM", "ByteSize"), "");
    EXPECT_EQ(page->cbComm1().Text(), "COM1");
    EXPECT_EQ(page->cbByteSize().Text(), "8");
    EXPECT_EQ(page->sgCom().RowCount(), 11);
    EXPECT_EQ(page->sgCom().Cell(1, 0), "接通指令");
    EXPECT_EQ(page->sgCom().Cell(0, 10), "  10");
    EXPECT_TRUE(page->mmSpecLines().empty());
}

TEST_F(SetupPageTest, RememberedControllerThatIsGoneIsAppendedAndCreated) {
    CreateControllerFile(pc.File("A.PSW"));
    Setting("sPowerFn", "GONE.PSW");
    auto page = NewPage();
    page->InitControllerList();
    EXPECT_EQ(page->cbComDevList().items, (std::vector<std::string>{"A.PSW", "GONE.PSW"}));
    EXPECT_EQ(page->cbComDevList().itemIndex, 1);
    EXPECT_EQ(Key("GONE.PSW", "LOAD", "FLAG"), "Quelmar电源控制文件");
}

// The text fields and the relay count are driven through the controls in
// the page's UI test; these are the values that test does not reach.
TEST_F(SetupPageTest, ListPositionsMarksAndDescriptionAreStoredAndReadBack) {
    auto page = NewPage();
    page->InitControllerList();
    page->cbComm1Change(3);
    page->cbByteSizeChange(2);
    page->cbStopBitsChange(2);
    page->cbPowerDllChange(0);  // no plug-ins listed: ignored
    page->sgComSelectCell(5, 2);
    page->sgComDblClick();
    page->mmSpecChange({"first", "", "third"});
    page->btSaveComFnClick();
    const std::string f = "未命名电源设备.PSW";
    EXPECT_EQ(Key(f, "COMM", "COMM1"), "/dev/ttyUSB0");
    EXPECT_EQ(Key(f, "COMM", "ByteSize"), "2");
    EXPECT_EQ(Key(f, "COMM", "StopBits"), "2");
    EXPECT_EQ(Key(f, "COMMAND", "Row2"), "2^^^^^^^^^^ √^^");
    EXPECT_EQ(Key(f, "DESCRIPT", "SPECIF"), "first╋╋third╋");

    SetupPage again(pc.ctx, com1);
    again.SetPortScanner([] { return std::vector<std::string>{"COM1"}; });
    again.InitControllerList();
    // A stored device path that this machine does not list stays choosable.
    EXPECT_EQ(again.cbComm1().items, (std::vector<std::string>{"COM1", "/dev/ttyUSB0"}));
    EXPECT_EQ(again.cbComm1().Text(), "/dev/ttyUSB0");
    EXPECT_EQ(again.cbByteSize().Text(), "7");
    EXPECT_EQ(again.cbStopBits().Text(), "2");
    EXPECT_EQ(again.sgCom().Cell(5, 2), " √");
    EXPECT_EQ(again.mmSpecLines(), (std::vector<std::string>{"first", "", "third"}));
}

TEST_F(SetupPageTest, NewControllerNamesAreNormalisedCheckedAndNotListedTwice) {
    auto page = NewPage();
    page->InitControllerList();
    page->edNewComDevChange("a.txt");
    page->btnAddNewComDevClick();
    EXPECT_TRUE(FileExists(pc.File("A.PSW")));
    EXPECT_EQ(page->cbComDevList().Text(), "A.PSW");

    const std::size_t listed = page->cbComDevList().items.size();
    for (const char* ignored : {"   ", "a.psw", "A"}) {
        page->edNewComDevChange(ignored);
        page->btnAddNewComDevClick();
        EXPECT_EQ(page->cbComDevList().items.size(), listed) << ignored;
    }
    for (const char* refused : {"../up", "sub/dir", "x\\y", "a..b"}) {
        page->edNewComDevChange(refused);
        EXPECT_THROW(page->btnAddNewComDevClick(), OperatorError) << refused;
        EXPECT_EQ(page->cbComDevList().items.size(), listed) << refused;
    }
    EXPECT_FALSE(FileExists(pc.dir.Path() + "../UP.PSW"));

    page->edNewComDevChange(std::string(130, 'x'));
    EXPECT_EQ(page->edNewComDev().text.size(), 128u);
    std::string wide(70, 'x');
    for (int i = 0; i < 70; ++i) wide += "中";
    page->edNewComDevChange(wide);
    EXPECT_EQ(page->edNewComDev().text.size(), 70u + 58u * 3u);
    EXPECT_EQ(NormaliseControllerName("ab.c.txt"), "AB.C.PSW");
    EXPECT_EQ(NormaliseControllerName("泵房"), "泵房.PSW");
}

TEST_F(SetupPageTest, LoadingEmptiesTheHiddenRowsToo) {
    auto page = NewPage();
    page->InitControllerList();
    page->spComChlChange("12");
    for (int r = 1; r <= 12; ++r) page->sgComSetEditText(3, r, "use " + std::to_string(r));
    page->spComChlChange("8");
    page->btSaveComFnClick();
    EXPECT_EQ(Key("未命名电源设备.PSW", "COMMAND", "Row8"), "8^^^^^^use 8^^^^^^");
    page->cbComDevListChange(0);
    page->spComChlChange("12");
    EXPECT_EQ(page->sgCom().Cell(3, 8), "use 8");
    EXPECT_EQ(page->sgCom().Cell(3, 9), "");
    EXPECT_EQ(page->sgCom().Cell(0, 12), "  12");
}

TEST_F(SetupPageTest, RelayCountWhileTypingAndOnLeavingTheField) {
    auto page = NewPage();
    page->InitControllerList();
    const std::string f = "未命名电源设备.PSW";
    page->spComChlChange("abc");
    EXPECT_EQ(page->RelayCount(), 1);
    EXPECT_EQ(Key(f, "LOAD", "spComChl"), "1");
    EXPECT_EQ(page->sgCom().RowCount(), 2);
    page->spComChlChange("50");
    EXPECT_EQ(page->RelayCount(), 32);
    EXPECT_EQ(page->spComChl().text, "50");
    page->spComChlExit();
    EXPECT_EQ(page->spComChl().text, "32");
    page->spComChlChange("0");
    page->spComChlExit();
    EXPECT_EQ(page->spComChl().text, "1");
    page->spComChlStep(-1);
    EXPECT_EQ(page->spComChl().text, "1");
    page->spComChlStep(3);
    EXPECT_EQ(page->spComChl().text, "4");
    EXPECT_EQ(Key(f, "LOAD", "spComChl"), "4");
}

TEST_F(SetupPageTest, LoadingWritesOnlyFieldsWhoseShownTextChanges) {
    for (const char* name : {"A.PSW", "B.PSW"}) {
        const std::string p = pc.File(name);
        WriteKey(p, "LOAD", "spComChl", "6");
        WriteKey(p, "LOAD", "edStateCmd", "51");
        WriteKey(p, "COMM", "edTimeOut", "30");
        WriteKey(p, "COMM", "ByteSize", "7");
        WriteKey(p, "COMM", "StopBits", "x");
        WriteKey(p, "COMM", "Parity", "2");
        WriteKey(p, "COMM", "COMM1", "com2");
    }
    WriteKey(pc.File("A.PSW"), "COMM", "edBound", "1200");
    Setting("sPowerFn", "A.PSW");
    auto page = NewPage();
    page->InitControllerList();
    EXPECT_EQ(page->cbByteSize().itemIndex, -1);
    EXPECT_EQ(page->cbStopBits().Text(), "1");
    EXPECT_EQ(page->cbParity().Text(), "偶校验");
    EXPECT_EQ(page->cbComm1().Text(), "COM2");

    page->cbComDevListChange(page->cbComDevList().IndexOf("B.PSW"));
    // Only the baud rate, missing in B, differs from what A showed.
    EXPECT_EQ(Key("B.PSW", "COMM", "edBound"), "9600");
    WriteKey(pc.File("B.PSW"), "COMM", "edBound", "");
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "LOAD", "sPowerFn"), "B.PSW");
    page->cbComDevListChange(page->cbComDevList().IndexOf("B.PSW"));
    EXPECT_EQ(Key("B.PSW", "COMM", "edBound"), "");
}

TEST_F(SetupPageTest, RefusedWritesStillShowTheWholeChosenController) {
    const std::string b = pc.File("B.PSW");
    CreateControllerFile(b);
    for (const auto& [section, key, value] : {std::tuple{"LOAD", "spComChl", "40"},
                                              {"LOAD", "edStateCmd", "51"},
                                              {"COMM", "Parity", "1"},
                                              {"COMM", "edBound", "1200"},
                                              {"COMMAND", "Row0", "0^^1^^2^^3^^4^^5^^"},
                                              {"COMMAND", "Row1", "1^^AA^^BB^^lamp^^^^^^"}})
        WriteKey(b, section, key, value);
    auto page = NewPage();
    page->InitControllerList();
    ::chmod(b.c_str(), 0444);
    // Loading writes B's relay count back brought into range.
    EXPECT_THROW(page->cbComDevListChange(page->cbComDevList().IndexOf("B.PSW")), OperatorError);
    EXPECT_EQ(page->CurrentPath(), b);
    EXPECT_EQ(page->RelayCount(), 32);
    EXPECT_EQ(page->sgCom().RowCount(), 33);
    EXPECT_EQ(page->edStateCmd().text, "51");
    EXPECT_EQ(page->edBound().text, "1200");
    EXPECT_EQ(page->cbParity().Text(), "奇校验");
    EXPECT_EQ(page->sgCom().Cell(3, 1), "lamp");
    // The choice is remembered all the same.
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "LOAD", "sPowerFn"), "B.PSW");

    // Typing a count into a refused file still shows that many rows.
    EXPECT_THROW(page->spComChlChange("6"), OperatorError);
    EXPECT_EQ(page->sgCom().RowCount(), 7);

    // A refused settings write: the page still shows what the list shows.
    ::chmod(b.c_str(), 0644);
    ::chmod(pc.ctx.settingsFile.c_str(), 0444);
    EXPECT_THROW(page->cbComDevListChange(page->cbComDevList().IndexOf("未命名电源设备.PSW")),
                 OperatorError);
    EXPECT_EQ(page->CurrentPath(), pc.File("未命名电源设备.PSW"));
    EXPECT_EQ(page->RelayCount(), 10);
}

TEST_F(SetupPageTest, DeletingNeverRemovesTheLastController) {
    auto page = NewPage();
    page->InitControllerList();
    page->btnDelComDevClick();
    EXPECT_TRUE(FileExists(pc.File("未命名电源设备.PSW")));

    page->edNewComDevChange("second");
    page->btnAddNewComDevClick();
    page->btnDelComDevClick();
    EXPECT_FALSE(FileExists(pc.File("SECOND.PSW")));
    EXPECT_EQ(page->cbComDevList().items, std::vector<std::string>{"未命名电源设备.PSW"});
    EXPECT_EQ(page->cbComDevList().itemIndex, 0);
    EXPECT_EQ(ReadIniText(pc.ctx.settingsFile, "LOAD", "sPowerFn"), "未命名电源设备.PSW");
}

TEST_F(SetupPageTest, RefreshTakesItsOwnDefaultAndCreatesNothing) {
    auto page = NewPage();
    page->InitControllerList();
    page->spComChlChange("8");
    page->edBoundChange("1200");
    page->btnRefreshDeviceClick();
    EXPECT_EQ(page->RelayCount(), 10);
    EXPECT_EQ(page->edBound().text, "9600");
    EXPECT_EQ(page->cbComDevList().itemIndex, -1);
    EXPECT_EQ(page->CurrentPath(), pc.File("Quelmar电源控制器.PSW"));
    EXPECT_EQ(page->cbComDevList().items.size(), 1u);
    EXPECT_FALSE(FileExists(page->CurrentPath()));
}

TEST_F(SetupPageTest, PluginsAreListedAndTheChosenOneDescribed) {
    ForceDirectories(pc.ctx.sDllPath);
    pc.dir.Write("PowerDll/decoder.so", "");
    pc.dir.Write("PowerDll/readme.txt", "");
    auto page = NewPage();
    page->InitControllerList();
    ASSERT_EQ(page->cbPowerDll().items, std::vector<std::string>{"decoder.so"});
    EXPECT_EQ(page->cbPowerDll().itemIndex, -1);
    page->cbPowerDllChange(0);
    EXPECT_EQ(page->cbPowerDll().hint, "about decoder.so");
    EXPECT_EQ(Key("未命名电源设备.PSW", "LOAD", "sPowerDllFn"), "decoder.so");
    page->btnRefreshDeviceClick();
    Setting("sPowerFn", "未命名电源设备.PSW");
    page->btnRefreshDeviceClick();
    EXPECT_EQ(page->cbPowerDll().Text(), "decoder.so");
}

TEST_F(SetupPageTest, RelayTableClicksDoubleClicksAndHints) {
    auto page = NewPage();
    page->InitControllerList();
    page->sgComSelectCell(1, 1);
    page->edHEXChange("4142");
    page->btnInputClick();
    page->sgComSelectCell(2, 1);
    EXPECT_EQ(page->edHEX().text, "");
    page->sgComSelectCell(1, 1);
    EXPECT_EQ(page->edHEX().text, "4142");
    EXPECT_TRUE(page->btnSend().enabled);
    EXPECT_FALSE(page->sgComEditing());

    page->sgComSelectCell(5, 1);
    EXPECT_TRUE(page->btnSend().enabled);
    EXPECT_FALSE(page->sgComEditing());
    for (const char* expected : {" √", " X", " √"}) {
        page->sgComDblClick();
        EXPECT_EQ(page->sgCom().Cell(5, 1), expected);
    }
    // Sending on column 5 does nothing.
    page->btnSendClick();
    EXPECT_TRUE(pc.sleeper.pauses.empty());

    page->sgComSelectCell(4, 1);
    EXPECT_TRUE(page->sgComEditing());
    EXPECT_FALSE(page->btnSend().enabled);
    EXPECT_FALSE(page->btnInput().enabled);
    page->sgComDblClick();
    EXPECT_EQ(page->sgCom().Cell(4, 1), "");

    EXPECT_FALSE(page->sgComSetEditText(3, 1, "a^^b"));
    EXPECT_EQ(page->sgCom().Cell(3, 1), "");
    EXPECT_EQ(pc.status.Panel(3), " 开关用途不能含有“^^”");

    page->sgComMouseMove(3, 0);  // the title row has no hint
    EXPECT_EQ(pc.status.Panel(3), " 开关用途不能含有“^^”");
    page->sgComMouseMove(3, 2);
    EXPECT_EQ(pc.status.Panel(3),
              " 输入常开触点开关的接线用途，如果硬件没有该触点开关，请填写“不存在”！");
    page->sgComMouseMove(0, 1);
    EXPECT_EQ(pc.status.Panel(3), " 这是控制器的继电器编号");
}

TEST_F(SetupPageTest, TextToHexUsesCodePageBytes) {
    auto page = NewPage();
    page->edASCChange("中A");
    page->btnASC2HexClick();
    EXPECT_EQ(page->edHEX().text, "D6D041");
}

TEST_F(SetupPageTest, TestSendsOnAClosedPortShowAsFailedAndPause) {
    auto page = NewPage();
    page->InitControllerList();
    page->sgComSelectCell(1, 1);
    page->edHEXChange("4f28");
    page->btnInputClick();
    page->btnSendClick();
    EXPECT_EQ(pc.status.Panel(3), " 发送失败:4F28");
    EXPECT_EQ(page->sgCom().Cell(1, 1), "4f28");
    EXPECT_EQ(pc.sleeper.pauses, std::vector<int>{50});

    page->sgComSelectCell(2, 1);
    page->btnSendClick();
    EXPECT_EQ(pc.status.Panel(3), " 发送失败:");

    pc.status.ShowStatus(3, "x");
    page->MyTransBtn1Click();  // empty state command
    EXPECT_EQ(pc.status.Panel(3), " x");
    page->edStateCmdChange("51");
    page->MyTransBtn1Click();
    EXPECT_EQ(pc.status.Panel(3), " 发送失败:51");
    EXPECT_EQ(pc.sleeper.pauses.size(), 3u);

    const char block[] = {0x4F, 0x0D};
    page->Com1ReceiveData(block, 2);
    EXPECT_EQ(pc.status.Panel(3), " 接收数据:4F0D");
}

TEST_F(SetupPageTest, ATestPortWhoseLineGoesAwayIsUnavailableUntilOpenedAgain) {
    // An adapter known by a link that outlives it.
    auto far = std::make_unique<test::PtyPair>();
    const std::string link = pc.File("ttyLINK");
    ASSERT_EQ(symlink(far->SlavePath().c_str(), link.c_str()), 0);
    ports = {link};
    auto page = NewPage();
    page->InitControllerList();
    ASSERT_TRUE(page->InitTestPort());
    far.reset();
    ASSERT_TRUE(pc.poster.PumpUntil([&] { return page->lbComState() == "串口状态：不可用"; }, 3000));
    EXPECT_FALSE(com1.IsOpen());
    test::PtyPair back;
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(back.SlavePath().c_str(), link.c_str()), 0);
    EXPECT_TRUE(page->InitTestPort());
    EXPECT_EQ(page->lbComState(), "串口状态：可用");
}

TEST_F(SetupPageTest, APortThatDoesNotOpenSaysWhy) {
    test::PtyPair line;
    ports = {pc.File("no-such-device"), line.SlavePath()};
    auto page = NewPage();
    page->InitControllerList();
    EXPECT_FALSE(page->InitTestPort());
    EXPECT_EQ(page->lbComState(), "串口状态：端口不存在");
    EXPECT_FALSE(com1.IsOpen());

    // Another program holds the line.
    const int other = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    page->cbComm1Change(1);
    EXPECT_FALSE(page->InitTestPort());
    EXPECT_EQ(page->lbComState(), "串口状态：端口被其它程序占用");
    ::close(other);
    EXPECT_TRUE(page->InitTestPort());
    EXPECT_EQ(page->lbComState(), "串口状态：可用");

    // Settings the line cannot take: the port stays closed and says why. A
    // time-out beyond 16 bits is refused as the run refuses it, not cut.
    for (const auto& [field, text, state] :
         {std::tuple{&SetupPage::edBoundChange, "0", "串口状态：波特率无效:0"},
          std::tuple{&SetupPage::edBoundChange, "abc", "串口状态：波特率无效:abc"},
          std::tuple{&SetupPage::edTimeOutChange, "70000", "串口状态：超时无效:70000"}}) {
        page->edBoundChange("9600");
        page->edTimeOutChange("20");
        ((*page).*field)(text);
        EXPECT_FALSE(page->InitTestPort()) << text;
        EXPECT_EQ(page->lbComState(), state);
        EXPECT_FALSE(com1.IsOpen());
    }
}

TEST(PortOpenFailure, ErrorsNameTheCauseTheOperatorCanMend) {
    EXPECT_EQ(OpenFailureOfErrno(ENOENT), PortOpenFailure::NoDevice);
    EXPECT_EQ(OpenFailureOfErrno(ENXIO), PortOpenFailure::NoDevice);
    EXPECT_EQ(OpenFailureOfErrno(EBUSY), PortOpenFailure::Busy);
    EXPECT_EQ(OpenFailureOfErrno(EWOULDBLOCK), PortOpenFailure::Busy);
    // Tests run as root here, so a real refused open cannot be staged.
    EXPECT_EQ(OpenFailureOfErrno(EACCES), PortOpenFailure::NoPermission);
    EXPECT_STREQ(OpenFailureText(PortOpenFailure::NoPermission),
                 "没有权限打开端口,请把用户加入dialout组");
    EXPECT_EQ(OpenFailureOfErrno(EIO), PortOpenFailure::Other);
    EXPECT_STREQ(OpenFailureText(PortOpenFailure::Other), "端口不存在或被其它程序占用");
}

TEST(PortLabel, NamesTheDeviceBehindANumberedPortOrALink) {
    EXPECT_EQ(PortLabel("COM3"), "COM3 (/dev/ttyS2)");
    test::PtyPair pty;
    test::TempDir dir;
    const std::string link = dir.File("泵房 box");
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), link.c_str()), 0);
    EXPECT_EQ(PortLabel(link), link + " (" + pty.SlavePath() + ")");
    EXPECT_EQ(PortLabel(pty.SlavePath()), pty.SlavePath());
    // A link that leads nowhere names nothing.
    ASSERT_EQ(symlink(dir.File("nowhere").c_str(), dir.File("gone").c_str()), 0);
    EXPECT_EQ(PortLabel(dir.File("gone")), dir.File("gone"));
}

}  // namespace
}  // namespace ristova::controller
