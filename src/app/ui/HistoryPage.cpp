#include "app/ui/HistoryPage.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

#include "app/MainWindowModel.h"
#include "app/ui/MonitorPage.h"
#include "base/Files.h"
#include "base/StringGrid.h"
#include "base/TextUtils.h"
#include "run/EventTexts.h"
#include "run/Journal.h"
#include "controller/ControllerDefinition.h"
#include "run/PlanSelection.h"
#include "run/ui/TimelineView.h"
#include "widgets/ui/MyTransBtn.h"
#include "widgets/ui/PageWidgets.h"
#include "widgets/ui/SaveDialog.h"

namespace ristova::ui {

namespace {

constexpr int kMargin = 8;
constexpr int kTimelineTop = 36;
constexpr int kTimelineHeight = 250;
constexpr int kZoomTop = kTimelineTop + kTimelineHeight + 4;
constexpr int kTableTop = kZoomTop + 24;

QDate ToQDate(const Date& d) { return QDate(d.year, d.month, d.day); }

}  // namespace

HistoryPage::HistoryPage(MainWindowModel& model, Guard guard, QWidget* parent)
    : QWidget(parent),
      model_(model),
      guard_(std::move(guard)),
      exportPicker_([this](const std::string& proposed) {
          SaveDialogSetup setup;
          setup.objectName = QStringLiteral("dlgExport");
          setup.title = QStringLiteral("导出CSV");
          setup.folder = Qs(ExtractFilePath(proposed));
          setup.fileName = Qs(proposed);
          setup.nameFilter = QStringLiteral("CSV (*.csv)");
          setup.defaultSuffix = QStringLiteral("csv");
          return RunSaveDialog(this, setup);
      }) {
    setFixedSize(MonitorPage::kWidth, MonitorPage::kHeight);
    MakeLabel(this, QStringLiteral("日期"), kMargin, 10, 30);
    dtDay_ = new QDateEdit(this);
    dtDay_->setObjectName(QStringLiteral("dtDay"));
    dtDay_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dtDay_->setCalendarPopup(true);
    dtDay_->setGeometry(kMargin + 32, 7, 110, 22);
    dtDay_->setDate(ToQDate(model_.Context().clock.Now().date));
    MakeLabel(this, QStringLiteral("控制器"), 164, 10, 44);
    cbController_ = MakePickList(this, "cbController", 210, 8, 220, 22);
    MakeLabel(this, QStringLiteral("继电器"), 444, 10, 44);
    cbRelay_ = MakePickList(this, "cbRelay", 490, 8, 170, 22);
    btnExport_ = widgets::MakePageButton(QStringLiteral("导出CSV"), this, 90, 23);
    btnExport_->setObjectName(QStringLiteral("btnExport"));
    btnExport_->move(MonitorPage::kWidth - kMargin - 90, 7);

    timeline_ = new run::ui::TimelineView(this);
    timeline_->setObjectName(QStringLiteral("timeline"));
    timeline_->setGeometry(kMargin, kTimelineTop, MonitorPage::kWidth - 2 * kMargin,
                           kTimelineHeight);
    MakeLabel(this, QStringLiteral("显示小时"), kMargin, kZoomTop + 2, 56);
    slZoom_ = new QSlider(Qt::Horizontal, this);
    slZoom_->setObjectName(QStringLiteral("slZoom"));
    slZoom_->setRange(1, 24);
    slZoom_->setValue(24);
    slZoom_->setGeometry(kMargin + 58, kZoomTop, 150, 20);
    sbPan_ = new QScrollBar(Qt::Horizontal, this);
    sbPan_->setObjectName(QStringLiteral("sbPan"));
    sbPan_->setGeometry(kMargin + 220, kZoomTop + 2, MonitorPage::kWidth - 2 * kMargin - 220, 17);

    tbEvents_ = new QTableWidget(0, 6, this);
    tbEvents_->setObjectName(QStringLiteral("tbEvents"));
    tbEvents_->setGeometry(kMargin, kTableTop, MonitorPage::kWidth - 2 * kMargin,
                           MonitorPage::kHeight - kTableTop - kMargin);
    tbEvents_->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("继电器"),
                                          QStringLiteral("类型"), QStringLiteral("来源"),
                                          QStringLiteral("结果"), QStringLiteral("说明")});
    tbEvents_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbEvents_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbEvents_->verticalHeader()->hide();
    tbEvents_->verticalHeader()->setDefaultSectionSize(18);
    const int widths[] = {90, 50, 50, 70, 90};
    for (int c = 0; c < 5; ++c) tbEvents_->setColumnWidth(c, widths[c]);
    tbEvents_->horizontalHeader()->setStretchLastSection(true);

    // Live events come one by one; the page is rebuilt once for a burst.
    liveTimer_ = new QTimer(this);
    liveTimer_->setSingleShot(true);
    liveTimer_->setInterval(150);
    // A hidden page is brought up to date when it is shown.
    connect(liveTimer_, &QTimer::timeout, this, [this] {
        if (isVisible()) guard_([this] { Rebuild(); });
    });

    connect(dtDay_, &QDateEdit::dateChanged, this, [this] { guard_([this] { Reload(); }); });
    connect(cbController_, &QComboBox::currentIndexChanged, this,
            [this] { guard_([this] { Reload(); }); });
    connect(cbRelay_, &QComboBox::currentIndexChanged, this,
            [this] { guard_([this] { FillTable(); }); });
    connect(btnExport_, &widgets::TMyTransBtn::clicked, this,
            [this] { guard_([this] { btnExportClick(); }); });
    connect(slZoom_, &QSlider::valueChanged, this, [this](int hours) {
        const int seconds = hours * 3600;
        const int centre = timeline_->ViewFrom() + timeline_->ViewSeconds() / 2;
        timeline_->SetView(centre - seconds / 2, seconds);
    });
    connect(sbPan_, &QScrollBar::valueChanged, this,
            [this](int from) { timeline_->SetView(from, timeline_->ViewSeconds()); });
    connect(timeline_, &run::ui::TimelineView::viewChanged, this, [this] { SyncZoomControls(); });
    SyncZoomControls();

    model_.Monitor().Events().Add(this);
}

HistoryPage::~HistoryPage() {
    model_.Monitor().Events().Remove(this);
}

Date HistoryPage::ShownDate() const {
    const QDate d = dtDay_->date();
    return Date{d.year(), d.month(), d.day()};
}

std::string HistoryPage::ShownController() const {
    return Std(cbController_->currentText());
}

void HistoryPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // After the tab change is complete: the guard redraws the window, which
    // would otherwise put the old page back.
    QTimer::singleShot(0, this, [this] {
        guard_([this] {
            FillControllers();
            Reload();
        });
    });
}

void HistoryPage::FillControllers() {
    std::vector<std::string> names;
    ListFolderFiles(names, model_.Context().sAppPath, "*.PSW");
    std::sort(names.begin(), names.end());
    std::string chosen = ShownController();
    if (chosen.empty()) chosen = model_.Monitor().cbRunDevList().Text();
    if (!chosen.empty() && std::find(names.begin(), names.end(), chosen) == names.end())
        names.insert(names.begin(), chosen);
    QStringList items;
    for (const std::string& n : names) items << Qs(n);
    QSignalBlocker block(cbController_);
    cbController_->clear();
    cbController_->addItems(items);
    cbController_->setCurrentIndex(std::max(0, static_cast<int>(items.indexOf(Qs(chosen)))));
}

void HistoryPage::Reload() {
    const std::string controller = ShownController();
    const Date day = ShownDate();
    // What the engine queued before now is in the file after this.
    if (run::Journal* journal = model_.Journal()) journal->Flush();
    events_ = controller.empty() ? std::vector<run::RunEvent>()
                                 : run::ReadJournalDay(model_.JournalFile(), controller, day);
    const std::string file = model_.Context().sAppPath + controller;
    relayNames_.clear();
    if (!controller.empty() && FileExists(file))
        for (const controller::RelayDefinition& relay :
             controller::ReadControllerDefinition(file).relays)
            relayNames_ << QStringLiteral("%1 %2").arg(relay.number).arg(Qs(relay.Name()));
    FillRelayFilter(static_cast<int>(relayNames_.size()));
    plansStale_ = true;
    Rebuild();
}

void HistoryPage::FillRelayFilter(int relays) {
    const int current = cbRelay_->currentIndex();
    QSignalBlocker block(cbRelay_);
    cbRelay_->clear();
    cbRelay_->addItem(QStringLiteral("全部"));
    for (int r = 0; r < relays; ++r) cbRelay_->addItem(relayNames_[r]);
    cbRelay_->setCurrentIndex(current >= 0 && current <= relays ? current : 0);
}

void HistoryPage::Rebuild() {
    const Date day = ShownDate();
    const LocalDateTime now = model_.Context().clock.Now();
    const int end = day < now.date ? run::kDaySeconds : day == now.date ? TimeToSeconds(now) : 0;
    const std::string controller = ShownController();
    // The tables are read again only when the day chose another one.
    if (plansStale_) {
        plans_ = run::DayPlanSegments(model_.Context().sAppPath,
                                      model_.Context().sAppPath + controller,
                                      model_.Boxes().chk4Level, day, events_);
        plansStale_ = false;
    }
    timeline_->SetDay(run::BuildDayTimeline(events_, plans_, relayNames_.size(), end), events_,
                      relayNames_);
    FillTable();
}

std::vector<run::RunEvent> HistoryPage::ShownEvents() const {
    const int relay = cbRelay_->currentIndex();
    std::vector<run::RunEvent> shown;
    for (auto it = events_.rbegin(); it != events_.rend(); ++it)
        if (relay <= 0 || it->relay == relay) shown.push_back(*it);
    return shown;
}

void HistoryPage::FillTable() {
    const std::vector<run::RunEvent> shown = ShownEvents();
    tbEvents_->setUpdatesEnabled(false);
    tbEvents_->setRowCount(static_cast<int>(shown.size()));
    for (int row = 0; row < static_cast<int>(shown.size()); ++row) {
        const run::RunEvent& e = shown[row];
        const run::RunEvent text = run::ShownEvent(e);
        const QString cells[] = {Qs(e.at.size() > 11 ? e.at.substr(11) : e.at),
                                 e.relay >= 1 ? QString::number(e.relay) : QString(),
                                 Qs(text.kind),
                                 Qs(text.source),
                                 Qs(text.result),
                                 Qs(text.detail)};
        for (int c = 0; c < 6; ++c) {
            QTableWidgetItem* item = tbEvents_->item(row, c);
            if (item == nullptr) tbEvents_->setItem(row, c, item = new QTableWidgetItem);
            item->setText(cells[c]);
            if (c == 3) item->setForeground(run::ui::TimelineView::SourceColour(e.source));
        }
    }
    tbEvents_->setUpdatesEnabled(true);
}

void HistoryPage::SyncZoomControls() {
    QSignalBlocker blockZoom(slZoom_);
    QSignalBlocker blockPan(sbPan_);
    slZoom_->setValue(std::max(1, timeline_->ViewSeconds() / 3600));
    sbPan_->setRange(0, run::kDaySeconds - timeline_->ViewSeconds());
    sbPan_->setPageStep(timeline_->ViewSeconds());
    sbPan_->setSingleStep(600);
    sbPan_->setValue(timeline_->ViewFrom());
}

void HistoryPage::OnRunEvent(const run::RunEvent& event) {
    if (event.controller != ShownController()) return;
    if (event.at.compare(0, 10, DateText(true, ShownDate())) != 0) return;
    events_.push_back(event);
    if (event.kind == "run" && event.result == "plan chosen") plansStale_ = true;
    if (!liveTimer_->isActive()) liveTimer_->start();
}

void HistoryPage::btnExportClick() {
    const std::vector<run::RunEvent> shown = ShownEvents();
    const std::optional<std::string> chosen = exportPicker_(
        model_.Context().sAppPath + "运行记录-" + DateText(true, ShownDate()) + ".csv");
    if (!chosen) return;
    WriteFileAtomically(*chosen, run::EventsToCsv(shown));
}

}  // namespace ristova::ui
