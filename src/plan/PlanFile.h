#pragma once
// Plan tables: "*.tab" files of row texts in the controller's plan folder.
#include <string>
#include <string_view>
#include <vector>

#include "base/StringGrid.h"

namespace ristova::plan {

inline constexpr std::string_view kDefaultTable = "计划表.tab";
inline constexpr std::string_view kSwitchOn = "接通";
inline constexpr std::string_view kSwitchOff = "断开";

const std::vector<std::string>& PlanTableTitles();

// appPath + the controller file's name without its last extension + "/".
std::string PlanFolder(const std::string& appPath, const std::string& controllerPath);

// The name of the file in the folder that equals `name` without regard to
// the case of ASCII letters (the exact name first); empty when none.
std::string FindPlanFileName(const std::string& folder, std::string_view name);
// folder + the stored name when one matches, else folder + name.
std::string ResolvePlanPath(const std::string& folder, std::string_view name);
bool PlanFileExists(const std::string& folder, std::string_view name);

// LoadGridFromTextFile (path resolved case-insensitively), 6 columns, the
// titles, and the row numbers in column 0 padded to three characters.
void LoadPlanGrid(const std::string& fileName, StringGrid& grid);
void SavePlanGrid(const StringGrid& grid, const std::string& fileName);

}  // namespace ristova::plan
