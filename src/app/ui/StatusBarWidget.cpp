#include "app/ui/StatusBarWidget.h"

#include <QPainter>

namespace ristova::ui {

StatusBarWidget::StatusBarWidget(const StatusBar& bar, QWidget* parent)
    : QWidget(parent), bar_(bar) {
    setFixedHeight(kHeight);
}

void StatusBarWidget::Sync() {
    if (bar_.Revision() == seen_) return;
    seen_ = bar_.Revision();
    update();
}

QRect StatusBarWidget::PanelRect(int panel) const {
    int left = 0;
    for (int i = 0; i < panel; ++i) left += StatusBar::kPanelWidths[i];
    const bool last = panel == StatusBar::kPanelCount - 1;
    const int w = last ? std::max(StatusBar::kPanelWidths[panel], width() - left)
                       : StatusBar::kPanelWidths[panel];
    return QRect(left, 0, w, height());
}

QString StatusBarWidget::PanelText(int panel) const {
    return QString::fromStdString(bar_.Panel(panel));
}

void StatusBarWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Window));
    for (int i = 0; i < StatusBar::kPanelCount; ++i) {
        // Panels are separated by 2 pixels and drawn sunken.
        const QRect r = PanelRect(i).adjusted(0, 2, -2, 0);
        p.setPen(pal.color(QPalette::Mid));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(pal.color(QPalette::WindowText));
        const QRect textRect = r.adjusted(1, 1, -1, -1);
        p.setClipRect(textRect);
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, PanelText(i));
        p.setClipping(false);
    }
}

}  // namespace ristova::ui
