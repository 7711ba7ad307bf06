#include "controller/SetupPage.h"

#include <algorithm>
#include <array>
#include <exception>

#include "base/Codec.h"
#include "base/DataFolder.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "comm/HexCommand.h"
#include "comm/PortDiscovery.h"
#include "controller/ControllerFile.h"
#include "controller/SerialSettings.h"
#include "controller/StatePlugin.h"

namespace ristova::controller {

namespace {

constexpr int kPortNameCount = 16;
constexpr int kTestSendPauseMs = 50;
constexpr int kDefaultByteSize = 3;  // 8 data bits
constexpr int kDefaultStopBits = 0;
constexpr int kDefaultParity = 0;
// The relay table's width in the page's design; the page sets the real one.
constexpr int kSgComDesignWidth = 592;
// The inside of its design height (a 1-pixel frame).
constexpr int kSgComDesignClientHeight = 256 - 2;
constexpr int kCommandRelayColWidth = 64;

constexpr std::array<std::string_view, 6> kColumnHints{
    "这是控制器的继电器编号",
    "在“加入表格”左侧的输入栏输入或修改十六进制控制数据！，然后“加入表格”",
    "在“加入表格”左侧的输入栏输入或修改十六进制控制数据！，然后“加入表格”",
    "输入常开触点开关的接线用途，如果硬件没有该触点开关，请填写“不存在”！",
    "输入常闭触点开关的接线用途，如果硬件没有该触点开关，请填写“不存在”！",
    "双击选择该参数。如果选择，表示执行该控制器计划表时，首先执行该路的接通操作",
};

int ClampRelayCount(long long n) {
    return static_cast<int>(std::clamp<long long>(n, kMinRelayCount, kMaxRelayCount));
}

// A stored list position: the default when it is not a number, -1 (nothing
// selected) when it lies outside the list.
int ListPosition(const std::string& stored, int def, const PickList& list) {
    const long long pos = StrToIntDef(stored, def);
    if (pos < 0 || pos >= static_cast<long long>(list.items.size())) return -1;
    return static_cast<int>(pos);
}

// A step of loading a file into the page: a refused write-through is kept
// for the end, so that the page still shows the whole file.
template <class Step>
void KeepLoading(std::exception_ptr& refused, Step&& step) {
    try {
        step();
    } catch (const OperatorError&) {
        if (!refused) refused = std::current_exception();
    }
}

}  // namespace

std::string_view CommandColumnHint(int col) {
    if (col < 0 || col >= static_cast<int>(kColumnHints.size())) return {};
    return kColumnHints[col];
}

const std::vector<std::string>& ContactHelpLines() {
    static const std::vector<std::string> lines{
        " 【关于继电器开关的说明】",
        "",
        " 每路继电器都有一个常开",
        " 触点开关，也可能还有一",
        " 个常闭触点开关。",
        "",
        " 每个触点开关都可以控制",
        " 一路电路的通断。同一路",
        " 的两个触点互相排斥：任",
        " 何时候只有其中一个闭合。",
        "",
        " 控制器断电或继电器未被",
        " 命令工作时，常闭触点闭",
        " 合。需要平时保持接通的",
        " 电路，最好接在常闭触点。",
        "",
        " 常开触点只在继电器被命",
        " 令工作时闭合，其余时间",
        " 断开。",
    };
    return lines;
}

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> ports;
    for (int i = 1; i <= kPortNameCount; ++i) ports.push_back("COM" + std::to_string(i));
    // A present port may already be one of the numbered names.
    for (const std::string& device : comm::PresentSerialDevices())
        if (std::find(ports.begin(), ports.end(), device) == ports.end()) ports.push_back(device);
    return ports;
}

std::string PortLabel(const std::string& port) {
    const std::string device = comm::DeviceBehind(port);
    return device.empty() ? port : port + " (" + device + ")";
}

std::string TypedPort(std::string_view typed, const std::vector<std::string>& listed) {
    const std::string text = Trim(typed);
    if (text.empty()) return {};
    for (const std::string& port : listed) {
        if (text == port || text == PortLabel(port)) return port;
    }
    if (comm::ComPortNumber(text) != 0) return AsciiUpper(text);
    return comm::TypedDevice(text);
}

std::string NormaliseControllerName(std::string_view typed) {
    const std::string trimmed = Trim(typed);
    if (trimmed.empty()) return {};
    return AsciiUpper(ChangeFileExt(trimmed, ".PSW"));
}

SetupPage::SetupPage(AppContext& ctx, TMyComport& com1)
    : ctx_(ctx),
      com1_(com1),
      portScanner_(ListSerialPorts),
      descriptionQuery_(
          [&ctx](const std::string& name) { return QueryPluginDescription(PluginFolderOf(ctx.sDllPath, ctx.sSysDllPath, name), name); }),
      relayCount_(12),
      sgCom_(6, 13, 1, 1) {
    // The window's design texts; the start-up load replaces them.
    edNewComDev_.hint = "请输入合法的新电源控制器设备文件名";
    spComChl_.text = "12";
    edStateCmd_.hint = "十六进制控制指令数据";
    edBound_.text = "4800";
    edTimeOut_.text = "100";
    edASC_.text = "O(00,01,1)E";
    edASC_.hint = "ASCII码字符";
    edHEX_.hint = "十六进制控制指令数据";
    mmSpecHint_.hint = "可输入任何关于该控制器的文字说明信息";
    mmSpecLines_ = {"这里可输入该电源控制器的说明资料..."};
    lbComState_ = std::string(kComStateUntouched);

    btnRefreshDevice_.caption = "刷新设备";
    btnAddNewComDev_.caption = "新添设备";
    btnAddNewComDev_.hint = "添加新串口设备";
    btnDelComDev_.caption = "删除电源控制器设备参数";
    btSaveComFn_.caption = "保存参数";
    btnInitCOMM_.caption = "重新初始化通信串口";
    btnASC2Hex_.caption = "字符-->HEX";
    btnInput_.caption = "加入表格";
    btnInput_.enabled = false;
    btnSend_.caption = "继电器开关指令测试";
    btnSend_.enabled = false;
    myTransBtn1_.caption = "继电器状态指令测试";

    cbByteSize_.items = {"5", "6", "7", "8"};
    cbByteSize_.itemIndex = kDefaultByteSize;
    cbStopBits_.items = {"1", "1.5", "2"};
    cbStopBits_.itemIndex = kDefaultStopBits;
    cbParity_.items = {"无校验", "奇校验", "偶校验", "掩码", "空格"};
    cbParity_.itemIndex = kDefaultParity;

    sgCom_.SetDefaultRowHeight(16);
    sgCom_.SetDefaultColWidth(kCommandRelayColWidth);
    sgCom_.SetShowsVScrollBar(true);
    sgCom_.SetWidth(kSgComDesignWidth);
    sgCom_.SetClientHeight(kSgComDesignClientHeight);
    sgCom_.SetCol(1);
    sgCom_.SetRow(1);
    SetGridTitles(sgCom_, CommandTableTitles());
    NumberGridRows(sgCom_, 0, 1, ' ', 4);

    ListPorts();
    com1_.SetOnReceiveData(
        [this](const char* buffer, std::uint16_t length) { Com1ReceiveData(buffer, length); });
    com1_.SetOnLineEnded([this] {
        // Closed at once, so that the next test opens the device anew.
        com1_.ClosePort();
        lbComState_ = std::string(kComStateLost);
        Changed();
    });
}

SetupPage::~SetupPage() {
    com1_.SetOnReceiveData(nullptr);
    com1_.SetOnLineEnded(nullptr);
}

void SetupPage::SetPortScanner(PortScanner scanner) {
    portScanner_ = std::move(scanner);
    ListPorts();
}

void SetupPage::SetDescriptionQuery(DescriptionQuery query) {
    descriptionQuery_ = std::move(query);
}

void SetupPage::SetFieldText(EditField& field, const std::string& text,
                             void (SetupPage::*handler)(const std::string&)) {
    if (field.text == text) return;
    (this->*handler)(text);
}

void SetupPage::WriteCurrent(std::string_view section, std::string_view key,
                             std::string_view value) {
    if (loadingMissingFile_) return;
    WriteKey(currentPath_, section, key, value);
}

void SetupPage::WriteSettingsPowerFn(const std::string& name) {
    WriteIniText(ctx_.settingsFile, settings::kLoad, settings::kSPowerFn, name);
}

// ---- lists and loading ---------------------------------------------------

void SetupPage::ListControllers() {
    ListFolderFiles(cbComDevList_.items, ctx_.sAppPath, "*.PSW");
    cbComDevList_.itemIndex = -1;
    Changed();
}

void SetupPage::ListPlugins() {
    if (!DirectoryExists(ctx_.sDllPath)) ForceDirectories(ctx_.sDllPath);
    cbPowerDll_.Clear();
    cbPowerDll_.items = ListPluginFiles(ctx_.sDllPath, ctx_.sSysDllPath);
    Changed();
}

void SetupPage::ListPorts() {
    const std::string chosen = cbComm1_.Text();
    cbComm1_.items = portScanner_ ? portScanner_() : std::vector<std::string>{};
    cbComm1_.itemIndex = cbComm1_.IndexOf(chosen);
    if (cbComm1_.itemIndex < 0 && !cbComm1_.items.empty()) cbComm1_.itemIndex = 0;
    Changed();
}

void SetupPage::InitControllerList() {
    ListControllers();
    ListPlugins();
    std::string name = ReadIniText(ctx_.settingsFile, settings::kLoad, settings::kSPowerFn);
    // A stored name that could point outside the program folder is not used.
    if (name.empty() || !IsSafeControllerName(name))
        name = std::string(settings::kDefaultSetupController);
    int index = cbComDevList_.IndexOfCaseless(name);
    if (index < 0) {
        CreateControllerFile(ctx_.sAppPath + name);
        cbComDevList_.items.push_back(name);
        index = static_cast<int>(cbComDevList_.items.size()) - 1;
    }
    cbComDevList_.itemIndex = index;
    currentPath_ = ctx_.sAppPath + cbComDevList_.items[index];
    LoadController(currentPath_);
}

void SetupPage::LoadController(const std::string& path) {
    const std::string dll = ReadKey(path, kLoad, kPowerDllFn);
    const int count =
        ClampRelayCount(StrToIntDef(ReadKey(path, kLoad, kComChl), kDefaultRelayCount));
    // A file that is not there (refresh names an unlisted one) is shown with
    // its defaults but not created by the load.
    loadingMissingFile_ = !FileExists(path);
    struct EndOfLoad {
        bool& missing;
        ~EndOfLoad() { missing = false; }
    } endOfLoad{loadingMissingFile_};
    std::exception_ptr refused;
    KeepLoading(refused, [&] {
        SetFieldText(spComChl_, std::to_string(count), &SetupPage::spComChlChange);
    });
    KeepLoading(refused, [&] {
        SetFieldText(edStateCmd_, ReadKey(path, kLoad, kStateCmd), &SetupPage::edStateCmdChange);
    });
    cbPowerDll_.itemIndex = dll.empty() ? -1 : cbPowerDll_.IndexOfCaseless(dll);
    // The description is not fetched on loading; the last one named another
    // controller's plug-in.
    cbPowerDll_.hint.clear();
    KeepLoading(refused, [&] { LoadSerialFields(path); });
    LoadCommandTable(path);
    FitDeviceGridColumns(sgCom_);
    sgComClick();
    Changed();
    if (refused) std::rethrow_exception(refused);
}

void SetupPage::LoadSerialFields(const std::string& path) {
    std::string bound = ReadKey(path, kComm, kBound);
    if (bound.empty()) bound = "9600";
    std::exception_ptr refused;
    KeepLoading(refused, [&] { SetFieldText(edBound_, bound, &SetupPage::edBoundChange); });
    std::string timeOut = ReadKey(path, kComm, kTimeOut);
    if (timeOut.empty()) timeOut = "20";
    KeepLoading(refused, [&] { SetFieldText(edTimeOut_, timeOut, &SetupPage::edTimeOutChange); });

    const std::string port = ReadKey(path, kComm, kPortRead);
    int index = port.empty() ? -1 : cbComm1_.IndexOfCaseless(port);
    if (index < 0 && port.starts_with('/')) {
        // A device path found on another day: offer it so that it stays choosable.
        cbComm1_.items.push_back(port);
        index = static_cast<int>(cbComm1_.items.size()) - 1;
    }
    cbComm1_.itemIndex = index >= 0 ? index : (cbComm1_.items.empty() ? -1 : 0);

    cbByteSize_.itemIndex =
        ListPosition(ReadKey(path, kComm, kByteSize), kDefaultByteSize, cbByteSize_);
    cbStopBits_.itemIndex =
        ListPosition(ReadKey(path, kComm, kStopBits), kDefaultStopBits, cbStopBits_);
    cbParity_.itemIndex = ListPosition(ReadKey(path, kComm, kParity), kDefaultParity, cbParity_);
    Changed();
    if (refused) std::rethrow_exception(refused);
}

void SetupPage::LoadCommandTable(const std::string& path) {
    ReadCommandTable(path, sgCom_);
    ApplyRelayCount();
    mmSpecLines_ = ReadDescription(path);
    Changed();
}

void SetupPage::ApplyRelayCount() {
    sgCom_.SetRowCount(relayCount_ + 1);
    NumberGridRows(sgCom_, 0, 1, ' ', 4);
    if (sgCom_.Row() >= sgCom_.RowCount()) sgCom_.SetRow(sgCom_.RowCount() - 1);
    if (sgCom_.Row() < 1) sgCom_.SetRow(1);
    if (sgCom_.Col() < 1) sgCom_.SetCol(1);
    sgCom_.Touch();
}

void SetupPage::SaveController(const std::string& path) {
    WriteCommandTableAndDescription(path, sgCom_, mmSpecLines_);
}

bool SetupPage::InitTestPort() {
    com1_.ClosePort();
    // What the run would take from the file, on the port the page shows.
    SerialSettings settings = ReadSerialSettings(currentPath_);
    settings.port = cbComm1_.Text();
    if (const std::string holder = portHolder_ ? portHolder_(settings.port) : std::string();
        !holder.empty()) {
        lbComState_ = std::string(kComStateHeldPrefix) + holder + std::string(kComStateHeldSuffix);
        Changed();
        return false;
    }
    ConfigurePort(com1_, settings);
    const bool ok = com1_.OpenPort();
    if (ok) {
        lbComState_ = std::string(kComStateAvailable);
    } else {
        lbComState_ = com1_.LastOpenFailure() == PortOpenFailure::Other
                          ? std::string(kComStateUnavailable)
                          : std::string(kComStatePrefix) + com1_.OpenFailureReason();
        com1_.ClosePort();
    }
    Changed();
    return ok;
}

// ---- change handlers -----------------------------------------------------

void SetupPage::cbComDevListChange(int index) {
    if (index < 0 || index >= static_cast<int>(cbComDevList_.items.size())) return;
    cbComDevList_.itemIndex = index;
    ShowChosenController(cbComDevList_.items[index]);
}

void SetupPage::ShowChosenController(const std::string& name) {
    currentPath_ = ctx_.sAppPath + name;
    // Load first: a refused settings write must not leave the page showing
    // one controller while its edits go to another.
    std::exception_ptr refused;
    KeepLoading(refused, [&] { LoadController(currentPath_); });
    WriteSettingsPowerFn(name);
    if (refused) std::rethrow_exception(refused);
}

void SetupPage::cbPowerDllChange(int index) {
    if (index < 0 || index >= static_cast<int>(cbPowerDll_.items.size())) return;
    cbPowerDll_.itemIndex = index;
    const std::string name = cbPowerDll_.items[index];
    cbPowerDll_.hint = descriptionQuery_ ? descriptionQuery_(name) : std::string();
    Changed();
    WriteCurrent(kLoad, kPowerDllFn, name);
}

void SetupPage::spComChlChange(const std::string& text) {
    spComChl_.text = text;
    long long typed = 0;
    // Text that is not a number counts as the spin box's lowest value.
    relayCount_ = TryStrToInt(text, typed) ? ClampRelayCount(typed) : kMinRelayCount;
    // The table follows the count even when the file refuses the write.
    ApplyRelayCount();
    FitDeviceGridColumns(sgCom_);
    Changed();
    WriteCurrent(kLoad, kComChl, std::to_string(relayCount_));
}

void SetupPage::spComChlExit() {
    long long typed = 0;
    if (TryStrToInt(spComChl_.text, typed) && typed != relayCount_) {
        SetFieldText(spComChl_, std::to_string(relayCount_), &SetupPage::spComChlChange);
    }
}

void SetupPage::spComChlStep(int steps) {
    SetFieldText(spComChl_, std::to_string(ClampRelayCount(relayCount_ + steps)),
                 &SetupPage::spComChlChange);
}

void SetupPage::edStateCmdChange(const std::string& text) {
    edStateCmd_.text = text;
    WriteCurrent(kLoad, kStateCmd, text);
    Changed();
}

void SetupPage::edBoundChange(const std::string& text) {
    edBound_.text = text;
    WriteCurrent(kComm, kBound, text);
    Changed();
}

void SetupPage::edTimeOutChange(const std::string& text) {
    edTimeOut_.text = text;
    WriteCurrent(kComm, kTimeOut, text);
    Changed();
}

void SetupPage::cbComm1Change(int index) {
    if (index < 0 || index >= static_cast<int>(cbComm1_.items.size())) return;
    cbComm1_.itemIndex = index;
    WriteCurrent(kComm, kPortWrite, cbComm1_.items[index]);
    Changed();
}

void SetupPage::cbComm1Typed(const std::string& text) {
    const std::string port = TypedPort(text, cbComm1_.items);
    if (port.empty() || port == cbComm1_.Text()) return;
    cbComm1_.SelectOrAppend(port);
    WriteCurrent(kComm, kPortWrite, cbComm1_.Text());
    Changed();
}

void SetupPage::PickLinePosition(PickList& list, int index, std::string_view key) {
    if (index < 0 || index >= static_cast<int>(list.items.size())) return;
    list.itemIndex = index;
    Changed();
    WriteCurrent(kComm, key, std::to_string(index));
}

void SetupPage::cbByteSizeChange(int index) {
    PickLinePosition(cbByteSize_, index, kByteSize);
}

void SetupPage::cbStopBitsChange(int index) {
    PickLinePosition(cbStopBits_, index, kStopBits);
}

void SetupPage::cbParityChange(int index) {
    PickLinePosition(cbParity_, index, kParity);
}

void SetupPage::edNewComDevChange(const std::string& text) {
    // At most 128 characters; a UTF-8 character starts at a non-continuation byte.
    std::size_t chars = 0, cut = 0;
    for (; cut < text.size(); ++cut) {
        if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80 &&
            ++chars > static_cast<std::size_t>(kNewControllerNameMaxLength))
            break;
    }
    edNewComDev_.text = text.substr(0, cut);
    Changed();
}

void SetupPage::mmSpecChange(const std::vector<std::string>& lines) {
    mmSpecLines_ = lines;
    Changed();
}

// ---- buttons -------------------------------------------------------------

void SetupPage::btSaveComFnClick() {
    SaveController(currentPath_);
    if (onSaved_) onSaved_(currentPath_);
}

void SetupPage::btnRefreshDeviceClick() {
    ListControllers();
    ListPlugins();
    ListPorts();
    std::string name = ReadIniText(ctx_.settingsFile, settings::kLoad, settings::kSPowerFn);
    if (name.empty() || !IsSafeControllerName(name))
        name = std::string(settings::kRefreshSetupController);
    cbComDevList_.itemIndex = cbComDevList_.IndexOfCaseless(name);
    currentPath_ = ctx_.sAppPath + (cbComDevList_.itemIndex >= 0 ? cbComDevList_.Text() : name);
    LoadController(currentPath_);
}

void SetupPage::btnAddNewComDevClick() {
    const std::string name = NormaliseControllerName(edNewComDev_.text);
    if (name.empty()) return;
    if (!IsSafeControllerName(name)) {
        throw OperatorError("请输入合法的新电源控制器设备文件名：" + Trim(edNewComDev_.text));
    }
    if (cbComDevList_.IndexOfCaseless(name) >= 0) return;
    // The file first, so that a refused write leaves no entry without a file.
    CreateControllerFile(ctx_.sAppPath + name);
    cbComDevList_.items.push_back(name);
    cbComDevList_.itemIndex = static_cast<int>(cbComDevList_.items.size()) - 1;
    ShowChosenController(name);
}

std::string SetupPage::FileToDelete() const {
    if (cbComDevList_.items.size() < 2) return {};
    return ExtractFileName(currentPath_);
}

void SetupPage::btnDelComDevClick() {
    if (cbComDevList_.items.size() < 2) return;
    DeleteControllerFile(currentPath_);
    if (cbComDevList_.itemIndex >= 0)
        cbComDevList_.items.erase(cbComDevList_.items.begin() + cbComDevList_.itemIndex);
    cbComDevList_.itemIndex = 0;
    cbComDevListChange(0);
}

void SetupPage::btnInitCOMMClick() {
    InitTestPort();
}

// ---- relay table ---------------------------------------------------------

bool SetupPage::CommandColumnSelected() const {
    return sgCom_.Col() == 1 || sgCom_.Col() == 2;
}

void SetupPage::sgComSelectCell(int col, int row) {
    if (SelectGridCell(sgCom_, col, row)) sgComClick();
}

void SetupPage::sgComClick() {
    const int col = sgCom_.Col();
    if (CommandColumnSelected()) {
        sgComEditing_ = false;
        edHEX_.text = sgCom_.Cell(col, sgCom_.Row());
        btnSend_.enabled = true;
        btnInput_.enabled = true;
    } else if (col == 5) {
        sgComEditing_ = false;
    } else {
        sgComEditing_ = true;
        btnSend_.enabled = false;
        btnInput_.enabled = false;
    }
    Changed();
}

void SetupPage::sgComDblClick() {
    if (sgCom_.Col() != 5) return;
    const int row = sgCom_.Row();
    const bool on = sgCom_.Cell(5, row) == kStartOnMark;
    sgCom_.SetCell(5, row, std::string(on ? kStartOffMark : kStartOnMark));
    sgCom_.Touch();
    Changed();
}

void SetupPage::sgComMouseMove(int col, int row) {
    if (row < 1 || col < 0) return;
    const std::string_view hint = CommandColumnHint(col);
    if (hint.empty()) return;
    ctx_.status.ShowStatus(3, std::string(hint));
}

bool SetupPage::sgComSetEditText(int col, int row, const std::string& text) {
    if (col < 3 || col > 4 || row < 1 || row >= sgCom_.RowCount()) return false;
    // The file stores cells between "^^" marks without escaping.
    if (text.find("^^") != std::string::npos) {
        ctx_.status.ShowStatus(3, "开关用途不能含有“^^”");
        return false;
    }
    sgCom_.SetCell(col, row, text);
    sgCom_.Touch();
    Changed();
    return true;
}

// ---- command test tools --------------------------------------------------

void SetupPage::edASCChange(const std::string& text) {
    edASC_.text = text;
    Changed();
}

void SetupPage::edHEXChange(const std::string& text) {
    edHEX_.text = text;
    Changed();
}

void SetupPage::btnASC2HexClick() {
    const std::string bytes = codec::ToCodePage(edASC_.text);
    edHEX_.text = BytesToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    Changed();
}

void SetupPage::btnInputClick() {
    if (!CommandColumnSelected()) return;
    sgCom_.SetCell(sgCom_.Col(), sgCom_.Row(), edHEX_.text);
    sgCom_.Touch();
    Changed();
}

void SetupPage::SendTestCommand(const std::string& hex) {
    comm::SendAndShowCommand(com1_, hex, ctx_.status);
    ctx_.sleeper.SleepMs(kTestSendPauseMs);
}

void SetupPage::btnSendClick() {
    if (!CommandColumnSelected()) return;
    SendTestCommand(sgCom_.Cell(sgCom_.Col(), sgCom_.Row()));
}

void SetupPage::MyTransBtn1Click() {
    if (edStateCmd_.text.empty()) return;
    SendTestCommand(edStateCmd_.text);
}

void SetupPage::Com1ReceiveData(const char* buffer, std::uint16_t length) {
    ctx_.status.ShowStatus(3,
                           std::string(comm::kReceivedPrefix) +
                               BytesToHex(reinterpret_cast<const std::uint8_t*>(buffer), length));
}

}  // namespace ristova::controller
