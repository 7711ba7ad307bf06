#include "base/Settings.h"

#include <array>
#include <utility>

#include "base/IniFile.h"
#include "base/TextUtils.h"

namespace ristova::settings {

namespace {

struct SwitchKey {
    std::string_view key;
    std::string_view section;
    std::string_view def;
};

constexpr std::array<SwitchKey, 6> kSwitches{{
    {kChk4Level, kLoad, "YES"},
    {kChkRun, kLoad, "NO"},
    {kChkStartON, kLoad, "YES"},
    {kChkAutoDelete, kLoad, "NO"},
    {kChkManOperate, kLoad, "NO"},
    {kRestoreOnStart, kRun, "NO"},
}};

const SwitchKey& Switch(std::string_view key) {
    static constexpr SwitchKey kOther{{}, kLoad, "NO"};
    for (const SwitchKey& s : kSwitches)
        if (s.key == key) return s;
    return kOther;
}

}  // namespace

std::string_view SwitchDefault(std::string_view key) {
    return Switch(key).def;
}

bool ReadSwitch(const std::string& settingsFile, std::string_view key) {
    return YesTextToBool(ReadIniTextDef(settingsFile, Switch(key).section, key, SwitchDefault(key)));
}

void WriteSwitch(const std::string& settingsFile, std::string_view key, bool on) {
    WriteIniText(settingsFile, Switch(key).section, key, BoolToYesText(on));
}

}  // namespace ristova::settings
