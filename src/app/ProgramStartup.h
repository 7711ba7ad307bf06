#pragma once
// What the window and the headless runner share: the clock, the status bar,
// the settings boxes, the context, the test port, the site with its runs,
// journal and broker bridge, and the start-up steps that do not belong to a
// window.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if RISTOVA_WITH_API
#include "api/ApiServer.h"
#endif
#include "base/AppContext.h"
#include "base/Clock.h"
#include "base/MainThreadPoster.h"
#include "base/SettingsBoxes.h"
#include "base/StatusBar.h"
#include "comm/MyComm32.h"
#include "remote/MqttBridge.h"
#include "run/Journal.h"
#include "run/RunPage.h"
#include "run/Site.h"

namespace ristova {

#if !RISTOVA_WITH_API
namespace api {
class ApiServer;
}
#endif

class ProgramCore {
  public:
    // programFolder empty: the executable's folder. Null clock or sleeper:
    // the system's.
    ProgramCore(IMainThreadPoster& poster, std::string programFolder, IClock* clock = nullptr,
                ISleeper* sleeper = nullptr);
    // The site goes: the broker link ends, the runs stop, the journal
    // writes what it holds.
    ~ProgramCore();
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    // The first start-up step: the folder's locations, then the journal in
    // it, attached to the site's events. Panel 3 tells when the journal
    // lost rows, with their number (also onRowsLost when given, on the main
    // thread).
    void SetLocations(std::function<void(std::uint64_t lost)> onRowsLost = {});
    // The locations only: a window attached to another process that runs
    // the folder writes no journal of its own.
    void SetLocationsOnly();
    // The switches as the settings file holds them, written
    // nowhere (the window applies them through its boxes' clicks instead).
    void ReadSwitchBoxes();
    // Runs one start-up step; the window shows an error there and goes on.
    using Step = std::function<void(const std::function<void()>&)>;
    // The run side: the site's runs and their plans (through the run page
    // when there is one), the start when start() says so, then the plans'
    // date as the last run date. Each in a step.
    void PrepareRun(const std::function<bool()>& start, const Step& step = {},
                    run::RunPage* page = nullptr);

    // The broker link of section [MQTT], when it names a host. Empty, or
    // why it could not start (the plan runs on without it).
    std::string StartRemote();
    remote::MqttBridge* Remote() { return remote_; }

    // The local API of section [API]: the socket in the folder, TCP when
    // Listen names an address. What kept a listener from starting, one text
    // each (the plan runs on without it). afterRunsChanged runs on the main
    // thread when a request started or stopped runs. A build without the API
    // starts nothing.
    std::vector<std::string> StartApi(std::function<void()> afterRunsChanged = {});
    api::ApiServer* Api() { return api_; }

    AppContext& Context() { return ctx_; }
    StatusBar& Status() { return status_; }
    SettingsBoxes& Boxes() { return boxes_; }
    TMyComport& Com1() { return com1_; }
    run::Site& GetSite() { return site_; }
    run::Journal* Journal() { return site_.GetJournal(); }

  private:
    std::unique_ptr<SystemClock> ownClock_;
    std::unique_ptr<SystemSleeper> ownSleeper_;
    StatusBar status_;
    SettingsBoxes boxes_;
    AppContext ctx_;
    std::string programFolder_;
    TMyComport com1_;
    run::Site site_;
    remote::MqttBridge* remote_ = nullptr;  // one of the site's services
    api::ApiServer* api_ = nullptr;         // another
};

}  // namespace ristova
