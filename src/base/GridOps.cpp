#include "base/GridOps.h"

#include <string>

#include "base/Codec.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/TextUtils.h"

namespace ristova {

namespace {

// Only stored cells are touched: a damaged first line can widen a grid to
// hundreds of thousands of columns.
void EmptyRow(StringGrid& grid, int r) {
    grid.EmptyStoredRow(r);
}

// Ordinal: the first differing byte decides as an unsigned value.
int CompareOrdinal(std::string_view a, std::string_view b) {
    return a.compare(b);
}

// Shares the summed width of two neighbouring columns, the left one taking
// half rounded down.
void ShareColumns(StringGrid& grid, int left) {
    if (left + 1 >= grid.ColCount()) return;
    int sum = grid.ColWidth(left) + grid.ColWidth(left + 1);
    grid.SetColWidth(left, sum / 2);
    grid.SetColWidth(left + 1, sum - sum / 2);
}

}  // namespace

void ClearGrid(StringGrid& grid) {
    // Hidden rows are emptied too, so that raising RowCount later never
    // brings back rows of an earlier table.
    grid.EmptyStoredRows(1);
    grid.SetRowCount(2);
}

void SetGridTitles(StringGrid& grid, const std::vector<std::string>& titles) {
    int n = static_cast<int>(titles.size());
    if (grid.ColCount() < n) grid.SetColCount(n);
    for (int i = 0; i < n && i < grid.ColCount(); ++i) grid.SetCell(i, 0, titles[i]);
}

void NumberGridRows(StringGrid& grid, int col, int first, char ch, int width) {
    for (int r = 1; r < grid.RowCount(); ++r) {
        grid.SetCell(col, r,
                     PadLeft(std::to_string(static_cast<long long>(first) + r - 1), ch, width));
    }
}

void AddGridRow(StringGrid& grid) {
    // Only a grid of one body row counts as empty: rows below an empty row 1
    // would otherwise be hidden and lost.
    if (grid.RowCount() <= 2 && grid.Cell(1, 1).empty()) {
        grid.SetRowCount(2);
        grid.SetRow(1);
        return;
    }
    grid.SetRowCount(grid.RowCount() + 1);
    int last = grid.RowCount() - 1;
    grid.SetRow(last);
    EmptyRow(grid, last);
}

void DeleteGridRow(StringGrid& grid, int r) {
    if (grid.RowCount() <= 2) {
        EmptyRow(grid, 1);
        return;
    }
    // Neither the title row nor a row that is not shown can be deleted.
    if (r < 1 || r >= grid.RowCount()) return;
    int last = grid.RowCount() - 1;
    if (r == last) {
        grid.SetRow(r - 1);
        EmptyRow(grid, r);
        grid.SetRowCount(last);
        return;
    }
    for (int k = r; k < last; ++k) {
        for (int c = 0; c < grid.ColCount(); ++c) grid.SetCell(c, k, grid.Cell(c, k + 1));
    }
    EmptyRow(grid, last);
    grid.SetRowCount(last);
}

bool SelectGridCell(StringGrid& grid, int col, int row) {
    if (col < grid.FixedCols() || col >= grid.ColCount() || row < grid.FixedRows() ||
        row >= grid.RowCount())
        return false;
    grid.SetCol(col);
    grid.SetRow(row);
    grid.Touch();
    return true;
}

void SwapGridRows(StringGrid& grid, int a, int b) {
    grid.SwapRowCells(a, b);
}

void SortGridByColumn(StringGrid& grid, int col, int l, int r) {
    // A reversed or empty range has nothing to sort; without this guard the
    // scans below would run past the range.
    if (l >= r) return;
    if (r == l + 1) {
        if (CompareOrdinal(grid.Cell(col, l), grid.Cell(col, r)) > 0) SwapGridRows(grid, l, r);
        return;
    }
    const std::string pivot = grid.Cell(col, l + (r - l) / 2);
    int i = l, j = r;
    do {
        while (CompareOrdinal(grid.Cell(col, i), pivot) < 0) ++i;
        while (CompareOrdinal(grid.Cell(col, j), pivot) > 0) --j;
        if (i <= j) {
            SwapGridRows(grid, i, j);
            ++i;
            --j;
        }
    } while (i <= j);
    if (l < j) SortGridByColumn(grid, col, l, j);
    if (i < r) SortGridByColumn(grid, col, i, r);
}

void SortGridGroups(StringGrid& grid, int keyCol, int subCol, int first, int last) {
    int groupStart = first;
    std::string groupKey = grid.Cell(keyCol, first);
    for (int k = first + 1; k <= last; ++k) {
        if (grid.Cell(keyCol, k) != groupKey) {
            SortGridByColumn(grid, subCol, groupStart, k - 1);
            groupStart = k;
            groupKey = grid.Cell(keyCol, k);
        }
    }
    SortGridByColumn(grid, subCol, groupStart, last);
}

int FindGridRow(const StringGrid& grid, int colA, int colB, int firstRow, std::string_view textA,
                std::string_view textB) {
    for (int r = firstRow < 0 ? 0 : firstRow; r < grid.RowCount(); ++r) {
        if (grid.Cell(colA, r) == textA && grid.Cell(colB, r) == textB) return r;
    }
    return 0;
}

std::string GridRowToText(const StringGrid& grid, int r) {
    std::string out;
    for (int c = 0; c < grid.ColCount(); ++c) {
        out += grid.Cell(c, r);
        out += kCellSeparator;
    }
    return out;
}

void TextToGridRow(std::string_view text, StringGrid& grid, int r) {
    EmptyRow(grid, r);
    for (int c = 0; c < grid.ColCount(); ++c) {
        std::size_t pos = text.find(kCellSeparator);
        if (pos == std::string_view::npos) {
            grid.SetCell(c, r, std::string(text));
            return;
        }
        grid.SetCell(c, r, std::string(text.substr(0, pos)));
        text.remove_prefix(pos + kCellSeparator.size());
    }
}

int CountCells(std::string_view text) {
    int count = 0;
    for (std::size_t pos = text.find(kCellSeparator); pos != std::string_view::npos;
         pos = text.find(kCellSeparator, pos + kCellSeparator.size())) {
        ++count;
    }
    return count;
}

namespace {

// A character that code page 936 cannot hold would come back as "?".
bool CodePageHolds(const std::string& cell) {
    return codec::IsAscii(cell) || codec::FromCodePage(codec::ToCodePage(cell)) == cell;
}

}  // namespace

void CheckGridStorable(const StringGrid& grid) {
    for (int r = 0; r < grid.RowCount(); ++r) {
        for (int c = 0; c < grid.ColCount(); ++c) {
            const std::string& cell = grid.Cell(c, r);
            const bool separable = cell.find(kCellSeparator) == std::string::npos &&
                                   (cell.empty() || cell.back() != '^');
            if (separable && CodePageHolds(cell)) continue;
            const std::string& title = grid.Cell(c, 0);
            throw OperatorError("第" + std::to_string(r) + "行" +
                                (title.empty() ? "第" + std::to_string(c) + "列" : "“" + title + "”") +
                                "的内容“" + cell + "”" +
                                (separable ? "含有代码页936中没有的字符" : "含有“^^”或以“^”结尾") +
                                ",无法保存");
        }
    }
}

void SaveGridToTextFile(const StringGrid& grid, const std::string& fileName) {
    if (fileName.empty()) return;
    CheckGridStorable(grid);
    std::string text;
    for (int r = 1; r < grid.RowCount(); ++r) {
        text += GridRowToText(grid, r);
        text += "\r\n";
    }
    WriteFileAtomically(fileName, codec::ToCodePage(text));
}

void LoadGridFromTextFile(StringGrid& grid, const std::string& fileName) {
    grid.SetRowCount(2);
    std::string bytes;
    if (!ReadFileBytes(fileName, bytes) || bytes.empty()) {
        EmptyRow(grid, 1);
        return;
    }
    bytes = codec::DataFileToCodePage(bytes);
    // Lines are cut on the raw bytes: a line feed is never part of a code
    // page 936 character, so a line that does not decode cannot swallow the
    // next one.
    std::string_view rest(bytes);
    int row = 1;
    while (!rest.empty()) {
        std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string text = codec::FromCodePage(line);
        if (row == 1) {
            int cells = CountCells(text);
            if (cells > grid.ColCount()) grid.SetColCount(cells);
        }
        if (row >= grid.RowCount()) grid.SetRowCount(row + 1);
        TextToGridRow(text, grid, row);
        ++row;
    }
}

void StretchGridColumn(StringGrid& grid, int col) {
    int colCount = grid.ColCount();
    if (col < 0 || col >= colCount) return;
    int others = 0;
    for (int c = 0; c < colCount; ++c) {
        if (c != col) others += grid.ColWidth(c);
    }
    int width = grid.Width() - others;
    if (grid.VScrollBarShown())
        width -= grid.ScrollBarSize() + colCount + 2;
    else
        width -= colCount + 1;
    if (grid.DrawsVertLines())
        width -= grid.FixedCols();
    else
        width += colCount - 1;
    // A grid too narrow for its other columns leaves this one at nothing
    // rather than at a negative width.
    grid.SetColWidth(col, width < 0 ? 0 : width);
}

void StretchAndShareColumns(StringGrid& grid, int col) {
    StretchGridColumn(grid, col);
    ShareColumns(grid, col - 1);
}

void FitPlanGridColumns(StringGrid& grid) {
    StretchAndShareColumns(grid, 5);
}

void FitDeviceGridColumns(StringGrid& grid) {
    StretchAndShareColumns(grid, 4);
}

}  // namespace ristova
