#pragma once
// A Qt table model over a core StringGrid. The whole grid, fixed rows and
// columns included, is shown as cells of a QTableView with its headers
// hidden (or row 0 drawn in the header, KeepHeadingRowFixed), so that row and
// column indexes are the grid's own. The view is refreshed when the grid's
// Revision changes.
#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <cstdint>
#include <functional>
#include <string>

#include "base/StringGrid.h"

class QAbstractItemView;
class QTableView;
class QWidget;

namespace ristova::ui {

class GridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // May the cell be typed into now?
    using EditCheck = std::function<bool(int col, int row)>;
    // The in-place editor finished with this text.
    using EditCommit = std::function<void(int col, int row, const std::string& text)>;

    explicit GridModel(StringGrid& grid, QObject* parent = nullptr);

    StringGrid& Grid() { return grid_; }
    const StringGrid& Grid() const { return grid_; }
    void SetEditCheck(EditCheck check) { editCheck_ = std::move(check); }
    void SetEditCommit(EditCommit commit) { editCommit_ = std::move(commit); }
    // Rows whose text is drawn red (a row the program will not act on).
    using RowAlert = std::function<bool(int row)>;
    void SetRowAlert(RowAlert alert) { rowAlert_ = std::move(alert); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    bool IsFixed(int col, int row) const;
    // Re-reads the grid when its revision changed; true when it did.
    bool Refresh();
    // Forces the next Refresh to re-read.
    void Invalidate() { seenRevision_ = ~std::uint64_t{0}; }

  private:
    StringGrid& grid_;
    EditCheck editCheck_;
    EditCommit editCommit_;
    RowAlert rowAlert_;
    int shownRows_ = 0;
    int shownCols_ = 0;
    std::uint64_t seenRevision_ = ~std::uint64_t{0};
};

// Draws a cell as the grids of the design do: the fill, then the text 2
// pixels right of and below the cell's corner, clipped rather than elided.
class GridDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// Headers hidden, one selected cell at a time, grid lines, editing by typing
// or double click left to the model's EditCheck.
void SetupGridView(QTableView* view, GridModel* model);
// The core's column fitting sees the view's room: its outer width, the
// height of its inside and the style's scroll bar size. Called once the
// view has its geometry.
void TellGridItsRoom(const QTableView* view, StringGrid& grid);
// Column widths, row heights and the current cell from the grid; the view's
// selection signals are blocked while the current cell is set.
void ApplyGridGeometry(QTableView* view, const StringGrid& grid);
// Row 0 is drawn in the view's header instead of as a cell, so that it stays
// in place while the body scrolls to the current row. Indexes stay the
// grid's own: row 0 is only hidden.
void KeepHeadingRowFixed(QTableView* view, const StringGrid& grid);
// Hands the text of a cell editor still open in any grid under root to its
// model and closes the editor. The picture buttons never take the focus, so
// without this an action would run on the grid without the text being typed.
void CommitOpenEditors(QWidget* root);

}  // namespace ristova::ui
