#pragma once
// A site: the controller runs of one program folder. It decides which
// controllers run ([RUN] Controllers, or the one run controller), keeps the
// date change and the plan reloads, owns the journal and the services that
// other layers add (the broker bridge), and is the one scheduler and the
// one exception guard that both hosts drive: the window's Qt timers and
// ristova-run's poll loop call its ticks and arm their timers as Needed()
// says.
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/AppContext.h"
#include "comm/MyComm32.h"
#include "run/ControllerRun.h"
#include "run/Journal.h"
#include "run/RunEvents.h"
#include "run/RunView.h"

namespace ristova::run {

// [RUN] Controllers: the controller files that run together, by commas.
inline constexpr std::string_view kControllersKey = "Controllers";

// Panel 3 and the error of a start refused because another listed
// controller drives the same port: first + "和" + second + "使用同一端口" + port.
std::string SamePortText(const std::string& first, const std::string& second,
                         const std::string& port);

// Two names of one device ("COM1" and "/dev/ttyS0", a link and its target)
// give one identity.
std::string PortIdentity(const std::string& port);

// The list as the settings file holds it: trimmed names, empty ones,
// repeats (in any letter case) and names that are no file of the program
// folder itself (a ".." or a separator) left out.
std::vector<std::string> ReadListedControllers(const std::string& settingsFile);
// The names under [RUN] sPowerFn and [RUN] Controllers that a run refuses,
// separated by ", "; empty when there are none.
std::string RefusedControllerNames(const std::string& settingsFile);
void WriteListedControllers(const std::string& settingsFile, const std::vector<std::string>& names);

// Something another layer adds to the site and the site owns (the broker
// bridge); it goes before the runs do.
class SiteService {
  public:
    virtual ~SiteService() = default;
};

class Site : public SiteView {
  public:
    // The test port is the setup page's: a start closes it, and it opens no
    // port that a run holds.
    Site(AppContext& ctx, TMyComport& testPort);
    ~Site() override;  // the services go, the runs stop, the journal is written out
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // Every event of every run, and the site's own.
    RunEventHub& Events() override { return events_; }
    // The journal in the program folder, attached to the events.
    void OpenJournal(std::function<void(std::uint64_t lost)> onRowsLost = {});
    Journal* GetJournal() { return journal_.get(); }
    void AddService(std::unique_ptr<SiteService> service);
    // Told after each change of a run, a received block among them, for
    // views that show more than the events (the lamp); main thread. A
    // watcher stays as long as the site.
    void AddChangeWatcher(std::function<void(const ControllerRun&)> watcher);

    // --- which controllers run ------------------------------------------
    // Several controllers are listed: they run together.
    bool Several() const override { return several_; }
    // Reads [RUN] Controllers and makes the runs: several listed run
    // together; otherwise the one controller the settings name (sPowerFn,
    // else the folder's first, else the default name). Each run chooses
    // the day's plan.
    void Configure() override;
    // The one run controller (the list holds fewer than two): the run there
    // was stops and goes, and a new run of the file chooses its plan.
    ControllerRun& UseSingleRun(const std::string& file);
    RunView* UseSingle(const std::string& file) override { return &UseSingleRun(file); }
    // The controller the settings name for the one run.
    std::string StoredSingleController() const;
    const std::vector<std::unique_ptr<ControllerRun>>& Runs() const { return runs_; }
    // By file name: the exact name first, then without regard to case.
    ControllerRun* Find(const std::string& file) const;
    RunView* FindRun(const std::string& file) const override { return Find(file); }
    std::vector<RunView*> RunViews() const override;
    // The running controller that holds the port, or empty.
    std::string PortHolder(const std::string& port) const;

    // --- running -------------------------------------------------------
    // Starts every run that is not running. A run whose port another run
    // holds is refused with a message naming both; the first error of a
    // start is thrown once the others have started.
    void StartAll() override;
    void StopAll() override;
    bool AnyRunning() const override;
    // A stopped run that should be running (its start failed at a change
    // of date, for one) is started again at the reconnect interval.
    void SetRetryStopped(bool retry) { retryStopped_ = retry; }
    // The run whose panel 3 news the status bar shows (empty: every run's).
    void SetShownController(const std::string& file) override { shown_ = file; }

    // --- the scheduler -------------------------------------------------
    // The clock tick of every second: the date change, the plans reloaded.
    void ClockTick() override;
    // The check tick at the start of each second while a run runs.
    void CheckTick() override;
    // At the reconnect interval while a run waits for its next try.
    void RetryTick();
    // Any loop may call it between check ticks: lost lines noticed and
    // reopened when due.
    void WatchLines() override;
    Ticks Needed() const override;
    // Time until the next whole second of the clock, 1 to 1000 ms.
    int MillisecondsToNextSecond() const override;

    // --- the guard -----------------------------------------------------
    // A tick that throws is caught here for its run: the error is
    // published (kind run, result error) and handed to the host once per
    // spell, and the other runs go on. run is null for the site's own work.
    using ErrorHandler = std::function<void(const ControllerRun* run, std::exception_ptr error)>;
    void SetOnError(ErrorHandler handler) { onError_ = std::move(handler); }
    // An error of the host's own loop, told as the site's (once per spell).
    void ReportError(std::exception_ptr error) { Report(nullptr, std::move(error)); }

    // Program end: the runs end (published as such) and their ports close.
    void Shutdown() override;
    // Grows on every change of a run or of the set of runs.
    std::uint64_t Revision() const override { return revision_; }

  private:
    ControllerRun& AddRun(const std::string& file);
    void DateChangeIfDue(const LocalDateTime& now);
    // False when the work threw (and was reported).
    bool Guarded(ControllerRun* run, const std::function<void()>& work);
    void Report(ControllerRun* run, std::exception_ptr error);
    // The run holding the same device as this one's port, or null.
    const ControllerRun* SamePort(const ControllerRun& run) const;

    AppContext& ctx_;
    TMyComport& testPort_;
    RunEventHub events_;
    std::unique_ptr<Journal> journal_;
    // Before the runs: a run that changes while it goes still finds them.
    std::vector<std::function<void(const ControllerRun&)>> changeWatchers_;
    std::vector<std::unique_ptr<ControllerRun>> runs_;
    std::vector<std::unique_ptr<SiteService>> services_;
    bool several_ = false;
    bool retryStopped_ = false;
    std::string shown_;
    Date lastDate_;
    // Per controller: should be running (started and not stopped by hand).
    std::map<std::string, bool> wanted_;
    // Per controller ("" for the site): the error last told.
    std::map<std::string, std::string> told_;
    ErrorHandler onError_;
    std::uint64_t revision_ = 0;
    bool shutDown_ = false;
};

}  // namespace ristova::run
