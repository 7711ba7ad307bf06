#include "base/DataFolder.h"

#include <algorithm>
#include <cstdlib>

#include "base/Files.h"

#ifndef RISTOVA_INSTALL_LIBDIR
#define RISTOVA_INSTALL_LIBDIR "lib"
#endif

namespace ristova {

namespace {

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

FolderEnv ProcessFolderEnv() {
    return FolderEnv{EnvText("XDG_DATA_HOME"), EnvText("HOME")};
}

std::string ChooseProgramFolder(const std::string& givenFolder, const std::string& exeFolder,
                                const FolderEnv& env) {
    if (!givenFolder.empty()) return IncludeTrailingSeparator(givenFolder);
    // The installed layout beside the executable marks an installation
    // also for root, who could write into /usr/bin.
    if (CanWrite(exeFolder) && !DirectoryExists(InstalledPluginFolder(exeFolder)))
        return IncludeTrailingSeparator(exeFolder);
    // The XDG rule: a relative $XDG_DATA_HOME is ignored. Without a home
    // there is no place that is the user's own: a folder under /tmp could
    // be anyone's, and is emptied at the next boot.
    std::string dataHome = env.xdgDataHome;
    if (dataHome.empty() || dataHome.front() != '/') {
        if (env.home.empty() || env.home.front() != '/') return {};
        dataHome = IncludeTrailingSeparator(env.home) + ".local/share";
    }
    return IncludeTrailingSeparator(dataHome) + "ristova/";
}

ProgramFolder ResolveProgramFolder(const std::string& givenFolder) {
    ProgramFolder result{ChooseProgramFolder(givenFolder, ExecutableFolder(), ProcessFolderEnv()),
                         {}};
    if (result.path.empty())
        result.problem =
            "HOME未设置,无法确定数据文件夹 (set HOME or XDG_DATA_HOME, or name the program "
            "folder with --folder)";
    else if (!DirectoryExists(result.path) && !ForceDirectories(result.path))
        result.problem = "无法建立数据文件夹 " + result.path;
    return result;
}

std::string InstalledPluginFolder(const std::string& exeFolder) {
    return IncludeTrailingSeparator(exeFolder) + "../" RISTOVA_INSTALL_LIBDIR "/ristova/PowerDll/";
}

std::string PluginFolderOf(const std::string& userFolder, const std::string& installedFolder,
                           const std::string& fileName) {
    if (fileName.empty() || FileExists(userFolder + fileName)) return userFolder;
    if (!installedFolder.empty() && FileExists(installedFolder + fileName)) return installedFolder;
    return userFolder;
}

std::vector<std::string> ListPluginFiles(const std::string& userFolder,
                                         const std::string& installedFolder) {
    std::vector<std::string> names;
    ListFolderFiles(names, userFolder, "*.so");
    if (!installedFolder.empty() && DirectoryExists(installedFolder)) {
        std::vector<std::string> installed;
        ListFolderFiles(installed, installedFolder, "*.so");
        names.insert(names.end(), installed.begin(), installed.end());
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

}  // namespace ristova
