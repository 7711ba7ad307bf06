#pragma once
// Page 4, "运行记录": a day of the journal for one controller, drawn as a
// timeline (plan against board) over a table of the events. Today's page
// follows the running engine live.
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "run/RunEvents.h"
#include "run/Timeline.h"

class QComboBox;
class QDateEdit;
class QScrollBar;
class QSlider;
class QTableWidget;
class QTimer;

namespace ristova {
class MainWindowModel;
}
namespace ristova::widgets {
class TMyTransBtn;
}
namespace ristova::run::ui {
class TimelineView;
}

namespace ristova::ui {

class HistoryPage : public QWidget, public run::IRunEventSink {
    Q_OBJECT
  public:
    using Guard = std::function<void(const std::function<void()>&)>;
    // Asks where "导出CSV" writes, starting on the proposed path; nullopt
    // when the operator cancelled.
    using ExportPicker = std::function<std::optional<std::string>(const std::string& proposed)>;

    HistoryPage(MainWindowModel& model, Guard guard, QWidget* parent = nullptr);
    ~HistoryPage() override;

    // Reads the chosen day of the chosen controller again.
    void Reload();
    // Fills the controller list from the folder, keeping the choice.
    void FillControllers();
    // Asks for a file name and writes the events shown as CSV.
    void btnExportClick();
    // Tests answer "导出CSV" without the dialog.
    void SetExportPicker(ExportPicker picker) { exportPicker_ = std::move(picker); }

    void OnRunEvent(const run::RunEvent& event) override;

    Date ShownDate() const;
    std::string ShownController() const;
    // The day's events, oldest first, and those the table shows.
    const std::vector<run::RunEvent>& Events() const { return events_; }
    std::vector<run::RunEvent> ShownEvents() const;

    QDateEdit* dtDay() const { return dtDay_; }
    QComboBox* cbController() const { return cbController_; }
    QComboBox* cbRelay() const { return cbRelay_; }
    run::ui::TimelineView* Timeline() const { return timeline_; }
    QSlider* slZoom() const { return slZoom_; }
    QScrollBar* sbPan() const { return sbPan_; }
    QTableWidget* tbEvents() const { return tbEvents_; }
    widgets::TMyTransBtn* btnExport() const { return btnExport_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Rebuild();
    void FillTable();
    void FillRelayFilter(int relays);
    void SyncZoomControls();

    MainWindowModel& model_;
    Guard guard_;
    ExportPicker exportPicker_;
    QDateEdit* dtDay_ = nullptr;
    QComboBox* cbController_ = nullptr;
    QComboBox* cbRelay_ = nullptr;
    run::ui::TimelineView* timeline_ = nullptr;
    QSlider* slZoom_ = nullptr;
    QScrollBar* sbPan_ = nullptr;
    QTableWidget* tbEvents_ = nullptr;
    widgets::TMyTransBtn* btnExport_ = nullptr;
    QTimer* liveTimer_ = nullptr;

    std::vector<run::RunEvent> events_;
    std::vector<run::PlanSegment> plans_;
    QStringList relayNames_;
    bool plansStale_ = true;
};

}  // namespace ristova::ui
