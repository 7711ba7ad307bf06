#include "run/Site.h"

#include <algorithm>
#include <filesystem>

#include "base/Errors.h"
#include "base/Files.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"
#include "controller/SerialSettings.h"

namespace ristova::run {

std::string PortIdentity(const std::string& port) {
    const std::string path = TMyComport::DevicePath(port);
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(FsPath(path), ec);
    return ec ? path : Utf8Path(canonical);
}

namespace {


std::string ErrorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

std::string SamePortText(const std::string& first, const std::string& second,
                         const std::string& port) {
    return "控制器" + first + "和" + second + "使用同一端口" + port + "," + second + "未启动";
}

namespace {

std::vector<std::string> ListedNames(const std::string& settingsFile) {
    std::vector<std::string> names;
    std::vector<std::string> parts;
    SplitText(ReadIniText(settingsFile, settings::kRun, kControllersKey), ",", parts);
    for (const std::string& part : parts) {
        std::string name = Trim(part);
        const bool repeat = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return AsciiIEquals(n, name);
        });
        if (!name.empty() && !repeat) names.push_back(std::move(name));
    }
    return names;
}

}  // namespace

std::vector<std::string> ReadListedControllers(const std::string& settingsFile) {
    std::vector<std::string> names = ListedNames(settingsFile);
    std::erase_if(names,
                  [](const std::string& name) { return !controller::IsSafeControllerName(name); });
    return names;
}

std::string RefusedControllerNames(const std::string& settingsFile) {
    std::vector<std::string> refused;
    const std::string single = ReadIniText(settingsFile, settings::kRun, settings::kSPowerFn);
    if (!single.empty() && !controller::IsSafeControllerName(single)) refused.push_back(single);
    for (const std::string& name : ListedNames(settingsFile))
        if (!controller::IsSafeControllerName(name)) refused.push_back(name);
    return JoinText(refused, ", ");
}

void WriteListedControllers(const std::string& settingsFile,
                            const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
    WriteIniText(settingsFile, settings::kRun, kControllersKey, text);
}

Site::Site(AppContext& ctx, TMyComport& testPort) : ctx_(ctx), testPort_(testPort) {
    lastDate_ = ctx_.clock.Now().date;
}

Site::~Site() {
    services_.clear();
    runs_.clear();
    if (journal_) events_.Remove(journal_.get());
}

void Site::OpenJournal(std::function<void(std::uint64_t)> onRowsLost) {
    if (journal_) return;
    journal_ = std::make_unique<Journal>(ctx_.sAppPath, ctx_.settingsFile);
    journal_->SetOnRowsLost([this, onRowsLost = std::move(onRowsLost)](std::uint64_t lost) {
        ctx_.poster.Post([this, lost, onRowsLost] {
            ctx_.status.ShowStatus(3, JournalLossText(lost));
            if (onRowsLost) onRowsLost(lost);
        });
    });
    events_.Add(journal_.get());
}

void Site::AddService(std::unique_ptr<SiteService> service) {
    services_.push_back(std::move(service));
}

void Site::AddChangeWatcher(std::function<void(const ControllerRun&)> watcher) {
    changeWatchers_.push_back(std::move(watcher));
}

// --- which controllers run ------------------------------------------------

ControllerRun& Site::AddRun(const std::string& file) {
    auto run = std::make_unique<ControllerRun>(ctx_, ctx_.sAppPath + file, events_);
    ControllerRun* raw = run.get();
    raw->SetOnMessage([this, raw](const std::string& text) {
        if (shown_.empty() || shown_ == raw->File()) ctx_.status.ShowStatus(3, text);
    });
    raw->SetOnChanged([this, raw] {
        ++revision_;
        for (const auto& watcher : changeWatchers_) watcher(*raw);
    });
    runs_.push_back(std::move(run));
    ++revision_;
    return *raw;
}

std::string Site::StoredSingleController() const {
    const std::string name = ReadIniText(ctx_.settingsFile, settings::kRun, settings::kSPowerFn);
    std::vector<std::string> files;
    ListFolderFiles(files, ctx_.sAppPath, "*.PSW");
    // A name that reaches outside the folder is no choice at all.
    if (name.empty() || !controller::IsSafeControllerName(name))
        return files.empty() ? std::string(settings::kDefaultRunController) : files.front();
    // The folder's spelling: the exact name first, then without regard to case.
    if (std::find(files.begin(), files.end(), name) != files.end()) return name;
    for (const std::string& file : files)
        if (AsciiIEquals(file, name)) return file;
    return name;
}

void Site::Configure() {
    const std::vector<std::string> listed = ReadListedControllers(ctx_.settingsFile);
    several_ = listed.size() > 1;
    if (!several_) {
        UseSingleRun(listed.empty() ? StoredSingleController() : listed.front());
        return;
    }
    for (auto& run : runs_) run->Stop();
    runs_.clear();
    const Date today = ctx_.clock.Now().date;
    for (const std::string& file : listed) {
        ControllerRun& run = AddRun(file);
        run.SetBlockingPauses(false);
        run.SelectPlan(today);
    }
    lastDate_ = today;
}

ControllerRun& Site::UseSingleRun(const std::string& file) {
    several_ = false;
    for (auto& run : runs_) run->Stop();
    runs_.clear();
    ControllerRun& run = AddRun(file);
    run.SelectPlan(ctx_.clock.Now().date);
    return run;
}

ControllerRun* Site::Find(const std::string& file) const {
    for (const auto& run : runs_)
        if (run->File() == file) return run.get();
    for (const auto& run : runs_)
        if (AsciiIEquals(run->File(), file)) return run.get();
    return nullptr;
}

std::vector<RunView*> Site::RunViews() const {
    std::vector<RunView*> views;
    for (const auto& run : runs_) views.push_back(run.get());
    return views;
}

std::string Site::PortHolder(const std::string& port) const {
    const std::string device = PortIdentity(port);
    for (const auto& run : runs_)
        if (run->Running() && PortIdentity(run->PortName()) == device) return run->File();
    return {};
}

const ControllerRun* Site::SamePort(const ControllerRun& run) const {
    const std::string device =
        PortIdentity(controller::ReadSerialSettings(run.ControllerPath()).port);
    for (const auto& other : runs_)
        if (other.get() != &run && other->Running() &&
            PortIdentity(other->PortName()) == device)
            return other.get();
    return nullptr;
}

// --- running --------------------------------------------------------------------

void Site::StartAll() {
    // The setup page's test port closes at every start.
    testPort_.ClosePort();
    const LocalDateTime now = ctx_.clock.Now();
    std::exception_ptr first;
    for (const auto& run : runs_) {
        if (run->Running()) continue;
        wanted_[run->File()] = true;
        try {
            if (const ControllerRun* other = SamePort(*run)) {
                const std::string text = SamePortText(other->File(), run->File(), run->PortName());
                RunEvent event;
                event.at = EventTimeText(now);
                event.controller = run->File();
                event.kind = "run";
                event.source = "engine";
                event.result = "refused";
                event.detail = text;
                events_.OnRunEvent(event);
                throw OperatorError(text);
            }
            run->Start(now);
            told_.erase(run->File());
        } catch (const OperatorError&) {
            // Refused or failed: the others start all the same.
            if (!first) first = std::current_exception();
        }
    }
    ++revision_;
    if (first) std::rethrow_exception(first);
}

void Site::StopAll() {
    for (const auto& run : runs_) {
        wanted_[run->File()] = false;
        run->Stop();
    }
    ++revision_;
}

bool Site::AnyRunning() const {
    return std::any_of(runs_.begin(), runs_.end(), [](const auto& run) { return run->Running(); });
}

// --- the scheduler ---------------------------------------------------------------

int Site::MillisecondsToNextSecond() const {
    const int ms = ctx_.clock.Now().millisecond;
    return ms < 0 || ms >= 1000 ? 1000 : 1000 - ms;
}

Site::Ticks Site::Needed() const {
    Ticks ticks;
    ticks.check = AnyRunning();
    if (retryStopped_)
        for (const auto& run : runs_) {
            const auto wanted = wanted_.find(run->File());
            ticks.retry = ticks.retry ||
                          (!run->Running() && wanted != wanted_.end() && wanted->second);
        }
    return ticks;
}

void Site::DateChangeIfDue(const LocalDateTime& now) {
    const bool due = std::any_of(runs_.begin(), runs_.end(),
                                 [&](const auto& run) { return run->LastRunDate() != now.date; });
    if (!due && lastDate_ == now.date) return;
    lastDate_ = now.date;
    Guarded(nullptr, [&] { testPort_.ClosePort(); });
    if (!several_) {
        // The one run follows the controller the settings name by then.
        const std::string name = StoredSingleController();
        ControllerRun* current = runs_.empty() ? nullptr : runs_.front().get();
        if (!current || current->File() != name) {
            const bool wasRunning = current && current->Running();
            const Date last = current ? current->LastRunDate() : now.date.AddDays(-1);
            if (current) current->Stop();
            runs_.clear();
            ControllerRun& run = AddRun(name);
            run.SetLastRunDate(last);
            if (wasRunning) wanted_[name] = true;
            Guarded(&run, [&] { run.HandleDateChange(now, ctx_.boxes.chkRun || wasRunning); });
            ++revision_;
            return;
        }
    }
    for (const auto& run : runs_) {
        if (run->LastRunDate() == now.date) continue;
        ControllerRun* r = run.get();
        Guarded(r, [&] {
            r->HandleDateChange(now, ctx_.boxes.chkRun);
            if (r->Running()) wanted_[r->File()] = true;
        });
    }
    ++revision_;
}

void Site::ClockTick() {
    const LocalDateTime now = ctx_.clock.Now();
    ctx_.status.ShowStatus(0, DateText(true, now.date));
    ctx_.status.ShowStatus(1, TimeOfDayText(now));
    if (std::any_of(runs_.begin(), runs_.end(),
                    [&](const auto& run) { return run->LastRunDate() != now.date; })) {
        DateChangeIfDue(now);
        return;
    }
    for (const auto& run : runs_) {
        ControllerRun* r = run.get();
        Guarded(r, [&] { r->ReloadPlanIfChanged(now.date); });
    }
}

void Site::CheckTick() {
    const LocalDateTime now = ctx_.clock.Now();
    // The check tick may see a new date before the clock tick does; the new
    // day's plan must be in place before its first second is handled.
    DateChangeIfDue(now);
    // Every run's commands first: the last of many controllers waits for no
    // other's state query and decoding.
    std::vector<ControllerRun*> ticked;
    for (const auto& run : runs_) {
        ControllerRun* r = run.get();
        if (!r->Running()) continue;
        if (Guarded(r, [&] { r->RunSecond(now); })) ticked.push_back(r);
    }
    for (ControllerRun* r : ticked) {
        Guarded(r, [&] {
            r->PollAndCheck();
            told_.erase(r->File());
        });
    }
}

void Site::RetryTick() {
    if (!retryStopped_) return;
    const LocalDateTime now = ctx_.clock.Now();
    for (const auto& run : runs_) {
        ControllerRun* r = run.get();
        const auto wanted = wanted_.find(r->File());
        if (r->Running() || wanted == wanted_.end() || !wanted->second) continue;
        if (SamePort(*r)) continue;
        Guarded(r, [&] {
            r->Start(now);
            told_.erase(r->File());
        });
    }
}

void Site::WatchLines() {
    for (const auto& run : runs_) {
        ControllerRun* r = run.get();
        if (r->Running()) Guarded(r, [&] { r->WatchLine(); });
    }
}

// --- the guard ------------------------------------------------------------------------

bool Site::Guarded(ControllerRun* run, const std::function<void()>& work) {
    try {
        work();
        return true;
    } catch (...) {
        Report(run, std::current_exception());
        return false;
    }
}

void Site::Report(ControllerRun* run, std::exception_ptr error) {
    const std::string message = ErrorText(error);
    std::string& told = told_[run ? run->File() : std::string()];
    // Once per spell: a tick that fails every second says it once.
    if (told == message) return;
    told = message;
    RunEvent event;
    event.at = EventTimeText(ctx_.clock.Now());
    event.controller = run ? run->File() : std::string();
    event.kind = "run";
    event.source = "engine";
    event.result = "error";
    event.detail = message;
    events_.OnRunEvent(event);
    if (onError_) onError_(run, error);
}

void Site::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    for (const auto& run : runs_) {
        run->Shutdown();
        run->Port().ClosePort();
    }
}

}  // namespace ristova::run
