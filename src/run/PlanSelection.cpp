#include "run/PlanSelection.h"

#include <vector>

#include "base/GridOps.h"
#include "base/TextUtils.h"
#include "controller/ControllerFile.h"
#include "plan/PlanFile.h"

namespace ristova::run {

namespace {

constexpr const char* kWeekdayNames[] = {"星期日", "星期一", "星期二", "星期三",
                                         "星期四", "星期五", "星期六"};

// The inside of the grids' outer heights in the design (a 1-pixel frame);
// the window sets the heights its grids really have.
constexpr int kRunPlanGridClientHeight = 259 - 2;
constexpr int kRunPowerGridClientHeight = 97 - 2;

void SetColumnWidths(StringGrid& grid, const std::vector<int>& widths) {
    grid.SetColCount(static_cast<int>(widths.size()));
    for (int c = 0; c < static_cast<int>(widths.size()); ++c) grid.SetColWidth(c, widths[c]);
}

}  // namespace

std::string ChoosePlanName(const std::string& planFolder, bool fourLevel, const Date& today) {
    if (fourLevel) {
        const std::string dated = DateText(true, today);
        const int weekday = today.DayOfWeek();
        std::vector<std::string> names = {dated + ".tab"};
        // Month and day: characters 6 to 10 of the dashed date.
        if (dated.size() >= 10) names.push_back(dated.substr(5, 5) + ".tab");
        if (weekday >= 1 && weekday <= 7)
            names.push_back(std::string(kWeekdayNames[weekday - 1]) + ".tab");
        for (const std::string& name : names) {
            std::string stored = plan::FindPlanFileName(planFolder, name);
            if (!stored.empty()) return stored;
        }
    }
    // The default is taken whether or not it is there; a stored name that
    // differs in case is still preferred so that the path names the file.
    std::string stored = plan::FindPlanFileName(planFolder, plan::kDefaultTable);
    return stored.empty() ? std::string(plan::kDefaultTable) : stored;
}

std::string LoadDayPlan(const std::string& appPath, const std::string& runPowerFn, bool fourLevel,
                        const Date& today, StringGrid& sgPlan) {
    const std::string folder = plan::PlanFolder(appPath, runPowerFn);
    std::string path = folder + ChoosePlanName(folder, fourLevel, today);
    plan::LoadPlanGrid(path, sgPlan);
    FitPlanGridColumns(sgPlan);
    return path;
}

void SetupRunPlanGrid(StringGrid& sgPlan) {
    SetColumnWidths(sgPlan, {28, 38, 51, 52, 70, 78});
    if (sgPlan.RowCount() < 2) sgPlan.SetRowCount(2);
    sgPlan.SetFixedCols(1);
    sgPlan.SetFixedRows(1);
    sgPlan.SetShowsVScrollBar(true);
    sgPlan.SetClientHeight(kRunPlanGridClientHeight);
}

void SetupRunPowerGrid(StringGrid& sgPower) {
    SetColumnWidths(sgPower, {64, 153, 161, 64, 64, 64});
    if (sgPower.RowCount() < 2) sgPower.SetRowCount(2);
    sgPower.SetFixedCols(0);
    sgPower.SetFixedRows(1);
    sgPower.SetShowsVScrollBar(true);
    sgPower.SetClientHeight(kRunPowerGridClientHeight);
}

}  // namespace ristova::run
