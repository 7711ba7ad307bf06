#pragma once
// A day of the journal as periods: what the plan wanted on, what the board
// reported on, the commands and the spells without a line. The history page
// draws these; they are data so that they can be checked without drawing.
#include <string>
#include <vector>

#include "base/Clock.h"
#include "plan/PlanRow.h"
#include "run/RunEvents.h"

namespace ristova::run {

using plan::TPlanAction;

inline constexpr int kDaySeconds = 24 * 3600;

struct Span {
    int from = 0;  // seconds of the day, [from, to)
    int to = 0;
    bool operator==(const Span&) const = default;
};

struct Tick {
    int second = 0;
    std::size_t event = 0;  // index into the day's events
};

struct RelayTimeline {
    std::vector<Span> plan;
    std::vector<Span> board;
    std::vector<Tick> commands;
    std::vector<Tick> mismatches;  // the board did not follow a command
    // The board changed the relay too often to journal each change: the
    // periods of its aggregated rows.
    std::vector<Span> chatter;
};

// The table in force from a second of the day on.
struct PlanSegment {
    int from = 0;
    std::string table;  // the table's file name
    std::vector<TPlanAction> actions;
};

struct DayTimeline {
    std::vector<RelayTimeline> relays;  // relay r at index r - 1
    std::vector<Span> lineLost;
};

// Seconds of the day of a "YYYY-MM-DD HH:MM:SS.mmm" time; -1 for another form.
int EventSecond(const std::string& at);

// The on periods of one relay under a plan in force for the whole day.
std::vector<Span> PlanOnSpans(const std::vector<TPlanAction>& actions, int relay);

// The tables of the day: each "plan chosen" event starts one; before the
// first (or without any) the table that the four-level rule picks for the
// date from the files as they are now.
std::vector<PlanSegment> DayPlanSegments(const std::string& appPath,
                                         const std::string& controllerFile, bool fourLevel,
                                         const Date& day, const std::vector<RunEvent>& events);

// endSecond: where open periods end (the end of the day, or now for today).
DayTimeline BuildDayTimeline(const std::vector<RunEvent>& events,
                             const std::vector<PlanSegment>& plans, int relays, int endSecond);

// The events as CSV for spreadsheets: UTF-8 with a byte order mark, a
// heading row, one row per event in the order given, as the operator reads
// them (EventTexts.h).
std::string EventsToCsv(const std::vector<RunEvent>& events);

}  // namespace ristova::run
