#pragma once
// Reading one plan row (relay, time, action) into what the engine acts on.
// The run engine, the editor's save check and the history timeline all read
// rows through here, so a row means the same thing everywhere.
#include <optional>
#include <string_view>
#include <vector>

#include "base/StringGrid.h"

namespace ristova::plan {

inline constexpr int kLastSecondOfDay = 24 * 3600 - 1;

struct TPlanAction {
    int Relay = 0;   // 0 for a row that cannot be read: never acted on
    int Second = 0;  // seconds since midnight; -1 for a row that cannot be read
    bool SwitchOn = false;
    bool operator==(const TPlanAction&) const = default;
};

// A relay cell: decimal digits only, blanks around allowed ("$A" and "0x3"
// are no relay numbers). Nullopt when it is none.
std::optional<int> ParseRelayCell(std::string_view text);
// A time cell "H:M:S" or "H:M", one or two digits a field, within the day.
// Nullopt for "8.30", "ab:10:10", "25:00:00" and the like.
std::optional<int> ParseTimeCell(std::string_view text);

enum class RowReading { Empty, Unreadable, Action };

struct ParsedRow {
    RowReading reading = RowReading::Empty;
    TPlanAction action;  // for Action only
};

// An empty row (relay, time and action all blank) is no row. A row is an
// action when its relay and time read and its action is "接通" or "断开".
ParsedRow ParsePlanRow(std::string_view relay, std::string_view time, std::string_view action);
ParsedRow ParsePlanRow(const StringGrid& grid, int r);

bool PlanRowUnreadable(const StringGrid& grid, int r);
int CountUnreadablePlanRows(const StringGrid& grid);

// Grid rows as actions, in row order (empty when row 1 has no relay).
// Unreadable rows are kept in place as {0, -1}: they are never acted on.
std::vector<TPlanAction> PlanActionsFromGrid(const StringGrid& grid);

}  // namespace ristova::plan
