// The per-user data folder on Windows: %LOCALAPPDATA%\Ristova; an
// installed program's plug-ins in lib\PowerDll beside it.
#include "base/DataFolder.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include "base/Files.h"
#include "base/win32/Wide.h"

namespace ristova {

FolderEnv ProcessFolderEnv() {
    FolderEnv env;
    if (const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA"); local != nullptr && *local != L'\0') {
        env.localAppData = win32::PathFromWide(local);
    } else {
        wchar_t* known = nullptr;
        if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK)
            env.localAppData = win32::PathFromWide(known);
        ::CoTaskMemFree(known);
    }
    if (const wchar_t* home = ::_wgetenv(L"USERPROFILE"); home != nullptr)
        env.home = win32::PathFromWide(home);
    return env;
}

std::string UserDataFolder(const FolderEnv& env) {
    const std::string base = !env.localAppData.empty() ? env.localAppData
                             : !env.home.empty()       ? env.home + "/AppData/Local"
                                                       : std::string("C:/ProgramData");
    return IncludeTrailingSeparator(FromNativePath(base)) + "Ristova/";
}

std::string InstalledPluginFolder(const std::string& exeFolder) {
    return IncludeTrailingSeparator(exeFolder) + "lib/PowerDll/";
}

}  // namespace ristova
