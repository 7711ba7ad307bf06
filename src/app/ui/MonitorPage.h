#pragma once
// Page 0, "电源控制监视和操作": the run controls, the settings boxes, the
// monitor grid, the run plan and command grids and the run labels. It only
// renders the engine's and the window model's state and forwards events.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/StringGrid.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QTableView;

namespace ristova {
class MainWindowModel;
}
namespace ristova::widgets {
class TMyTransBtn;
}

namespace ristova::ui {

class ControllersDialog;
class GridModel;
class MonitorGrid;
class RunStrip;

// The communication lamp comLed: a 20 x 20 circle.
class ComLed : public QWidget {
    Q_OBJECT
  public:
    explicit ComLed(QWidget* parent = nullptr);
    void SetColour(const QColor& colour);
    QColor Colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor colour_;
};

class MonitorPage : public QWidget {
    Q_OBJECT
  public:
    using Guard = std::function<void(const std::function<void()>&)>;
    static constexpr int kWidth = 776;
    static constexpr int kHeight = 505;

    MonitorPage(MainWindowModel& model, Guard guard, QWidget* parent = nullptr);

    // Shows what changed in the model.
    void Sync();

    MonitorGrid* sgState() const { return sgState_; }
    QTableView* sgPlan() const { return sgPlan_; }
    QTableView* sgPower() const { return sgPower_; }
    QComboBox* cbRunDevList() const { return cbRunDevList_; }
    widgets::TMyTransBtn* btnRun() const { return btnRun_; }
    widgets::TMyTransBtn* btnStop() const { return btnStop_; }
    // "同时运行…" and its dialog (null while it is not open).
    widgets::TMyTransBtn* btnSeveral() const { return btnSeveral_; }
    ControllersDialog* Dialog() const { return dialog_; }
    // Above the monitor while several controllers run together.
    RunStrip* Strip() const { return strip_; }
    ComLed* comLed() const { return comLed_; }
    QCheckBox* chk4Level() const { return chk4Level_; }
    QCheckBox* chkRun() const { return chkRun_; }
    QCheckBox* chkStartON() const { return chkStartON_; }
    QCheckBox* chkAutoDelete() const { return chkAutoDelete_; }
    QCheckBox* chkManOperate() const { return chkManOperate_; }
    QCheckBox* chkAutoStart() const { return chkAutoStart_; }
    QCheckBox* chkRestoreOnStart() const { return chkRestoreOnStart_; }
    QLabel* lbRunFn() const { return lbRunFn_; }
    QLabel* lbState() const { return lbState_; }
    QLabel* lbCom() const { return lbCom_; }
    QLabel* lbCmd() const { return lbCmd_; }
    QLabel* lbDev() const { return lbDev_; }

  private:
    QCheckBox* MakeBox(const char* name, const char* caption, int x, int y,
                       void (MainWindowModel::*click)(bool));
    QLabel* MakeLabel(int x, int y, int w, int h);
    QTableView* MakeGrid(GridModel*& model, StringGrid& grid, const char* hint, const QRect& rect);
    void BuildLeftColumn();
    void BuildRightColumn();
    void SyncDeviceList();
    void btnSeveralClick();
    void SyncStrip();

    MainWindowModel& model_;
    Guard guard_;
    MonitorGrid* sgState_ = nullptr;
    QTableView* sgPlan_ = nullptr;
    QTableView* sgPower_ = nullptr;
    GridModel* sgPlanModel_ = nullptr;
    GridModel* sgPowerModel_ = nullptr;
    QComboBox* cbRunDevList_ = nullptr;
    widgets::TMyTransBtn* btnRun_ = nullptr;
    widgets::TMyTransBtn* btnStop_ = nullptr;
    widgets::TMyTransBtn* btnSeveral_ = nullptr;
    ControllersDialog* dialog_ = nullptr;
    RunStrip* strip_ = nullptr;
    bool stripShown_ = false;
    ComLed* comLed_ = nullptr;
    QCheckBox* chk4Level_ = nullptr;
    QCheckBox* chkRun_ = nullptr;
    QCheckBox* chkStartON_ = nullptr;
    QCheckBox* chkAutoDelete_ = nullptr;
    QCheckBox* chkManOperate_ = nullptr;
    QCheckBox* chkAutoStart_ = nullptr;
    QCheckBox* chkRestoreOnStart_ = nullptr;
    QLabel* lbRunFn_ = nullptr;
    QLabel* lbState_ = nullptr;
    QLabel* lbCom_ = nullptr;
    QLabel* lbCmd_ = nullptr;
    QLabel* lbDev_ = nullptr;
    std::vector<std::string> shownDevices_;
    std::uint64_t seenEngine_ = ~std::uint64_t{0};
    std::uint64_t seenModel_ = ~std::uint64_t{0};
};

}  // namespace ristova::ui
