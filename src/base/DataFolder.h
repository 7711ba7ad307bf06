#pragma once
// Where the program's data lives. A portable copy keeps it next to the
// executable; an installed one, whose folder cannot be written, keeps it per
// user (the XDG data folder, on Windows %LOCALAPPDATA%). Decoder plug-ins are
// found in the data folder first, then in the installed plug-in folder. The
// per-user folder and the installed layout are the platform's
// (posix/DataFolder.cpp, win32/DataFolder.cpp).
#include <string>
#include <vector>

namespace ristova {

struct FolderEnv {
    std::string xdgDataHome;        // $XDG_DATA_HOME, may be empty
    std::string home;               // $HOME
    std::string localAppData = {};  // %LOCALAPPDATA% (Windows), may be empty
};
FolderEnv ProcessFolderEnv();
// The per-user program folder, ending in '/': <data home>/ristova/, on
// Windows <local application data>/Ristova/.
std::string UserDataFolder(const FolderEnv& env);

// The program folder, ending in '/': the given folder when not empty, else
// the executable's folder when it can be written and is not an installation
// (no installed plug-in folder beside it), else UserDataFolder; empty when
// that is needed and the user's folder cannot be told (on POSIX neither an
// absolute $XDG_DATA_HOME nor an absolute $HOME). Only decides; nothing is
// created.
std::string ChooseProgramFolder(const std::string& givenFolder, const std::string& exeFolder,
                                const FolderEnv& env);

struct ProgramFolder {
    std::string path;     // ending in '/'
    std::string problem;  // not empty when there is no folder or it could not be created
};
// ChooseProgramFolder for this process, creating the folder when missing.
ProgramFolder ResolveProgramFolder(const std::string& givenFolder);

// <exe folder>/../lib/<multiarch>/ristova/PowerDll/, as the package lays it
// out; on Windows <exe folder>/lib/PowerDll/, as the installer does.
std::string InstalledPluginFolder(const std::string& exeFolder);

// The folder that holds the plug-in: the user's when it has the file, else
// the installed one when that has it, else the user's (whose absence is then
// reported by the loader as for any missing file).
std::string PluginFolderOf(const std::string& userFolder, const std::string& installedFolder,
                           const std::string& fileName);
// Library names ("*.so", "*.dll") of both folders, sorted, each once (a user's file shadows an
// installed one of the same name).
std::vector<std::string> ListPluginFiles(const std::string& userFolder,
                                         const std::string& installedFolder);

}  // namespace ristova
