#include "controller/SerialSettings.h"

#include <limits>

#include "base/IniFile.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"
#include "controller/SetupPage.h"

namespace ristova::controller {

namespace {

// An integer key that must lie in [min, max]. A missing key, and with
// emptyIsMissing an empty one, keeps the default (nullopt, no problem).
std::optional<long long> CheckInteger(const std::string& file, std::string_view section,
                                      std::string_view key, const char* label, long long min,
                                      long long max, bool emptyIsMissing,
                                      std::vector<SettingProblem>& problems) {
    // No value holds a line break, so this default tells a missing key.
    constexpr std::string_view kMissing = "\n";
    const std::string text = ReadIniTextDef(file, section, key, kMissing);
    if (text == kMissing || (emptyIsMissing && text.empty())) return std::nullopt;
    long long value = 0;
    const bool integer = TryStrToInt(text, value);
    if (integer && value >= min && value <= max) return value;
    problems.push_back({std::string(key), text, std::string(label) + "无效:" + text, !integer});
    return std::nullopt;
}

}  // namespace

std::string SerialSettings::Reason() const {
    std::string text;
    for (const SettingProblem& p : problems) text += (text.empty() ? "" : ",") + p.reason;
    return text;
}

SerialSettings ReadSerialSettings(const std::string& controllerFile) {
    SerialSettings s;
    s.port = ReadIniTextDef(controllerFile, kComm, kPortRead, s.port);
    auto check = [&](std::string_view key, const char* label, long long min, long long max,
                     bool emptyIsMissing) {
        return CheckInteger(controllerFile, kComm, key, label, min, max, emptyIsMissing,
                            s.problems);
    };
    // A present empty rate or time-out is no number either, as the run has
    // always read them; empty list positions are missing, as on the setup page.
    if (auto v = check(kBound, "波特率", 1, std::numeric_limits<std::int32_t>::max(), false))
        s.baud = static_cast<std::uint32_t>(*v);
    if (auto v = check(kTimeOut, "超时", 0, std::numeric_limits<std::uint16_t>::max(), false))
        s.readTimeout = static_cast<std::uint16_t>(*v);
    if (auto v = check(kByteSize, "数据位", db5BITS, db8BITS, true))
        s.dataBits = static_cast<TComPortDataBits>(*v);
    if (auto v = check(kStopBits, "停止位", sb1BITS, sb2BITS, true))
        s.stopBits = static_cast<TComPortStopBits>(*v);
    if (auto v = check(kParity, "校验位", ptNONE, ptSPACE, true))
        s.parity = static_cast<TComPortParity>(*v);
    return s;
}

void ConfigurePort(TMyComport& port, const SerialSettings& settings) {
    port.SetSettingsProblem(settings.Reason());
    if (!settings.problems.empty()) return;
    port.SetCommPort(settings.port);
    port.SetComPortBaudRate(settings.baud);
    port.SetReadTimeout(settings.readTimeout);
    port.SetComPortDataBits(settings.dataBits);
    port.SetComPortStopBits(settings.stopBits);
    port.SetComPortParity(settings.parity);
    port.SetComPortHwHandshaking(hhNONE);
    port.SetComPortSwHandshaking(shNONE);
}

std::optional<SettingProblem> RelayCountProblem(const std::string& controllerFile) {
    std::vector<SettingProblem> problems;
    CheckInteger(controllerFile, kLoad, kComChl, "继电器数量", kMinRelayCount, kMaxRelayCount, true,
                 problems);
    if (problems.empty()) return std::nullopt;
    return problems.front();
}

}  // namespace ristova::controller
