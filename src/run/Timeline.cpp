#include "run/Timeline.h"

#include <algorithm>
#include <cstdio>

#include "base/Files.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "plan/PlanFile.h"
#include "run/EventTexts.h"
#include "run/Journal.h"
#include "run/PlanSelection.h"

namespace ristova::run {

namespace {

// Adds [from, to) to sorted, non-overlapping spans, merging neighbours.
void AddSpan(std::vector<Span>& spans, int from, int to) {
    if (to <= from) return;
    if (!spans.empty() && spans.back().to >= from) {
        spans.back().to = std::max(spans.back().to, to);
        return;
    }
    spans.push_back({from, to});
}

std::vector<TPlanAction> LoadActions(const std::string& folder, const std::string& table) {
    if (table.empty() || !plan::PlanFileExists(folder, table)) return {};
    StringGrid grid;
    plan::LoadPlanGrid(plan::ResolvePlanPath(folder, table), grid);
    return plan::PlanActionsFromGrid(grid);
}

std::string CsvField(const std::string& cell) {
    // A spreadsheet runs a cell that starts like a formula (a controller
    // name or a detail from the line could): the quote keeps it text.
    const std::string text =
        !cell.empty() && std::string_view("=+-@").find(cell.front()) != std::string_view::npos
            ? "'" + cell
            : cell;
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

}  // namespace

int EventSecond(const std::string& at) {
    int h = 0, m = 0, s = 0;
    if (at.size() < 19 || std::sscanf(at.c_str() + 11, "%2d:%2d:%2d", &h, &m, &s) != 3) return -1;
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return -1;
    return h * 3600 + m * 60 + s;
}

std::vector<Span> PlanOnSpans(const std::vector<TPlanAction>& actions, int relay) {
    std::vector<const TPlanAction*> own;
    for (const TPlanAction& a : actions)
        if (a.Relay == relay && a.Second >= 0) own.push_back(&a);
    // As the engine carries them out: by second, rows of one second in order.
    std::stable_sort(own.begin(), own.end(),
                     [](const TPlanAction* a, const TPlanAction* b) { return a->Second < b->Second; });
    std::vector<Span> spans;
    int onSince = -1;
    for (const TPlanAction* a : own) {
        if (a->SwitchOn && onSince < 0) {
            onSince = a->Second;
        } else if (!a->SwitchOn && onSince >= 0) {
            AddSpan(spans, onSince, a->Second);
            onSince = -1;
        }
    }
    if (onSince >= 0) AddSpan(spans, onSince, kDaySeconds);
    return spans;
}

std::vector<PlanSegment> DayPlanSegments(const std::string& appPath,
                                         const std::string& controllerFile, bool fourLevel,
                                         const Date& day, const std::vector<RunEvent>& events) {
    const std::string folder = plan::PlanFolder(appPath, controllerFile);
    std::vector<PlanSegment> segments;
    for (const RunEvent& e : events) {
        if (e.kind != "run" || e.result != "plan chosen") continue;
        const int second = EventSecond(e.at);
        if (second < 0) continue;
        if (!segments.empty() && segments.back().table == e.detail) continue;
        segments.push_back({second, e.detail, {}});
    }
    if (segments.empty() || segments.front().from > 0) {
        segments.insert(segments.begin(),
                        {0, ChoosePlanName(folder, fourLevel, day), {}});
    }
    for (PlanSegment& s : segments) s.actions = LoadActions(folder, s.table);
    return segments;
}

DayTimeline BuildDayTimeline(const std::vector<RunEvent>& events,
                             const std::vector<PlanSegment>& plans, int relays, int endSecond) {
    DayTimeline day;
    relays = std::max(relays, 0);
    day.relays.resize(relays);
    endSecond = std::clamp(endSecond, 0, kDaySeconds);
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const int from = std::max(plans[i].from, 0);
        const int to = i + 1 < plans.size() ? plans[i + 1].from : kDaySeconds;
        for (int r = 1; r <= relays; ++r) {
            for (const Span& s : PlanOnSpans(plans[i].actions, r))
                AddSpan(day.relays[r - 1].plan, std::max(s.from, from), std::min(s.to, to));
        }
    }
    std::vector<int> boardOn(relays, -1);
    int lostSince = -1;
    auto closeBoard = [&](int second) {
        for (int r = 0; r < relays; ++r) {
            if (boardOn[r] >= 0) AddSpan(day.relays[r].board, boardOn[r], second);
            boardOn[r] = -1;
        }
    };
    for (std::size_t i = 0; i < events.size(); ++i) {
        const RunEvent& e = events[i];
        const int second = EventSecond(e.at);
        if (second < 0) continue;
        const bool ofRelay = e.relay >= 1 && e.relay <= relays;
        if (e.kind == "state" && ofRelay) {
            if (const auto folded = ParseAggregated(e.detail)) {
                const int from = EventSecond(e.at.substr(0, 11) + folded->from);
                if (from >= 0) AddSpan(day.relays[e.relay - 1].chatter, from, second + 1);
            }
            int& since = boardOn[e.relay - 1];
            if (e.result == "1" && since < 0) {
                since = second;
            } else if (e.result != "1" && since >= 0) {
                AddSpan(day.relays[e.relay - 1].board, since, second);
                since = -1;
            }
        } else if ((e.kind == "on" || e.kind == "off") && ofRelay) {
            day.relays[e.relay - 1].commands.push_back({second, i});
        } else if (e.kind == "mismatch" && ofRelay) {
            day.relays[e.relay - 1].mismatches.push_back({second, i});
        } else if (e.kind == "line") {
            // Without a line the board's states are not known.
            if (e.result == "lost") {
                if (lostSince < 0) lostSince = second;
                closeBoard(second);
            } else if (lostSince >= 0) {
                AddSpan(day.lineLost, lostSince, second);
                lostSince = -1;
            }
        } else if (e.kind == "run" && (e.result == "stopped" || e.result == "started")) {
            closeBoard(second);
            if (lostSince >= 0) AddSpan(day.lineLost, lostSince, second);
            lostSince = -1;
        }
    }
    closeBoard(endSecond);
    if (lostSince >= 0) AddSpan(day.lineLost, lostSince, endSecond);
    return day;
}

std::string EventsToCsv(const std::vector<RunEvent>& events) {
    std::string csv = "\xEF\xBB\xBF";
    csv += "时间,控制器,继电器,类型,来源,结果,说明\r\n";
    for (const RunEvent& event : events) {
        const RunEvent e = ShownEvent(event);
        csv += CsvField(e.at) + ',' + CsvField(e.controller) + ',' +
               (e.relay >= 1 ? std::to_string(e.relay) : std::string()) + ',' + CsvField(e.kind) +
               ',' + CsvField(e.source) + ',' + CsvField(e.result) + ',' + CsvField(e.detail) +
               "\r\n";
    }
    return csv;
}

}  // namespace ristova::run
