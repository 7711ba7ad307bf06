// The per-user data folder on POSIX: the XDG base directory rules; an
// installed program's plug-ins under the library folder.
#include "base/DataFolder.h"

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

std::string UserDataFolder(const FolderEnv& env) {
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

std::string InstalledPluginFolder(const std::string& exeFolder) {
    return IncludeTrailingSeparator(exeFolder) + "../" RISTOVA_INSTALL_LIBDIR "/ristova/PowerDll/";
}

}  // namespace ristova
