#pragma once
// The page "电源控制计划编辑": lays out the plan editor's controls inside the
// 776 x 505 page area, shows the PlanEditorPage model and forwards the
// operator's events to it. Controls carry their design names as object names.
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "plan/PlanEditorPage.h"

class QComboBox;
class QLabel;
class QRadioButton;
class QTableView;

namespace ristova::ui {
class GridModel;
}
namespace ristova::widgets {
class TMyTransBtn;
}

namespace ristova::plan::ui {

class PlanEditorWidget : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPageWidth = 776;
    static constexpr int kPageHeight = 505;

    // Asks where to save "另存为"; nullopt when the operator cancelled.
    using SaveAsPicker = std::function<std::optional<std::string>(const SaveAsProposal&)>;

    explicit PlanEditorWidget(PlanEditorPage& page, QWidget* parent = nullptr);

    // Tests drive "另存为" without the dialog.
    void SetSaveAsPicker(SaveAsPicker picker) { saveAsPicker_ = std::move(picker); }
    // The save dialog as "另存为" shows it, not yet run.
    static std::optional<std::string> RunSaveDialog(QWidget* parent, const SaveAsProposal& p);

    // Copies the model's state into the widgets, with their signals blocked.
    void Refresh();

  protected:
    // Entering the page (TabSheet3Enter).
    void showEvent(QShowEvent* event) override;

  private:
    void Run(const std::function<void()>& handler);
    void SaveAs();

    PlanEditorPage& page_;
    SaveAsPicker saveAsPicker_;
    ristova::ui::GridModel* planModel_ = nullptr;
    ristova::ui::GridModel* devModel_ = nullptr;
    bool refreshing_ = false;

    widgets::TMyTransBtn* btnReGetDevices_ = nullptr;
    QComboBox* cbEditDevList_ = nullptr;
    QComboBox* cbEdFn_ = nullptr;
    widgets::TMyTransBtn* btnDelPlanFn_ = nullptr;
    widgets::TMyTransBtn* btnAdd_ = nullptr;
    widgets::TMyTransBtn* btnDel_ = nullptr;
    widgets::TMyTransBtn* btnRestore_ = nullptr;
    widgets::TMyTransBtn* btnSavePlan_ = nullptr;
    widgets::TMyTransBtn* btnSaveAs_ = nullptr;
    QLabel* lbEdFn_ = nullptr;
    QRadioButton* rbTime_ = nullptr;
    QRadioButton* rbJDQ_ = nullptr;
    QTableView* sgEdPlan_ = nullptr;
    QTableView* sgedDev_ = nullptr;
};

}  // namespace ristova::plan::ui
