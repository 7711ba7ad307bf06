#pragma once
// An AppContext over a fresh program folder, with a clock set by the test, a
// sleeper that only records and a poster that the test pumps.
#include <string>
#include <vector>

#include "base/AppContext.h"
#include "base/Clock.h"
#include "base/SettingsBoxes.h"
#include "base/StatusBar.h"
#include "base/MainThreadPoster.h"
#include "support/TempDir.h"

namespace ristova::test {

class SetClock : public IClock {
  public:
    LocalDateTime now;
    LocalDateTime Now() override { return now; }
};

class RecordingSleeper : public ISleeper {
  public:
    std::vector<int> pauses;
    void SleepMs(int milliseconds) override { pauses.push_back(milliseconds); }
};

struct PageContext {
    TempDir dir;
    SetClock clock;
    RecordingSleeper sleeper;
    PumpedPoster poster;
    StatusBar status;
    SettingsBoxes boxes;
    AppContext ctx{dir.Path(),
                   dir.Path() + "PowerDll/",
                   dir.Path() + "系统参数.INI",
                   clock,
                   sleeper,
                   poster,
                   status,
                   boxes};

    std::string File(const std::string& name) const { return dir.File(name); }
    std::string Read(const std::string& name) const { return dir.Read(name); }
};

}  // namespace ristova::test
