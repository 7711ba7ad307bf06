#pragma once
// The monitor grid sgState: a view that draws nothing by itself; every cell,
// the heading row included, is painted by sgStateDrawCell from the engine's
// grid. Mouse moves and presses are forwarded to the engine.
#include <QWidget>
#include <cstdint>

class QScrollBar;

#include "run/RunPage.h"

namespace ristova::ui {

class MonitorGrid : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kLineWidth = 1;
    static constexpr QColor kCurrentRowColour{192, 192, 192};
    static constexpr QColor kMismatchColour{255, 0, 0};

    // onHandled runs after every forwarded event, so that the window can
    // draw what the engine changed; errors are the caller's to show.
    MonitorGrid(run::RunPage& engine, QWidget* parent = nullptr);

    void SetGuard(std::function<void(const std::function<void()>&)> guard) {
        guard_ = std::move(guard);
    }
    // Repaints when the grid changed since the last call.
    void Sync();

    // Cell rectangle in widget coordinates (without the grid lines).
    QRect CellRect(int col, int row) const;
    // The cell under a point; false outside every cell.
    bool CellAt(QPoint pos, int& col, int& row) const;
    void sgStateDrawCell(QPainter& painter, int col, int row, const QRect& rect) const;
    // Shown while some relay rows are out of sight.
    QScrollBar* VerticalScrollBar() const { return vbar_; }
    // The first relay row under the heading.
    int TopRow() const { return topRow_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Forward(const std::function<void()>& call);
    void UpdateCursor(QPoint pos);
    void MoveCurrentRow(int row);
    // Scrolls the body rows so that the current row is in sight; the heading
    // row stays at the top.
    void ClampInView();
    int VisibleRows() const;
    // The bar's range and visibility follow the rows; the columns make room.
    void SyncScrollBar();
    void ScrollTo(int topRow);

    run::RunPage& engine_;
    std::function<void(const std::function<void()>&)> guard_;
    std::uint64_t seen_ = ~std::uint64_t{0};
    int topRow_ = 1;  // first body row shown under the heading
    int clampedRow_ = -1;  // the current row last brought into sight
    QScrollBar* vbar_ = nullptr;
    bool barShown_ = false;
};

}  // namespace ristova::ui
