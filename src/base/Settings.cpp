#include "base/Settings.h"

#include <array>
#include <utility>

#include "base/IniFile.h"
#include "base/TextUtils.h"

namespace ristova::settings {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kSwitchDefaults{{
    {kChk4Level, "YES"},
    {kChkRun, "NO"},
    {kChkStartON, "YES"},
    {kChkAutoDelete, "NO"},
    {kChkManOperate, "NO"},
}};

}  // namespace

std::string_view SwitchDefault(std::string_view key) {
    for (const auto& [name, def] : kSwitchDefaults)
        if (name == key) return def;
    return "NO";
}

bool ReadSwitch(const std::string& settingsFile, std::string_view key) {
    return YesTextToBool(ReadIniTextDef(settingsFile, kLoad, key, SwitchDefault(key)));
}

void WriteSwitch(const std::string& settingsFile, std::string_view key, bool on) {
    WriteIniText(settingsFile, kLoad, key, BoolToYesText(on));
}

}  // namespace ristova::settings
