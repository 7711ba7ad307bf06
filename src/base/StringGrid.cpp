#include "base/StringGrid.h"

#include <algorithm>
#include <utility>

namespace ristova {

namespace {
const std::string kEmpty;
}

StringGrid::StringGrid(int colCount, int rowCount, int fixedCols, int fixedRows)
    : colCount_(std::max(0, colCount)),
      rowCount_(std::max(0, rowCount)),
      fixedCols_(0),
      fixedRows_(0),
      row_(0),
      col_(0) {
    SetFixedCols(fixedCols);
    SetFixedRows(fixedRows);
    row_ = std::min(fixedRows_, std::max(0, rowCount_ - 1));
    col_ = std::min(fixedCols_, std::max(0, colCount_ - 1));
    revision_ = 0;
}

void StringGrid::SetColCount(int n) {
    n = std::max(0, n);
    colCount_ = n;
    // Columns beyond the new count are gone for good, unlike hidden rows.
    for (auto& rowCells : cells_) {
        if (static_cast<int>(rowCells.size()) > n) rowCells.resize(n);
    }
    if (static_cast<int>(colWidths_.size()) > n) colWidths_.resize(n);
    if (fixedCols_ >= n) fixedCols_ = std::max(0, n - 1);
    SetCol(col_);
    Touch();
}

void StringGrid::SetRowCount(int n) {
    rowCount_ = std::max(0, n);
    if (fixedRows_ >= rowCount_) fixedRows_ = std::max(0, rowCount_ - 1);
    SetRow(row_);
    Touch();
}

void StringGrid::SetFixedCols(int n) {
    fixedCols_ = std::clamp(n, 0, std::max(0, colCount_ - 1));
    if (col_ < fixedCols_) SetCol(fixedCols_);
    Touch();
}

void StringGrid::SetFixedRows(int n) {
    fixedRows_ = std::clamp(n, 0, std::max(0, rowCount_ - 1));
    if (row_ < fixedRows_) SetRow(fixedRows_);
    Touch();
}

const std::string& StringGrid::Cell(int col, int row) const {
    if (row < 0 || col < 0 || row >= static_cast<int>(cells_.size())) return kEmpty;
    const auto& rowCells = cells_[row];
    if (col >= static_cast<int>(rowCells.size())) return kEmpty;
    return rowCells[col];
}

void StringGrid::SetCell(int col, int row, std::string text) {
    if (row < 0 || col < 0) return;
    if (row >= static_cast<int>(cells_.size())) {
        // Writing an empty text into unstored space changes nothing visible.
        if (text.empty()) return;
        cells_.resize(row + 1);
    }
    auto& rowCells = cells_[row];
    if (col >= static_cast<int>(rowCells.size())) {
        if (text.empty()) return;
        // Only as wide as written: a wide title row must not make every
        // short row as wide.
        rowCells.resize(col + 1);
    }
    rowCells[col] = std::move(text);
    Touch();
}

void StringGrid::EmptyStoredRows(int fromRow) {
    for (int r = std::max(0, fromRow); r < static_cast<int>(cells_.size()); ++r) {
        for (auto& cell : cells_[r]) cell.clear();
    }
    Touch();
}

void StringGrid::EmptyStoredRow(int row) {
    if (row < 0 || row >= static_cast<int>(cells_.size())) return;
    for (auto& cell : cells_[row]) cell.clear();
    Touch();
}

void StringGrid::SwapRowCells(int a, int b) {
    if (a < 0 || b < 0 || a == b) return;
    int cols = std::min(colCount_, std::max(StoredCols(a), StoredCols(b)));
    if (cols == 0) return;
    EnsureStorage(cols, a);
    EnsureStorage(cols, b);
    auto& rowA = cells_[a];
    auto& rowB = cells_[b];
    for (int c = 0; c < cols; ++c) std::swap(rowA[c], rowB[c]);
    Touch();
}

void StringGrid::SetRow(int r) {
    int low = rowCount_ > fixedRows_ ? fixedRows_ : 0;
    row_ = std::clamp(r, low, std::max(low, rowCount_ - 1));
    Touch();
}

void StringGrid::SetCol(int c) {
    int low = colCount_ > fixedCols_ ? fixedCols_ : 0;
    col_ = std::clamp(c, low, std::max(low, colCount_ - 1));
    Touch();
}

void StringGrid::SetWidth(int w) {
    width_ = std::max(0, w);
    Touch();
}

int StringGrid::ColWidth(int col) const {
    if (col < 0 || col >= colCount_) return 0;
    if (col >= static_cast<int>(colWidths_.size())) return defaultColWidth_;
    return colWidths_[col];
}

void StringGrid::SetColWidth(int col, int w) {
    if (col < 0 || col >= colCount_) return;
    if (col >= static_cast<int>(colWidths_.size())) colWidths_.resize(col + 1, defaultColWidth_);
    colWidths_[col] = w;
    Touch();
}

void StringGrid::SetDefaultColWidth(int w) {
    // As in the grids it models: every column takes the new default.
    defaultColWidth_ = w;
    colWidths_.clear();
    Touch();
}

void StringGrid::SetDefaultRowHeight(int h) {
    defaultRowHeight_ = h;
    Touch();
}

void StringGrid::SetShowsVScrollBar(bool on) {
    showsVScrollBar_ = on;
    Touch();
}

void StringGrid::SetClientHeight(int px) {
    clientHeight_ = px;
    Touch();
}

bool StringGrid::VScrollBarShown() const {
    if (!showsVScrollBar_) return false;
    if (clientHeight_ <= 0) return true;
    return static_cast<long long>(rowCount_) * defaultRowHeight_ > clientHeight_;
}

void StringGrid::SetDrawsVertLines(bool on) {
    drawsVertLines_ = on;
    Touch();
}

void StringGrid::SetScrollBarSize(int px) {
    scrollBarSize_ = px;
    Touch();
}

int StringGrid::StoredCols(int row) const {
    return row < static_cast<int>(cells_.size()) ? static_cast<int>(cells_[row].size()) : 0;
}

void StringGrid::EnsureStorage(int cols, int row) {
    if (row >= static_cast<int>(cells_.size())) cells_.resize(row + 1);
    if (static_cast<int>(cells_[row].size()) < cols) cells_[row].resize(cols);
}

}  // namespace ristova
