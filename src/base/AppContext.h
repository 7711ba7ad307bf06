#pragma once
// What every page of the window shares: the program's locations, the
// injected clock, sleeper and main-thread poster, the status bar and the
// settings boxes. The main window owns all of it for the program's life.
#include <string>

#include "base/Clock.h"
#include "base/SettingsBoxes.h"
#include "base/StatusBar.h"
#include "base/MainThreadPoster.h"

namespace ristova {

struct AppContext {
    std::string sAppPath;      // the program folder, ending in '/'
    std::string sDllPath;      // sAppPath + "PowerDll/"
    std::string settingsFile;  // sAppPath + "系统参数.INI"
    IClock& clock;
    ISleeper& sleeper;
    IMainThreadPoster& poster;
    StatusBar& status;
    SettingsBoxes& boxes;
    // The installed plug-in folder, searched after sDllPath; empty: none.
    std::string sSysDllPath{};
};

}  // namespace ristova
