#include "run/Housekeeping.h"

#include <string_view>
#include <vector>

#include "base/Files.h"
#include "base/TextUtils.h"
#include "plan/PlanFile.h"

namespace ristova::run {

namespace {

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// "yyyy-mm-dd" of a valid calendar date; other forms are not dated plans.
bool ParsePlanDate(std::string_view text, Date& date) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    std::string_view y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
    if (!AllDigits(y) || !AllDigits(m) || !AllDigits(d)) return false;
    date = Date{std::stoi(std::string(y)), std::stoi(std::string(m)), std::stoi(std::string(d))};
    return date.IsValid();
}

}  // namespace

void DeleteOldPlans(const std::string& appPath, const std::string& runPowerFn, const Date& today) {
    const std::string folder = plan::PlanFolder(appPath, runPowerFn);
    const std::string limit = DateText(true, today.AddDays(-kPlanKeepDays));
    std::vector<std::string> names;
    ListFolderFiles(names, folder, "*.tab");
    for (const std::string& name : names) {
        Date date;
        if (!ParsePlanDate(RemoveLastExtension(name), date)) continue;
        // The listed name itself: its extension may differ in case, and the
        // date part is already in the four-two-two form.
        if (DateText(true, date) < limit) ForceDeleteFile(folder + name);
    }
}

}  // namespace ristova::run
