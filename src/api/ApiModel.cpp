#include "api/ApiModel.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/TextUtils.h"
#include "run/ControllerRun.h"
#include "run/EventTexts.h"
#include "run/RunPage.h"
#include "run/Site.h"

namespace ristova::api {

// Fields in the order the README lists them.
using json = nlohmann::ordered_json;

namespace {

const char* ComCode(run::ComStatus com) {
    switch (com) {
        case run::ComStatus::Stopped:
            return "stopped";
        case run::ComStatus::Opened:
            return "opened";
        case run::ComStatus::StartFailed:
            return "start-failed";
        case run::ComStatus::StartRetrying:
            return "start-retrying";
        case run::ComStatus::Lost:
            return "lost";
        case run::ComStatus::Reconnected:
            return "reconnected";
        case run::ComStatus::NoAnswer:
            return "no-answer";
    }
    return "stopped";
}

std::string StateOf(const run::ControllerRun& run, int relay) {
    // Not reported, or no longer confirmed: not guessed.
    if (!run.StatesReported() || run.StatesUnknown()) return "unknown";
    const std::string& states = run.States();
    const char state = relay <= static_cast<int>(states.size()) ? states[relay - 1] : '?';
    return state == '1' ? "on" : state == '0' ? "off" : "unknown";
}

// Invalid UTF-8 (a name from a file of another code page) must not stop
// the answer: such bytes are replaced.
std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

json EventObject(const run::RunEvent& e) {
    return {{"at", e.at},        {"controller", e.controller}, {"relay", e.relay},
            {"kind", e.kind},    {"source", e.source},         {"result", e.result},
            {"detail", e.detail}};
}

json ControllerObject(const ControllerStatus& c) {
    json relays = json::array();
    for (const RelayStatus& r : c.relays)
        relays.push_back({{"relay", r.relay},
                          {"state", r.state},
                          {"mismatch", r.mismatch},
                          {"no_use", r.noUse},
                          {"nc_use", r.ncUse},
                          {"on_command", r.onCommand},
                          {"off_command", r.offCommand},
                          {"start_on", r.startOn}});
    json next = json::array();
    for (const NextAction& a : c.nextActions)
        next.push_back({{"time", a.time},
                        {"relay", a.relay},
                        {"action", a.on ? "on" : "off"},
                        {"no_use", a.noUse}});
    json j = {{"name", c.name},
              {"path", c.path},
              {"running", c.running},
              {"line", c.line},
              {"com", c.com},
              {"com_failure", c.comFailure},
              {"com_text", c.comText},
              {"plan", c.plan},
              {"plan_path", c.planPath},
              {"plan_date", c.planDate},
              {"unreadable_rows", c.unreadableRows},
              {"ever_started", c.everStarted},
              {"state_query", c.stateQuery},
              {"decoder", c.decoder},
              {"decoder_description", c.decoderDescription},
              {"states_reported", c.statesReported},
              {"blocks_received", c.blocksReceived},
              {"relays", std::move(relays)},
              {"next_actions", std::move(next)}};
    if (c.withPlanRows) j["plan_rows"] = c.planRows;
    return j;
}

void Read(const json& j, run::RunEvent& e) {
    e.at = j.value("at", "");
    e.controller = j.value("controller", "");
    e.relay = j.value("relay", 0);
    e.kind = j.value("kind", "");
    e.source = j.value("source", "");
    e.result = j.value("result", "");
    e.detail = j.value("detail", "");
}

void Read(const json& j, ControllerStatus& c) {
    c.name = j.value("name", "");
    c.path = j.value("path", "");
    c.running = j.value("running", false);
    c.line = j.value("line", "");
    c.com = j.value("com", "");
    c.comFailure = j.value("com_failure", "");
    c.comText = j.value("com_text", "");
    c.plan = j.value("plan", "");
    c.planPath = j.value("plan_path", "");
    c.planDate = j.value("plan_date", "");
    c.unreadableRows = j.value("unreadable_rows", 0);
    c.everStarted = j.value("ever_started", false);
    c.stateQuery = j.value("state_query", "");
    c.decoder = j.value("decoder", "");
    c.decoderDescription = j.value("decoder_description", "");
    c.statesReported = j.value("states_reported", false);
    c.blocksReceived = j.value("blocks_received", std::uint64_t{0});
    c.relays.clear();
    for (const json& r : j.value("relays", json::array())) {
        RelayStatus relay;
        relay.relay = r.value("relay", 0);
        relay.state = r.value("state", "unknown");
        relay.mismatch = r.value("mismatch", false);
        relay.noUse = r.value("no_use", "");
        relay.ncUse = r.value("nc_use", "");
        relay.onCommand = r.value("on_command", "");
        relay.offCommand = r.value("off_command", "");
        relay.startOn = r.value("start_on", false);
        c.relays.push_back(std::move(relay));
    }
    c.nextActions.clear();
    for (const json& a : j.value("next_actions", json::array()))
        c.nextActions.push_back({a.value("time", ""), a.value("relay", 0),
                                 a.value("action", "") == "on", a.value("no_use", "")});
    c.withPlanRows = j.contains("plan_rows");
    c.planRows = c.withPlanRows ? j.at("plan_rows").get<std::vector<std::array<std::string, 6>>>()
                                : std::vector<std::array<std::string, 6>>{};
}

// Parses and reads; a document of another shape is an error, not a crash.
template <typename Reader>
bool Parse(const std::string& text, std::string& error, bool wantArray, Reader read) {
    try {
        const json j = json::parse(text);
        if (wantArray ? !j.is_array() : !j.is_object()) {
            error = wantArray ? "not a JSON array" : "not a JSON object";
            return false;
        }
        read(j);
        return true;
    } catch (const json::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace

std::vector<NextAction> NextActions(const run::ControllerRun& run, int after, std::size_t count) {
    std::vector<const plan::TPlanAction*> due;
    for (const plan::TPlanAction& a : run.PlanActions())
        if (a.Relay >= 1 && a.Second > after) due.push_back(&a);
    // As the engine carries them out: by second, rows of one second in order.
    std::stable_sort(due.begin(), due.end(),
                     [](const auto* a, const auto* b) { return a->Second < b->Second; });
    std::vector<NextAction> next;
    for (std::size_t i = 0; i < due.size() && i < count; ++i) {
        const controller::RelayDefinition* relay = run.Definition().Relay(due[i]->Relay);
        next.push_back({SecondsToTimeText(due[i]->Second), due[i]->Relay, due[i]->SwitchOn,
                        relay ? relay->noUse : std::string()});
    }
    return next;
}

ControllerStatus StatusOf(const run::ControllerRun& run, bool withPlanRows,
                          const LocalDateTime& now) {
    ControllerStatus c;
    c.name = run.File();
    c.path = run.ControllerPath();
    c.running = run.Running();
    c.line = run::LineCode(run);
    c.com = ComCode(run.Com());
    c.comFailure = run.ComFailure();
    c.comText = run::ComText(run);
    c.plan = ExtractFileName(run.PlanPath());
    c.planPath = run.PlanPath();
    c.planDate = DateText(true, run.PlanDate());
    c.unreadableRows = run.UnreadablePlanRows();
    c.everStarted = run.EverStarted();
    if (c.everStarted) {
        c.stateQuery = run.StartedStateQuery();
        c.decoder = run.DecoderPath();
        c.decoderDescription = run.DecoderDescription();
    }
    c.statesReported = run.StatesReported();
    c.blocksReceived = run.BlocksReceived();
    for (const controller::RelayDefinition& r : run.Definition().relays) {
        RelayStatus relay;
        relay.relay = r.number;
        relay.state = StateOf(run, r.number);
        relay.mismatch = run.RelayMismatch(r.number);
        relay.noUse = r.noUse;
        relay.ncUse = r.ncUse;
        relay.onCommand = r.on.text;
        relay.offCommand = r.off.text;
        relay.startOn = r.startOn;
        c.relays.push_back(std::move(relay));
    }
    // The plan is of its own date: tomorrow's table has all its actions to come.
    c.nextActions = NextActions(run, run.PlanDate() > now.date ? -1 : TimeToSeconds(now), 3);
    c.withPlanRows = withPlanRows;
    if (withPlanRows) c.planRows = run.PlanRows();
    return c;
}

SiteStatus StatusOf(const run::Site& site, const std::string& folder, const LocalDateTime& now) {
    SiteStatus s;
    s.folder = folder;
    s.now = DateText(true, now.date) + " " + TimeOfDayText(now);
    s.running = site.AnyRunning();
    s.several = site.Several();
    for (const auto& run : site.Runs()) s.controllers.push_back(StatusOf(*run, false, now));
    return s;
}

std::string ToJson(const SiteStatus& status) {
    json controllers = json::array();
    for (const ControllerStatus& c : status.controllers) controllers.push_back(ControllerObject(c));
    return Dump({{"folder", status.folder},
                 {"now", status.now},
                 {"running", status.running},
                 {"several", status.several},
                 {"controllers", std::move(controllers)}});
}

std::string ToJson(const ControllerStatus& status) {
    return Dump(ControllerObject(status));
}

std::string ToJson(const run::RunEvent& event) {
    return Dump(EventObject(event));
}

std::string ToJson(const std::vector<run::RunEvent>& events) {
    json list = json::array();
    for (const run::RunEvent& e : events) list.push_back(EventObject(e));
    return Dump(list);
}

namespace {

json SpansJson(const std::vector<run::Span>& spans) {
    json list = json::array();
    for (const run::Span& s : spans) list.push_back({s.from, s.to});
    return list;
}

json TicksJson(const std::vector<run::Tick>& ticks) {
    json list = json::array();
    for (const run::Tick& t : ticks) list.push_back({t.second, t.event});
    return list;
}

}  // namespace

std::string TimelineJson(const std::string& controller, const Date& day, int endSecond,
                         const run::DayTimeline& timeline,
                         const std::vector<run::PlanSegment>& plans,
                         const std::vector<std::string>& relayNames,
                         const std::vector<run::RunEvent>& events) {
    json relays = json::array();
    for (std::size_t i = 0; i < timeline.relays.size(); ++i) {
        const run::RelayTimeline& r = timeline.relays[i];
        relays.push_back({{"relay", i + 1},
                          {"name", i < relayNames.size() ? relayNames[i] : std::string()},
                          {"plan", SpansJson(r.plan)},
                          {"board", SpansJson(r.board)},
                          {"chatter", SpansJson(r.chatter)},
                          {"commands", TicksJson(r.commands)},
                          {"mismatches", TicksJson(r.mismatches)}});
    }
    json tables = json::array();
    for (const run::PlanSegment& p : plans)
        tables.push_back({{"from", p.from}, {"table", p.table}});
    json list = json::array();
    for (const run::RunEvent& e : events) {
        json object = EventObject(e);
        const run::RunEvent shown = run::ShownEvent(e);
        object["shown"] = {{"kind", shown.kind},
                           {"source", shown.source},
                           {"result", shown.result},
                           {"detail", shown.detail}};
        list.push_back(std::move(object));
    }
    return Dump({{"controller", controller},
                 {"date", DateText(true, day)},
                 {"end", endSecond},
                 {"plans", std::move(tables)},
                 {"line_lost", SpansJson(timeline.lineLost)},
                 {"relays", std::move(relays)},
                 {"events", std::move(list)}});
}

std::string ErrorJson(const std::string& text) {
    return Dump({{"error", text}});
}

bool FromJson(const std::string& text, SiteStatus& status, std::string& error) {
    return Parse(text, error, false, [&](const json& j) {
        status.folder = j.value("folder", "");
        status.now = j.value("now", "");
        status.running = j.value("running", false);
        status.several = j.value("several", false);
        status.controllers.clear();
        for (const json& c : j.value("controllers", json::array())) {
            ControllerStatus controller;
            Read(c, controller);
            status.controllers.push_back(std::move(controller));
        }
    });
}

bool FromJson(const std::string& text, ControllerStatus& status, std::string& error) {
    return Parse(text, error, false, [&](const json& j) { Read(j, status); });
}

bool FromJson(const std::string& text, run::RunEvent& event, std::string& error) {
    return Parse(text, error, false, [&](const json& j) { Read(j, event); });
}

bool FromJson(const std::string& text, std::vector<run::RunEvent>& events, std::string& error) {
    return Parse(text, error, true, [&](const json& j) {
        events.clear();
        for (const json& e : j) {
            run::RunEvent event;
            Read(e, event);
            events.push_back(std::move(event));
        }
    });
}

std::string ErrorText(const std::string& body) {
    try {
        const json j = json::parse(body);
        if (j.is_object() && j.contains("error") && j.at("error").is_string())
            return j.at("error").get<std::string>();
    } catch (const json::exception&) {
    }
    return body;
}

}  // namespace ristova::api
