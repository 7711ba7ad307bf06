#include "plan/PlanFile.h"

#include <filesystem>
#include <system_error>

#include "base/Files.h"
#include "base/GridOps.h"
#include "base/TextUtils.h"

namespace ristova::plan {

namespace fs = std::filesystem;

const std::vector<std::string>& PlanTableTitles() {
    static const std::vector<std::string> titles = {"序号",     "继电器",       "动作时间",
                                                    "动作类型", "常开开关用途", "常闭开关用途"};
    return titles;
}

std::string PlanFolder(const std::string& appPath, const std::string& controllerPath) {
    std::string folder = appPath.empty() ? std::string() : IncludeTrailingSeparator(appPath);
    return folder + RemoveLastExtension(ExtractFileName(controllerPath)) + "/";
}

std::string FindPlanFileName(const std::string& folder, std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) return {};
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : FsPath(folder), ec);
    if (ec) return {};
    // Several names may differ only in case; the exact one wins, else the
    // ordinally first, so that the choice does not depend on listing order.
    std::string best;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::error_code typeEc;
        if (it->is_directory(typeEc)) continue;
        std::string stored = Utf8Path(it->path().filename());
        if (stored == name) return stored;
        if (AsciiIEquals(stored, name) && (best.empty() || stored < best)) best = stored;
    }
    return best;
}

std::string ResolvePlanPath(const std::string& folder, std::string_view name) {
    std::string stored = FindPlanFileName(folder, name);
    return folder + (stored.empty() ? std::string(name) : stored);
}

bool PlanFileExists(const std::string& folder, std::string_view name) {
    return !FindPlanFileName(folder, name).empty();
}

namespace {

std::string ResolveFullPath(const std::string& fileName) {
    return ResolvePlanPath(ExtractFilePath(fileName), ExtractFileName(fileName));
}

}  // namespace

void LoadPlanGrid(const std::string& fileName, StringGrid& grid) {
    LoadGridFromTextFile(grid, ResolveFullPath(fileName));
    grid.SetColCount(6);
    SetGridTitles(grid, PlanTableTitles());
    NumberGridRows(grid, 0, 1, ' ', 3);
}

void SavePlanGrid(const StringGrid& grid, const std::string& fileName) {
    // A table that is stored under another case of its name is replaced, as
    // on the file systems the tables come from, instead of getting a twin.
    SaveGridToTextFile(grid, fileName.empty() ? fileName : ResolveFullPath(fileName));
}

}  // namespace ristova::plan
