// Plan table files: any file loads, and a loaded table saved again loads
// back the same when its cells are ones the format can hold.
#include "FuzzSupport.h"
#include "base/GridOps.h"
#include "plan/PlanFile.h"

using namespace ristova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::WriteInput("plan.tab", fuzz::AsText(data, size));
    StringGrid grid(6, 2);
    plan::LoadPlanGrid(path, grid);
    fuzz::Check(grid.ColCount() == 6 && grid.RowCount() >= 2, "a plan table has six columns");
    if (!fuzz::CellsHoldable(grid)) return 0;

    const std::string again = fuzz::WorkDir() + "/again.tab";
    plan::SavePlanGrid(grid, again);
    if (fuzz::ReadsAsUtf8(again)) return 0;
    StringGrid back(6, 2);
    plan::LoadPlanGrid(again, back);
    fuzz::Check(back.RowCount() == grid.RowCount() && back.ColCount() == grid.ColCount(),
                "saved table keeps its shape");
    for (int r = 0; r < grid.RowCount(); ++r)
        for (int c = 0; c < grid.ColCount(); ++c)
            fuzz::Check(back.Cell(c, r) == grid.Cell(c, r), "saved table loads back the same");
    return 0;
}
