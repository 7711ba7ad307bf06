#pragma once
// Choosing and loading the plan table that applies on a day, by the
// four-level rule (date, day of the year, weekday, default).
#include <string>

#include "base/Clock.h"
#include "base/StringGrid.h"

namespace ristova::run {

inline constexpr const char* kRunFnPrefix = "【运行计划表】";

// The name chosen in the folder for the day ("2012-03-18.tab", "03-18.tab",
// "星期日.tab" or "计划表.tab").
std::string ChoosePlanName(const std::string& planFolder, bool fourLevel, const Date& today);

// Chooses the day's table of the controller's plan folder and loads it into
// sgPlan (columns fitted); returns its full path.
std::string LoadDayPlan(const std::string& appPath, const std::string& runPowerFn, bool fourLevel,
                        const Date& today, StringGrid& sgPlan);


// Grid setups of the run page (fixed rows, initial widths).
void SetupRunPlanGrid(StringGrid& sgPlan);
void SetupRunPowerGrid(StringGrid& sgPower);

}  // namespace ristova::run
