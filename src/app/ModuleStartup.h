#pragma once
// What runs when the program is loaded, before any window exists.
#include <ctime>
#include <string>

namespace ristova {

inline constexpr const char* kSettingsFileBaseName = "系统参数.INI";
inline constexpr const char* kNoCounterLine1 = "对不起,发现该计算机没有高性能计数器.";
inline constexpr const char* kNoCounterLine2 = "请升级您的计算机和操作系统.系统退出";

// Full path of the settings file; set by InitializeModule.
const std::string& SettingsFileName();

struct ModuleStartupResult {
    bool ok = true;
    std::string message;  // the two lines joined by '\n' when !ok
};

// Fixes SettingsFileName from the executable's folder (or the given folder)
// and checks for a high-resolution monotonic counter.
ModuleStartupResult InitializeModule(const std::string& programFolder = std::string());

// The counter check on the answer of clock_getres(CLOCK_MONOTONIC): a failed
// call or a resolution coarser than 1 ms means there is no usable counter.
ModuleStartupResult CheckCounter(int getresResult, const timespec& resolution);

}  // namespace ristova
