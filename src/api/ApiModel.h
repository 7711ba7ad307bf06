#pragma once
// What the local API tells, as values, and their JSON: the site's state and
// the events of the run. The server fills them from the site on the main
// thread; a client (ristova-ctl, an attached window) reads them back. The
// fields are documented in the README's API section; a JSON name is the
// field's name in snake case.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "run/RunEvents.h"
#include "run/Timeline.h"

namespace ristova::run {
class ControllerRun;
class Site;
}  // namespace ristova::run

namespace ristova::api {

struct RelayStatus {
    int relay = 0;
    std::string state;  // "on", "off" or "unknown"
    bool mismatch = false;
    std::string noUse;
    std::string ncUse;
    std::string onCommand;  // the commands' hex texts as stored
    std::string offCommand;
    bool startOn = false;
};

// A plan action still to come today.
struct NextAction {
    std::string time;  // "HH:MM:SS"
    int relay = 0;
    bool on = false;
    std::string noUse;  // the relay's normally-open use
};

struct ControllerStatus {
    std::string name;  // the controller file's name
    std::string path;
    bool running = false;
    std::string line;  // "ok", "lost", "no-answer", "stopped"
    // "stopped", "opened", "start-failed", "start-retrying", "lost",
    // "reconnected", "no-answer"; comFailure says why the port did not open.
    std::string com;
    std::string comFailure;
    std::string comText;  // the run page's lbCom
    std::string plan;     // the plan table's file name
    std::string planPath;
    std::string planDate;  // "YYYY-MM-DD"
    int unreadableRows = 0;
    bool everStarted = false;
    // Of the last start: the state query, the decoder's path and description.
    std::string stateQuery;
    std::string decoder;
    std::string decoderDescription;
    bool statesReported = false;
    std::uint64_t blocksReceived = 0;  // the lamp blinks on each
    std::vector<RelayStatus> relays;
    // The plan's next actions after the current second, at most three.
    std::vector<NextAction> nextActions;
    // Only in one controller's answer: the plan's rows, six cells each.
    bool withPlanRows = false;
    std::vector<std::array<std::string, 6>> planRows;
};

struct SiteStatus {
    std::string folder;
    std::string now;  // the engine's local time, "YYYY-MM-DD HH:MM:SS"

    bool running = false;  // any controller runs
    bool several = false;  // [RUN] Controllers lists several
    std::vector<ControllerStatus> controllers;
};

// On the main thread. now: the engine's clock, for the next actions.
ControllerStatus StatusOf(const run::ControllerRun& run, bool withPlanRows,
                          const LocalDateTime& now);
SiteStatus StatusOf(const run::Site& site, const std::string& folder, const LocalDateTime& now);
// The first `count` actions after the second `after` of the day, in the
// order the engine carries them out.
std::vector<NextAction> NextActions(const run::ControllerRun& run, int after, std::size_t count);

std::string ToJson(const SiteStatus& status);
std::string ToJson(const ControllerStatus& status);
// The fields of the broker's events: at, controller, relay, kind, source,
// result, detail.
std::string ToJson(const run::RunEvent& event);
std::string ToJson(const std::vector<run::RunEvent>& events);
// A day's timeline as the history page draws it: per relay the plan's and
// the board's on periods, the commands and mismatches (indexes into
// events), the spells without a line; each event with its codes and the
// texts the operator reads.
std::string TimelineJson(const std::string& controller, const Date& day, int endSecond,
                         const run::DayTimeline& timeline,
                         const std::vector<run::PlanSegment>& plans,
                         const std::vector<std::string>& relayNames,
                         const std::vector<run::RunEvent>& events);
// {"error": text}
std::string ErrorJson(const std::string& text);

// False, with error, for a text that is not such a document.
bool FromJson(const std::string& text, SiteStatus& status, std::string& error);
bool FromJson(const std::string& text, ControllerStatus& status, std::string& error);
bool FromJson(const std::string& text, run::RunEvent& event, std::string& error);
bool FromJson(const std::string& text, std::vector<run::RunEvent>& events, std::string& error);
// The text of an error document; the text itself when it is none.
std::string ErrorText(const std::string& body);

}  // namespace ristova::api
