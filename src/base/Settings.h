#pragma once
// The settings file's sections, keys and the defaults that readers apply.
// The file holds no state of its own: every reader goes to the file.
#include <string>
#include <string_view>

namespace ristova::settings {

inline constexpr std::string_view kLoad = "LOAD";
inline constexpr std::string_view kEdit = "EDIT";
inline constexpr std::string_view kRun = "RUN";

inline constexpr std::string_view kChk4Level = "chk4Level";
inline constexpr std::string_view kChkRun = "chkRun";
inline constexpr std::string_view kChkStartON = "chkStartON";
inline constexpr std::string_view kChkAutoDelete = "chkAutoDelete";
inline constexpr std::string_view kChkManOperate = "chkManOperate";
// [RUN]: every start of running also puts each relay where the day's plan
// wants it by now.
inline constexpr std::string_view kRestoreOnStart = "RestoreOnStart";
inline constexpr std::string_view kRbJDQ = "rbJDQ";
inline constexpr std::string_view kSPowerFn = "sPowerFn";
inline constexpr std::string_view kCbEdFn = "cbEdFn";

inline constexpr std::string_view kCaptionRbJDQ = "按继电器开关排序";
inline constexpr std::string_view kCaptionRbTime = "按动作时间排序";
inline constexpr std::string_view kDefaultSetupController = "未命名电源设备.PSW";
inline constexpr std::string_view kRefreshSetupController = "Quelmar电源控制器.PSW";
inline constexpr std::string_view kDefaultRunController = "Quelmar电源控制器.PSW";
inline constexpr std::string_view kDefaultPlanTable = "计划表.tab";

// A switch of the settings file ([LOAD], RestoreOnStart in [RUN]):
// ReadIniTextDef with the key's default, then YesTextToBool.
bool ReadSwitch(const std::string& settingsFile, std::string_view key);
// The default of a switch when its key is absent.
std::string_view SwitchDefault(std::string_view key);
void WriteSwitch(const std::string& settingsFile, std::string_view key, bool on);

}  // namespace ristova::settings
