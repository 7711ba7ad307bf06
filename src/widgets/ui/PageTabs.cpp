#include "widgets/ui/PageTabs.h"

#include <QPainter>
#include <QRegion>
#include <QStyleOptionTab>
#include <QStylePainter>

#include "widgets/PageTabRules.h"

namespace ristova::widgets {

TPageTabBar::TPageTabBar(TPageControl* control) : QTabBar(control), control_(control) {}

void TPageTabBar::SetOwnerDraw(bool on) {
    if (on == ownerDraw_) return;
    ownerDraw_ = on;
    update();
}

void TPageTabBar::SetTabWidth(int width) {
    width = std::max(width, 0);
    if (width == tabWidth_) return;
    tabWidth_ = width;
    // Changing the font is the public way to make QTabBar re-measure its tabs.
    setFont(font());
    updateGeometry();
    update();
}

QSize TPageTabBar::tabSizeHint(int index) const {
    QSize size = QTabBar::tabSizeHint(index);
    if (tabWidth_ > 0) size.setWidth(tabWidth_);
    return size;
}

QSize TPageTabBar::minimumTabSizeHint(int index) const {
    QSize size = QTabBar::minimumTabSizeHint(index);
    if (tabWidth_ > 0) size.setWidth(tabWidth_);
    return size;
}

void TPageTabBar::paintEvent(QPaintEvent* event) {
    if (!ownerDraw_) {
        QTabBar::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    const int selected = currentIndex();
    auto drawShape = [&](int i) {
        QStyleOptionTab option;
        initStyleOption(&option, i);
        painter.drawControl(QStyle::CE_TabBarTabShape, option);
    };
    // The selected tab goes last, both its shape (the style overlaps it on
    // its neighbours) and its caption: a caption's background box covers
    // whatever lies under it, and the selected caption must stay whole.
    for (int i = 0; i < count(); ++i)
        if (i != selected && isTabVisible(i)) drawShape(i);
    if (selected >= 0 && isTabVisible(selected)) drawShape(selected);
    const auto& handler = control_->OnDrawTab();
    auto drawCaption = [&](int i) {
        painter.save();
        if (handler)
            handler(control_, painter, i, tabRect(i), i == selected);
        else
            DrawPageTabCaption(control_, painter, i, tabRect(i), i == selected);
        painter.restore();
    };
    for (int i = 0; i < count(); ++i)
        if (i != selected && isTabVisible(i)) drawCaption(i);
    if (selected >= 0 && isTabVisible(selected)) drawCaption(selected);
}

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent), tabs_(new TPageTabBar(this)) {
    setTabBar(tabs_);
}

void TPageControl::SetOnDrawTab(DrawTabHandler handler) {
    onDrawTab_ = std::move(handler);
    tabs_->update();
}

void DrawPageTabCaption(TPageControl* control, QPainter& canvas, int tabIndex, const QRect& rect,
                        bool active) {
    const QString caption = control->tabText(tabIndex);
    const QFont font = control->PageTabBar()->font();
    const QFontMetrics metrics(font);
    const int tw = metrics.horizontalAdvance(caption);
    const int th = metrics.height();
    // QRect::right() is inclusive; the rule's right edge is not.
    const BtnRect tab{rect.left(), rect.top(), rect.left() + rect.width(),
                      rect.top() + rect.height()};
    const BtnPoint at = TabCaptionOrigin(tab, tw, th, active);
    const QRect box(at.x, at.y, tw, th);
    const QBrush background = control->palette().brush(control->backgroundRole());
    if (active) {
        // The selected tab's face is lighter than the control: on its own
        // tab the caption stands on that face. Only a caption running over
        // the neighbours covers them with the background.
        for (const QRect& part : QRegion(box).subtracted(QRegion(rect)))
            canvas.fillRect(part, background);
    } else {
        canvas.fillRect(box, background);
    }
    canvas.setFont(font);
    canvas.setPen(active ? QColor(255, 0, 0) : QColor(0, 0, 0));
    // Drawn as plain text: an "&" in a caption is shown, not taken as a mnemonic.
    canvas.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                    caption);
}

}  // namespace ristova::widgets
