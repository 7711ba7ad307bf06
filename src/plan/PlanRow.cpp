#include "plan/PlanRow.h"

#include <algorithm>

#include "base/TextUtils.h"
#include "plan/PlanFile.h"

namespace ristova::plan {

namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<int> ParseRelayCell(std::string_view text) {
    const std::string relay = Trim(text);
    // Nine digits at most keep the value in int range; no box has more relays.
    if (!AllDigits(relay) || relay.size() > 9) return std::nullopt;
    return std::stoi(relay);
}

std::optional<int> ParseTimeCell(std::string_view text) {
    const std::string time = Trim(text);
    static constexpr int kLimits[] = {23, 59, 59};
    static constexpr int kWeights[] = {3600, 60, 1};
    int total = 0;
    int field = 0;
    std::size_t from = 0;
    while (true) {
        const std::size_t colon = time.find(':', from);
        const std::string_view part =
            std::string_view(time).substr(from, colon == std::string::npos ? colon : colon - from);
        if (field > 2 || !AllDigits(part) || part.size() > 2) return std::nullopt;
        const int value = std::stoi(std::string(part));
        if (value > kLimits[field]) return std::nullopt;
        total += value * kWeights[field];
        ++field;
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    if (field < 2) return std::nullopt;
    return total;
}

ParsedRow ParsePlanRow(std::string_view relay, std::string_view time, std::string_view action) {
    ParsedRow row;
    if (Trim(relay).empty() && Trim(time).empty() && action.empty()) return row;
    const std::optional<int> r = ParseRelayCell(relay);
    const std::optional<int> second = ParseTimeCell(time);
    if (!r || !second || (action != kSwitchOn && action != kSwitchOff)) {
        row.reading = RowReading::Unreadable;
        row.action = {0, -1, false};
        return row;
    }
    row.reading = RowReading::Action;
    row.action = {*r, *second, action == kSwitchOn};
    return row;
}

ParsedRow ParsePlanRow(const StringGrid& grid, int r) {
    return ParsePlanRow(grid.Cell(1, r), grid.Cell(2, r), grid.Cell(3, r));
}

bool PlanRowUnreadable(const StringGrid& grid, int r) {
    return ParsePlanRow(grid, r).reading == RowReading::Unreadable;
}

int CountUnreadablePlanRows(const StringGrid& grid) {
    int count = 0;
    for (int r = 1; r < grid.RowCount(); ++r) count += PlanRowUnreadable(grid, r) ? 1 : 0;
    return count;
}

std::vector<TPlanAction> PlanActionsFromGrid(const StringGrid& grid) {
    std::vector<TPlanAction> actions;
    if (grid.Cell(1, 1).empty()) return actions;
    for (int r = 1; r < grid.RowCount(); ++r) {
        const ParsedRow row = ParsePlanRow(grid, r);
        // An empty row in the middle is kept in place like an unreadable one.
        actions.push_back(row.reading == RowReading::Action ? row.action : TPlanAction{0, -1, false});
    }
    return actions;
}

}  // namespace ristova::plan
