#include "controller/ControllerFile.h"

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"
#include "controller/StatePlugin.h"

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
    // The last line break of the memo makes no line of its own, so that an
    // emptied memo stores an empty description.
    std::vector<std::string> lines = descriptionLines;
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].find(kDescriptionSeparator) != std::string::npos)
            throw OperatorError("说明第" + std::to_string(k + 1) + "行含有“" +
                                std::string(kDescriptionSeparator) + "”,无法保存");
    }
    const std::string description = JoinText(lines, kDescriptionSeparator);
    // A longer value would come back cut at the next load.
    if (codec::CodePageLength(description) > kIniValueMaxBytes)
        throw OperatorError("说明超过" + std::to_string(kIniValueMaxBytes) +
                            "字节,无法保存");
    CheckGridStorable(grid);
    SaveGridToIni(path, kCommand, grid);
    WriteIniText(path, kDescript, kSpecif, description);
}

std::vector<std::string> ReadDescription(const std::string& path) {
    std::vector<std::string> lines;
    SplitText(ReadIniText(path, kDescript, kSpecif), kDescriptionSeparator, lines);
    return lines;
}

void DeleteControllerFile(const std::string& path) {
    ForceDeleteFile(path);
}

bool IsSafeControllerName(std::string_view name) {
    constexpr std::size_t kMaxControllerNameBytes = 200;
    return name.size() <= kMaxControllerNameBytes && IsSafePluginName(name);
}

std::string UnusableControllerReason(const std::string& path) {
    if (ReadIniText(path, kLoad, kFlag) != kMarker)
        return "不是控制器文件,没有标记" + std::string(kFlag) + "=" + std::string(kMarker);
    // Reading stops at the first missing row: without Row0 there is no table.
    if (ReadIniText(path, kCommand, "Row0").empty() || ReadIniText(path, kCommand, "Row1").empty())
        return "没有指令表";
    return {};
}

}  // namespace ristova::controller
