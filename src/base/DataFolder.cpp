#include "base/DataFolder.h"

#include <algorithm>

#include "base/Files.h"
#include "base/SharedLibrary.h"

namespace ristova {

std::string ChooseProgramFolder(const std::string& givenFolder, const std::string& exeFolder,
                                const FolderEnv& env) {
    if (!givenFolder.empty()) return IncludeTrailingSeparator(givenFolder);
    // The installed layout beside the executable marks an installation
    // also for root, who could write into /usr/bin.
    if (CanWrite(exeFolder) && !DirectoryExists(InstalledPluginFolder(exeFolder)))
        return IncludeTrailingSeparator(exeFolder);
    return UserDataFolder(env);
}

ProgramFolder ResolveProgramFolder(const std::string& givenFolder) {
    ProgramFolder result{
        ChooseProgramFolder(FromNativePath(givenFolder), ExecutableFolder(), ProcessFolderEnv()),
        {}};
    if (result.path.empty())
        result.problem =
            "HOME未设置,无法确定数据文件夹 (set HOME or XDG_DATA_HOME, or name the program "
            "folder with --folder)";
    else if (!DirectoryExists(result.path) && !ForceDirectories(result.path))
        result.problem = "无法建立数据文件夹 " + result.path;
    return result;
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
    ListFolderFiles(names, userFolder, kSharedLibraryMask);
    if (!installedFolder.empty() && DirectoryExists(installedFolder)) {
        std::vector<std::string> installed;
        ListFolderFiles(installed, installedFolder, kSharedLibraryMask);
        names.insert(names.end(), installed.begin(), installed.end());
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

}  // namespace ristova
