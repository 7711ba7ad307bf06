#include "base/ui/GridModel.h"

#include <QAbstractItemView>
#include <QColor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableView>

namespace ristova::ui {

namespace {

const QColor kFixedCellColour(240, 240, 240);

// The heading row of KeepHeadingRowFixed, drawn like the fixed cells.
class HeadingRowHeader : public QHeaderView {
  public:
    explicit HeadingRowHeader(QTableView* view) : QHeaderView(Qt::Horizontal, view), view_(view) {
        setSectionsClickable(false);
        setHighlightSections(false);
        setSectionResizeMode(QHeaderView::Fixed);
        setMinimumSectionSize(1);
    }

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        if (!model()) return;
        painter->save();
        painter->fillRect(rect, kFixedCellColour);
        QStyleOptionViewItem option;
        option.initFrom(view_);
        const QColor line = static_cast<QRgb>(
            view_->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, view_));
        painter->setPen(line);
        painter->drawLine(rect.topRight(), rect.bottomRight());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->setPen(view_->palette().color(QPalette::Text));
        painter->setClipRect(rect);
        painter->drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                          model()->index(0, logicalIndex).data(Qt::DisplayRole).toString());
        painter->restore();
    }

  private:
    QTableView* view_;
};

}  // namespace

GridModel::GridModel(StringGrid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
    Refresh();
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownCols_;
}

bool GridModel::IsFixed(int col, int row) const {
    return col < grid_.FixedCols() || row < grid_.FixedRows();
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int col = index.column();
    const int row = index.row();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return QString::fromUtf8(grid_.Cell(col, row));
        case Qt::BackgroundRole:
            // Fixed cells look like the grid's button-face title cells.
            if (IsFixed(col, row)) return kFixedCellColour;
            return {};
        case Qt::ForegroundRole:
            if (rowAlert_ && !IsFixed(col, row) && rowAlert_(row)) return QColor(Qt::red);
            return {};
        default:
            return {};
    }
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    const std::string text = value.toString().toStdString();
    if (editCommit_) {
        editCommit_(index.column(), index.row(), text);
    } else {
        grid_.SetCell(index.column(), index.row(), text);
    }
    Refresh();
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const int col = index.column();
    const int row = index.row();
    if (IsFixed(col, row)) return Qt::ItemIsEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editCheck_ && editCheck_(col, row)) f |= Qt::ItemIsEditable;
    return f;
}

bool GridModel::Refresh() {
    if (grid_.Revision() == seenRevision_) return false;
    seenRevision_ = grid_.Revision();
    const int rows = grid_.RowCount();
    const int cols = grid_.ColCount();
    if (rows != shownRows_ || cols != shownCols_) {
        beginResetModel();
        shownRows_ = rows;
        shownCols_ = cols;
        endResetModel();
    } else if (rows > 0 && cols > 0) {
        emit dataChanged(index(0, 0), index(rows - 1, cols - 1));
        // A heading row drawn by the header (KeepHeadingRowFixed) is model
        // data too; without this the header shows the old headings.
        emit headerDataChanged(Qt::Horizontal, 0, cols - 1);
    }
    return true;
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QVariant background = index.data(Qt::BackgroundRole);
    QColor fill = option.palette.base().color();
    if (background.canConvert<QColor>()) fill = background.value<QColor>();
    if (selected) fill = option.palette.highlight().color();
    painter->save();
    painter->fillRect(option.rect, fill);
    const QVariant foreground = index.data(Qt::ForegroundRole);
    QColor pen = selected ? option.palette.highlightedText().color() : option.palette.text().color();
    if (foreground.canConvert<QColor>()) pen = foreground.value<QColor>();
    painter->setPen(pen);
    painter->setClipRect(option.rect);
    painter->drawText(option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

void SetupGridView(QTableView* view, GridModel* model) {
    view->setModel(model);
    view->setItemDelegate(new GridDelegate(view));
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setShowGrid(true);
    view->setWordWrap(false);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    view->verticalHeader()->setMinimumSectionSize(1);
    view->horizontalHeader()->setMinimumSectionSize(1);
    // A scroll bar only while the rows do not fit: an empty one is noise.
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The columns of a grid with a scroll bar are fitted to the width left
    // beside it, so it scrolls only down.
    if (model->Grid().ShowsVScrollBar()) view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TellGridItsRoom(const QTableView* view, StringGrid& grid) {
    grid.SetWidth(view->width());
    grid.SetClientHeight(view->height() - 2 * view->frameWidth());
    grid.SetScrollBarSize(
        view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view->verticalScrollBar()));
}

void ApplyGridGeometry(QTableView* view, const StringGrid& grid) {
    auto* model = view->model();
    if (!model) return;
    for (int c = 0; c < model->columnCount(); ++c) view->setColumnWidth(c, grid.ColWidth(c));
    view->verticalHeader()->setDefaultSectionSize(grid.DefaultRowHeight());
    if (dynamic_cast<HeadingRowHeader*>(view->horizontalHeader())) {
        view->horizontalHeader()->setFixedHeight(grid.DefaultRowHeight());
        view->setRowHidden(0, true);
    }
    QItemSelectionModel* selection = view->selectionModel();
    if (!selection) return;
    const QModelIndex current = model->index(grid.Row(), grid.Col());
    if (current.isValid() && selection->currentIndex() != current) {
        const QSignalBlocker blocker(selection);
        QItemSelectionModel::SelectionFlags how = QItemSelectionModel::ClearAndSelect;
        if (view->selectionBehavior() == QAbstractItemView::SelectRows)
            how |= QItemSelectionModel::Rows;
        selection->setCurrentIndex(current, how);
        view->scrollTo(current);
        view->viewport()->update();
    }
}

void CommitOpenEditors(QWidget* root) {
    if (!root) return;
    for (QAbstractItemView* view : root->findChildren<QAbstractItemView*>()) {
        // The grids open their editor on the current cell only.
        QWidget* editor = view->indexWidget(view->currentIndex());
        QAbstractItemDelegate* delegate = view->itemDelegate();
        if (!editor || editor->isHidden() || !delegate) continue;
        emit delegate->commitData(editor);
        emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void KeepHeadingRowFixed(QTableView* view, const StringGrid& grid) {
    view->setHorizontalHeader(new HeadingRowHeader(view));
    view->horizontalHeader()->show();
    ApplyGridGeometry(view, grid);
}

}  // namespace ristova::ui
