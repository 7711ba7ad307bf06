#include "run/ui/RunStrip.h"

#include <QMouseEvent>
#include <QPainter>


namespace ristova::ui {

RunStrip::RunStrip(run::SiteView& site, Picked picked, QWidget* parent)
    : QWidget(parent), site_(site), picked_(std::move(picked)) {
    setFixedHeight(kHeight);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("同时运行的电源控制器:点击显示"));
}

void RunStrip::SetShown(const std::string& file) {
    if (file == shown_) return;
    shown_ = file;
    update();
}

void RunStrip::Sync() {
    if (site_.Revision() == seen_) return;
    seen_ = site_.Revision();
    update();
}

QString RunStrip::LineText(const run::RunView& run) {
    if (!run.Running()) return QStringLiteral("已停止");
    switch (run.Line()) {
        case run::LineState::Lost:
            return QStringLiteral("通信中断");
        case run::LineState::NoAnswer:
            return QStringLiteral("无应答");
        case run::LineState::Normal:
            break;
    }
    return QStringLiteral("正常");
}

// The entries share the width; each at least wide enough for its texts.
std::vector<std::pair<std::string, QRect>> RunStrip::Layout() const {
    std::vector<std::pair<std::string, QRect>> entries;
    const std::vector<run::RunView*> runs = site_.RunViews();
    if (runs.empty()) return entries;
    const int share = width() / static_cast<int>(runs.size());
    int x = 0;
    for (const run::RunView* run : runs) {
        entries.push_back({run->File(), QRect(x, 0, share - 2, height())});
        x += share;
    }
    return entries;
}

QRect RunStrip::EntryRect(const std::string& file) const {
    for (const auto& [name, rect] : Layout())
        if (name == file) return rect;
    return {};
}

void RunStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    const QFontMetrics fm(font());
    for (const auto& [file, rect] : Layout()) {
        const run::RunView* run = site_.FindRun(file);
        if (!run) continue;
        const bool shown = file == shown_;
        p.fillRect(rect, shown ? QColor(192, 192, 192) : palette().color(QPalette::Window));
        p.setPen(palette().color(shown ? QPalette::Dark : QPalette::Mid));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect.adjusted(0, 0, -1, -1));
        // The lamp blinks with the run's answers as comLed does.
        const QColor lamp = run->BlocksReceived() % 2 == 1 ? QColor(Qt::red) : QColor(Qt::yellow);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(64, 64, 64), 1));
        p.setBrush(lamp);
        p.drawEllipse(QRectF(rect.x() + 4.5, rect.y() + 4.5, 12.0, 12.0));
        p.setRenderHint(QPainter::Antialiasing, false);
        const QString line = LineText(*run);
        const bool alarm = run->StatesUnknown();
        const int lineWidth = fm.horizontalAdvance(line);
        const QRect nameRect(rect.x() + 21, rect.y(), rect.width() - 27 - lineWidth, rect.height());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                   fm.elidedText(QString::fromStdString(file), Qt::ElideRight, nameRect.width()));
        p.setPen(alarm ? QColor(Qt::red) : QColor(0, 128, 0));
        p.drawText(QRect(rect.right() - lineWidth - 4, rect.y(), lineWidth, rect.height()),
                   Qt::AlignVCenter | Qt::AlignRight, line);
    }
}

void RunStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (const auto& [file, rect] : Layout())
        if (rect.contains(event->position().toPoint()) && picked_) picked_(file);
}

}  // namespace ristova::ui
