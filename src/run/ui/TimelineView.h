#pragma once
// The day as a picture: one row per relay, the hours across. The plan's on
// periods are a light bar, the board's reported on periods a solid bar over
// it, commands ticks coloured by their source, a board that did not follow
// a command a red triangle, spells without a line hatched across all rows.
// The wheel zooms around the pointer.
#include <QColor>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "run/RunEvents.h"
#include "run/Timeline.h"

namespace ristova::run::ui {

class TimelineView : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kNameWidth = 110;
    static constexpr int kAxisHeight = 16;
    static constexpr int kMinSeconds = 3600;  // the closest zoom: one hour

    explicit TimelineView(QWidget* parent = nullptr);

    void SetDay(DayTimeline day, std::vector<RunEvent> events, QStringList relayNames);
    const DayTimeline& Day() const { return day_; }

    // The part of the day shown: [ViewFrom, ViewFrom + ViewSeconds).
    int ViewFrom() const { return viewFrom_; }
    int ViewSeconds() const { return viewSeconds_; }
    void SetView(int from, int seconds);

    // Pixel column of a second of the day and back, within the drawing area.
    int XOf(int second) const;
    int SecondAt(int x) const;
    int RowTop(int relay) const;
    int RowHeight() const;
    // What the pointer is over, as the tool tip shows it.
    const QString& HoverText() const { return hoverText_; }

    static QColor SourceColour(const std::string& source);
    static const QColor kPlanColour;
    static const QColor kBoardColour;
    static const QColor kMismatchColour;

  signals:
    void viewChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QString Describe(int relay, int second, int x) const;

    DayTimeline day_;
    std::vector<RunEvent> events_;
    QStringList names_;
    int viewFrom_ = 0;
    int viewSeconds_ = kDaySeconds;
    QString hoverText_;
};

}  // namespace ristova::run::ui
