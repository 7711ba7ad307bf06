#pragma once
// Removing dated plan tables that are more than 30 days old.
#include <string>

#include "base/Clock.h"

namespace ristova::run {

inline constexpr int kPlanKeepDays = 30;

// Deletes, in the run controller's plan folder (appPath + the controller
// file's name without its last extension), every "*.tab" whose name is a date
// written year-month-day that lies strictly more than 30 days before today;
// read-only files too. Other names (month-day, weekday, default plan) stay.
void DeleteOldPlans(const std::string& appPath, const std::string& runPowerFn, const Date& today);

}  // namespace ristova::run
