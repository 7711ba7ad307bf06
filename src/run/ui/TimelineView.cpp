#include "run/ui/TimelineView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

#include "run/EventTexts.h"

namespace ristova::run::ui {

const QColor TimelineView::kPlanColour(186, 222, 250);
const QColor TimelineView::kBoardColour(24, 130, 60);
const QColor TimelineView::kMismatchColour(255, 0, 0);

namespace {

QString ClockText(int second) {
    return QStringLiteral("%1:%2:%3")
        .arg(second / 3600, 2, 10, QLatin1Char('0'))
        .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(second % 60, 2, 10, QLatin1Char('0'));
}

bool Covers(const std::vector<Span>& spans, int second) {
    return std::any_of(spans.begin(), spans.end(),
                       [&](const Span& s) { return s.from <= second && second < s.to; });
}

}  // namespace

TimelineView::TimelineView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TimelineView::SetDay(DayTimeline day, std::vector<RunEvent> events, QStringList relayNames) {
    day_ = std::move(day);
    events_ = std::move(events);
    names_ = std::move(relayNames);
    update();
}

void TimelineView::SetView(int from, int seconds) {
    seconds = std::clamp(seconds, kMinSeconds, kDaySeconds);
    from = std::clamp(from, 0, kDaySeconds - seconds);
    if (from == viewFrom_ && seconds == viewSeconds_) return;
    viewFrom_ = from;
    viewSeconds_ = seconds;
    update();
    emit viewChanged();
}

int TimelineView::XOf(int second) const {
    const int w = std::max(1, width() - kNameWidth);
    return kNameWidth + static_cast<int>((second - viewFrom_) * static_cast<long long>(w) /
                                         viewSeconds_);
}

int TimelineView::SecondAt(int x) const {
    const int w = std::max(1, width() - kNameWidth);
    return viewFrom_ + static_cast<int>((x - kNameWidth) * static_cast<long long>(viewSeconds_) / w);
}

int TimelineView::RowHeight() const {
    const int rows = std::max<int>(1, static_cast<int>(day_.relays.size()));
    return std::clamp((height() - kAxisHeight) / rows, 4, 24);
}

int TimelineView::RowTop(int relay) const {
    return kAxisHeight + (relay - 1) * RowHeight();
}

QColor TimelineView::SourceColour(const std::string& source) {
    if (source == "plan") return QColor(20, 60, 200);
    if (source == "catch-up") return QColor(230, 130, 0);
    if (source == "start-on") return QColor(130, 50, 170);
    if (source == "manual") return QColor(210, 20, 20);
    if (source == "re-assert") return QColor(0, 150, 150);
    if (source == "remote") return QColor(140, 90, 40);
    if (source == "restore") return QColor(200, 60, 140);
    return QColor(90, 90, 90);
}

void TimelineView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const int rowH = RowHeight();
    const int relays = static_cast<int>(day_.relays.size());
    const int bottom = kAxisHeight + relays * rowH;
    const int viewTo = viewFrom_ + viewSeconds_;
    auto spanRect = [&](const Span& s, int top, int h) {
        const int x1 = XOf(std::max(s.from, viewFrom_));
        const int x2 = XOf(std::min(s.to, viewTo));
        return QRect(x1, top, std::max(1, x2 - x1), h);
    };
    p.setClipRect(QRect(kNameWidth, 0, width() - kNameWidth, height()));
    // Hour lines, finer when zoomed in.
    const int step = viewSeconds_ <= 2 * 3600 ? 600 : viewSeconds_ <= 8 * 3600 ? 1800 : 3600;
    p.setFont(QFont(font().family(), 7));
    for (int s = (viewFrom_ + step - 1) / step * step; s <= viewTo; s += step) {
        const int x = XOf(s);
        p.setPen(s % 3600 == 0 ? QColor(200, 200, 200) : QColor(232, 232, 232));
        p.drawLine(x, kAxisHeight, x, bottom);
        if (s % 3600 == 0 || viewSeconds_ <= 2 * 3600) {
            p.setPen(Qt::black);
            p.drawText(x + 2, 12, s % 3600 == 0 ? QString::number(s / 3600)
                                                : ClockText(s).left(5));
        }
    }
    for (int r = 1; r <= relays; ++r) {
        const RelayTimeline& rel = day_.relays[r - 1];
        const int top = RowTop(r);
        for (const Span& s : rel.plan)
            if (s.to > viewFrom_ && s.from < viewTo) p.fillRect(spanRect(s, top + 1, rowH - 2), kPlanColour);
        const int boardH = std::max(2, rowH / 2);
        for (const Span& s : rel.board)
            if (s.to > viewFrom_ && s.from < viewTo)
                p.fillRect(spanRect(s, top + (rowH - boardH) / 2, boardH), kBoardColour);
        // Changes too many to draw one by one: the board's band hatched.
        for (const Span& s : rel.chatter)
            if (s.to > viewFrom_ && s.from < viewTo)
                p.fillRect(spanRect(s, top + (rowH - boardH) / 2, boardH),
                           QBrush(kBoardColour, Qt::BDiagPattern));
        for (const Tick& t : rel.commands) {
            if (t.second < viewFrom_ || t.second >= viewTo) continue;
            const RunEvent& e = events_[t.event];
            QColor c = SourceColour(e.source);
            if (e.result != "sent") c.setAlpha(110);
            p.fillRect(QRect(XOf(t.second), top, 2, rowH), c);
        }
        // Over the ticks: the command it follows must not hide it.
        const int markH = std::min(rowH - 2, 9);
        for (const Tick& t : rel.mismatches) {
            if (t.second < viewFrom_ || t.second >= viewTo) continue;
            const int x = XOf(t.second);
            const QPoint corners[] = {
                {x - markH / 2 - 1, top + 1}, {x + markH / 2 + 1, top + 1}, {x, top + 1 + markH}};
            p.setPen(Qt::NoPen);
            p.setBrush(kMismatchColour);
            p.drawPolygon(corners, 3);
            p.setBrush(Qt::NoBrush);
        }
        p.setPen(QColor(236, 236, 236));
        p.drawLine(kNameWidth, top + rowH - 1, width(), top + rowH - 1);
    }
    for (const Span& s : day_.lineLost) {
        if (s.to <= viewFrom_ || s.from >= viewTo) continue;
        const QRect area = spanRect(s, kAxisHeight, bottom - kAxisHeight);
        p.fillRect(area, QBrush(QColor(120, 120, 120), Qt::BDiagPattern));
        p.setPen(QColor(120, 120, 120));
        p.drawRect(area.adjusted(0, 0, -1, -1));
    }
    p.setClipping(false);
    p.fillRect(QRect(0, 0, kNameWidth, height()), QColor(245, 245, 245));
    p.setFont(font());
    p.setPen(Qt::black);
    if (rowH >= 10) {
        for (int r = 1; r <= relays; ++r) {
            const QString name = r - 1 < names_.size() ? names_[r - 1] : QString::number(r);
            p.drawText(QRect(4, RowTop(r), kNameWidth - 6, rowH), Qt::AlignVCenter | Qt::AlignLeft,
                       p.fontMetrics().elidedText(name, Qt::ElideRight, kNameWidth - 6));
        }
    }
    p.setPen(QColor(160, 160, 160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

QString TimelineView::Describe(int relay, int second, int x) const {
    const RelayTimeline& rel = day_.relays[relay - 1];
    // The mismatch or command nearest the pointer within a few pixels, else
    // the states. A mismatch wins over the command it follows.
    const RunEvent* nearest = nullptr;
    int best = 5;
    for (const std::vector<Tick>* ticks : {&rel.mismatches, &rel.commands}) {
        for (const Tick& t : *ticks) {
            const int d = std::abs(XOf(t.second) - x);
            if (d < best) {
                best = d;
                nearest = &events_[t.event];
            }
        }
    }
    const QString name = relay - 1 < names_.size() ? names_[relay - 1] : QString::number(relay);
    if (nearest != nullptr) {
        const RunEvent shown = ShownEvent(*nearest);
        const QString what =
            nearest->kind == "mismatch"
                ? QString::fromUtf8("未按指令动作  " + shown.detail + "  实际" + shown.result)
                : QString::fromUtf8(shown.kind + " " + shown.source + " " + shown.result);
        return QString::fromUtf8(nearest->at.substr(11)) + QStringLiteral("  ") + name +
               QStringLiteral("  ") + what;
    }
    QString text = ClockText(second) + QStringLiteral("  ") + name + QStringLiteral("  计划:") +
                   (Covers(rel.plan, second) ? QStringLiteral("接通") : QStringLiteral("断开")) +
                   QStringLiteral("  实际:") +
                   (Covers(rel.board, second) ? QStringLiteral("接通") : QStringLiteral("断开"));
    if (Covers(rel.chatter, second)) text += QStringLiteral("  频繁变化");
    if (Covers(day_.lineLost, second)) text += QStringLiteral("  通信中断");
    return text;
}

void TimelineView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int relays = static_cast<int>(day_.relays.size());
    const int relay = pos.y() < kAxisHeight ? 0 : (pos.y() - kAxisHeight) / RowHeight() + 1;
    QString text;
    if (pos.x() >= kNameWidth && relay >= 1 && relay <= relays) {
        const int second = std::clamp(SecondAt(pos.x()), 0, kDaySeconds - 1);
        text = Describe(relay, second, pos.x());
    }
    if (text == hoverText_) return;
    hoverText_ = text;
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
}

void TimelineView::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0) return;
    const int x = static_cast<int>(event->position().x());
    const int at = std::clamp(SecondAt(std::max(x, kNameWidth)), 0, kDaySeconds);
    const int seconds = dy > 0 ? viewSeconds_ / 2 : viewSeconds_ * 2;
    const int clamped = std::clamp(seconds, kMinSeconds, kDaySeconds);
    // The second under the pointer stays under it.
    const double share = static_cast<double>(at - viewFrom_) / viewSeconds_;
    SetView(at - static_cast<int>(share * clamped), clamped);
    event->accept();
}

void TimelineView::leaveEvent(QEvent*) {
    hoverText_.clear();
}

}  // namespace ristova::run::ui
