#include "controller/ControllerFile.h"

#include "base/Files.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"

namespace ristova::controller {

namespace {

constexpr int kCommandColumns = 6;
constexpr int kRelayNumberWidth = 4;

}  // namespace

const std::vector<std::string>& CommandTableTitles() {
    static const std::vector<std::string> titles{"继电器开关",   "接通指令",     "断开指令",
                                                 "常开开关用途", "常闭开关用途", "启动时接通"};
    return titles;
}

void CreateControllerFile(const std::string& path) {
    WriteIniText(path, kLoad, kFlag, kMarker);
}

std::string ReadKey(const std::string& path, std::string_view section, std::string_view key) {
    return ReadIniText(path, section, key);
}

void WriteKey(const std::string& path, std::string_view section, std::string_view key,
              std::string_view value) {
    WriteIniText(path, section, key, value);
}

void ReadCommandTable(const std::string& path, StringGrid& grid) {
    ClearGrid(grid);
    LoadGridFromIni(path, kCommand, grid);
    grid.SetColCount(kCommandColumns);
    SetGridTitles(grid, CommandTableTitles());
    // The stored relay numbers are not trusted; rows are numbered by position.
    NumberGridRows(grid, 0, 1, ' ', kRelayNumberWidth);
}

void WriteCommandTableAndDescription(const std::string& path, const StringGrid& grid,
                                     const std::vector<std::string>& descriptionLines) {
    SaveGridToIni(path, kCommand, grid);
    WriteIniText(path, kDescript, kSpecif, JoinText(descriptionLines, kDescriptionSeparator));
}

std::vector<std::string> ReadDescription(const std::string& path) {
    std::vector<std::string> lines;
    SplitText(ReadIniText(path, kDescript, kSpecif), kDescriptionSeparator, lines);
    return lines;
}

void DeleteControllerFile(const std::string& path) {
    ForceDeleteFile(path);
}

}  // namespace ristova::controller
