#include "run/ui/MonitorGrid.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "run/Monitor.h"
#include "run/ui/RelayPictures.h"

namespace ristova::ui {

MonitorGrid::MonitorGrid(run::RunPage& engine, QWidget* parent)
    : QWidget(parent), engine_(engine) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    setToolTip(QStringLiteral("电源控制器状态监视表"));
    vbar_ = new QScrollBar(Qt::Vertical, this);
    vbar_->setObjectName(QStringLiteral("sgStateScrollBar"));
    vbar_->setSingleStep(1);
    vbar_->hide();
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int value) { ScrollTo(value + 1); });
}

void MonitorGrid::Sync() {
    ClampInView();
    const std::uint64_t rev = engine_.sgState().Revision();
    if (rev == seen_) return;
    seen_ = rev;
    // The grid's own repaint: the picture must change the moment the state
    // text is copied in.
    repaint();
}

void MonitorGrid::resizeEvent(QResizeEvent*) {
    const int barWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    vbar_->setGeometry(width() - barWidth, 0, barWidth, height());
    engine_.sgState().SetWidth(width() - (barShown_ ? barWidth : 0));
    ClampInView();
}

int MonitorGrid::VisibleRows() const {
    const int h = engine_.sgState().DefaultRowHeight() + kLineWidth;
    return std::max(1, (height() - h) / h);
}

void MonitorGrid::SyncScrollBar() {
    StringGrid& g = engine_.sgState();
    const int hidden = std::max(0, g.RowCount() - 1 - VisibleRows());
    const bool show = hidden > 0;
    if (show != barShown_) {
        barShown_ = show;
        vbar_->setVisible(show);
        // The last column gives the bar its room.
        g.SetWidth(width() - (show ? vbar_->width() : 0));
        run::FitMonitorColumns(g);
        update();
    }
    const QSignalBlocker blocker(vbar_);
    vbar_->setRange(0, hidden);
    vbar_->setPageStep(VisibleRows());
    vbar_->setValue(topRow_ - 1);
}

void MonitorGrid::ScrollTo(int topRow) {
    const StringGrid& g = engine_.sgState();
    const int top = std::clamp(topRow, 1, std::max(1, g.RowCount() - VisibleRows()));
    if (top == topRow_) return;
    topRow_ = top;
    SyncScrollBar();
    update();
}

QRect MonitorGrid::CellRect(int col, int row) const {
    const StringGrid& g = engine_.sgState();
    int x = 0;
    for (int c = 0; c < col; ++c) x += g.ColWidth(c) + kLineWidth;
    const int h = g.DefaultRowHeight();
    const int line = row == 0 ? 0 : row - topRow_ + 1;
    return QRect(x, line * (h + kLineWidth), g.ColWidth(col), h);
}

bool MonitorGrid::CellAt(QPoint pos, int& col, int& row) const {
    const StringGrid& g = engine_.sgState();
    const int h = g.DefaultRowHeight() + kLineWidth;
    if (pos.x() < 0 || pos.y() < 0) return false;
    const int line = pos.y() / h;
    row = line == 0 ? 0 : topRow_ + line - 1;
    if (row >= g.RowCount()) return false;
    int x = 0;
    for (int c = 0; c < g.ColCount(); ++c) {
        x += g.ColWidth(c) + kLineWidth;
        if (pos.x() < x) {
            col = c;
            return true;
        }
    }
    return false;
}

void MonitorGrid::sgStateDrawCell(QPainter& p, int col, int row, const QRect& rect) const {
    const StringGrid& g = engine_.sgState();
    const RelayPictures& pics = RelayPictures::Get();
    // Right and bottom are exclusive: centring halves left + right.
    const int left = rect.x();
    const int top = rect.y();
    const int right = rect.x() + rect.width();
    const int bottom = rect.y() + rect.height();

    const bool current = row >= g.FixedRows() && row == g.Row();
    const QColor background = current ? kCurrentRowColour : palette().color(QPalette::Window);
    QRect fill = rect;
    if (row != 0) fill.setWidth(fill.width() + 1);
    p.fillRect(fill, background);

    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm(font());
    const int textY = (top + bottom - fm.height()) / 2;
    auto text = [&](int x, const std::string& s) {
        p.drawText(QPoint(x, textY + fm.ascent()), QString::fromStdString(s));
    };
    const std::string& cell = g.Cell(col, row);
    if (row == 0) {
        text(left + 3, cell);
        return;
    }
    const QPixmap* picture = nullptr;
    switch (run::CellPicture(g, col, row)) {
        case run::MonitorPicture::Text: {
            const int tw = fm.horizontalAdvance(QString::fromStdString(cell));
            text((left + right - tw) / 2, cell);
            return;
        }
        case run::MonitorPicture::RelayOn:
            picture = &pics.imgDJQON;
            break;
        case run::MonitorPicture::RelayOff:
            picture = &pics.imgDJQOFF;
            break;
        case run::MonitorPicture::ContactClosed:
            picture = &pics.imgSWON;
            break;
        case run::MonitorPicture::ContactOpen:
            picture = &pics.imgSWOFF;
            break;
        case run::MonitorPicture::ContactAbsent:
            picture = &pics.imgNone;
            break;
    }
    if (engine_.StatesUnknown()) picture = &pics.Grey(*picture);
    const int pictureTop = (top + bottom - picture->height()) / 2;
    p.drawPixmap(left + 3, pictureTop, *picture);
    // A relay that did not follow its command stays framed until it does.
    if (col == 1 && !engine_.StatesUnknown() && engine_.RelayMismatch(row)) {
        p.setPen(QPen(kMismatchColour, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(left + 2, pictureTop - 1, picture->width() + 2, picture->height() + 2));
        p.setPen(palette().color(QPalette::WindowText));
    }
    if (col >= 2) text(left + pics.imgSWON.width() + 5, cell);
}

void MonitorGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    const StringGrid& g = engine_.sgState();
    p.fillRect(rect(), palette().color(QPalette::Window));
    const QColor lineColour = palette().color(QPalette::Dark);
    for (int r = 0; r < g.RowCount(); r = r == 0 ? topRow_ : r + 1) {
        const QRect first = CellRect(0, r);
        if (first.top() > height()) break;
        int lineRight = 0;
        for (int c = 0; c < g.ColCount(); ++c) {
            const QRect cell = CellRect(c, r);
            p.save();
            p.setClipRect(cell.adjusted(0, 0, r == 0 ? 0 : 1, 0));
            sgStateDrawCell(p, c, r, cell);
            p.restore();
            lineRight = cell.x() + cell.width() + kLineWidth;
            // Vertical lines only between heading cells.
            if (r == 0)
                p.fillRect(cell.x() + cell.width(), cell.y(), kLineWidth,
                           cell.height() + kLineWidth, lineColour);
        }
        p.fillRect(0, first.y() + first.height(), lineRight, kLineWidth, lineColour);
    }
}

void MonitorGrid::Forward(const std::function<void()>& call) {
    if (guard_)
        guard_(call);
    else
        call();
}

void MonitorGrid::UpdateCursor(QPoint pos) {
    int col = -1;
    int row = -1;
    const bool hit = CellAt(pos, col, row);
    const bool hand = hit && engine_.CursorIsHand(col, row);
    setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void MonitorGrid::mouseMoveEvent(QMouseEvent* event) {
    UpdateCursor(event->position().toPoint());
}

void MonitorGrid::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    int col = -1;
    int row = -1;
    if (!CellAt(event->position().toPoint(), col, row)) col = row = -1;
    run::MouseButton button = run::MouseButton::Middle;
    if (event->button() == Qt::LeftButton) button = run::MouseButton::Left;
    if (event->button() == Qt::RightButton) button = run::MouseButton::Right;
    Forward([&] { engine_.sgStateMouseDown(button, col, row); });
    UpdateCursor(event->position().toPoint());
}

void MonitorGrid::keyPressEvent(QKeyEvent* event) {
    StringGrid& g = engine_.sgState();
    int row = g.Row();
    switch (event->key()) {
        case Qt::Key_Up:
            --row;
            break;
        case Qt::Key_Down:
            ++row;
            break;
        case Qt::Key_Home:
            row = g.FixedRows();
            break;
        case Qt::Key_End:
            row = g.RowCount() - 1;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    MoveCurrentRow(row);
}

// The wheel scrolls the rows; the current row stays where it is.
void MonitorGrid::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta != 0) {
        const int notches = std::max(1, std::abs(delta) / 120);
        const int rows = notches * QApplication::wheelScrollLines();
        ScrollTo(topRow_ + (delta < 0 ? rows : -rows));
    }
    event->accept();
}

void MonitorGrid::MoveCurrentRow(int row) {
    StringGrid& g = engine_.sgState();
    if (row >= g.FixedRows() && row < g.RowCount() && row != g.Row()) {
        g.SetRow(row);
        Sync();
    }
}

void MonitorGrid::ClampInView() {
    const StringGrid& g = engine_.sgState();
    const int visible = VisibleRows();
    const int current = g.Row();
    // Only a new current row is brought into sight: the operator may have
    // scrolled away from the one shown.
    if (current != clampedRow_) {
        clampedRow_ = current;
        if (current >= 1 && current < topRow_) topRow_ = current;
        if (current >= topRow_ + visible) topRow_ = current - visible + 1;
    }
    topRow_ = std::clamp(topRow_, 1, std::max(1, g.RowCount() - visible));
    SyncScrollBar();
}

}  // namespace ristova::ui
