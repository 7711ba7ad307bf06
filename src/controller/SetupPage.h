#pragma once
// The controller setup page ("电源控制器设置") and its command test tools as a
// model: every control's state as data and the page's handlers. The Qt page
// renders this and forwards the operator's events; nothing else decides.
//
// Field values live in the controller file: each change handler writes at
// once. The command table and the description stay in the page until
// "保存参数".
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/AppContext.h"
#include "base/PageControls.h"
#include "base/StringGrid.h"
#include "comm/MyComm32.h"

namespace ristova::controller {

inline constexpr int kMinRelayCount = 1;
inline constexpr int kMaxRelayCount = 32;
inline constexpr int kDefaultRelayCount = 10;
inline constexpr int kNewControllerNameMaxLength = 128;

inline constexpr std::string_view kComStateUntouched = "串口状态：未操作";
inline constexpr std::string_view kComStateAvailable = "串口状态：可用";
inline constexpr std::string_view kComStateUnavailable = "串口状态：被占用或不存在";
// + why the port did not open, when that is known.
inline constexpr std::string_view kComStatePrefix = "串口状态：";
// The test port was open and its line went away.
inline constexpr std::string_view kComStateLost = "串口状态：不可用";
// A run holds the port: prefix + the controller + suffix.
inline constexpr std::string_view kComStateHeldPrefix = "串口状态：端口正由运行中的控制器";
inline constexpr std::string_view kComStateHeldSuffix = "使用";

// Hint of a column of sgCom, shown in status panel 3 while the mouse is over a
// relay row; empty beyond the last column.
std::string_view CommandColumnHint(int col);

// The fixed lines of the help box under the serial group.
const std::vector<std::string>& ContactHelpLines();

// "COM1" to "COM16", then the serial devices found on this machine.
std::vector<std::string> ListSerialPorts();
// What the port list shows for a stored port: "COM1 (/dev/ttyS0)", a link
// with the device it leads to, any other name as it is.
std::string PortLabel(const std::string& port);
// A typed port as it is stored: a label of the list gives its port, "com3"
// gives "COM3", a bare device name gets the device folder ("/dev/"); empty
// when nothing was typed.
std::string TypedPort(std::string_view typed, const std::vector<std::string>& listed);

// A typed controller name made into a file name: trimmed, extension replaced
// by ".PSW" (appended when there is none), ASCII letters upper-cased. Empty
// when nothing is left after trimming.
std::string NormaliseControllerName(std::string_view typed);

class SetupPage {
  public:
    using PortScanner = std::function<std::vector<std::string>()>;
    using DescriptionQuery = std::function<std::string(const std::string& pluginFileName)>;
    // The running controller that holds a port, or empty.
    using PortHolder = std::function<std::string(const std::string& port)>;

    // Hooks the test port's received-data event to Com1ReceiveData.
    SetupPage(AppContext& ctx, TMyComport& com1);
    ~SetupPage();
    SetupPage(const SetupPage&) = delete;
    SetupPage& operator=(const SetupPage&) = delete;

    // Tests replace the machine's serial devices and the plug-in query.
    void SetPortScanner(PortScanner scanner);
    void SetDescriptionQuery(DescriptionQuery query);
    // The test port opens no port that a run holds.
    void SetPortHolder(PortHolder holder) { portHolder_ = std::move(holder); }
    // After "保存参数" wrote the controller (its full path).
    void SetOnSaved(std::function<void(const std::string& path)> saved) {
        onSaved_ = std::move(saved);
    }

    // Start-up and internal steps.
    void InitControllerList();
    void ListControllers();
    void ListPlugins();
    void ListPorts();
    void LoadController(const std::string& path);
    void LoadSerialFields(const std::string& path);
    void LoadCommandTable(const std::string& path);
    void SaveController(const std::string& path);
    bool InitTestPort();

    // Handlers of the operator's events. List handlers take the picked index.
    void cbComDevListChange(int index);
    void cbPowerDllChange(int index);
    void spComChlChange(const std::string& text);
    void spComChlExit();
    void spComChlStep(int steps);  // the spin buttons and arrow keys
    void edStateCmdChange(const std::string& text);
    void edBoundChange(const std::string& text);
    void edTimeOutChange(const std::string& text);
    void cbComm1Change(int index);
    // The operator typed a port into the box (stored as TypedPort makes it).
    void cbComm1Typed(const std::string& text);
    void cbByteSizeChange(int index);
    void cbStopBitsChange(int index);
    void cbParityChange(int index);
    void edNewComDevChange(const std::string& text);
    void mmSpecChange(const std::vector<std::string>& lines);
    void btSaveComFnClick();
    void btnRefreshDeviceClick();
    void btnAddNewComDevClick();
    void btnDelComDevClick();
    // The controller file that btnDelComDevClick would delete; empty when the
    // click does nothing (the last controller stays).
    std::string FileToDelete() const;
    void btnInitCOMMClick();
    // Moves the current cell (mouse or keys) and runs sgComClick.
    void sgComSelectCell(int col, int row);
    void sgComClick();
    void sgComDblClick();
    void sgComMouseMove(int col, int row);
    // The in-place editor of a purpose cell finished; false when refused.
    bool sgComSetEditText(int col, int row, const std::string& text);

    // Command test tools.
    void edASCChange(const std::string& text);
    void edHEXChange(const std::string& text);
    void btnASC2HexClick();
    void btnInputClick();
    void btnSendClick();
    void MyTransBtn1Click();
    void Com1ReceiveData(const char* buffer, std::uint16_t length);

    // What the page shows.
    const std::string& CurrentPath() const { return currentPath_; }
    const PickList& cbComDevList() const { return cbComDevList_; }
    const PickList& cbPowerDll() const { return cbPowerDll_; }
    const PickList& cbComm1() const { return cbComm1_; }
    const PickList& cbByteSize() const { return cbByteSize_; }
    const PickList& cbStopBits() const { return cbStopBits_; }
    const PickList& cbParity() const { return cbParity_; }
    const EditField& edNewComDev() const { return edNewComDev_; }
    const EditField& spComChl() const { return spComChl_; }
    int RelayCount() const { return relayCount_; }
    const EditField& edStateCmd() const { return edStateCmd_; }
    const EditField& edBound() const { return edBound_; }
    const EditField& edTimeOut() const { return edTimeOut_; }
    const EditField& edASC() const { return edASC_; }
    const EditField& edHEX() const { return edHEX_; }
    const EditField& mmSpec() const { return mmSpecHint_; }
    const std::vector<std::string>& mmSpecLines() const { return mmSpecLines_; }
    const std::string& lbComState() const { return lbComState_; }
    const ButtonState& btnRefreshDevice() const { return btnRefreshDevice_; }
    const ButtonState& btnAddNewComDev() const { return btnAddNewComDev_; }
    const ButtonState& btnDelComDev() const { return btnDelComDev_; }
    const ButtonState& btSaveComFn() const { return btSaveComFn_; }
    const ButtonState& btnInitCOMM() const { return btnInitCOMM_; }
    const ButtonState& btnASC2Hex() const { return btnASC2Hex_; }
    const ButtonState& btnInput() const { return btnInput_; }
    const ButtonState& btnSend() const { return btnSend_; }
    const ButtonState& MyTransBtn1() const { return myTransBtn1_; }
    // In-place editing of sgCom's current cell is on.
    bool sgComEditing() const { return sgComEditing_; }
    StringGrid& sgCom() { return sgCom_; }
    const StringGrid& sgCom() const { return sgCom_; }

    // Grows on every change of the page's state (sgCom has its own).
    std::uint64_t Revision() const { return revision_; }

  private:
    void Changed() { ++revision_; }
    // A field's text set by the program runs its handler only when it changes.
    void SetFieldText(EditField& field, const std::string& text,
                      void (SetupPage::*handler)(const std::string&));
    void WriteCurrent(std::string_view section, std::string_view key, std::string_view value);
    void WriteSettingsPowerFn(const std::string& name);
    // The operator's choice of controller: load it and remember it.
    void ShowChosenController(const std::string& name);
    // A data bits, stop bits or parity position picked by the operator.
    void PickLinePosition(PickList& list, int index, std::string_view key);
    void ApplyRelayCount();
    void SendTestCommand(const std::string& hex);
    bool CommandColumnSelected() const;

    AppContext& ctx_;
    TMyComport& com1_;
    PortScanner portScanner_;
    DescriptionQuery descriptionQuery_;
    PortHolder portHolder_;
    std::function<void(const std::string&)> onSaved_;

    std::string currentPath_;
    PickList cbComDevList_;
    PickList cbPowerDll_;
    PickList cbComm1_;
    PickList cbByteSize_;
    PickList cbStopBits_;
    PickList cbParity_;
    EditField edNewComDev_;
    EditField spComChl_;
    int relayCount_;
    EditField edStateCmd_;
    EditField edBound_;
    EditField edTimeOut_;
    EditField edASC_;
    EditField edHEX_;
    EditField mmSpecHint_;
    std::vector<std::string> mmSpecLines_;
    std::string lbComState_;
    ButtonState btnRefreshDevice_;
    ButtonState btnAddNewComDev_;
    ButtonState btnDelComDev_;
    ButtonState btSaveComFn_;
    ButtonState btnInitCOMM_;
    ButtonState btnASC2Hex_;
    ButtonState btnInput_;
    ButtonState btnSend_;
    ButtonState myTransBtn1_;
    bool sgComEditing_ = false;
    bool loadingMissingFile_ = false;
    StringGrid sgCom_;
    std::uint64_t revision_ = 0;
};

}  // namespace ristova::controller
