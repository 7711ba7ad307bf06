#pragma once
// A string grid as data: cells, counts, the selection, column widths and the
// geometry that the column-fitting rules need. The window shows it through a
// Qt adaptor; the core reads and writes it directly.
//
// Like the grids it models, lowering RowCount hides rows without emptying
// them: raising it again shows the old cells.
#include <cstdint>
#include <string>
#include <vector>

namespace ristova {

class StringGrid {
  public:
    StringGrid(int colCount = 5, int rowCount = 5, int fixedCols = 1, int fixedRows = 1);

    int ColCount() const { return colCount_; }
    void SetColCount(int n);
    int RowCount() const { return rowCount_; }
    void SetRowCount(int n);
    int FixedCols() const { return fixedCols_; }
    void SetFixedCols(int n);
    int FixedRows() const { return fixedRows_; }
    void SetFixedRows(int n);

    // Out-of-range reads give the empty text; writes grow the storage.
    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, std::string text);
    // Empties rows [fromRow, stored rows) in every stored column.
    void EmptyStoredRows(int fromRow);
    // Empties the stored cells of one row; costs nothing for unstored cells.
    void EmptyStoredRow(int row);
    // Exchanges the texts of two rows in columns 0..ColCount-1.
    void SwapRowCells(int a, int b);
    int StoredRowCount() const { return static_cast<int>(cells_.size()); }

    // Selection (the current cell).
    int Row() const { return row_; }
    void SetRow(int r);
    int Col() const { return col_; }
    void SetCol(int c);

    // Geometry, in pixels.
    int Width() const { return width_; }
    void SetWidth(int w);
    int ColWidth(int col) const;
    void SetColWidth(int col, int w);
    int DefaultColWidth() const { return defaultColWidth_; }
    void SetDefaultColWidth(int w);
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void SetDefaultRowHeight(int h);
    // The grid has a vertical scroll bar, shown while its rows do not fit.
    bool ShowsVScrollBar() const { return showsVScrollBar_; }
    void SetShowsVScrollBar(bool on);
    // The height its rows have, fixed rows included (the view's inside);
    // 0 when not known, and a grid with a scroll bar then counts it shown.
    int ClientHeight() const { return clientHeight_; }
    void SetClientHeight(int px);
    // The scroll bar is up now: the rows are taller than the room.
    bool VScrollBarShown() const;
    // The grid draws vertical lines (fixed or body cells).
    bool DrawsVertLines() const { return drawsVertLines_; }
    void SetDrawsVertLines(bool on);
    int ScrollBarSize() const { return scrollBarSize_; }
    void SetScrollBarSize(int px);

    // Grows on every change, so that a view can tell when to redraw.
    std::uint64_t Revision() const { return revision_; }
    void Touch() { ++revision_; }

  private:
    void EnsureStorage(int cols, int row);
    int StoredCols(int row) const;

    int colCount_;
    int rowCount_;
    int fixedCols_;
    int fixedRows_;
    int row_;
    int col_;
    std::vector<std::vector<std::string>> cells_;  // [row][col]
    std::vector<int> colWidths_;
    int width_ = 320;
    int defaultColWidth_ = 64;
    int defaultRowHeight_ = 24;
    bool showsVScrollBar_ = false;
    int clientHeight_ = 0;
    bool drawsVertLines_ = true;
    int scrollBarSize_ = 17;
    std::uint64_t revision_ = 0;
};

}  // namespace ristova
