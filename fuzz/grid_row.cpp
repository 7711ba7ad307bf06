// Grid row text: cells saved as a row text and as a text file load back
// the same, for every cell the format can hold.
#include "FuzzSupport.h"
#include "base/GridOps.h"

using namespace ristova;

namespace {

// Line breaks end the row in a file.
bool Holdable(std::string_view cell) {
    return fuzz::IsUtf8(cell) && fuzz::CellHoldable(cell) &&
           cell.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = fuzz::AsText(data, size);
    std::vector<std::string> cells;
    while (cells.size() < 8) {
        const std::string_view cell = fuzz::NextField(rest);
        if (!Holdable(cell)) return 0;
        cells.emplace_back(cell);
        if (rest.empty()) break;
    }
    const int cols = static_cast<int>(cells.size());
    StringGrid grid(cols, 2);
    for (int c = 0; c < cols; ++c) grid.SetCell(c, 1, cells[static_cast<std::size_t>(c)]);

    const std::string text = GridRowToText(grid, 1);
    fuzz::Check(CountCells(text) >= cols, "a separator behind every cell");
    StringGrid back(cols, 2);
    TextToGridRow(text, back, 1);
    for (int c = 0; c < cols; ++c)
        fuzz::Check(back.Cell(c, 1) == cells[static_cast<std::size_t>(c)], "row text round trip");

    const std::string path = fuzz::WorkDir() + "/grid.tab";
    SaveGridToTextFile(grid, path);
    if (fuzz::ReadsAsUtf8(path)) return 0;
    StringGrid loaded(cols, 2);
    LoadGridFromTextFile(loaded, path);
    fuzz::Check(loaded.RowCount() == 2 && loaded.ColCount() == cols, "text file keeps the shape");
    for (int c = 0; c < cols; ++c)
        fuzz::Check(loaded.Cell(c, 1) == cells[static_cast<std::size_t>(c)], "text file round trip");
    return 0;
}
