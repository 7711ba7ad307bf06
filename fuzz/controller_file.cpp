// Controller files: any file loads, and its command table written to a new
// file reads back the same when the format can hold it.
#include <filesystem>

#include "FuzzSupport.h"
#include "base/Codec.h"
#include "base/GridOps.h"
#include "base/IniFile.h"
#include "controller/ControllerFile.h"

using namespace ristova;

namespace {

bool Holdable(const StringGrid& grid) {
    if (!fuzz::CellsHoldable(grid)) return false;
    for (int r = 0; r < grid.RowCount(); ++r) {
        // Values are cut at the INI limit and read back trimmed.
        const std::string text = GridRowToText(grid, r);
        if (codec::CodePageLength(text) > kIniValueMaxBytes || text.front() == ' ') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::WriteInput("ctl.PSW", fuzz::AsText(data, size));
    StringGrid grid(6, 2);
    controller::ReadCommandTable(path, grid);
    fuzz::Check(grid.ColCount() == 6, "a command table has six columns");
    (void)controller::ReadDescription(path);
    (void)controller::ReadKey(path, controller::kLoad, controller::kComChl);
    (void)controller::ReadKey(path, controller::kComm, controller::kPortRead);
    if (!Holdable(grid)) return 0;

    const std::string copy = fuzz::WorkDir() + "/copy.PSW";
    std::filesystem::remove(copy);
    controller::WriteCommandTableAndDescription(copy, grid, {"x"});
    StringGrid back(6, 2);
    controller::ReadCommandTable(copy, back);
    fuzz::Check(back.RowCount() == grid.RowCount(), "written table keeps its rows");
    for (int r = 1; r < grid.RowCount(); ++r)
        for (int c = 1; c < grid.ColCount(); ++c)
            fuzz::Check(back.Cell(c, r) == grid.Cell(c, r), "written table reads back the same");
    return 0;
}
