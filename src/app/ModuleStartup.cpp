#include "app/ModuleStartup.h"

#include "base/Files.h"

namespace ristova {

namespace {

std::string& SettingsFileNameStorage() {
    static std::string name;
    return name;
}

}  // namespace

const std::string& SettingsFileName() {
    return SettingsFileNameStorage();
}

ModuleStartupResult CheckCounter(int getresResult, const timespec& resolution) {
    constexpr long kMaxResolutionNs = 1'000'000;
    ModuleStartupResult result;
    if (getresResult != 0 || resolution.tv_sec > 0 || resolution.tv_nsec > kMaxResolutionNs) {
        result.ok = false;
        result.message = std::string(kNoCounterLine1) + "\n" + kNoCounterLine2;
    }
    return result;
}

ModuleStartupResult InitializeModule(const std::string& programFolder) {
    const std::string folder =
        programFolder.empty() ? ExecutableFolder() : IncludeTrailingSeparator(programFolder);
    SettingsFileNameStorage() = folder + kSettingsFileBaseName;
    timespec resolution{};
    const int rc = ::clock_getres(CLOCK_MONOTONIC, &resolution);
    return CheckCounter(rc, resolution);
}

}  // namespace ristova
